// SampleRing: the ring of output codes between the application's put calls
// and the card's worker thread.
//
// The ring has no lock of its own; its users hold the card's DaMutex around
// every operation. Indices run 0..capacity: a read or write that ends exactly
// at the end of the buffer leaves its index at capacity, and the wrap flag
// records that the stored data continues at element 0.
#pragma once

#include <cstdint>

namespace qvx {

template <typename T>
struct SampleRingOf {
  T* buffer = nullptr;
  std::int32_t capacity = 0;
  std::int32_t read_index = 0;
  std::int32_t write_index = 0;
  std::int32_t count = 0;
  std::int32_t wrap = 0;
};

using SampleRing = SampleRingOf<std::uint16_t>;
using SampleRing32 = SampleRingOf<std::uint32_t>;

// 1 on success; 0 when the buffer cannot be allocated (the buffer field is
// then null and the other fields keep their values).
int RingInit16(SampleRing* ring, std::uint32_t capacity);
int RingInit32(SampleRing32* ring, std::uint32_t capacity);
// 0 for a null ring, else 1. Releases the buffer and zeroes the counts; the
// buffer field keeps its old value, so the caller clears it.
template <typename T>
int RingFree(SampleRingOf<T>* ring);
// Free elements; 0 for a null ring, a null buffer or a capacity below 1.
template <typename T>
std::int32_t RingFreeSpace(const SampleRingOf<T>* ring);
template <typename T>
std::int32_t RingCount(const SampleRingOf<T>* ring) {
  return ring->count;
}
// n on success, 0 for a null source, 1 when less than n elements are free
// (nothing is written then). Callers decide by the free space, not by this.
int RingWrite16(SampleRing* ring, const std::uint16_t* source, std::int32_t n);
int RingWrite32(SampleRing32* ring, const std::uint32_t* source, std::int32_t n);
// REQUIRES: n <= RingCount(ring). Copies n elements out; returns n.
int RingRead16(SampleRing* ring, std::int32_t n, std::uint16_t* destination);
int RingRead32(SampleRing32* ring, std::int32_t n, std::uint32_t* destination);

}  // namespace qvx

#include "engine/sample_ring.h"

#include <cstdlib>
#include <cstring>

namespace qvx {
namespace {

template <typename T>
int Init(SampleRingOf<T>* ring, std::uint32_t capacity) {
  ring->buffer = static_cast<T*>(std::malloc(static_cast<std::size_t>(capacity) * sizeof(T)));
  if (ring->buffer == nullptr) return 0;
  ring->capacity = static_cast<std::int32_t>(capacity);
  ring->read_index = 0;
  ring->write_index = 0;
  ring->count = 0;
  ring->wrap = 0;
  return 1;
}

template <typename T>
int Write(SampleRingOf<T>* ring, const T* source, std::int32_t n) {
  if (source == nullptr) return 0;
  if (n < 0 || RingFreeSpace(ring) < n) return 1;
  const std::int32_t to_end = ring->capacity - ring->write_index;
  if (ring->wrap == 0 && to_end < n) {
    std::memcpy(ring->buffer + ring->write_index, source, sizeof(T) * to_end);
    std::memcpy(ring->buffer, source + to_end, sizeof(T) * (n - to_end));
    ring->wrap = 1;
    ring->write_index = n - to_end;
  } else {
    // With the wrap flag set the elements fit below the read index.
    if (n > 0) std::memcpy(ring->buffer + ring->write_index, source, sizeof(T) * n);
    ring->write_index += n;
  }
  ring->count += n;
  return n;
}

template <typename T>
int Read(SampleRingOf<T>* ring, std::int32_t n, T* destination) {
  const std::int32_t to_end = ring->capacity - ring->read_index;
  if (ring->wrap == 1 && to_end < n) {
    std::memcpy(destination, ring->buffer + ring->read_index, sizeof(T) * to_end);
    std::memcpy(destination + to_end, ring->buffer, sizeof(T) * (n - to_end));
    ring->read_index = n - to_end;
    ring->wrap = 0;
  } else {
    if (n > 0) std::memcpy(destination, ring->buffer + ring->read_index, sizeof(T) * n);
    ring->read_index += n;
  }
  ring->count -= n;
  return n;
}

}  // namespace

int RingInit16(SampleRing* ring, std::uint32_t capacity) {
  return Init(ring, capacity);
}
int RingInit32(SampleRing32* ring, std::uint32_t capacity) {
  return Init(ring, capacity);
}

template <typename T>
int RingFree(SampleRingOf<T>* ring) {
  if (ring == nullptr) return 0;
  if (ring->buffer == nullptr) return 1;
  std::free(ring->buffer);
  ring->capacity = 0;
  ring->read_index = 0;
  ring->write_index = 0;
  ring->count = 0;
  ring->wrap = 0;
  return 1;
}
template int RingFree(SampleRing*);
template int RingFree(SampleRing32*);

template <typename T>
std::int32_t RingFreeSpace(const SampleRingOf<T>* ring) {
  if (ring == nullptr || ring->buffer == nullptr || ring->capacity < 1) return 0;
  return ring->capacity - ring->count;
}
template std::int32_t RingFreeSpace(const SampleRing*);
template std::int32_t RingFreeSpace(const SampleRing32*);

int RingWrite16(SampleRing* ring, const std::uint16_t* source, std::int32_t n) {
  return Write(ring, source, n);
}
int RingWrite32(SampleRing32* ring, const std::uint32_t* source, std::int32_t n) {
  return Write(ring, source, n);
}
int RingRead16(SampleRing* ring, std::int32_t n, std::uint16_t* destination) {
  return Read(ring, n, destination);
}
int RingRead32(SampleRing32* ring, std::int32_t n, std::uint32_t* destination) {
  return Read(ring, n, destination);
}

}  // namespace qvx

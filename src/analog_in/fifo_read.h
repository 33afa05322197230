// Reading the driver's three FIFOs into a card's staging buffers and laying
// the scans out in the caller's buffer: shared by the continuous-capture
// reads and the memory-measurement reads.
#pragma once

#include <cstdint>

#include "frame/call.h"
#include "frame/card_state.h"

namespace qvx {

// Wait labels of one read call.
struct FifoLabels {
  const char* status;
  const char* analog;
  const char* counter;
  const char* digital;
};

// Asks the analog FIFO how many scans wait, under AdMutex. Returns -1 when the
// mutex could not be had (nothing was asked).
std::int32_t WaitingScans(std::int32_t card, const char* label);

// Moves n scans (1..kStagingScans) out of the analog FIFO and, for a mixed
// list, out of the counter and digital FIFOs, into the staging buffers.
// REQUIRES: the caller owns the card's AdMutex and the staging lock. Returns
// false when a FIFO read failed (data already moved is then lost), and
// without reading when n scans would not fit the staging buffers.
bool ReadFifosLocked(std::int32_t card, std::int32_t n, const FifoLabels& labels);

// Reads n scans into the staging buffers and lays them out with `lay_out()`,
// all under one hold of AdMutex and the staging lock: the worker never
// fetches between the reads of the three FIFOs, and never refills the
// counter buffer (counter reading on) while it is being laid out. Returns
// false, laying out nothing, when the mutex could not be had or a read
// failed.
template <typename LayOut>
bool ReadAndLayOut(std::int32_t card, std::int32_t n, const FifoLabels& labels, LayOut lay_out) {
  CardState& c = g_cards[card];
  MutexGuard lock(c.AdMutex, labels.analog);
  if (!lock.owned()) return false;
  std::lock_guard<std::mutex> staging(c.Staging.lock);
  if (!ReadFifosLocked(card, n, labels)) return false;
  lay_out();
  return true;
}

// The value of digital entry d in scan i of the digital staging buffer: a
// line, a byte port or a word port by the card's width code.
std::uint32_t DigitalValue(const CardState& card, std::int32_t d, std::int32_t i);

// Range factor of analog entry k: 1, 0.5, 0.25 or 0.125.
double RangeFactor(const CardState& card, std::int32_t k);

// Writes n scans of a mixed list in slot order into `out` (S values per
// scan). `analog(code, k)` converts analog codes; counter and digital values
// go through `value(v)`.
template <typename Out, typename Analog, typename Value>
void LayOutMixed(const CardState& c, std::int32_t n, Out* out, Analog analog, Value value) {
  const std::int32_t ad = c.AdChannelCount;
  const std::int32_t ct = c.CtChannelCount;
  const std::int32_t dig = c.DigChannelCount;
  const std::int32_t slots = ad + ct + dig;
  std::int32_t k = 0, counter = 0, d = 0;
  for (std::int32_t s = 0; s < slots; ++s) {
    const bool is_counter = s < kScanSlots && c.ScanSlotIsCounter[s] != 0;
    const bool is_digital = s < kScanSlots && c.ScanSlotIsDigital[s] != 0;
    // A slot whose kind has no entry left (lists built partly through the
    // separate digital and counter lists) delivers zeros.
    for (std::int32_t i = 0; i < n; ++i) {
      Out& slot = out[static_cast<std::size_t>(i) * slots + s];
      if (is_counter) {
        slot = counter < ct ? value(c.CtBuffer[static_cast<std::size_t>(i) * ct + counter]) : Out{};
      } else if (is_digital) {
        slot = d < dig ? value(DigitalValue(c, d, i)) : Out{};
      } else {
        slot = k < ad ? analog(c.AdBuffer[static_cast<std::size_t>(i) * ad + k], k) : Out{};
      }
    }
    if (is_counter) {
      ++counter;
    } else if (is_digital) {
      ++d;
    } else {
      ++k;
    }
  }
}

}  // namespace qvx

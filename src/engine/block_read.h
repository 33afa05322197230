// The block reads of captured data (analog, mixed, digital-input, counter
// and memory-measurement reads): how many scans a read delivers, the reads
// of the driver's three FIFOs into the staging buffers (engine/staging.h),
// and the layout of the scans in the caller's buffer.
#pragma once

#include <cstdint>
#include <mutex>

#include "engine/staging.h"
#include "frame/call.h"
#include "frame/card_state.h"

namespace qvx {

// The checks every block read of captured data opens with, after its trace
// line: on a latched card the latch value; a null destination or count, or
// a mode other than 0 and 1, latch the card and give 2. Returns -1 when the
// read may go on.
std::int32_t CheckBlockRead(CardState& card, const void* destination, const std::int32_t* count,
                            std::int32_t mode);

// Decides how many scans a block read delivers from the `available` scans
// waiting, the `*count` wanted and the mode (0: what is there up to the
// count; 1: exactly the count, and only while more than that waits). Caps
// the result at `room`, the scans the staging buffers hold. Updates *count
// to the scans that will be delivered and returns that number; 0 means none
// (the count is then 0). A negative `available` (the FIFO could not be
// asked) gives 0.
std::int32_t DecideScans(std::int32_t available, std::int32_t* count, std::int32_t mode,
                         std::int32_t room);

// The opening of the digital-input and counter block reads: the checks of
// every block read (CheckBlockRead); then, when `fifo` has a staging buffer
// (FinalInit since the last stop), asks `status` (the FIFO's count of
// waiting scans) under AdMutex with `status_label`, drains the automatic
// analog input with `drain_label`, and decides the scans to read as
// DecideScans does. Returns the status the read gives at once, or -1 with
// the scans to read in *scans (0: none, and *count is 0).
std::int32_t OpenSideFifoRead(std::int32_t card, Fifo fifo, std::int32_t (*status)(std::int32_t),
                              const char* status_label, const char* drain_label,
                              const void* destination, std::int32_t* count, std::int32_t mode,
                              std::int32_t* scans);

// Reads and discards the analog input that FinalInit added by itself, so
// that its FIFO does not fill while only digital or counter data is read.
// At most one staging buffer (10000 scans) per call.
void DrainAutoAnalog(std::int32_t card, const char* label);

// Wait labels of one read call: its status query and its reads of the
// analog, counter and digital FIFOs.
struct FifoLabels {
  const char* status;
  const char* analog;
  const char* counter;
  const char* digital;
};
// The scaled reads' labels, shared by GetScaledData and the scaled
// memory-measurement read.
inline constexpr FifoLabels kScaledReadLabels = {"GetScaledData_1", "GetScaledData_2",
                                                 "GetScaledData_3", "GetScaledData_4"};

// Asks `status` (a FIFO's count of waiting scans) under AdMutex with
// `label`. Returns -1 when the mutex could not be had (nothing was asked).
std::int32_t WaitingScans(std::int32_t card, std::int32_t (*status)(std::int32_t),
                          const char* label);
// The buffer-status calls' answer: the scans `status` reports waiting, asked
// under AdMutex with `label`, into *waiting; 0 without asking when the wait
// runs out. Returns 0.
std::int32_t ReportWaitingScans(std::int32_t card, std::int32_t (*status)(std::int32_t),
                                const char* label, std::int32_t* waiting);

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

// Lays n scans of the staging buffers out in `out` in volts, the layout of
// every scaled read: an analog-only list as the first `channels` inputs of
// each scan, at the list's width (the other elements are left alone); a
// mixed list slot by slot, every slot (LayOutMixed).
void LayOutScaled(const CardState& card, std::int32_t n, double* out, std::int32_t channels);

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

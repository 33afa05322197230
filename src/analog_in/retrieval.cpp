// GetScaledData and GetBinaryData: captured scans out of the driver's FIFOs,
// in the order of the card's scan list.
#include "analog_in/fifo_read.h"
#include "engine/conversions.h"
#include "frame/call.h"
#include "quorvex.h"

namespace qvx {
namespace {

constexpr FifoLabels kScaledLabels = {"GetScaledData_1", "GetScaledData_2", "GetScaledData_3",
                                      "GetScaledData_4"};
constexpr FifoLabels kBinaryLabels = {"GetBinaryData_1", "GetBinaryData_2", "GetBinaryData_3",
                                      "GetBinaryData_4"};

// The steps both reads share up to the staging buffers. Returns the number of
// scans now in the staging buffers, or 0 when none were delivered (count is
// then 0).
std::int32_t FetchScans(std::int32_t card, std::int32_t* count, std::int32_t mode,
                        const FifoLabels& labels) {
  const CardState& c = g_cards[card];
  // After a stop the staging buffers are gone: there is nothing to read into
  // until the next FinalInit.
  if (!StagingReady(c)) {
    *count = 0;
    return 0;
  }
  const std::int32_t available = WaitingScans(card, labels.status);
  const std::int32_t wanted = *count;
  std::int32_t n = wanted;
  if (available <= wanted) {
    if (mode == 1 || available < 0) {
      *count = 0;
      return 0;
    }
    n = available;
    *count = n;
  }
  if (n <= 0) {
    *count = 0;
    return 0;
  }
  if (n > kStagingScans) {  // what the staging buffers hold
    n = kStagingScans;
    *count = n;
  }
  if (!ReadFifos(card, n, labels)) {
    *count = 0;
    return 0;
  }
  return n;
}

}  // namespace
}  // namespace qvx

using namespace qvx;

int32_t QVX_CALL GetScaledData(int32_t p1, double* destination, int32_t* count, int32_t mode) {
  Trace("begin GetScaledData (%d, *DestinationBuffer, %d, %d)", p1,
        static_cast<int>(reinterpret_cast<std::intptr_t>(count)), mode);
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  if (const std::int32_t latch = c.ErrorLatch; latch != 0) return latch;
  if (destination == nullptr || count == nullptr) return Refuse(c);
  if (mode != 0 && mode != 1) return Refuse(c);
  const std::int32_t n = FetchScans(card, count, mode, kScaledLabels);
  if (n == 0) return kOk;

  if (c.MixedScanMode != 1) {
    const std::int32_t channels = c.AdChannelCount;
    double factor[kAdRanges];
    for (std::int32_t k = 0; k < channels; ++k) factor[k] = RangeFactor(c, k);
    const std::uint16_t* codes = c.AdBuffer;
    const std::size_t total = static_cast<std::size_t>(n) * channels;
    for (std::size_t index = 0, k = 0; index < total; ++index) {
      destination[index] = CodeToVolts(codes[index]) * factor[k];
      if (++k == static_cast<std::size_t>(channels)) k = 0;
    }
  } else {
    LayOutMixed(
        c, n, destination,
        [&c](std::uint16_t code, std::int32_t k) { return CodeToVolts(code) * RangeFactor(c, k); },
        [](std::uint32_t value) { return static_cast<double>(value); });
  }
  return kOk;
}

int32_t QVX_CALL GetBinaryData(uint32_t* destination, int32_t* count, int32_t mode) {
  Trace("begin GetBinaryData (*DestBuffer, %d, %d)",
        static_cast<int>(reinterpret_cast<std::intptr_t>(count)), mode);
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  if (const std::int32_t latch = c.ErrorLatch; latch != 0) return latch;
  if (destination == nullptr || count == nullptr) return Refuse(c);
  if (mode != 0 && mode != 1) return Refuse(c);
  const std::int32_t n = FetchScans(card, count, mode, kBinaryLabels);
  if (n == 0) return kOk;

  if (c.MixedScanMode != 1) {
    const std::size_t total = static_cast<std::size_t>(n) * c.AdChannelCount;
    for (std::size_t index = 0; index < total; ++index) destination[index] = c.AdBuffer[index];
  } else {
    LayOutMixed(
        c, n, destination, [](std::uint16_t code, std::int32_t) { return std::uint32_t{code}; },
        [](std::uint32_t value) { return value; });
  }
  return kOk;
}

// GetScaledData and GetBinaryData: captured scans out of the driver's FIFOs,
// in the order of the card's scan list.
#include "analog_in/fifo_read.h"
#include "engine/block_read.h"
#include "engine/code_blocks.h"
#include "engine/conversions.h"
#include "engine/staging.h"
#include "frame/call.h"
#include "quorvex.h"

namespace qvx {
namespace {

constexpr FifoLabels kScaledLabels = {"GetScaledData_1", "GetScaledData_2", "GetScaledData_3",
                                      "GetScaledData_4"};
constexpr FifoLabels kBinaryLabels = {"GetBinaryData_1", "GetBinaryData_2", "GetBinaryData_3",
                                      "GetBinaryData_4"};

// The steps both reads share up to the FIFO reads. Returns the number of
// scans to read, or 0 when none will be delivered (count is then 0).
std::int32_t ScansToRead(std::int32_t card, std::int32_t* count, std::int32_t mode,
                         const FifoLabels& labels) {
  // After a stop the staging buffers are gone: there is nothing to read into
  // until the next FinalInit.
  const std::int32_t room = StagingScans(g_cards[card]);
  if (room == 0) {
    *count = 0;
    return 0;
  }
  return DecideScans(WaitingScans(card, labels.status), count, mode, room);
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
  const std::int32_t n = ScansToRead(card, count, mode, kScaledLabels);
  if (n == 0) return kOk;
  const bool read = ReadAndLayOut(card, n, kScaledLabels, [&] {
    double factor[kAdRanges];
    for (std::int32_t k = 0; k < kAdRanges; ++k) factor[k] = RangeFactor(c, k);
    if (c.MixedScanMode != 1) {
      CodesToVolts(c.AdBuffer, destination, static_cast<std::size_t>(n), c.AdChannelCount, factor);
    } else {
      LayOutMixed(
          c, n, destination,
          [&factor](std::uint16_t code, std::int32_t k) {
            return CodeToVoltsFast(code) * factor[k];
          },
          [](std::uint32_t value) { return static_cast<double>(value); });
    }
  });
  if (!read) *count = 0;
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
  const std::int32_t n = ScansToRead(card, count, mode, kBinaryLabels);
  if (n == 0) return kOk;
  const bool read = ReadAndLayOut(card, n, kBinaryLabels, [&] {
    if (c.MixedScanMode != 1) {
      WidenCodes(c.AdBuffer, destination, static_cast<std::size_t>(n) * c.AdChannelCount);
    } else {
      LayOutMixed(
          c, n, destination, [](std::uint16_t code, std::int32_t) { return std::uint32_t{code}; },
          [](std::uint32_t value) { return value; });
    }
  });
  if (!read) *count = 0;
  return kOk;
}

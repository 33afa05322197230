// GetScaledData and GetBinaryData: captured scans out of the driver's FIFOs,
// in the order of the card's scan list.
#include "engine/block_read.h"
#include "engine/code_blocks.h"
#include "engine/conversions.h"
#include "engine/staging.h"
#include "frame/call.h"
#include "frame/driver.h"
#include "quorvex.h"

namespace qvx {
namespace {

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
  return DecideScans(WaitingScans(card, &drv::ZQ7_AD_GetFifoStatus, labels.status), count, mode,
                     room);
}

}  // namespace
}  // namespace qvx

using namespace qvx;

int32_t QVX_CALL GetScaledData(int32_t p1, double* destination, int32_t* count, int32_t mode) {
  Trace("begin GetScaledData (%d, *DestinationBuffer, %d, %d)", p1,
        static_cast<int>(reinterpret_cast<std::intptr_t>(count)), mode);
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  if (const std::int32_t refused = CheckBlockRead(c, destination, count, mode); refused >= 0) {
    return refused;
  }
  const std::int32_t n = ScansToRead(card, count, mode, kScaledReadLabels);
  if (n == 0) return kOk;
  const bool read = ReadAndLayOut(card, n, kScaledReadLabels,
                                  [&] { LayOutScaled(c, n, destination, c.AdChannelCount); });
  if (!read) *count = 0;
  return kOk;
}

int32_t QVX_CALL GetBinaryData(uint32_t* destination, int32_t* count, int32_t mode) {
  Trace("begin GetBinaryData (*DestBuffer, %d, %d)",
        static_cast<int>(reinterpret_cast<std::intptr_t>(count)), mode);
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  if (const std::int32_t refused = CheckBlockRead(c, destination, count, mode); refused >= 0) {
    return refused;
  }
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

// Reading the data of a memory measurement: scaled (volts and numbers as
// doubles) or binary (20-bit analog values, raw counter and digital values).
#include "engine/block_read.h"
#include "engine/conversions.h"
#include "engine/staging.h"
#include "frame/call.h"
#include "frame/driver.h"
#include "quorvex.h"

namespace qvx {
namespace {

constexpr FifoLabels kBinaryLabels = {"GetBinaryDataFromMemoryMeasurement_1",
                                      "GetBinaryDataFromMemoryMeasurement_2",
                                      "GetBinaryDataFromMemoryMeasurement_3", "GetScaledData_4"};

// Checks shared by both reads. Returns -1 when the read may go on, else the
// status to return. Argument errors latch the card and give 1.
std::int32_t CheckRead(std::int32_t card, const void* destination, const std::int32_t* transferred,
                       std::int32_t channel_count, std::int32_t value_count, std::int32_t mode) {
  if (!CardInRange(card)) return kArgument;
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  if (destination == nullptr || transferred == nullptr) return Fail(c);
  if (value_count <= 0 || channel_count <= 0 || (mode != 0 && mode != 1)) return Fail(c);
  // More inputs than the list holds would read past each scan.
  if (c.MixedScanMode != 1 && channel_count > c.AdChannelCount) return Fail(c);
  return -1;
}

// Decides and counts the block: returns the scans to read, or 0 when none
// will be delivered (*transferred is then 0). The count of values fetched
// grows here, before the read, and stays grown if the read fails.
std::int32_t CountBlock(std::int32_t card, std::int32_t value_count, std::int32_t mode,
                        std::int32_t* transferred, const FifoLabels& labels) {
  CardState& c = g_cards[card];
  *transferred = 0;
  const std::int32_t room = StagingScans(c);
  if (room == 0) return 0;  // before FinalInit or after a stop
  std::int32_t n = value_count;
  n = DecideScans(WaitingScans(card, &drv::ZQ7_AD_GetFifoStatus, labels.status), &n, mode, room);
  // A 32-bit count that wraps after 2^31 values per channel, never overflows.
  c.MemValuesFetched = static_cast<std::int32_t>(static_cast<std::uint32_t>(c.MemValuesFetched) +
                                                 static_cast<std::uint32_t>(n));
  return n;
}

}  // namespace
}  // namespace qvx

using namespace qvx;

int32_t QVX_CALL GetScaledDataFromMemoryMeasurement(int32_t card, int32_t setting_c,
                                                    int32_t channel_count, int32_t value_count,
                                                    double* destination, int32_t mode,
                                                    int32_t* transferred) {
  Trace("begin GetScaledDataFromMemoryMeasurement (%d, %d, %d, %d, *DestBuff, %d, *TransVal)", card,
        setting_c, channel_count, value_count, mode);
  if (const std::int32_t status =
          CheckRead(card, destination, transferred, channel_count, value_count, mode);
      status >= 0) {
    return status;
  }
  const std::int32_t n = CountBlock(card, value_count, mode, transferred, kScaledReadLabels);
  if (n == 0) return kOk;
  const CardState& c = g_cards[card];
  const bool read = ReadAndLayOut(card, n, kScaledReadLabels,
                                  [&] { LayOutScaled(c, n, destination, channel_count); });
  if (read) *transferred = n;
  return kOk;
}

int32_t QVX_CALL GetBinaryDataFromMemoryMeasurement(int32_t card, int32_t channel_count,
                                                    int32_t value_count, int32_t* destination,
                                                    int32_t mode, int32_t* transferred) {
  Trace("begin GetBinaryDataFromMemoryMeasurement (%d, %d, %d, *DataBuff, %d, *TransVal)", card,
        channel_count, value_count, mode);
  if (const std::int32_t status =
          CheckRead(card, destination, transferred, channel_count, value_count, mode);
      status >= 0) {
    return status;
  }
  const std::int32_t n = CountBlock(card, value_count, mode, transferred, kBinaryLabels);
  if (n == 0) return kOk;
  const CardState& c = g_cards[card];
  const bool mixed = c.MixedScanMode == 1;
  const bool read = ReadAndLayOut(card, n, kBinaryLabels, [&] {
    if (!mixed) {
      const std::int32_t stride = c.AdChannelCount;
      for (std::int32_t i = 0; i < n; ++i) {
        for (std::int32_t k = 0; k < channel_count; ++k) {
          destination[static_cast<std::size_t>(i) * channel_count + k] =
              CodeToWide20(c.AdBuffer[static_cast<std::size_t>(i) * stride + k]);
        }
      }
    } else {
      LayOutMixed(
          c, n, destination, [](std::uint16_t code, std::int32_t) { return CodeToWide20(code); },
          [](std::uint32_t value) { return static_cast<std::int32_t>(value); });
    }
  });
  // The values taken from the FIFOs: analog codes, counter values and
  // digital group words.
  if (read) {
    *transferred =
        n * (mixed ? c.AdChannelCount + c.CtChannelCount + c.DinGroupCount : c.AdChannelCount);
  }
  return kOk;
}

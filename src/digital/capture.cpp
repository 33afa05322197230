// Digital inputs in the card's acquisition: the two add calls, the rate,
// start and stop, and the block reads of the digital FIFO.
#include "engine/block_read.h"
#include "engine/capture_control.h"
#include "engine/staging.h"
#include "frame/call.h"
#include "frame/driver.h"
#include "quorvex.h"

namespace qvx {
namespace {

constexpr std::int32_t kLinesPerGroup = 16;

// Checks and adds one digital entry (channel, width code) to the module's
// TTL list. `mixed` also gives it a slot of the mixed scan list.
std::int32_t AddDigitalEntry(std::int32_t channel, std::int32_t width, bool mixed) {
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  c.DigitalWidthCode = static_cast<std::uint32_t>(width);  // even when refused below
  if (Latched(c)) return kFailure;
  if (channel < 0) return Refuse(c);
  if (channel >= drv::ZQ7_GetNumOfTTLIn(card) || width < 0 || width > 2) return Refuse(c);
  const std::int32_t slot = c.AdChannelCount + c.CtChannelCount + c.DigChannelCount;
  if (mixed && slot >= kScanSlots) return Refuse(c);  // beyond the slot table
  if (mixed) {
    c.MixedScanMode = 1;
    c.ScanSlotIsDigital[slot] = 1;
  }
  const std::int64_t lines = std::int64_t{1} << (width == 0 ? 0 : width == 1 ? 3 : 4);
  const std::int64_t first = channel * lines;
  if (first < kDinGroups * kLinesPerGroup) c.DinGroupEnabled[first / kLinesPerGroup] = 1;
  for (std::int64_t line = first; line < first + lines; ++line) {
    DriverAddLine(card, static_cast<std::int32_t>(line));
  }
  c.DigChannelCount += 1;
  return kOk;
}

}  // namespace
}  // namespace qvx

using namespace qvx;

int32_t QVX_CALL Add_Dig_Channel_to_ScanList(int32_t channel, int32_t width_code) {
  Trace("begin Add_Dig_Channel_to_ScanList (%d, %d)", channel, width_code);
  return AddDigitalEntry(channel, width_code, /*mixed=*/true);
}

int32_t QVX_CALL DIN_AddChannel_To_DINScanlist(int32_t channel, int32_t width_code) {
  Trace("begin DIN_AddChannel_To_DINScanlist (%d, %d)", channel, width_code);
  return AddDigitalEntry(channel, width_code, /*mixed=*/false);
}

int32_t QVX_CALL SetDINFrequency(double rate_hz) {
  Trace("begin SetDINFrequency (%f)", rate_hz);
  const std::int32_t card = CurrentCardNumber();
  if (Latched(g_cards[card])) return kFailure;
  return SetAcquisitionRate(card, rate_hz, /*product_in_double=*/true);
}

int32_t QVX_CALL StartDINCapture(void) {
  return StartADCapture();
}

int32_t QVX_CALL StartDINCaptureEx(int32_t flag1, int32_t flag2, int32_t flag3) {
  Trace("begin StartDINCaptureEx (%d, %d, %d)", flag1, flag2, flag3);
  return StartWithStartFlags(CurrentCardNumber(), flag1, flag2, flag3);
}

int32_t QVX_CALL StopDINCapture(void) {
  return StopADCapture();
}

int32_t QVX_CALL DIN_GetScaledData(uint32_t* destination, int32_t* count, int32_t mode) {
  Trace("begin DIN_GetScaledData (*DestBuff, %d, %d)",
        static_cast<int>(reinterpret_cast<std::intptr_t>(count)), mode);
  const std::int32_t card = CurrentCardNumber();
  std::int32_t n = 0;
  if (const std::int32_t done =
          OpenSideFifoRead(card, kDigitalFifo, &drv::ZQ7_DIN_GetFifoStatus, "DinGetSamples_1",
                           "DinGetSamples_2", destination, count, mode, &n);
      done >= 0) {
    return done;
  }
  if (n == 0) return kOk;
  CardState& c = g_cards[card];
  std::unique_lock<std::mutex> staging(c.Staging.lock, std::defer_lock);
  {
    MutexGuard lock(c.AdMutex, "DinGetSamples_3");
    if (lock.owned()) staging.lock();
    if (!lock.owned() || n > FifoRoom(c, kDigitalFifo) ||
        drv::ZQ7_DIN_GetDataFromFifo(card, n, c.DinBuffer) != 0) {
      *count = 0;
      return kOk;
    }
  }
  const std::int32_t entries = c.DigChannelCount;
  for (std::int32_t i = 0; i < n; ++i) {
    for (std::int32_t d = 0; d < entries; ++d) {
      destination[static_cast<std::size_t>(i) * entries + d] = DigitalValue(c, d, i);
    }
  }
  return kOk;
}

int32_t QVX_CALL DIN_GetBinaryData(uint32_t* destination, int32_t* count, int32_t mode) {
  Trace("begin DIN_GetBinaryData (*DestBuff, %d, %d)",
        static_cast<int>(reinterpret_cast<std::intptr_t>(count)), mode);
  if (const std::int32_t latch = LatchValue(CurrentState())) return latch;
  return DIN_GetScaledData(destination, count, mode);
}

int32_t QVX_CALL GetDINBufferStatus(int32_t card, int32_t* values_per_channel) {
  Trace("begin GetDINBufferStatus (%d, *ValuesPerCh)", card);
  // Refused arguments latch the current card, not the card named.
  if (!CardInRange(card)) return Refuse(CurrentState());
  CardState& c = g_cards[card];
  if (const std::int32_t latch = LatchValue(c)) return latch;
  if (values_per_channel == nullptr) return Refuse(CurrentState());
  return ReportWaitingScans(card, &drv::ZQ7_DIN_GetFifoStatus, "DinGetStatus", values_per_channel);
}

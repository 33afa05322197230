#include "engine/block_read.h"

#include <algorithm>

#include "engine/code_blocks.h"
#include "engine/conversions.h"
#include "engine/staging.h"
#include "frame/call.h"
#include "frame/driver.h"

namespace qvx {

std::int32_t CheckBlockRead(CardState& c, const void* destination, const std::int32_t* count,
                            std::int32_t mode) {
  if (const std::int32_t latch = LatchValue(c)) return latch;
  if (destination == nullptr || count == nullptr) return Refuse(c);
  if (mode != 0 && mode != 1) return Refuse(c);
  return -1;
}

std::int32_t DecideScans(std::int32_t available, std::int32_t* count, std::int32_t mode,
                         std::int32_t room) {
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
  if (n > room) {
    n = room;
    *count = n;
  }
  return n;
}

std::int32_t OpenSideFifoRead(std::int32_t card, Fifo fifo, std::int32_t (*status)(std::int32_t),
                              const char* status_label, const char* drain_label,
                              const void* destination, std::int32_t* count, std::int32_t mode,
                              std::int32_t* scans) {
  *scans = 0;
  CardState& c = g_cards[card];
  if (const std::int32_t refused = CheckBlockRead(c, destination, count, mode); refused >= 0) {
    return refused;
  }
  const std::int32_t room = FifoRoom(c, fifo);
  if (room == 0) {  // no FinalInit since the last stop
    *count = 0;
    return -1;
  }
  const std::int32_t available = WaitingScans(card, status, status_label);
  DrainAutoAnalog(card, drain_label);
  *scans = DecideScans(available, count, mode, room);
  return -1;
}

void DrainAutoAnalog(std::int32_t card, const char* label) {
  CardState& c = g_cards[card];
  if (c.AutoAdChannel != 1 || FifoRoom(c, kAnalogFifo) == 0) return;
  MutexGuard lock(c.AdMutex, label);
  if (!lock.owned()) return;
  std::int32_t waiting = drv::ZQ7_AD_GetFifoStatus(card);
  if (waiting <= 0) return;
  std::lock_guard<std::mutex> staging(c.Staging.lock);
  waiting = std::min(waiting, FifoRoom(c, kAnalogFifo));
  if (waiting > 0) drv::ZQ7_AD_GetDataFromFifo(card, waiting, c.AdBuffer);
}

std::int32_t WaitingScans(std::int32_t card, std::int32_t (*status)(std::int32_t),
                          const char* label) {
  MutexGuard lock(g_cards[card].AdMutex, label);
  if (!lock.owned()) return -1;
  return status(card);
}

std::int32_t ReportWaitingScans(std::int32_t card, std::int32_t (*status)(std::int32_t),
                                const char* label, std::int32_t* waiting) {
  MutexGuard lock(g_cards[card].AdMutex, label);
  // Without the mutex the FIFO is not asked: nothing is reported waiting.
  *waiting = lock.owned() ? status(card) : 0;
  return kOk;
}

bool ReadFifosLocked(std::int32_t card, std::int32_t n, const FifoLabels& labels) {
  CardState& c = g_cards[card];
  if (n > StagingScans(c)) return false;
  if (drv::ZQ7_AD_GetDataFromFifo(card, n, c.AdBuffer) != 0) return false;
  if (c.MixedScanMode != 1) return true;
  // The mutex is ours already: these waits succeed at once.
  if (c.CtChannelCount > 0) {
    MutexGuard counter_lock(c.AdMutex, labels.counter);
    if (drv::ZQ7_CT_GetDataFromFifo(card, n, c.CtBuffer) != 0) return false;
  }
  if (c.DigChannelCount > 0) {
    MutexGuard digital_lock(c.AdMutex, labels.digital);
    if (drv::ZQ7_DIN_GetDataFromFifo(card, n, c.DinBuffer) != 0) return false;
  }
  return true;
}

std::uint32_t DigitalValue(const CardState& c, std::int32_t d, std::int32_t i) {
  const std::int32_t groups = c.DinGroupCount;
  const std::int32_t g = ChannelGroupForWidth(c.DigitalWidthCode, d);
  if (groups <= 0 || g >= groups) return 0;  // no word carries that group
  const std::uint32_t w = c.DinBuffer[static_cast<std::size_t>(i) * groups + g];
  switch (c.DigitalWidthCode) {
    case 0:
      return (w >> (d % 16)) & 1u;
    case 1:
      return (w >> (8 * (d % 2))) & 255u;
    case 2:
      return w;
    default:
      return 0;  // a width code that a refused add call left behind
  }
}

double RangeFactor(const CardState& c, std::int32_t k) {
  if (k < 0 || k >= kAdRanges) return 1.0;
  switch (c.AdRange[k]) {
    case 1:
      return 0.5;
    case 2:
      return 0.25;
    case 3:
      return 0.125;
    default:
      return 1.0;
  }
}

void LayOutScaled(const CardState& c, std::int32_t n, double* out, std::int32_t channels) {
  double factor[kAdRanges];
  for (std::int32_t k = 0; k < kAdRanges; ++k) factor[k] = RangeFactor(c, k);
  if (c.MixedScanMode != 1) {
    CodesToVolts(c.AdBuffer, out, static_cast<std::size_t>(n), c.AdChannelCount, channels, factor);
    return;
  }
  LayOutMixed(
      c, n, out,
      [&factor](std::uint16_t code, std::int32_t k) { return CodeToVolts(code) * factor[k]; },
      [](std::uint32_t value) { return static_cast<double>(value); });
}

}  // namespace qvx

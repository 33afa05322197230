#include "analog_in/fifo_read.h"

#include "engine/conversions.h"
#include "engine/staging.h"
#include "frame/call.h"
#include "frame/driver.h"

namespace qvx {

std::int32_t WaitingScans(std::int32_t card, const char* label) {
  MutexGuard lock(g_cards[card].AdMutex, label);
  if (!lock.owned()) return -1;
  return drv::ZQ7_AD_GetFifoStatus(card);
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

}  // namespace qvx

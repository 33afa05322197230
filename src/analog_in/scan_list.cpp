// The analog entries of the scan list and the acquisition rate.
#include "engine/capture_control.h"
#include "engine/staging.h"
#include "frame/call.h"
#include "frame/driver.h"
#include "quorvex.h"

using namespace qvx;

int32_t QVX_CALL Add_AD_Channel_to_ScanList(int32_t channel, int32_t p2, int32_t range,
                                            int32_t p4) {
  Trace("begin Add_AD_Channel_to_ScanList (%d, %d, %d, %d)", channel, p2, range, p4);
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  if (channel < 0 || channel >= c.ModuleInfo.NumAdChannels()) return Refuse(c);
  if (range < 0 || range > 3) return Refuse(c);
  // Ranges are kept per analog entry (its number among the analog entries),
  // the key the scaled reads use; the table and the slot flags bound the list.
  const std::int32_t entry = c.AdChannelCount;
  if (entry >= kAdRanges || entry + c.CtChannelCount + c.DigChannelCount >= kScanSlots) {
    return Refuse(c);
  }
  c.AdRange[entry] = static_cast<std::uint32_t>(range);
  if (DriverAddAnalogEntry(card, channel, range) < 0) return Fail(c);
  c.AdChannelCount += 1;
  return kOk;
}

int32_t QVX_CALL SetADFrequency(int32_t rate_hz) {
  Trace("begin SetADFrequency (%d)", rate_hz);
  const std::int32_t card = CurrentCardNumber();
  if (Latched(g_cards[card])) return kFailure;
  return SetAcquisitionRate(card, rate_hz, /*product_in_double=*/false);
}

int32_t QVX_CALL SetADFrequencyEx(int32_t p1, int32_t p2, int32_t p3) {
  // The middle value is shown as the 32-bit pattern it carries, widened to a
  // double, so the line never reads memory the caller did not pass.
  Trace("begin SetADFrequencyEx (%d, %f, %d)", p1, static_cast<double>(p2), p3);
  return kOk;
}

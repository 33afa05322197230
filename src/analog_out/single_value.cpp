// One analog output set at once, without list, rate or output ring.
#include "engine/conversions.h"
#include "frame/call.h"
#include "frame/driver.h"
#include "quorvex.h"

using namespace qvx;

int32_t QVX_CALL PutOneChannel(int32_t channel, int32_t p2, double volts) {
  Trace("begin PutOneChannel (%d, %d, %f)", channel, p2, volts);
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  if (channel < 0 || channel >= c.ModuleInfo.NumDaChannels()) return Refuse(c);
  if (!(volts >= -kHalfSpanVolts)) return Refuse(c);  // a NaN counts as below
  if (volts > kHalfSpanVolts) return Refuse(c);
  // The driver's result is not read: the call only sets the output.
  drv::ZQ7_DA_TriggerChannel(card, channel, VoltsToCode(volts));
  return kOk;
}

// Counter configuration and the latest counter values.
#include "frame/call.h"
#include "frame/driver.h"
#include "quorvex.h"

namespace qvx {
namespace {

constexpr std::uint32_t kCounterModuleType = 9;

bool InRange(std::int32_t value, std::int32_t low, std::int32_t high) {
  return value >= low && value <= high;
}

// Checks the nine arguments, sets the counter's factor and hands the setting
// to the driver in its own order.
std::int32_t ConfigureCounter(const std::int32_t (&a)[9]) {
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  const std::int32_t counter = a[0];
  const std::int32_t mode = a[1];
  // The factor table has 16 places, whatever the module reports.
  const std::int32_t counters = c.ModuleInfo.NumCounters();
  const bool valid =
      InRange(counter, 0, (counters < kCounterSlots ? counters : kCounterSlots) - 1) &&
      (InRange(mode, 0, 3) || mode == 5) && a[2] >= 0 && InRange(a[3], 0, 3) &&
      InRange(a[4], 0, 1) && InRange(a[5], 0, 1) && InRange(a[6], 0, 1) && InRange(a[7], 0, 1) &&
      InRange(a[8], 0, 2);
  if (!valid) return Refuse(c);
  if ((mode == 2 || mode == 3) && c.ModuleIdent != kCounterModuleType) return Refuse(c);

  std::int32_t scale = 1;
  if (mode == 1) {
    constexpr std::int32_t kDecades[4] = {1, 10, 100, 1000};
    scale = c.ModuleIdent == kCounterModuleType ? kDecades[a[3]] : 10;
  }
  c.CounterScale[counter] = scale;
  drv::ZQ7_ConfigureCounterInputEx(card, a[0], a[1], a[4], 0, 0, a[2], a[3], a[5], a[6], a[7],
                                   a[8]);
  return kOk;
}

}  // namespace
}  // namespace qvx

using namespace qvx;

int32_t QVX_CALL ConfigureCounterInput(int32_t counter, int32_t mode, int32_t a3, int32_t a4,
                                       int32_t a5, int32_t a6, int32_t a7, int32_t a8, int32_t a9) {
  Trace("begin ConfigureCounterInput (%d, %d, %d, %d, %d, %d, %d, %d, %d)", counter, mode, a3, a4,
        a5, a6, a7, a8, a9);
  return ConfigureCounter({counter, mode, a3, a4, a5, a6, a7, a8, a9});
}

int32_t QVX_CALL ConfigureCounterInputEx(int32_t counter, int32_t mode, int32_t a3, int32_t a4,
                                         int32_t a5, int32_t a6, int32_t a7, int32_t a8, int32_t a9,
                                         int32_t /*a10*/) {
  return ConfigureCounter({counter, mode, a3, a4, a5, a6, a7, a8, a9});
}

int32_t QVX_CALL ReadCounterValue(int32_t counter, uint32_t* value) {
  Trace("begin ReadCounterValue (%d, *Value)", counter);
  // The table has 16 places; other numbers, and a missing destination, are
  // refused without latching the card.
  if (counter < 0 || counter >= kCounterSlots || value == nullptr) return kArgument;
  *value = CurrentState().CounterValue[counter].load();
  return kOk;
}

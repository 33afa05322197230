// Set-up of an open card before capture and output: clearing the lists,
// completing the set-up, and settings handed to the module.
#include "engine/staging.h"
#include "frame/call.h"
#include "frame/driver.h"
#include "quorvex.h"

namespace qvx {
namespace {

// Output ring capacity per listed channel, chosen by the aggregate rate.
std::uint32_t RingValuesPerChannel(double aggregate_rate) {
  if (aggregate_rate <= 1000.0) return 3000;
  if (aggregate_rate <= 5000.0) return 6000;
  return 12000;
}

}  // namespace
}  // namespace qvx

using namespace qvx;

int32_t QVX_CALL ConfigCard(int32_t mode, int32_t extra1, int32_t extra2) {
  Trace("begin ConfigCard (%d, %d, %d)", mode, extra1, extra2);
  CardState& c = CurrentState();
  if (mode != 0 && mode != 1) return Refuse(c);
  c.ConfigMode = static_cast<std::uint32_t>(mode);
  drv::ZQ7_SetDifferenz(CurrentCardNumber(), mode);
  return kOk;
}

int32_t QVX_CALL FinalInit(void) {
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;

  // A capture or output that still runs must not see the buffers, the ring
  // or the counts change under it; the worker touches them only under these
  // mutexes. When either cannot be had, nothing is set up at all (see
  // docs/behaviour.md); a card without mutexes was never opened and has no
  // worker.
  MutexGuard da_lock(c.DaMutex, nullptr);
  MutexGuard ad_lock(c.AdMutex, nullptr);
  if (c.DaMutex != nullptr && (!da_lock.owned() || !ad_lock.owned())) return kFailure;

  if (c.AdChannelCount <= 0 && (c.CtChannelCount > 0 || c.DigChannelCount > 0)) {
    c.AutoAdChannel = 1;
    DriverAddAnalogEntry(card, 0, 0);
    c.AdChannelCount += 1;
    drv::ZQ7_AD_SetFrequency(card, c.SampleRate);
  } else {
    c.AutoAdChannel = 0;
  }
  for (const std::int32_t enabled : c.DinGroupEnabled) c.DinGroupCount += enabled == 1 ? 1 : 0;

  RingFree(&c.DaRing);
  c.DaRing.buffer = nullptr;
  AllocateStaging(c);
  const std::int32_t channels = c.DaChannelCount;
  if (channels > 0) {
    const double aggregate = channels * c.DaSampleRate;
    RingInit16(&c.DaRing, static_cast<std::uint32_t>(channels) * RingValuesPerChannel(aggregate));
    c.DaBlockSize = drv::ZQ7_IsHiSpeed(card) == 1 ? 256 : 32;
    c.DaStatus.word[1] = RingFreeSpace(&c.DaRing) / channels;
    c.DaStatus.word[14] = 1;
    c.DaStatus.word[0] = 1;
  }
  da_lock.Release();
  ad_lock.Release();
  drv::ZQ7_ConfigMeasure(card);
  return kOk;
}

int32_t QVX_CALL ClearChannelLists(void) {
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  ResetCardState(card);
  if (DriverClearInputLists(card) != 1) return Fail(c);
  if (drv::ZQ7_DA_ClearChannelList(card) != 1) return Fail(c);
  return kOk;
}

int32_t QVX_CALL ClearChannelListsEx(int32_t number, int32_t extra1, int32_t extra2) {
  Trace("begin ClearChannelListsEx (%d, %d, %d)", number, extra1, extra2);
  if (!CardInRange(number)) return kArgument;
  const std::int32_t card = CurrentCardNumber();
  ResetCardState(card);
  DriverClearInputLists(card);
  drv::ZQ7_DA_ClearChannelList(card);
  return kOk;
}

int32_t QVX_CALL SetMasterSlaveFunction(int32_t card, int32_t mode) {
  Trace("begin SetMasterSlaveFunction (%d, %d)", card, mode);
  if (!CardInRange(card)) return kArgument;
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  if (mode < 0 || mode > 2) return Refuse(c);
  drv::ZQ7_SetMasterSlave(card, mode);
  return kOk;
}

int32_t QVX_CALL SetDelay(int32_t card, int32_t delay) {
  Trace("begin SetDelay (%d, %d)", card, delay);
  if (!CardInRange(card)) return kArgument;
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  if (delay < 0 || delay > 256) return Refuse(c);
  constexpr std::int32_t kDelayRegister = 10;
  if (drv::WriteAlteraValue(card, kDelayRegister, delay) != 1) return Fail(c);
  return kOk;
}

int32_t QVX_CALL PrepareExtTrigger(int32_t card, int32_t flag1, int32_t flag2, int32_t flag3) {
  Trace("begin PrepareExtTrigger (%d, %d, %d, %d)", card, flag1, flag2, flag3);
  if (!CardInRange(card)) return kArgument;
  if ((flag1 & 1) != 0 && (flag2 & 1) != 0) return kArgument;
  CardState& c = g_cards[card];
  c.ExtTriggerA = flag1 & 1;
  c.ExtTriggerB = flag3 & 1;
  return kOk;
}

int32_t QVX_CALL ReSynchronize(void) {
  Trace("begin ReSynchronize USB-Bus");
  drv::ZQ7_ReSynchronize();  // does nothing when the driver lacks it
  return kOk;
}

#include "engine/capture_control.h"

#include <cmath>

#include "engine/staging.h"
#include "frame/call.h"
#include "frame/driver.h"

namespace qvx {

std::int32_t StartAcquisition(std::int32_t card) {
  CardState& c = g_cards[card];
  if (DriverStartCapture(card) < 0) return Fail(c);
  SetRunState(c, c.AdRunState, 1);
  return kOk;
}

std::int32_t StartAcquisitionExtern(std::int32_t card, std::int32_t flag1, std::int32_t flag2,
                                    std::int32_t flag3) {
  if (drv::ZQ7_Start_Extern(card, flag1, flag2, flag3) < 0) return Fail(g_cards[card]);
  return StartAcquisition(card);
}

std::int32_t StartWithStartFlags(std::int32_t card, std::int32_t flag1, std::int32_t flag2,
                                 std::int32_t flag3) {
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  for (const std::int32_t flag : {flag1, flag2, flag3}) {
    if (flag != 0 && flag != 1) return Refuse(c);
  }
  if (c.AdRunState > 0) return kOk;
  return StartAcquisitionExtern(card, flag1, flag2, flag3);
}

void StopAcquisition(std::int32_t card, StopWait wait) {
  CardState& c = g_cards[card];
  // Whether the worker is out of its acquisition half for good, so that the
  // buffers can go without waiting for the mutex once more.
  bool worker_out = false;
  {
    MutexGuard lock(c.AdMutex, "AdStop");
    SetRunState(c, c.AdRunState, 0);
    const bool acknowledged = AwaitAcknowledgement(c, c.AdRunState, wait);
    worker_out = lock.owned() || acknowledged || c.WorkerThread == nullptr;
    SetRunState(c, c.AdRunState, 0);
    drv::ZQ7_AD_Stop(card);
  }
  if (worker_out) {
    FreeStaging(c);
    return;
  }
  // The worker may still be inside a driver call that writes into a staging
  // buffer: the buffers go only once the mutex is had, and otherwise stay
  // until a later stop or FinalInit can have it.
  MutexGuard lock(c.AdMutex, nullptr);
  if (lock.owned()) FreeStaging(c);
}

void UpdateValuesPerPoll() {
  CardState& c = CurrentState();
  const double v = c.SampleRate > 2000.0 ? c.SampleRate / 20.0 : c.SampleRate / 50.0;
  // Clamp before converting, so that no rate can overflow the integer.
  std::int32_t values = 1;
  if (v >= 10000.0) {
    values = 10000;
  } else if (v >= 1.0) {
    values = static_cast<std::int32_t>(v);
  }
  c.ValuesPerPoll = values;
}

std::int32_t SetAcquisitionRate(std::int32_t card, double rate, bool product_in_double) {
  CardState& c = g_cards[card];
  if (!(rate >= 10.0)) return Refuse(c);  // NaN counts as below
  const std::int64_t max_rate = static_cast<std::int64_t>(c.ModuleInfo.MaxAdRateKHz()) * 1000;
  if (product_in_double) {
    if (c.AdChannelCount * rate > static_cast<double>(max_rate)) return Refuse(c);
  } else if (static_cast<std::int64_t>(rate) * c.AdChannelCount > max_rate) {
    return Refuse(c);
  }
  if (c.StrictRateLimit == 1) {
    const std::int32_t inputs = c.ModuleInfo.NumAdChannels();
    if (inputs <= 0) return Refuse(c);  // no per-input limit can be computed
    if (rate > static_cast<double>(max_rate / inputs)) return Refuse(c);
  }
  if (c.SampleRate > 0.0) return kOk;  // the first rate set after a clear wins
  c.SampleRate = rate;
  if (drv::ZQ7_AD_SetFrequency(card, c.SampleRate) < 0) return Fail(c);
  UpdateValuesPerPoll();
  return kOk;
}

}  // namespace qvx

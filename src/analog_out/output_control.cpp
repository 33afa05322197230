// The output list, the output rate, and starting and stopping streamed
// output. The card's worker (engine/worker.cpp) moves the data; these calls
// only switch the module's output and the worker's feed through DaRunState.
#include <cstdint>

#include "engine/worker.h"
#include "frame/call.h"
#include "frame/driver.h"
#include "quorvex.h"

namespace qvx {
namespace {

// Values per second the output may take over all listed channels.
constexpr std::int64_t kMaxAggregateDaRate = 1000;

// The worker's pause after a pass that sends nothing: the time in which the
// module outputs a quarter of a block at the listed rate, within the worker's
// bounds, so that the module never waits for the pause. The rate of channels
// listed with the Ex call is not known: 1 ms.
std::int32_t FeedPauseMs(const CardState& c) {
  const double codes_per_second = c.DaSampleRate * c.DaChannelCount.load();
  if (!(codes_per_second > 0.0)) return kMinFeedPauseMs;
  const double quarter_block_ms = 250.0 * c.DaBlockSize.load() / codes_per_second;
  if (quarter_block_ms >= kMaxFeedPauseMs) return kMaxFeedPauseMs;
  if (quarter_block_ms <= kMinFeedPauseMs) return kMinFeedPauseMs;
  return static_cast<std::int32_t>(quarter_block_ms);
}

std::int32_t StartOutput() {
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  // Without a listed channel there is no frame and FinalInit built no ring:
  // nothing could ever be fed.
  if (c.DaChannelCount.load() <= 0) return Refuse(c);
  if (drv::ZQ7_DA_Start(card) < 0) return Fail(c);
  // The module runs now, so the feed is switched on even when the wait times
  // out: the run state is a word of its own, and the start touches neither
  // the ring nor the status that the mutex guards.
  MutexGuard lock(c.DaMutex, "DaStart");
  c.DaFeedPauseMs.store(FeedPauseMs(c));
  SetRunState(c, c.DaRunState, 1);
  return kOk;
}

}  // namespace
}  // namespace qvx

using namespace qvx;

int32_t QVX_CALL Add_DA_Channel_to_ScanList(int32_t channel) {
  Trace("begin Add_DA_Channel_to_ScanList (%d)", channel);
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  if (channel < 0 || channel > c.ModuleInfo.NumDaChannels()) return Refuse(c);
  if (drv::ZQ7_DA_AddChannellist(card, channel) < 0) return Fail(c);
  c.DaChannelCount.fetch_add(1);
  return kOk;
}

int32_t QVX_CALL Add_DA_Channel_to_ScanListEx(int32_t channel, int32_t, int32_t) {
  Trace("begin Add_DA_Channel_to_ScanListEx (%d)", channel);
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  if (channel < 0 || channel >= c.ModuleInfo.NumDaChannels()) return Refuse(c);
  // Known to the driver only: the library's frame width stays as it is.
  if (drv::ZQ7_DA_AddChannellist(card, channel) < 0) return Fail(c);
  return kOk;
}

int32_t QVX_CALL SetDAFrequency(int32_t rate_hz) {
  Trace("begin SetDAFrequency (%d)", rate_hz);
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  // In 64 bits, so that no rate wraps round to a small product.
  if (static_cast<std::int64_t>(rate_hz) * c.DaChannelCount.load() > kMaxAggregateDaRate) {
    return Refuse(c);
  }
  const double rate = static_cast<double>(rate_hz);
  if (drv::ZQ7_DA_SetFrequency(card, rate) < 0) return Fail(c);
  c.DaSampleRate = rate;
  return kOk;
}

int32_t QVX_CALL StartDAOutput(void) {
  return StartOutput();
}

int32_t QVX_CALL StartDAOutputEx(int32_t p1, int32_t p2, int32_t p3) {
  Trace("begin StartDAOutputEx (%d, %d, %d)", p1, p2, p3);
  return StartOutput();
}

int32_t QVX_CALL StopDAOutput(void) {
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  // A stop always stops, also after a timed-out wait: the run state is a word
  // of its own and the stop touches neither the ring nor the status.
  MutexGuard lock(c.DaMutex, "DaStop");
  SetRunState(c, c.DaRunState, 0);
  AwaitAcknowledgement(c, c.DaRunState, StopWait::kAcknowledgementOrLatch);
  SetRunState(c, c.DaRunState, 0);
  drv::ZQ7_DA_Stop(card);
  return kOk;
}

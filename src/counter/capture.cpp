// Counters in the card's acquisition: the two add calls, the rate, start
// and stop, and the block reads of the counter FIFO.
#include "engine/block_read.h"
#include "engine/capture_control.h"
#include "engine/staging.h"
#include "frame/call.h"
#include "frame/driver.h"
#include "quorvex.h"

namespace qvx {
namespace {

// Checks and adds one counter to the module's counter list. `mixed` also
// gives it a slot of the mixed scan list.
std::int32_t AddCounter(std::int32_t counter, bool mixed) {
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  if (counter < 0 || counter >= c.ModuleInfo.NumCounters()) return Refuse(c);
  // Counter values, factors and slot flags have fixed tables.
  const std::int32_t slot = c.AdChannelCount + c.CtChannelCount + c.DigChannelCount;
  if (c.CtChannelCount >= kCounterSlots || (mixed && slot >= kScanSlots)) return Refuse(c);
  if (mixed) {
    c.MixedScanMode = 1;
    c.ScanSlotIsCounter[slot] = 1;
  }
  if (DriverAddCounterEntry(card, counter) < 0) return Fail(c);
  c.CtChannelCount += 1;
  return kOk;
}

// The block read shared by the scaled and binary counter reads.
std::int32_t ReadCounterBlock(std::uint32_t* destination, std::int32_t* count, std::int32_t mode,
                              bool scaled) {
  const std::int32_t card = CurrentCardNumber();
  std::int32_t n = 0;
  if (const std::int32_t done =
          OpenSideFifoRead(card, kCounterFifo, &drv::ZQ7_CT_GetFifoStatus, "CtGetSamples_1",
                           "CtGetSamples_2", destination, count, mode, &n);
      done >= 0) {
    return done;
  }
  if (n == 0) return kOk;
  CardState& c = g_cards[card];
  // The worker fills the same buffer while counter reading is on, so the
  // mutex is kept until the values are copied out.
  MutexGuard lock(c.AdMutex, "CtGetSamples_3");
  if (!lock.owned()) {
    *count = 0;
    return kOk;
  }
  std::lock_guard<std::mutex> staging(c.Staging.lock);
  if (n > FifoRoom(c, kCounterFifo) || drv::ZQ7_CT_GetDataFromFifo(card, n, c.CtBuffer) != 0) {
    *count = 0;
    return kOk;
  }
  const std::int32_t counters = c.CtChannelCount;
  const std::size_t total = static_cast<std::size_t>(n) * counters;
  if (!scaled) {
    for (std::size_t index = 0; index < total; ++index) destination[index] = c.CtBuffer[index];
    return kOk;
  }
  std::uint32_t scale[kCounterSlots];
  for (std::int32_t k = 0; k < counters; ++k) {
    scale[k] = static_cast<std::uint32_t>(c.CounterScale[k].load());
  }
  for (std::size_t index = 0, k = 0; index < total; ++index) {
    destination[index] = c.CtBuffer[index] * scale[k];
    if (++k == static_cast<std::size_t>(counters)) k = 0;
  }
  return kOk;
}

}  // namespace
}  // namespace qvx

using namespace qvx;

int32_t QVX_CALL Add_CT_Channel_to_ScanList(int32_t counter) {
  Trace("begin Add_CT_Channel_to_ScanList (%d)", counter);
  return AddCounter(counter, /*mixed=*/true);
}

int32_t QVX_CALL CT_AddChannel_To_CTScanlist(int32_t counter) {
  Trace("begin CT_AddChannel_To_CTScanlist (%d)", counter);
  return AddCounter(counter, /*mixed=*/false);
}

int32_t QVX_CALL SetCTFrequency(double rate_hz) {
  Trace("begin SetCTFrequency (%f)", rate_hz);
  const std::int32_t card = CurrentCardNumber();
  if (Latched(g_cards[card])) return kFailure;
  return SetAcquisitionRate(card, rate_hz, /*product_in_double=*/true);
}

int32_t QVX_CALL StartCTCapture(void) {
  return StartADCapture();
}

int32_t QVX_CALL StartCTforRead(void) {
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  if (c.AdRunState > 0) return kOk;
  if (DriverStartCapture(card) < 0) return Fail(c);
  c.CtPollEnable = 1;
  SetRunState(c, c.AdRunState, 1);
  return kOk;
}

int32_t QVX_CALL StartCTCaptureEx(int32_t flag1, int32_t flag2, int32_t flag3) {
  Trace("begin StartCTCaptureEx (%d, %d, %d)", flag1, flag2, flag3);
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  if (c.AdRunState > 0) return kOk;
  // The run state is on before the driver calls and stays on when one of
  // them fails; the latch then stops the card until its lists are cleared.
  SetRunState(c, c.AdRunState, 1);
  if (drv::ZQ7_Start_Extern(card, flag1, flag2, flag3) < 0) return Fail(c);
  if (DriverStartCapture(card) < 0) return Fail(c);
  return kOk;
}

int32_t QVX_CALL StopCTCapture(void) {
  return StopADCapture();
}

int32_t QVX_CALL CT_GetScaledData(uint32_t* destination, int32_t* values_per_channel,
                                  int32_t mode) {
  Trace("begin CT_GetScaledData (*DatBuff %d, %d)",
        static_cast<int>(reinterpret_cast<std::intptr_t>(values_per_channel)), mode);
  return ReadCounterBlock(destination, values_per_channel, mode, /*scaled=*/true);
}

int32_t QVX_CALL CT_GetBinaryData(uint32_t* destination, int32_t* values_per_channel,
                                  int32_t mode) {
  Trace("begin CT_GetBinaryData (*DatBuff %d, %d)",
        static_cast<int>(reinterpret_cast<std::intptr_t>(values_per_channel)), mode);
  return ReadCounterBlock(destination, values_per_channel, mode, /*scaled=*/false);
}

int32_t QVX_CALL GetCTBufferStatus(int32_t card, int32_t* values_per_channel) {
  Trace("begin GetCTBufferStatus (%d, *ValPerChan)", card);
  if (!CardInRange(card)) return kArgument;
  CardState& c = g_cards[card];
  if (const std::int32_t latch = LatchValue(c)) return latch;
  if (values_per_channel == nullptr) return Refuse(c);
  return ReportWaitingScans(card, &drv::ZQ7_CT_GetFifoStatus, "CtGetStatus", values_per_channel);
}

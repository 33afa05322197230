// Starting, stopping and watching the continuous acquisition.
#include "engine/block_read.h"
#include "engine/capture_control.h"
#include "frame/call.h"
#include "frame/driver.h"
#include "quorvex.h"

using namespace qvx;

int32_t QVX_CALL StartADCapture(void) {
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  if (c.AdRunState > 0) return kOk;
  return StartAcquisition(card);
}

int32_t QVX_CALL StartADCaptureEx(int32_t flag1, int32_t flag2, int32_t flag3) {
  Trace("begin StartADCaptureEx (%d, %d, %d)", flag1, flag2, flag3);
  return StartWithStartFlags(CurrentCardNumber(), flag1, flag2, flag3);
}

int32_t QVX_CALL StopADCapture(void) {
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  if (c.AdRunState <= 0 && c.ErrorLatch != 1) return kOk;
  StopAcquisition(card);
  return kOk;
}

int32_t QVX_CALL GetADBufferStatus(int32_t card, int32_t* values_per_channel) {
  Trace("begin GetADBufferStatus (%d, *ValuesPerChannel)", card);
  if (!CardInRange(card)) {
    if (values_per_channel != nullptr) *values_per_channel = 0;
    return kArgument;
  }
  CardState& c = g_cards[card];
  if (const std::int32_t latch = LatchValue(c)) return latch;
  if (values_per_channel == nullptr) return kArgument;
  return ReportWaitingScans(card, &drv::ZQ7_AD_GetFifoStatus, "GetADBufferStatus",
                            values_per_channel);
}

// Memory measurements: an acquisition with a target number of values per
// channel, started, watched and stopped on the card named.
#include <cmath>

#include "engine/block_read.h"
#include "engine/capture_control.h"
#include "frame/call.h"
#include "frame/driver.h"
#include "quorvex.h"

namespace qvx {
namespace {

// The checks and start steps both start calls share. `reset_fetched`
// distinguishes the plain start (counting starts anew) from the Ex start.
std::int32_t StartMeasurement(std::int32_t card, std::int32_t setting_a, std::int32_t target,
                              std::int32_t setting_b, bool reset_fetched) {
  if (!CardInRange(card)) return kArgument;
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  if (setting_a < 1 || target < 0 || setting_b < 5) return Fail(c);
  if (c.ExtTriggerA == 1 && drv::ZQ7_Start_Extern(card, 0, c.ExtTriggerA, c.ExtTriggerB) < 0) {
    return Fail(c);
  }
  c.MemTargetValues = target;
  if (reset_fetched) c.MemValuesFetched = 0;
  if (c.AdRunState > 0) return kOk;
  return StartAcquisition(card);
}

}  // namespace
}  // namespace qvx

using namespace qvx;

int32_t QVX_CALL StartMemoryMeasurement(int32_t card, int32_t setting_a, int32_t value_count,
                                        int32_t setting_b) {
  Trace("begin StartMemoryMeasurement (%d, %d, %d, %d)", card, setting_a, value_count, setting_b);
  return StartMeasurement(card, setting_a, value_count, setting_b, /*reset_fetched=*/true);
}

int32_t QVX_CALL StartMemoryMeasurementEx(int32_t card, int32_t setting_a, int32_t value_count,
                                          int32_t setting_b, int32_t p5) {
  Trace("begin StartMemoryMeasurement (%d, %d, %d, %d, %d)", card, setting_a, value_count,
        setting_b, p5);
  return StartMeasurement(card, setting_a, value_count, setting_b, /*reset_fetched=*/false);
}

int32_t QVX_CALL StopMemoryMeasurement(int32_t card) {
  Trace("begin StopMemoryMeasurement (%d)", card);
  if (!CardInRange(card)) return kArgument;
  if (g_cards[card].AdRunState <= 0) return kOk;
  StopAcquisition(card, StopWait::kAcknowledgementOnly);
  return kOk;
}

int32_t QVX_CALL DeInitMemoryMeasurement(int32_t card) {
  Trace("begin DeInitMemoryMeasurement (%d)", card);
  if (!CardInRange(card)) return kArgument;
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  if (c.AdRunState <= 0) return kOk;
  StopAcquisition(card, StopWait::kAcknowledgementOnly);
  return kOk;
}

int32_t QVX_CALL GetMemoryMeasurementStatus(int32_t card) {
  Trace("begin GetMemoryMeasurementStatus (%d)", card);
  if (!CardInRange(card)) return kArgument;
  const CardState& c = g_cards[card];
  if (c.AdRunState < 1) return QVX_MEM_NOT_RUNNING;
  if (c.MemValuesFetched > c.MemTargetValues && c.MemTargetValues >= 1) {
    return QVX_MEM_TARGET_PASSED;
  }
  return QVX_MEM_RUNNING;
}

int32_t QVX_CALL ReadMemoryMeasurementStatus(int32_t card, int32_t* use_values, int32_t* size) {
  Trace("begin ReadMemoryMeasurementStatus (%d, *UseVal, *Size)", card);
  if (!CardInRange(card)) return kArgument;
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  if (use_values == nullptr || size == nullptr) return Fail(c);
  ReportWaitingScans(card, &drv::ZQ7_AD_GetFifoStatus, "GetADBufferStatus", size);
  // Ten seconds of values over all analog inputs, less what waits, in 32-bit
  // arithmetic (wrapping, as the module's own figures do).
  const double rate = std::trunc(c.SampleRate);
  const auto whole_rate = static_cast<std::uint32_t>(
      rate >= 2147483647.0 ? 2147483647 : static_cast<std::int32_t>(rate > 0 ? rate : 0));
  const std::uint32_t total = whole_rate * static_cast<std::uint32_t>(c.AdChannelCount) * 10u -
                              static_cast<std::uint32_t>(*size);
  *use_values = static_cast<std::int32_t>(total);
  return kOk;
}

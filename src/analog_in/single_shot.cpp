// One conversion of one analog input, outside any capture.
#include "engine/conversions.h"
#include "frame/call.h"
#include "frame/driver.h"
#include "quorvex.h"

namespace qvx {
namespace {

constexpr std::int32_t kDifferentialMode = 1;

// The steps both exports share, after their trace line. Differential mode
// halves the channel bound and is switched on before the channel is checked;
// it stays in force for later calls.
std::int32_t CaptureOne(std::int32_t channel, std::int32_t mode, std::int32_t range,
                        double* scaled_value, std::uint32_t* binary_value) {
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  std::int32_t limit = c.ModuleInfo.NumAdChannels();
  if (mode == kDifferentialMode) {
    limit /= 2;
    drv::ZQ7_SetDifferenz(card, 1);
  }
  if (channel < 0 || channel >= limit) return Refuse(c);
  const std::int32_t result = drv::ZQ7_AD_TriggerChannel(card, channel, range, 0);
  if (result < 0) return Fail(c);
  if (binary_value != nullptr) *binary_value = static_cast<std::uint32_t>(result);
  // The ±10 V span whatever the range code: no range factor here.
  if (scaled_value != nullptr) *scaled_value = CodeToVolts(result);
  return kOk;
}

}  // namespace
}  // namespace qvx

using namespace qvx;

int32_t QVX_CALL CaptureOneChannel(int32_t channel, int32_t mode, int32_t range,
                                   double* scaled_value, uint32_t* binary_value) {
  Trace("begin CaptureOneChannel (%d, %d, %d, *ScaledValue, *BinaryValue)", channel, mode, range);
  return CaptureOne(channel, mode, range, scaled_value, binary_value);
}

int32_t QVX_CALL CaptureOneChannelEx(int32_t channel, int32_t mode, int32_t p3, int32_t range,
                                     int32_t p5, int32_t p6, double* scaled_value,
                                     uint32_t* binary_value) {
  Trace("begin CaptureOneChannelEx (%d, %d, %d, %d, %d, %d, *ScaledValue, *BinaryValue)", channel,
        mode, p3, range, p5, p6);
  return CaptureOne(channel, mode, range, scaled_value, binary_value);
}

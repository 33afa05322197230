#include "engine/conversions.h"

#include "frame/call.h"

namespace qvx {

double Wide20ToVolts(std::int32_t value) {
  return static_cast<double>(value) / kWide20PerVolt;
}

std::int32_t VoltsToWide20(double volts) {
  const double x = volts * kWide20PerVolt;
  if (x >= static_cast<double>(kMaxWide20)) return kMaxWide20;
  if (!(x > static_cast<double>(kMinWide20))) return kMinWide20;
  return static_cast<std::int32_t>(x);
}

std::int32_t CodeToWide20(std::uint32_t code) {
  return static_cast<std::int32_t>(code * 16u - 0x80000u);
}

std::int32_t ChannelGroupOf(std::int32_t entry) {
  return ChannelGroupForWidth(CurrentState().DigitalWidthCode, entry);
}

std::int32_t ChannelGroupForWidth(std::uint32_t width_code, std::int32_t entry) {
  std::int64_t first_line = entry;
  switch (width_code) {
    case 0:
      break;
    case 1:
      first_line *= 8;
      break;
    case 2:
      first_line *= 16;
      break;
    default:
      return 0;
  }
  if (first_line < 0 || first_line >= 48) return 0;
  return static_cast<std::int32_t>(first_line / 16);
}

}  // namespace qvx

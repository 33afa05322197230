// Conversions between the modules' raw values and volts, and the digital
// group of a scan entry.
//
// Analog codes are 16-bit offset binary over -10 V .. +10 V (3276.8 codes per
// volt); the 20-bit form of memory-measurement data is two's complement over
// the same span (52428.8 per volt). All arithmetic is in double precision in
// exactly the order written here, so every caller scales identically, bit for
// bit. None of these touches the driver or takes a lock.
#pragma once

#include <cstdint>

namespace qvx {

constexpr double kCodesPerVolt = 3276.8;  // 65536 / 20
constexpr std::int32_t kMaxCode = 65535;
constexpr double kHalfSpanVolts = 10.0;     // the span is -10 V .. +10 V
constexpr double kWide20PerVolt = 52428.8;  // 3276.8 * 16
constexpr std::int32_t kMaxWide20 = 0x7FFFF;
constexpr std::int32_t kMinWide20 = -0x80000;

// One step of the code scale, 1/3276.8 V. It is exactly representable
// (5/16384), and for every 16-bit code `code * kVoltsPerCode` equals
// `code / 3276.8` bit for bit (the tests check all 65536 codes).
constexpr double kVoltsPerCode = 0.00030517578125;

// code / 3276.8 - 10.0, the one conversion of every scaled read. A 16-bit
// code is multiplied by the step, which gives the quotient bit for bit and
// lets the block conversions vectorise; any other value (a single conversion
// that a driver reports beyond 16 bits) is divided.
inline double CodeToVolts(std::int32_t code) {
  if (code >= 0 && code <= kMaxCode)
    return static_cast<double>(code) * kVoltsPerCode - kHalfSpanVolts;
  return static_cast<double>(code) / kCodesPerVolt - kHalfSpanVolts;
}

// (volts + 10.0) * 3276.8, truncated toward zero and saturated to 0..65535.
// A NaN counts as below the span and gives 0.
inline std::int32_t VoltsToCode(double volts) {
  const double x = (volts + kHalfSpanVolts) * kCodesPerVolt;
  if (x >= static_cast<double>(kMaxCode)) return kMaxCode;
  if (!(x > 0.0)) return 0;  // also NaN; (-1, 0] truncates to 0 anyway
  return static_cast<std::int32_t>(x);
}

// value / 52428.8.
double Wide20ToVolts(std::int32_t value);
// volts * 52428.8, truncated toward zero; above 524287 gives 524287, and
// below -524288 (or NaN) gives -524288.
std::int32_t VoltsToWide20(double volts);
// code * 16 - 524288 in 32-bit arithmetic.
std::int32_t CodeToWide20(std::uint32_t code);

// The 16-line digital group (0, 1 or 2) that carries digital entry `entry`
// of the current card's lists, by the card's DigitalWidthCode; entries beyond
// the last group, negative entries and unknown width codes give group 0.
std::int32_t ChannelGroupOf(std::int32_t entry);
// The same for a given width code (reads of a card other than the current).
std::int32_t ChannelGroupForWidth(std::uint32_t width_code, std::int32_t entry);

}  // namespace qvx

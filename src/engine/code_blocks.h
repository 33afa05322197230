// Block conversions of 16-bit analog codes for the capture reads: the same
// results as CodeToVolts value by value, bit for bit, at memory speed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/conversions.h"

namespace qvx {

// One step of the code scale, 1/3276.8 V. It is exactly representable
// (5/16384), and for every 16-bit code `code * kVoltsPerCode` equals
// `code / 3276.8` bit for bit (the tests check all 65536 codes), so the block
// conversions multiply instead of dividing, which lets them vectorise.
constexpr double kVoltsPerCode = 0.00030517578125;

// CodeToVolts(code), bit for bit, for a 16-bit code.
inline double CodeToVoltsFast(std::uint16_t code) {
  return static_cast<double>(code) * kVoltsPerCode - kHalfSpanVolts;
}

// out[i] = in[i], zero-extended, for n codes.
void WidenCodes(const std::uint16_t* in, std::uint32_t* out, std::size_t n);

// Scans of `channels` codes each to volts: out[i * channels + k] =
// CodeToVolts(in[i * channels + k]) * factor[k].
void CodesToVolts(const std::uint16_t* in, double* out, std::size_t scans, std::int32_t channels,
                  const double* factor);

}  // namespace qvx

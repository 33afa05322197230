// Block conversions of 16-bit analog codes for the capture reads: the same
// results as CodeToVolts value by value, bit for bit, at memory speed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qvx {

// CodeToVolts of every code 0..65535, computed with the exact formula once.
// Multiplying an entry by a range factor (a power of two) gives exactly
// CodeToVolts(code) * factor.
const double* CodeVoltsTable();

// out[i] = in[i], zero-extended, for n codes.
void WidenCodes(const std::uint16_t* in, std::uint32_t* out, std::size_t n);

// Scans of `channels` codes each to volts: out[i * channels + k] =
// CodeToVolts(in[i * channels + k]) * factor[k].
void CodesToVolts(const std::uint16_t* in, double* out, std::size_t scans, std::int32_t channels,
                  const double* factor);

}  // namespace qvx

// Block conversions of 16-bit analog codes for the capture reads: the same
// results as CodeToVolts value by value, at memory speed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/conversions.h"

namespace qvx {

// out[i] = in[i], zero-extended, for n codes.
void WidenCodes(const std::uint16_t* in, std::uint32_t* out, std::size_t n);

// The first `channels` codes of scans of `stride` codes each to volts, in
// place: out[i * stride + k] = CodeToVolts(in[i * stride + k]) * factor[k]
// for k < channels; the other elements of `out` are left as they are.
void CodesToVolts(const std::uint16_t* in, double* out, std::size_t scans, std::int32_t stride,
                  std::int32_t channels, const double* factor);

}  // namespace qvx

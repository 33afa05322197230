#include "engine/code_blocks.h"

#include <array>
#include <utility>

namespace qvx {
namespace {

// Scans of a width known at compile time, so that the compiler can vectorise
// across the scan.
template <std::size_t kWidth>
void ScansToVolts(const std::uint16_t* __restrict from, double* __restrict to, std::size_t scans,
                  const double* factor) {
  double f[kWidth];
  for (std::size_t k = 0; k < kWidth; ++k) f[k] = factor[k];
  for (std::size_t i = 0; i < scans; ++i, from += kWidth, to += kWidth) {
    for (std::size_t k = 0; k < kWidth; ++k) to[k] = CodeToVolts(from[k]) * f[k];
  }
}

using ScanKernel = void (*)(const std::uint16_t*, double*, std::size_t, const double*);

template <std::size_t... kWidths>
constexpr std::array<ScanKernel, sizeof...(kWidths)> MakeKernels(std::index_sequence<kWidths...>) {
  return {&ScansToVolts<kWidths + 1>...};
}

// Kernels for 1 to 16 entries per scan.
constexpr auto kKernels = MakeKernels(std::make_index_sequence<16>());

}  // namespace

// Blocks of eight with non-aliasing pointers let the compiler use vector
// moves without run-time overlap checks.
void WidenCodes(const std::uint16_t* in, std::uint32_t* out, std::size_t n) {
  const std::uint16_t* __restrict from = in;
  std::uint32_t* __restrict to = out;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    for (std::size_t j = 0; j < 8; ++j) to[i + j] = from[i + j];
  }
  for (; i < n; ++i) to[i] = from[i];
}

void CodesToVolts(const std::uint16_t* in, double* out, std::size_t scans, std::int32_t stride,
                  std::int32_t channels, const double* factor) {
  const std::uint16_t* __restrict from = in;
  double* __restrict to = out;
  const auto width = static_cast<std::size_t>(stride);
  if (channels != stride) {
    // Some inputs of each scan (a memory-measurement read of fewer inputs).
    const auto wanted = static_cast<std::size_t>(channels < stride ? channels : stride);
    for (std::size_t i = 0; i < scans; ++i, from += width, to += width) {
      for (std::size_t k = 0; k < wanted; ++k) to[k] = CodeToVolts(from[k]) * factor[k];
    }
    return;
  }
  bool one_factor = true;
  for (std::size_t k = 1; k < width; ++k) one_factor = one_factor && factor[k] == factor[0];
  if (one_factor) {
    // The common case (every input in one range): one flat loop.
    const double f = factor[0];
    const std::size_t n = scans * width;
    for (std::size_t i = 0; i < n; ++i) to[i] = CodeToVolts(from[i]) * f;
    return;
  }
  if (width >= 1 && width <= kKernels.size()) {
    kKernels[width - 1](from, to, scans, factor);
    return;
  }
  for (std::size_t i = 0; i < scans; ++i, from += width, to += width) {
    for (std::size_t k = 0; k < width; ++k) to[k] = CodeToVolts(from[k]) * factor[k];
  }
}

}  // namespace qvx

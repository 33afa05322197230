#include "engine/code_blocks.h"

#include "engine/conversions.h"

namespace qvx {
namespace {

constexpr std::size_t kCodes = 65536;

struct VoltsTable {
  double volts[kCodes];
  VoltsTable() {
    for (std::size_t code = 0; code < kCodes; ++code) {
      volts[code] = CodeToVolts(static_cast<std::int32_t>(code));
    }
  }
};

}  // namespace

const double* CodeVoltsTable() {
  static const VoltsTable table;  // 512 KiB of static storage, filled on first use
  return table.volts;
}

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

void CodesToVolts(const std::uint16_t* in, double* out, std::size_t scans, std::int32_t channels,
                  const double* factor) {
  const double* __restrict table = CodeVoltsTable();
  const std::uint16_t* __restrict from = in;
  double* __restrict to = out;
  const auto width = static_cast<std::size_t>(channels);
  if (width == 1) {
    const double f = factor[0];
    for (std::size_t i = 0; i < scans; ++i) to[i] = table[from[i]] * f;
    return;
  }
  for (std::size_t i = 0; i < scans; ++i, from += width, to += width) {
    for (std::size_t k = 0; k < width; ++k) to[k] = table[from[k]] * factor[k];
  }
}

}  // namespace qvx

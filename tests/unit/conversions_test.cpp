#include "engine/conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "engine/code_blocks.h"
#include "support.h"

namespace qvx {
namespace {

// Every expectation is bit-exact: the scaled values of all data calls must
// agree to the last bit. CodeToVolts is checked code by code below.
TEST(Conversions, SixteenBitCodes) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const struct {
    double volts;
    std::int32_t code;
  } to_code[] = {{-10.0, 0},
                 {-0.0001, 32767},
                 {0.0001, 32768},
                 {1.0, 36044},
                 {10.0, 65535},
                 {10.5, 65535},
                 {-10.0003, 0},
                 {kInf, 65535},
                 {-kInf, 0},
                 {std::nan(""), 0},
                 {-0x1.fffe000000002p+1, 19661}};
  // The last: only (v + 10.0) * 3276.8 in this order reaches 19661; a
  // product with 32768 / 10 or a division by the reciprocal gives 19660.
  for (const auto& c : to_code) EXPECT_EQ(VoltsToCode(c.volts), c.code) << c.volts;

  EXPECT_EQ(CodeToWide20(0), -524288);
  EXPECT_EQ(CodeToWide20(65535), 524272);
  EXPECT_EQ(Wide20ToVolts(524287), 9.999980926513672);
  const struct {
    double volts;
    std::int32_t wide;
  } to_wide[] = {{10.0, 524287}, {-10.0, -524288},    {-0.00001, 0},
                 {0.00003, 1},   {-1.0e300, -524288}, {std::nan(""), -524288}};
  for (const auto& c : to_wide) EXPECT_EQ(VoltsToWide20(c.volts), c.wide) << c.volts;
}

// Every scaled read converts with CodeToVolts, in blocks: the results are
// the plain formula's, (code / 3276.8 - 10.0) * factor, bit for bit, for
// every code and range factor, whatever the block's width.
TEST(Conversions, BlockConversionsMatchTheFormulaExactly) {
  std::int64_t wrong = 0;
  for (std::int32_t code = 0; code < 65536; ++code) {
    for (const double f : {1.0, 0.5, 0.25, 0.125})
      wrong += CodeToVolts(code) * f != qvx_test::Volts(code, f);
  }
  EXPECT_EQ(wrong, 0);
  std::vector<std::uint16_t> codes(65536 + 13);
  for (std::size_t i = 0; i < codes.size(); ++i) codes[i] = static_cast<std::uint16_t>(i * 40503);
  std::vector<double> volts(codes.size());
  const double mixed[16] = {0.25,  1.0, 0.125, 0.5, 1.0, 1.0, 0.5,  0.25,
                            0.125, 1.0, 1.0,   1.0, 0.5, 0.5, 0.25, 0.125};
  const double same[16] = {0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5,
                           0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5};
  // (stride, channels converted, factors): every kernel, the flat loop of
  // one factor, and part of each scan (a memory read of fewer inputs).
  const struct {
    std::int32_t stride, channels;
    const double* factor;
  } cases[] = {{1, 1, mixed}, {3, 3, mixed}, {16, 16, mixed}, {16, 16, same}, {5, 2, mixed}};
  for (const auto& c : cases) {
    std::fill(volts.begin(), volts.end(), -99.0);
    const std::size_t scans = codes.size() / c.stride;
    CodesToVolts(codes.data(), volts.data(), scans, c.stride, c.channels, c.factor);
    for (std::size_t i = 0; i < scans * c.stride; ++i) {
      const std::size_t k = i % c.stride;
      wrong += volts[i] != (static_cast<std::int32_t>(k) < c.channels
                                ? qvx_test::Volts(codes[i], c.factor[k])
                                : -99.0);
    }
    EXPECT_EQ(wrong, 0) << c.stride << " " << c.channels;
  }
  std::vector<std::uint32_t> wide(codes.size());
  WidenCodes(codes.data(), wide.data(), codes.size() - 3);
  for (std::size_t i = 0; i < codes.size() - 3; ++i) ASSERT_EQ(wide[i], codes[i]) << i;
  EXPECT_EQ(wide[codes.size() - 3], 0u);  // nothing beyond n
}

// The group of a digital entry follows the width code of the current card's
// last digital add call, refused calls included.
using ChannelGroup = qvx_test::SimTest;
TEST_F(ChannelGroup, FollowsTheCurrentCardsLastWidthCode) {
  ASSERT_EQ(OpenCard(8), QVX_OK);
  ASSERT_EQ(OpenCard(9), QVX_OK);
  const struct {
    std::int32_t width, entry, group;
  } cases[] = {{0, 15, 0}, {0, 16, 1}, {0, 47, 2}, {0, 48, 0},         {0, -1, 0},
               {1, 1, 0},  {1, 3, 1},  {1, 5, 2},  {1, 6, 0},          {2, 1, 1},
               {2, 2, 2},  {2, 3, 0},  {3, 1, 0},  {2, 0x7FFFFFFF, 0}, {1, -2147483647 - 1, 0}};
  for (const auto& c : cases) {
    EXPECT_NE(Add_Dig_Channel_to_ScanList(-1, c.width), QVX_OK);  // latches; stored all the same
    EXPECT_EQ(ChannelGroupOf(c.entry), c.group) << c.width << " " << c.entry;
  }
  ASSERT_EQ(SwitchCard(8), QVX_OK);  // card 9's width code 1 does not count
  EXPECT_EQ(ChannelGroupOf(20), 1);
}

}  // namespace
}  // namespace qvx

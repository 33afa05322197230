#include "engine/conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "frame/card_state.h"

namespace qvx {
namespace {

// Every expectation is bit-exact: the scaled values of all data calls must
// agree to the last bit.
TEST(Conversions, SixteenBitCodes) {
  const struct {
    std::int32_t code;
    double volts;
  } to_volts[] = {{0, -10.0},   {1, -9.99969482421875}, {32767, -0.00030517578125},
                  {32768, 0.0}, {40960, 2.5},           {65535, 9.99969482421875}};
  for (const auto& c : to_volts) EXPECT_EQ(CodeToVolts(c.code), c.volts) << c.code;

  constexpr double kInf = std::numeric_limits<double>::infinity();
  const struct {
    double volts;
    std::int32_t code;
  } to_code[] = {{-10.0, 0},       {-5.0, 16384},   {-0.0001, 32767},
                 {0.0, 32768},     {0.0001, 32768}, {1.0, 36044},  // 36044.8 truncated
                 {2.5, 40960},     {5.0, 49152},    {9.99969482421875, 65535},
                 {10.0, 65535},    {10.5, 65535},   {-10.5, 0},
                 {-10.0003, 0},    {kInf, 65535},   {-kInf, 0},
                 {std::nan(""), 0}};
  for (const auto& c : to_code) EXPECT_EQ(VoltsToCode(c.volts), c.code) << c.volts;
  // Only (v + 10.0) * 3276.8 in this order reaches 19661 here; a product with
  // 32768 / 10 or a division by the reciprocal gives 19660.
  EXPECT_EQ(VoltsToCode(-0x1.fffe000000002p+1), 19661);
}

TEST(Conversions, TwentyBitValues) {
  EXPECT_EQ(CodeToWide20(0), -524288);
  EXPECT_EQ(CodeToWide20(32768), 0);
  EXPECT_EQ(CodeToWide20(65535), 524272);

  EXPECT_EQ(Wide20ToVolts(-524288), -10.0);
  EXPECT_EQ(Wide20ToVolts(0), 0.0);
  EXPECT_EQ(Wide20ToVolts(524287), 9.999980926513672);

  EXPECT_EQ(VoltsToWide20(10.0), 524287);  // product 524288
  EXPECT_EQ(VoltsToWide20(-10.0), -524288);
  EXPECT_EQ(VoltsToWide20(-0.00001), 0);
  EXPECT_EQ(VoltsToWide20(0.00003), 1);  // 1.57 truncated
  // Below the span and NaN stop at the 20-bit floor instead of overflowing.
  EXPECT_EQ(VoltsToWide20(-1.0e300), -524288);
  EXPECT_EQ(VoltsToWide20(std::nan("")), -524288);
}

TEST(Conversions, ChannelGroupFollowsTheCurrentCardsWidthCode) {
  const std::uint32_t saved = CurrentCard.load();
  CurrentCard.store(9);
  const struct {
    std::uint32_t width;
    std::int32_t entry;
    std::int32_t group;
  } cases[] = {
      {0, 0, 0},  {0, 15, 0}, {0, 16, 1},         {0, 31, 1}, {0, 47, 2}, {0, 48, 0},
      {0, -1, 0}, {1, 1, 0},  {1, 3, 1},          {1, 5, 2},  {1, 6, 0},  {2, 1, 1},
      {2, 2, 2},  {2, 3, 0},  {2, 0x7FFFFFFF, 0}, {3, 1, 0},  {7, 40, 0}, {1, -2147483647 - 1, 0}};
  for (const auto& c : cases) {
    g_cards[9].DigitalWidthCode = c.width;
    EXPECT_EQ(ChannelGroupOf(c.entry), c.group) << c.width << " " << c.entry;
  }
  g_cards[9].DigitalWidthCode = 2;
  CurrentCard.store(8);  // another card's width code does not count
  EXPECT_EQ(ChannelGroupOf(20), 1);
  g_cards[9].DigitalWidthCode = 0;
  CurrentCard.store(saved);
}

}  // namespace
}  // namespace qvx

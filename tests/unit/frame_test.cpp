#include <gtest/gtest.h>

#include <string>

#include "frame/call.h"
#include "frame/card_state.h"
#include "frame/driver.h"
#include "support.h"

namespace qvx {
namespace {

std::string LastTrace() {
  char text[kTraceSize];
  CopyLastCallTrace(text, sizeof text);
  return text;
}

using FrameTest = qvx_test::SimTest;

TEST_F(FrameTest, ResetEmptiesListsButKeepsBuffersRingAndCounters) {
  CardState& c = g_cards[5];
  std::uint16_t ad[4];
  c.AdBuffer = ad;
  ASSERT_EQ(RingInit16(&c.DaRing, 16), 1);
  c.CounterValue[2] = 77;
  c.CtPollEnable = 1;
  c.DaBlockSize = 32;
  c.DaStatus.word[14] = 1;
  c.AdChannelCount = 3;
  c.CtChannelCount = 2;
  c.AdRange[4] = 3;
  c.ScanSlotIsCounter[49] = 1;
  c.ScanSlotIsDigital[0] = 1;
  c.DinGroupEnabled[2] = 1;
  c.SampleRate = 1000.0;
  c.DaSampleRate = 10.0;
  c.CounterScale[15] = 1000;
  c.MemTargetValues = 9;
  c.ErrorLatch = 1;
  c.AdRunState = 1;

  EXPECT_EQ(ResetCardState(5), 0);

  EXPECT_EQ(c.ErrorLatch.load(), 0);
  EXPECT_EQ(c.AdChannelCount, 0);
  EXPECT_EQ(c.CtChannelCount.load(), 0);
  EXPECT_EQ(c.AdRange[4], 0u);
  EXPECT_EQ(c.ScanSlotIsCounter[49], 0);
  EXPECT_EQ(c.ScanSlotIsDigital[0], 0);
  EXPECT_EQ(c.DinGroupEnabled[2], 0);
  EXPECT_EQ(c.SampleRate, 0.0);
  EXPECT_EQ(c.DaSampleRate, 0.0);
  EXPECT_EQ(c.MemTargetValues, 0);
  EXPECT_EQ(c.AdRunState.load(), 0);
  for (const auto& scale : c.CounterScale) EXPECT_EQ(scale.load(), 1);
  // Kept:
  EXPECT_EQ(c.AdBuffer, ad);
  EXPECT_NE(c.DaRing.buffer, nullptr);
  EXPECT_EQ(c.CounterValue[2].load(), 77u);
  EXPECT_EQ(c.CtPollEnable.load(), 1);
  EXPECT_EQ(c.DaBlockSize.load(), 32);
  EXPECT_EQ(c.DaStatus.word[14], 1);

  c.AdBuffer = nullptr;
  RingFree(&c.DaRing);
  c.DaRing = SampleRing{};
  c.CounterValue[2] = 0;
  c.CtPollEnable = 0;
}

TEST_F(FrameTest, RejectedCallsLeaveTheirTraceLine) {
  EXPECT_EQ(OpenCard(16), QVX_ARGUMENT);
  EXPECT_EQ(LastTrace(), "begin OpenCard (16)");
  EXPECT_EQ(SwitchCard(-1), QVX_ARGUMENT);
  EXPECT_EQ(LastTrace(), "begin SwitchCard (-1)");
  EXPECT_EQ(CloseCard(-2147483647 - 1), QVX_ARGUMENT);
  EXPECT_EQ(LastTrace(), "begin CloseCard (-2147483648)");
  EXPECT_EQ(LoadCard(15), QVX_OK);
  EXPECT_EQ(LastTrace(), "begin LoadCard (15)");
  EXPECT_EQ(qvx_test::CallLog().size(), 0u);  // none reached the driver
}

TEST_F(FrameTest, TraceKeepsTheLongestLineWhole) {
  Trace("begin X (%f)", -1.0e308);
  const std::string line = LastTrace();
  EXPECT_GT(line.size(), 300u);
  EXPECT_LT(line.size(), kTraceSize);
  EXPECT_EQ(line.back(), ')');
}

TEST_F(FrameTest, MissingEntryPointTakesTheFailurePath) {
  const DriverTable saved = g_driver;
  g_driver = DriverTable{};
  EXPECT_EQ(drv::ZQ7_CreateSimpleHandle(0), 0);
  EXPECT_EQ(drv::ZQ7_SwitchCard(0), -1);
  EXPECT_EQ(drv::ZQ7_AD_Start(0), -1);
  EXPECT_EQ(drv::ZQ7_DA_GetStatus(0).word[0], 0);
  EXPECT_EQ(drv::ZQ7_ReadNewFlash(0).bytes[140], 0);
  EXPECT_EQ(OpenCard(0), QVX_FAILURE);
  EXPECT_EQ(SwitchCard(0), QVX_FAILURE);  // latched by the failed open
  g_driver = saved;
  EXPECT_EQ(qvx_test::CallLog().size(), 0u);
  EXPECT_EQ(OpenCard(0), QVX_OK);  // a successful open clears the latch
}

TEST_F(FrameTest, EveryEntryPointIsBoundToTheSimulator) {
#define QVX_EXPECT_BOUND(required, result, name, params, args, missing) \
  EXPECT_NE(reinterpret_cast<const void*>(g_driver.name), nullptr) << #name;
  QVX_DRIVER_ENTRIES(QVX_EXPECT_BOUND)
#undef QVX_EXPECT_BOUND
  EXPECT_NE(DriverModule, nullptr);
}

}  // namespace
}  // namespace qvx

// White-box tests of continuous capture: start and stop, the worker's
// fetches, and the reads of captured scans. The simulated module runs on its
// manual clock, so every scan is placed by the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "engine/block_read.h"
#include "engine/code_blocks.h"
#include "engine/conversions.h"
#include "frame/call.h"
#include "frame/card_state.h"
#include "frame/driver.h"
#include "support.h"

namespace qvx {
namespace {

using qvx_test::CallLog;
using qvx_test::WaitFor;
using Log = std::vector<std::string>;

class CaptureTest : public qvx_test::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    kestro_sim_set_clock(0, KESTRO_SIM_CLOCK_MANUAL);
    kestro_sim_set_pattern(0, 1);
    ASSERT_EQ(OpenCard(0), QVX_OK);
  }
  void TearDown() override {
    StopADCapture();
    ClearChannelLists();
    SimTest::TearDown();
  }
  CardState& card() { return g_cards[0]; }

  // Analog inputs 0..inputs-1 (range codes 0, 1, 2, 3, 0, ...) at 100 kHz
  // (5000 scans per poll), set up and started.
  void Start(int inputs) {
    qvx_test::OpenInputs(0, inputs, 100000, true);
    ASSERT_EQ(StartADCapture(), QVX_OK);
  }

  static void Take(std::int64_t scans) { qvx_test::Take(0, scans); }

  static std::int32_t Waiting() {
    std::int32_t waiting = -1;
    EXPECT_EQ(GetADBufferStatus(0, &waiting), QVX_OK);
    return waiting;
  }
};

TEST_F(CaptureTest, ModeOneDeliversOnlyWhileMoreThanTheWantedNumberWaits) {
  Start(2);
  Take(100);
  std::vector<std::uint32_t> codes(2 * 10000);
  std::int32_t count = 100;
  EXPECT_EQ(GetBinaryData(codes.data(), &count, 1), QVX_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(Waiting(), 100);
  Take(1);
  count = 100;
  EXPECT_EQ(GetBinaryData(codes.data(), &count, 1), QVX_OK);
  EXPECT_EQ(count, 100);
  EXPECT_EQ(codes[0], kestro_sim_pattern_ad(0, 0));
  EXPECT_EQ(codes[199], kestro_sim_pattern_ad(99, 1));

  // More than the staging buffers hold: cut to 10000, in order.
  Take(12000);
  count = 20000;
  EXPECT_EQ(GetBinaryData(codes.data(), &count, 0), QVX_OK);
  EXPECT_EQ(count, 10000);
  EXPECT_EQ(codes[0], kestro_sim_pattern_ad(100, 0));
  EXPECT_EQ(codes[19999], kestro_sim_pattern_ad(10099, 1));
  EXPECT_EQ(Waiting(), 2001);
}

TEST_F(CaptureTest, StartsAreNotRepeatedAndPassTheirFlagsInOrder) {
  Start(1);
  EXPECT_EQ(StartADCapture(), QVX_OK);
  EXPECT_EQ(StartADCaptureEx(1, 1, 1), QVX_OK);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_AD_Start"), 1u);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_Start_Extern"), 0u);
  ASSERT_EQ(StopADCapture(), QVX_OK);

  EXPECT_EQ(StartADCaptureEx(0, 1, 2), QVX_ARGUMENT);
  EXPECT_EQ(card().ErrorLatch.load(), 1);
  EXPECT_EQ(StartADCapture(), QVX_FAILURE);
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  kestro_sim_log_clear();
  EXPECT_EQ(StartADCaptureEx(1, 0, 1), QVX_OK);
  EXPECT_EQ(card().AdRunState.load(), 1);
  const Log log = CallLog();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0], "ZQ7_Start_Extern(0, 1, 0, 1)");
  EXPECT_EQ(log[1], "ZQ7_AD_Start(0)");
  ASSERT_EQ(StopADCapture(), QVX_OK);
}

TEST_F(CaptureTest, StopReleasesTheBuffersOnlyWhenACaptureRanOrFailed) {
  ASSERT_EQ(Add_AD_Channel_to_ScanList(0, 0, 0, 0), QVX_OK);
  ASSERT_EQ(SetADFrequency(1000), QVX_OK);
  ASSERT_EQ(FinalInit(), QVX_OK);
  EXPECT_EQ(StopADCapture(), QVX_OK);  // nothing runs
  EXPECT_NE(card().AdBuffer, nullptr);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_AD_Stop"), 0u);

  ASSERT_EQ(StartADCapture(), QVX_OK);
  Take(3);
  EXPECT_EQ(StopADCapture(), QVX_OK);
  EXPECT_EQ(card().AdBuffer, nullptr);
  EXPECT_EQ(card().DinBuffer, nullptr);
  EXPECT_EQ(card().CtBuffer, nullptr);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_AD_Stop"), 1u);
  ASSERT_TRUE(WaitFor([this] { return card().AdRunState == -1; }));

  // The scans still in the FIFO wait for the next FinalInit: the read does
  // not even ask the driver.
  kestro_sim_log_clear();
  std::uint32_t codes[8];
  std::int32_t count = 8;
  EXPECT_EQ(GetBinaryData(codes, &count, 0), QVX_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(kestro_sim_log_size(), 0u);
  ASSERT_EQ(FinalInit(), QVX_OK);
  count = 8;
  EXPECT_EQ(GetBinaryData(codes, &count, 0), QVX_OK);
  EXPECT_EQ(count, 3);
}

TEST_F(CaptureTest, AFailedFetchLatchesStopsPollingAndTheStopStillCleansUp) {
  Start(1);
  Take(10);
  kestro_sim_fail("ZQ7_AD_ReadData_MixedChannels", -1, 1);
  ASSERT_TRUE(WaitFor([this] { return card().AdRunState == -1; }));
  EXPECT_EQ(card().ErrorLatch.load(), 1);
  const std::uint32_t fetches = kestro_sim_call_count("ZQ7_AD_ReadData_MixedChannels");
  platform::SleepMs(20);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_AD_ReadData_MixedChannels"), fetches);
  std::uint32_t codes[10];
  std::int32_t count = 10;
  EXPECT_EQ(GetBinaryData(codes, &count, 0), QVX_FAILURE);
  EXPECT_EQ(count, 10);

  EXPECT_EQ(StopADCapture(), QVX_OK);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_AD_Stop"), 1u);
  EXPECT_EQ(card().AdBuffer, nullptr);
  EXPECT_EQ(StopADCapture(), QVX_OK);  // the latch still holds: the stop runs again
  EXPECT_EQ(kestro_sim_call_count("ZQ7_AD_Stop"), 2u);
}

TEST_F(CaptureTest, ScansLostOnTheModuleLatchTheCard) {
  kestro_sim_set_board_memory(0, 1000);
  Start(1);
  ASSERT_EQ(kestro_sim_advance(0, 1500), 0);  // 500 overwritten before any fetch
  ASSERT_TRUE(WaitFor([this] { return card().ErrorLatch == 1; }));
  EXPECT_LE(card().AdRunState.load(), 0);
}

TEST_F(CaptureTest, StopReturnsPromptlyWhileTheWorkerIsInASlowDriverCall) {
  Start(1);
  kestro_sim_delay("ZQ7_AD_ReadData_MixedChannels", 300);
  const std::uint32_t before = kestro_sim_call_count("ZQ7_AD_ReadData_MixedChannels");
  ASSERT_TRUE(WaitFor(
      [before] { return kestro_sim_call_count("ZQ7_AD_ReadData_MixedChannels") > before + 1; }));
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(StopADCapture(), QVX_OK);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
  EXPECT_EQ(card().AdBuffer, nullptr);
  EXPECT_EQ(card().ErrorLatch.load(), 0);
  kestro_sim_delay("ZQ7_AD_ReadData_MixedChannels", 0);
}

// Every scaled read converts with CodeToVolts, in blocks: the results are
// the plain formula's, (code / 3276.8 - 10.0) * factor, bit for bit, for
// every code and range factor, whatever the block's width.
TEST_F(CaptureTest, BlockConversionsMatchTheFormulaExactly) {
  auto formula = [](std::uint32_t code, double factor) { return (code / 3276.8 - 10.0) * factor; };
  std::int64_t wrong = 0;
  for (std::int32_t code = 0; code < 65536; ++code) {
    for (const double f : {1.0, 0.5, 0.25, 0.125}) wrong += CodeToVolts(code) * f != formula(code, f);
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
                                ? formula(codes[i], c.factor[k])
                                : -99.0);
    }
    EXPECT_EQ(wrong, 0) << c.stride << " " << c.channels;
  }
  std::vector<std::uint32_t> wide(codes.size());
  WidenCodes(codes.data(), wide.data(), codes.size() - 3);
  for (std::size_t i = 0; i < codes.size() - 3; ++i) ASSERT_EQ(wide[i], codes[i]) << i;
  EXPECT_EQ(wide[codes.size() - 3], 0u);  // nothing beyond n
}

}  // namespace
}  // namespace qvx

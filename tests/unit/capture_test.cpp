// White-box tests of continuous capture: start and stop, the worker's
// fetches, and the reads of captured scans. The simulated module runs on its
// manual clock, so every scan is placed by the test.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "analog_in/fifo_read.h"
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

std::string LastTrace() {
  char text[kTraceSize];
  CopyLastCallTrace(text, sizeof text);
  return text;
}

double Volts(std::uint16_t code, double factor) {
  return (code / 3276.8 - 10.0) * factor;
}

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
    for (int k = 0; k < inputs; ++k) {
      ASSERT_EQ(Add_AD_Channel_to_ScanList(k, 0, k % 4, 0), QVX_OK);
    }
    ASSERT_EQ(SetADFrequency(100000), QVX_OK);
    ASSERT_EQ(FinalInit(), QVX_OK);
    ASSERT_EQ(StartADCapture(), QVX_OK);
  }
  // Takes `scans` more scans and waits until the worker has fetched them all.
  static void Take(std::int64_t scans) {
    ASSERT_EQ(kestro_sim_advance(0, scans), 0);
    ASSERT_TRUE(WaitFor([] {
      kestro_sim_capture_status status{};
      kestro_sim_capture(0, &status);
      return status.board_scans == 0;
    }));
  }
  static std::int32_t Waiting() {
    std::int32_t waiting = -1;
    EXPECT_EQ(GetADBufferStatus(0, &waiting), QVX_OK);
    return waiting;
  }
};

TEST_F(CaptureTest, ScaledReadsApplyEachEntrysRangeAndBinaryReadsPassCodes) {
  kestro_sim_set_pattern(0, 0);
  kestro_sim_set_signal(0, 0, KESTRO_SIM_SIGNAL_DC, 0.0, 5.0, 0.0);
  kestro_sim_set_signal(0, 1, KESTRO_SIM_SIGNAL_DC, 0.0, 5.0, 0.0);
  Start(2);
  Take(1);
  EXPECT_EQ(Waiting(), 1);
  double volts[20] = {};
  std::int32_t count = 10;
  EXPECT_EQ(GetScaledData(7, volts, &count, 0), QVX_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(volts[0], 5.0);
  EXPECT_EQ(volts[1], 2.5);
  EXPECT_EQ(LastTrace(),
            "begin GetScaledData (7, *DestinationBuffer, " +
                std::to_string(static_cast<int>(reinterpret_cast<std::intptr_t>(&count))) + ", 0)");
  Take(1);
  std::uint32_t codes[20] = {};
  count = 10;
  EXPECT_EQ(GetBinaryData(codes, &count, 0), QVX_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(codes[0], 49152u);
  EXPECT_EQ(codes[1], 49152u);
  count = 10;
  EXPECT_EQ(GetBinaryData(codes, &count, 0), QVX_OK);  // nothing waits
  EXPECT_EQ(count, 0);
}

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

TEST_F(CaptureTest, ListsThatGrowAfterFinalInitGetFewerScansPerRead) {
  Start(1);
  ASSERT_EQ(StopADCapture(), QVX_OK);
  ASSERT_EQ(FinalInit(), QVX_OK);
  ASSERT_EQ(Add_AD_Channel_to_ScanList(1, 0, 0, 0), QVX_OK);  // the buffers hold one entry
  ASSERT_EQ(StartADCapture(), QVX_OK);
  Take(8000);
  std::vector<std::uint32_t> codes(2 * 10000);
  std::int32_t count = 10000;
  EXPECT_EQ(GetBinaryData(codes.data(), &count, 0), QVX_OK);
  EXPECT_EQ(count, 5000);
  EXPECT_EQ(codes[9999], kestro_sim_pattern_ad(4999, 1));
}

TEST_F(CaptureTest, RefusedArgumentsLatchAndLatchedCallsReturnTheLatch) {
  Start(1);
  double volts[4];
  std::int32_t count = 1;
  EXPECT_EQ(GetScaledData(0, volts, &count, 2), QVX_ARGUMENT);
  EXPECT_EQ(card().ErrorLatch.load(), 1);
  EXPECT_EQ(GetScaledData(0, volts, &count, 0), QVX_FAILURE);
  std::int32_t waiting = 5;
  EXPECT_EQ(GetADBufferStatus(0, &waiting), QVX_FAILURE);
  EXPECT_EQ(waiting, 5);
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  EXPECT_EQ(GetBinaryData(nullptr, &count, 0), QVX_ARGUMENT);
  EXPECT_EQ(card().ErrorLatch.load(), 1);
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  std::uint32_t codes[4];
  EXPECT_EQ(GetBinaryData(codes, nullptr, 0), QVX_ARGUMENT);
  EXPECT_EQ(card().ErrorLatch.load(), 1);
  EXPECT_EQ(LastTrace(), "begin GetBinaryData (*DestBuffer, 0, 0)");

  // The buffer status refuses without latching; a bad card also gets 0.
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  EXPECT_EQ(GetADBufferStatus(0, nullptr), QVX_ARGUMENT);
  EXPECT_EQ(card().ErrorLatch.load(), 0);
  EXPECT_EQ(GetADBufferStatus(16, &waiting), QVX_ARGUMENT);
  EXPECT_EQ(waiting, 0);
  EXPECT_EQ(LastTrace(), "begin GetADBufferStatus (16, *ValuesPerChannel)");
  EXPECT_EQ(GetADBufferStatus(-1, nullptr), QVX_ARGUMENT);
}

TEST_F(CaptureTest, StartsAreNotRepeatedAndPassTheirFlagsInOrder) {
  Start(1);
  EXPECT_EQ(StartADCapture(), QVX_OK);
  EXPECT_EQ(StartADCaptureEx(1, 1, 1), QVX_OK);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_AD_Start"), 1u);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_Start_Extern"), 0u);
  ASSERT_EQ(StopADCapture(), QVX_OK);

  EXPECT_EQ(StartADCaptureEx(0, 1, 2), QVX_ARGUMENT);
  EXPECT_EQ(LastTrace(), "begin StartADCaptureEx (0, 1, 2)");
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

  for (const char* entry : {"ZQ7_Start_Extern", "ZQ7_AD_Start"}) {
    SCOPED_TRACE(entry);
    ASSERT_EQ(ClearChannelLists(), QVX_OK);
    kestro_sim_fail(entry, -1, 1);
    EXPECT_EQ(StartADCaptureEx(0, 0, 0), QVX_FAILURE);
    EXPECT_EQ(card().ErrorLatch.load(), 1);
    EXPECT_LE(card().AdRunState.load(), 0);
  }
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

// The mixed list: analog 0, counter 0, digital byte port 0, analog 1; then a
// list of a counter and a digital port only, where FinalInit adds analog
// input 0 in the last slot.
TEST_F(CaptureTest, MixedListsInterleaveTheirSlotsInListOrder) {
  ASSERT_EQ(Add_AD_Channel_to_ScanList(0, 0, 0, 0), QVX_OK);
  drv::ZQ7_CT_AddChannelList(0, 2);
  card().CtChannelCount = 1;
  card().ScanSlotIsCounter[1] = 1;
  for (int line = 0; line < 8; ++line) drv::ZQ7_TTL_AddChannelList(0, line);
  card().DigChannelCount = 1;
  card().DigitalWidthCode = 1;
  card().DinGroupEnabled[0] = 1;
  card().ScanSlotIsDigital[2] = 1;
  card().MixedScanMode = 1;
  ASSERT_EQ(Add_AD_Channel_to_ScanList(1, 0, 3, 0), QVX_OK);
  ASSERT_EQ(SetADFrequency(100000), QVX_OK);
  ASSERT_EQ(FinalInit(), QVX_OK);
  ASSERT_EQ(StartADCapture(), QVX_OK);
  Take(3);

  kestro_sim_log_clear();
  std::uint32_t codes[4 * 3];
  std::int32_t count = 2;
  ASSERT_EQ(GetBinaryData(codes, &count, 0), QVX_OK);
  ASSERT_EQ(count, 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(codes[i * 4 + 0], kestro_sim_pattern_ad(i, 0));
    EXPECT_EQ(codes[i * 4 + 1], kestro_sim_pattern_ct(i, 0));
    EXPECT_EQ(codes[i * 4 + 2], kestro_sim_pattern_din(i, 0) & 0xFFu);
    EXPECT_EQ(codes[i * 4 + 3], kestro_sim_pattern_ad(i, 1));
  }
  Log reads;
  for (const std::string& line : CallLog()) {
    if (line.find("ReadData") == std::string::npos) reads.push_back(line);
  }
  EXPECT_EQ(reads,
            (Log{"ZQ7_AD_GetFifoStatus(0)", "ZQ7_AD_GetDataFromFifo(0, 2, ptr)",
                 "ZQ7_CT_GetDataFromFifo(0, 2, ptr)", "ZQ7_DIN_GetDataFromFifo(0, 2, ptr)"}));
  double volts[4];
  count = 1;
  ASSERT_EQ(GetScaledData(0, volts, &count, 0), QVX_OK);
  EXPECT_EQ(volts[0], Volts(kestro_sim_pattern_ad(2, 0), 1.0));
  EXPECT_EQ(volts[1], static_cast<double>(kestro_sim_pattern_ct(2, 0)));
  EXPECT_EQ(volts[2], static_cast<double>(kestro_sim_pattern_din(2, 0) & 0xFFu));
  EXPECT_EQ(volts[3], Volts(kestro_sim_pattern_ad(2, 1), 0.125));
  ASSERT_EQ(StopADCapture(), QVX_OK);

  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  drv::ZQ7_CT_AddChannelList(0, 0);
  card().CtChannelCount = 1;
  card().ScanSlotIsCounter[0] = 1;
  drv::ZQ7_TTL_AddChannelList(0, 17);
  card().DigChannelCount = 1;
  card().DinGroupEnabled[1] = 1;
  card().ScanSlotIsDigital[1] = 1;
  card().MixedScanMode = 1;
  ASSERT_EQ(SetADFrequency(1000), QVX_OK);
  ASSERT_EQ(FinalInit(), QVX_OK);
  ASSERT_EQ(StartADCapture(), QVX_OK);
  Take(2);
  count = 2;
  ASSERT_EQ(GetBinaryData(codes, &count, 0), QVX_OK);
  ASSERT_EQ(count, 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(codes[i * 3 + 0], kestro_sim_pattern_ct(i, 0));
    EXPECT_EQ(codes[i * 3 + 1], kestro_sim_pattern_din(i, 0) & 1u);  // entry 0: bit 0 of the word
    EXPECT_EQ(codes[i * 3 + 2], kestro_sim_pattern_ad(i, 0));
  }
}

// Single lines read bits of the group word by entry number: entries 0..15
// bits 0..15 of word 0, entries 16..19 bits 0..3 of word 1.
TEST_F(CaptureTest, SingleLineEntriesReadTheirBitOfTheirGroupWord) {
  CardState c;
  std::uint16_t words[2 * 2] = {0xA5C3, 0x0009, 0x5A3C, 0x0006};
  c.DinBuffer = words;
  c.DinGroupCount = 2;
  c.DigChannelCount = 20;
  c.DigitalWidthCode = 0;
  c.MixedScanMode = 1;
  for (int s = 0; s < 20; ++s) c.ScanSlotIsDigital[s] = 1;
  std::uint32_t out[2 * 20];
  LayOutMixed(
      c, 2, out, [](std::uint16_t code, std::int32_t) { return std::uint32_t{code}; },
      [](std::uint32_t value) { return value; });
  for (int i = 0; i < 2; ++i) {
    for (int d = 0; d < 20; ++d) {
      const std::uint32_t word = words[i * 2 + d / 16];
      EXPECT_EQ(out[i * 20 + d], (word >> (d % 16)) & 1u) << i << " " << d;
    }
  }
}

// The block conversions of the reads give the plain formula's results bit
// for bit, for every code and range factor, whatever the block length.
TEST_F(CaptureTest, BlockConversionsMatchTheFormulaExactly) {
  const double factors[4] = {1.0, 0.5, 0.25, 0.125};
  std::vector<std::uint16_t> codes(65536 + 13);
  for (std::size_t i = 0; i < codes.size(); ++i) codes[i] = static_cast<std::uint16_t>(i * 40503);
  std::vector<double> volts(codes.size());
  std::vector<std::uint32_t> wide(codes.size());
  for (const std::int32_t channels : {1, 3, 16}) {
    const double factor[16] = {0.25,  1.0, 0.125, 0.5, 1.0, 1.0, 0.5,  0.25,
                               0.125, 1.0, 1.0,   1.0, 0.5, 0.5, 0.25, 0.125};
    const std::size_t scans = codes.size() / channels;
    CodesToVolts(codes.data(), volts.data(), scans, channels, factor);
    std::int64_t wrong = 0;
    for (std::size_t i = 0; i < scans * channels; ++i) {
      wrong += volts[i] != CodeToVolts(codes[i]) * factor[i % channels];
    }
    EXPECT_EQ(wrong, 0) << channels;
  }
  std::int64_t wrong = 0;
  for (std::int32_t code = 0; code < 65536; ++code) {
    const auto code16 = static_cast<std::uint16_t>(code);
    for (const double f : factors) wrong += CodeToVoltsFast(code16) * f != CodeToVolts(code) * f;
  }
  EXPECT_EQ(wrong, 0);
  // One factor for every input takes the flat loop.
  const double same[16] = {0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5,
                           0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5};
  CodesToVolts(codes.data(), volts.data(), codes.size() / 16, 16, same);
  for (std::size_t i = 0; i < codes.size() / 16 * 16; ++i) {
    wrong += volts[i] != CodeToVolts(codes[i]) * 0.5;
  }
  EXPECT_EQ(wrong, 0);
  WidenCodes(codes.data(), wide.data(), codes.size() - 3);
  for (std::size_t i = 0; i < codes.size() - 3; ++i) ASSERT_EQ(wide[i], codes[i]) << i;
  EXPECT_EQ(wide[codes.size() - 3], 0u);  // nothing beyond n
}

}  // namespace
}  // namespace qvx

// White-box tests of digital-input capture, counter configuration and
// counter capture: the add calls and their slots, starts and
// stops, the block reads and the worker's counter polling. The simulated
// module runs on its manual clock, so every scan is placed by the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "frame/call.h"
#include "frame/card_state.h"
#include "platform/platform.h"
#include "support.h"
#include "unit/trace.h"

namespace qvx {
namespace {

using qvx_test::Address;
using qvx_test::CallLog;
using qvx_test::WaitFor;
using Log = std::vector<std::string>;

// The calls of the log whose text starts with `prefix`.
Log Calls(const char* prefix) {
  Log calls;
  for (const std::string& line : CallLog()) {
    if (line.rfind(prefix, 0) == 0) calls.push_back(line);
  }
  return calls;
}
// The log without the worker's fetches.
Log Reads() {
  Log calls;
  for (const std::string& line : CallLog()) {
    if (line.rfind("ZQ7_AD_ReadData", 0) != 0) calls.push_back(line);
  }
  return calls;
}

class DigitalCounterTest : public qvx_test::SimTest {
 protected:
  void TearDown() override {
    StopADCapture();
    SimTest::TearDown();  // closes the cards: no worker runs now
    for (CardState& c : g_cards) {
      c.CtPollEnable = 0;  // nothing else clears it
      for (auto& value : c.CounterValue) value = 0;
    }
  }
  // Opens `card` holding `module` on the manual clock in pattern mode; it
  // becomes the current card.
  static void Open(std::int32_t card, std::int32_t module = KESTRO_SIM_STANDARD) {
    ASSERT_EQ(kestro_sim_set_module(card, module), 0);
    kestro_sim_set_clock(card, KESTRO_SIM_CLOCK_MANUAL);
    kestro_sim_set_pattern(card, 1);
    ASSERT_EQ(OpenCard(card), QVX_OK);
  }
  // Rate, FinalInit and start for the lists as they stand.
  static void Start(double rate = 1000.0) {
    ASSERT_EQ(SetCTFrequency(rate), QVX_OK);
    ASSERT_EQ(FinalInit(), QVX_OK);
    ASSERT_EQ(StartCTCapture(), QVX_OK);
  }
  static void Take(std::int64_t scans) { qvx_test::Take(CurrentCardNumber(), scans); }

  static CardState& Current() { return CurrentState(); }
};

// Entries of both add forms share one numbering of slots; the width code
// decides the lines, and the first line the group.
TEST_F(DigitalCounterTest, DigitalEntriesTakeSlotsLinesAndGroups) {
  Open(0);
  CardState& c = Current();
  ASSERT_EQ(Add_AD_Channel_to_ScanList(0, 0, 0, 0), QVX_OK);
  ASSERT_EQ(Add_AD_Channel_to_ScanList(1, 0, 0, 0), QVX_OK);
  kestro_sim_log_clear();
  ASSERT_EQ(Add_Dig_Channel_to_ScanList(1, 1), QVX_OK);
  Log lines;
  for (int line = 8; line < 16; ++line) {
    lines.push_back("ZQ7_TTL_AddChannelList(0, " + std::to_string(line) + ")");
  }
  EXPECT_EQ(Calls("ZQ7_TTL"), lines);
  EXPECT_EQ(c.ScanSlotIsDigital[2], 1);
  EXPECT_EQ(c.MixedScanMode, 1);
  EXPECT_EQ(c.DinGroupEnabled[0], 1);

  kestro_sim_log_clear();
  ASSERT_EQ(DIN_AddChannel_To_DINScanlist(2, 2), QVX_OK);  // lines 32..47, group 2
  ASSERT_EQ(DIN_AddChannel_To_DINScanlist(3, 2), QVX_OK);  // lines 48..63, no group
  const Log added = Calls("ZQ7_TTL");
  ASSERT_EQ(added.size(), 32u);
  EXPECT_EQ(added[0], "ZQ7_TTL_AddChannelList(0, 32)");
  EXPECT_EQ(added[31], "ZQ7_TTL_AddChannelList(0, 63)");
  EXPECT_EQ((std::vector<int>{c.DinGroupEnabled[0], c.DinGroupEnabled[1], c.DinGroupEnabled[2]}),
            (std::vector<int>{1, 0, 1}));
  EXPECT_EQ(c.ScanSlotIsDigital[3] + c.ScanSlotIsDigital[4], 0);
  ASSERT_EQ(Add_CT_Channel_to_ScanList(0), QVX_OK);  // slot 2 + 3 = 5
  ASSERT_EQ(Add_Dig_Channel_to_ScanList(0, 0), QVX_OK);
  EXPECT_EQ(c.ScanSlotIsCounter[5], 1);
  EXPECT_EQ(c.ScanSlotIsDigital[6], 1);
  EXPECT_EQ(c.DigChannelCount, 4);
  EXPECT_EQ(c.DigitalWidthCode, 0u);
  ASSERT_EQ(FinalInit(), QVX_OK);
  EXPECT_EQ(c.DinGroupCount, 2);

  // Refusals latch; the width code is stored first, whatever follows.
  const std::uint32_t asked = kestro_sim_call_count("ZQ7_GetNumOfTTLIn");
  EXPECT_EQ(Add_Dig_Channel_to_ScanList(-1, 1), QVX_ARGUMENT);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_GetNumOfTTLIn"), asked);  // not asked for c < 0
  EXPECT_EQ(c.ErrorLatch.load(), 1);
  EXPECT_EQ(DIN_AddChannel_To_DINScanlist(0, 2), QVX_FAILURE);
  EXPECT_EQ(c.DigitalWidthCode, 2u);
  for (const auto& [channel, width] : {std::pair{12, 0}, std::pair{11, 3}, std::pair{0, -1}}) {
    ASSERT_EQ(ClearChannelLists(), QVX_OK);
    EXPECT_EQ(Add_Dig_Channel_to_ScanList(channel, width), QVX_ARGUMENT) << channel;
    EXPECT_EQ(c.ErrorLatch.load(), 1);
    EXPECT_EQ(c.DigitalWidthCode, static_cast<std::uint32_t>(width));
    EXPECT_EQ(c.DigChannelCount + c.MixedScanMode, 0);
  }
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  ASSERT_EQ(Add_Dig_Channel_to_ScanList(11, 0), QVX_OK);  // the last of 12 inputs
  c.AdChannelCount = 49;                                  // the next slot is 50
  EXPECT_EQ(Add_Dig_Channel_to_ScanList(0, 0), QVX_ARGUMENT);
}

// Digital block reads: lines, byte ports and words by entry number, the
// automatic analog input drained and discarded, mode 1, refusals.
TEST_F(DigitalCounterTest, DigitalReadsExtractEachEntryAndDrainTheAutomaticInput) {
  Open(0, KESTRO_SIM_DIGITAL);
  CardState& c = Current();
  for (int line = 0; line < 3; ++line) ASSERT_EQ(DIN_AddChannel_To_DINScanlist(line, 0), QVX_OK);
  Start();
  EXPECT_EQ(c.AutoAdChannel, 1);
  Take(5);
  kestro_sim_log_clear();
  std::uint32_t values[18 * 101];
  std::int32_t count = 10;
  ASSERT_EQ(DIN_GetScaledData(values, &count, 0), QVX_OK);
  EXPECT_EQ(LastTrace(), "begin DIN_GetScaledData (*DestBuff, " + Address(&count) + ", 0)");
  ASSERT_EQ(count, 5);
  for (int i = 0; i < 5; ++i) {
    for (int d = 0; d < 3; ++d) {
      EXPECT_EQ(values[i * 3 + d], (kestro_sim_pattern_din(i, 0) >> d) & 1u) << i << d;
    }
  }
  EXPECT_EQ(Reads(),
            (Log{"ZQ7_DIN_GetFifoStatus(0)", "ZQ7_AD_GetFifoStatus(0)",
                 "ZQ7_AD_GetDataFromFifo(0, 5, ptr)", "ZQ7_DIN_GetDataFromFifo(0, 5, ptr)"}));
  ASSERT_EQ(StopDINCapture(), QVX_OK);
}

// Argument ranges, modes and factors of the counter configuration, and the
// driver's own order of the arguments.
TEST_F(DigitalCounterTest, CounterConfigurationChecksScalesAndForwards) {
  Open(1, KESTRO_SIM_COUNTER);  // module type 9, 8 counters
  CardState& nine = Current();
  EXPECT_EQ(ConfigureCounterInput(7, 0, INT_MAX, 0, 0, 0, 0, 0, 2), QVX_OK);
  for (std::int32_t decade = 0; decade < 4; ++decade) {
    ASSERT_EQ(ConfigureCounterInput(decade, 1, 0, decade, 0, 0, 0, 0, 0), QVX_OK);
  }
  EXPECT_EQ((std::vector<std::int32_t>{nine.CounterScale[0], nine.CounterScale[1],
                                       nine.CounterScale[2], nine.CounterScale[3]}),
            (std::vector<std::int32_t>{1, 10, 100, 1000}));
  EXPECT_EQ(ConfigureCounterInput(4, 2, 0, 0, 0, 0, 0, 0, 0), QVX_OK);
  EXPECT_EQ(ConfigureCounterInput(3, 3, 0, 0, 0, 0, 0, 0, 0), QVX_OK);
  EXPECT_EQ(nine.CounterScale[3].load(), 1);
  EXPECT_EQ(ConfigureCounterInput(3, 4, 0, 0, 0, 0, 0, 0, 0), QVX_ARGUMENT);
  EXPECT_EQ(nine.ErrorLatch.load(), 1);
  EXPECT_EQ(ConfigureCounterInput(3, 1, 0, 3, 0, 0, 0, 0, 0), QVX_FAILURE);
  EXPECT_EQ(nine.CounterScale[3].load(), 1);

  Open(0);  // module type 2, 4 counters
  CardState& two = Current();
  kestro_sim_log_clear();
  EXPECT_EQ(ConfigureCounterInputEx(0, 2, 0, 0, 0, 0, 0, 0, 0, 0), QVX_ARGUMENT);  // mode 2
  EXPECT_EQ(two.ErrorLatch.load(), 1);
  EXPECT_EQ(kestro_sim_log_size(), 0u);
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  ASSERT_EQ(ConfigureCounterInput(1, 1, 0, 3, 0, 0, 0, 0, 0), QVX_OK);
  EXPECT_EQ(two.CounterScale[1].load(), 10);  // the decade counts on type 9 only
  ASSERT_EQ(ConfigureCounterInput(1, 5, 0, 3, 0, 0, 0, 0, 0), QVX_OK);
  EXPECT_EQ(two.CounterScale[1].load(), 1);

  // The Ex form writes no trace line, ignores its tenth value and hands the
  // driver card, counter, mode, a5, 0, 0, a3, a4, a6, a7, a8, a9.
  Trace("begin marker");
  ASSERT_EQ(ConfigureCounterInputEx(3, 1, 70000, 2, 1, 0, 1, 1, 2, -5), QVX_OK);
  EXPECT_EQ(LastTrace(), "begin marker");
  std::int32_t values[10];
  ASSERT_EQ(kestro_sim_counter_config(0, 3, values), 2);
  EXPECT_EQ(std::vector<std::int32_t>(values, values + 10),
            (std::vector<std::int32_t>{1, 1, 0, 0, 70000, 2, 0, 1, 1, 2}));
  EXPECT_EQ(two.CounterScale[3].load(), 10);
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  for (const auto& scale : two.CounterScale) EXPECT_EQ(scale.load(), 1);

  std::uint32_t value = 99;
  EXPECT_EQ(ReadCounterValue(3, &value), QVX_OK);  // nothing was polled on this card
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(ReadCounterValue(16, &value), QVX_ARGUMENT);
  EXPECT_EQ(two.ErrorLatch.load(), 0);
}

// Counter lists, starts, stops and block reads: slots, factors, the full
// 32-bit range and mode 1.
TEST_F(DigitalCounterTest, CounterCaptureAddsStartsStopsAndReads) {
  Open(0);
  CardState& c = Current();
  kestro_sim_set_pattern(0, 0);
  kestro_sim_set_counter_preset(0, 0, 4294967295u);  // no edges: the preset throughout
  kestro_sim_set_counter_input(0, 1, 500.0);
  // Frequency measurement over 0.1 s: 50 edges per gate, factor 10.
  ASSERT_EQ(ConfigureCounterInput(1, 1, 0, 0, 0, 0, 0, 0, 0), QVX_OK);
  ASSERT_EQ(Add_AD_Channel_to_ScanList(0, 0, 0, 0), QVX_OK);
  ASSERT_EQ(Add_AD_Channel_to_ScanList(1, 0, 0, 0), QVX_OK);
  EXPECT_EQ(Add_CT_Channel_to_ScanList(0), QVX_OK);
  EXPECT_EQ(c.ScanSlotIsCounter[2], 1);
  EXPECT_EQ(c.MixedScanMode, 1);
  EXPECT_EQ(CT_AddChannel_To_CTScanlist(1), QVX_OK);
  EXPECT_EQ(c.ScanSlotIsCounter[3], 0);
  EXPECT_EQ(c.CtChannelCount.load(), 2);
  Start(1000.0);
  EXPECT_EQ(StartCTCapture(), QVX_OK);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_AD_Start"), 1u);
  Take(100);

  std::uint32_t binary[2 * 100];
  std::uint32_t scaled[2 * 100];
  std::int32_t count = 100;
  ASSERT_EQ(CT_GetScaledData(scaled, &count, 1), QVX_OK);  // exactly 100 wait
  EXPECT_EQ(LastTrace(), "begin CT_GetScaledData (*DatBuff " + Address(&count) + ", 1)");
  EXPECT_EQ(count, 0);
  Take(1);
  count = 100;
  ASSERT_EQ(CT_GetScaledData(scaled, &count, 1), QVX_OK);  // scans 0..99
  ASSERT_EQ(count, 100);
  EXPECT_EQ(scaled[199], 0u);  // no gate has ended yet
  Take(100);
  count = 100;
  ASSERT_EQ(CT_GetScaledData(scaled, &count, 0), QVX_OK);  // scans 100..199
  Take(99);
  ASSERT_EQ(CT_GetBinaryData(binary, &count, 0), QVX_OK);  // scans 200..299
  ASSERT_EQ(count, 100);
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(binary[i * 2], 4294967295u);
    EXPECT_EQ(scaled[i * 2], 4294967295u);
    EXPECT_EQ(binary[i * 2 + 1], 50u);
    EXPECT_EQ(scaled[i * 2 + 1], 500u);
  }
  // A read of the whole mixed list: the counter slot carries the full
  // 32-bit value; the counter of the separate list takes a slot number too.
  Take(1);
  double volts[4];
  std::uint32_t codes[4];
  count = 1;
  ASSERT_EQ(GetScaledData(0, volts, &count, 0), QVX_OK);
  EXPECT_EQ(volts[2], 4294967295.0);
  Take(1);
  ASSERT_EQ(GetBinaryData(codes, &count, 0), QVX_OK);
  EXPECT_EQ(codes[2], 4294967295u);

  // Stops: nothing to do on a stopped card until the latch is set.
  ASSERT_EQ(StopCTCapture(), QVX_OK);
  EXPECT_EQ(c.CtBuffer, nullptr);
  ASSERT_EQ(FinalInit(), QVX_OK);
  EXPECT_EQ(StopCTCapture(), QVX_OK);
  EXPECT_NE(c.CtBuffer, nullptr);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_AD_Stop"), 1u);
  EXPECT_EQ(Add_CT_Channel_to_ScanList(4), QVX_ARGUMENT);  // the module has 4
  EXPECT_EQ(CT_GetScaledData(scaled, &count, 0), QVX_FAILURE);
  EXPECT_EQ(StopCTCapture(), QVX_OK);
  EXPECT_EQ(c.CtBuffer, nullptr);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_AD_Stop"), 2u);
}

// A list of counters and digital entries only: FinalInit adds analog input
// 0, which takes the last slot of the mixed reads and which the counter
// reads drain and discard.
TEST_F(DigitalCounterTest, TheAutomaticAnalogInputTakesTheLastSlot) {
  Open(0);
  ASSERT_EQ(Add_CT_Channel_to_ScanList(2), QVX_OK);
  ASSERT_EQ(Add_Dig_Channel_to_ScanList(1, 1), QVX_OK);
  Start();
  EXPECT_EQ(kestro_sim_ad_list_length(0), 1);
  Take(3);
  std::uint32_t codes[3 * 3];
  std::int32_t count = 3;
  ASSERT_EQ(GetBinaryData(codes, &count, 0), QVX_OK);
  ASSERT_EQ(count, 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(codes[i * 3], kestro_sim_pattern_ct(i, 0));
    EXPECT_EQ(codes[i * 3 + 1], kestro_sim_pattern_din(i, 0) & 0xFFu);  // entry 0: the low byte
    EXPECT_EQ(codes[i * 3 + 2], kestro_sim_pattern_ad(i, 0));
  }
  Take(4);
  kestro_sim_log_clear();
  count = 4;
  ASSERT_EQ(CT_GetBinaryData(codes, &count, 0), QVX_OK);
  EXPECT_EQ(Reads(),
            (Log{"ZQ7_CT_GetFifoStatus(0)", "ZQ7_AD_GetFifoStatus(0)",
                 "ZQ7_AD_GetDataFromFifo(0, 4, ptr)", "ZQ7_CT_GetDataFromFifo(0, 4, ptr)"}));
  EXPECT_EQ(codes[3], kestro_sim_pattern_ct(6, 0));
}

// StartCTforRead has the worker keep each counter's newest value, scaled;
// it is kept after the stop. Card 3 only: the flag is never cleared.
TEST_F(DigitalCounterTest, CounterReadingKeepsTheNewestScaledValues) {
  Open(3);
  CardState& c = Current();
  ASSERT_EQ(ConfigureCounterInput(1, 1, 0, 0, 0, 0, 0, 0, 0), QVX_OK);  // factor 10
  ASSERT_EQ(CT_AddChannel_To_CTScanlist(0), QVX_OK);
  ASSERT_EQ(CT_AddChannel_To_CTScanlist(1), QVX_OK);
  ASSERT_EQ(FinalInit(), QVX_OK);
  ASSERT_EQ(StartCTCapture(), QVX_OK);
  EXPECT_EQ(StartCTforRead(), QVX_OK);  // already running: no effect
  EXPECT_EQ(c.CtPollEnable.load(), 0);
  ASSERT_EQ(StopCTCapture(), QVX_OK);

  // Without a rate a poll asks for 0 scans and changes nothing.
  ASSERT_EQ(FinalInit(), QVX_OK);
  ASSERT_EQ(StartCTforRead(), QVX_OK);
  EXPECT_EQ(c.CtPollEnable.load(), 1);
  ASSERT_TRUE(WaitFor([] { return kestro_sim_call_count("ZQ7_CT_GetDataFromFifo") >= 2; }));
  EXPECT_EQ(Calls("ZQ7_CT_GetDataFromFifo")[0], "ZQ7_CT_GetDataFromFifo(3, 0, ptr)");
  EXPECT_EQ(c.CounterValue[0].load() + c.CounterValue[1].load(), 0u);
  ASSERT_EQ(StopCTCapture(), QVX_OK);

  ASSERT_EQ(SetCTFrequency(1000.0), QVX_OK);  // 20 scans per poll
  ASSERT_EQ(FinalInit(), QVX_OK);
  ASSERT_EQ(StartCTforRead(), QVX_OK);
  Take(40);
  ASSERT_TRUE(WaitFor([&] {
    return c.CounterValue[0].load() == kestro_sim_pattern_ct(39, 0) &&
           c.CounterValue[1].load() == kestro_sim_pattern_ct(39, 1) * 10u;
  }));
  ASSERT_EQ(StopCTCapture(), QVX_OK);
  std::uint32_t value = 0;
  EXPECT_EQ(ReadCounterValue(1, &value), QVX_OK);
  EXPECT_EQ(value, kestro_sim_pattern_ct(39, 1) * 10u);
  // The block reads only get what the worker left.
  std::uint32_t values[2];
  std::int32_t count = 1;
  ASSERT_EQ(FinalInit(), QVX_OK);
  ASSERT_EQ(CT_GetBinaryData(values, &count, 0), QVX_OK);
  EXPECT_EQ(count, 0);
}

// A stop that the latch ends at once leaves no poll behind it: a worker
// that was waiting for the mutex finds its half switched off once it has it,
// and touches neither the driver nor the buffers the stop frees.
TEST_F(DigitalCounterTest, NoPollFollowsALatchedStop) {
  Open(3);
  CardState& c = Current();
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(ClearChannelLists(), QVX_OK);
    ASSERT_EQ(CT_AddChannel_To_CTScanlist(0), QVX_OK);
    ASSERT_EQ(SetCTFrequency(1000.0), QVX_OK);
    ASSERT_EQ(FinalInit(), QVX_OK);
    ASSERT_EQ(StartCTforRead(), QVX_OK);
    EXPECT_EQ(Add_CT_Channel_to_ScanList(-1), QVX_ARGUMENT);  // latches
    // Hold the mutex until the worker waits for it, then stop and let go.
    ASSERT_EQ(platform::MutexWait(c.AdMutex, 1000), platform::WaitResult::kOwned);
    platform::SleepMs(3);
    kestro_sim_log_clear();
    ASSERT_EQ(StopCTCapture(), QVX_OK);
    platform::MutexRelease(c.AdMutex);
    platform::SleepMs(10);
    const Log log = CallLog();
    const auto stop = std::find(log.begin(), log.end(), "ZQ7_AD_Stop(3)");
    ASSERT_NE(stop, log.end());
    EXPECT_EQ(Log(stop + 1, log.end()), Log{}) << round;
  }
}

}  // namespace
}  // namespace qvx

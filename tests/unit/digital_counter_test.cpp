// White-box tests of digital-input capture, counter configuration and
// counter capture: the add calls and their slots, the shared rate, starts and
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

std::string Address(const void* pointer) {
  return std::to_string(static_cast<int>(reinterpret_cast<std::intptr_t>(pointer)));
}

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
  // Takes `scans` more scans on the current card and waits until the worker
  // has fetched them all.
  static void Take(std::int64_t scans) {
    const std::int32_t card = CurrentCardNumber();
    ASSERT_EQ(kestro_sim_advance(card, scans), 0);
    ASSERT_TRUE(WaitFor([card] {
      kestro_sim_capture_status status{};
      kestro_sim_capture(card, &status);
      return status.board_scans == 0;
    }));
  }
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
  EXPECT_EQ(LastTrace(), "begin Add_Dig_Channel_to_ScanList (1, 1)");
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
  EXPECT_EQ(LastTrace(), "begin DIN_AddChannel_To_DINScanlist (3, 2)");
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

// The digital and counter setters share the first rate set after a clear.
TEST_F(DigitalCounterTest, TheRateSettersShareTheFirstRate) {
  Open(0);
  CardState& c = Current();
  EXPECT_EQ(SetDINFrequency(9.99), QVX_ARGUMENT);
  EXPECT_EQ(LastTrace(), "begin SetDINFrequency (9.990000)");
  EXPECT_EQ(SetDINFrequency(10.0), QVX_FAILURE);  // latched
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  EXPECT_EQ(SetDINFrequency(10.0), QVX_OK);
  EXPECT_EQ(SetDINFrequency(500.0), QVX_OK);
  EXPECT_EQ(SetCTFrequency(800.0), QVX_OK);
  EXPECT_EQ(c.SampleRate, 10.0);
  EXPECT_EQ(kestro_sim_ad_frequency(0), 10.0);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_AD_SetFrequency"), 1u);
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  EXPECT_EQ(SetCTFrequency(9.99), QVX_ARGUMENT);
  EXPECT_EQ(LastTrace(), "begin SetCTFrequency (9.990000)");
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  for (int k = 0; k < 16; ++k) ASSERT_EQ(Add_AD_Channel_to_ScanList(k, 0, 0, 0), QVX_OK);
  EXPECT_EQ(SetCTFrequency(31250.5), QVX_ARGUMENT);  // 16 x 31250.5 > 500 kHz, in double
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  EXPECT_EQ(SetCTFrequency(12.5), QVX_OK);
  EXPECT_EQ(kestro_sim_ad_frequency(0), 12.5);
  EXPECT_EQ(c.ValuesPerPoll.load(), 1);
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

  // Two byte ports read the low and the high byte of the group-0 word.
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  ASSERT_EQ(DIN_AddChannel_To_DINScanlist(0, 1), QVX_OK);
  ASSERT_EQ(DIN_AddChannel_To_DINScanlist(1, 1), QVX_OK);
  Start();
  Take(2);
  count = 2;
  ASSERT_EQ(DIN_GetBinaryData(values, &count, 0), QVX_OK);
  EXPECT_EQ(LastTrace(), "begin DIN_GetScaledData (*DestBuff, " + Address(&count) + ", 0)");
  EXPECT_EQ(values[2], kestro_sim_pattern_din(1, 0) & 0xFFu);
  EXPECT_EQ(values[3], kestro_sim_pattern_din(1, 0) >> 8);
  ASSERT_EQ(StopDINCapture(), QVX_OK);

  // Eighteen lines span groups 0 and 1; mode 1 hands out a block only while
  // more than the wanted number waits.
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  for (int line = 0; line < 18; ++line) ASSERT_EQ(DIN_AddChannel_To_DINScanlist(line, 0), QVX_OK);
  ASSERT_EQ(SetDINFrequency(1000.0), QVX_OK);
  ASSERT_EQ(FinalInit(), QVX_OK);
  ASSERT_EQ(StartDINCaptureEx(1, 0, 1), QVX_OK);
  EXPECT_EQ(LastTrace(), "begin StartDINCaptureEx (1, 0, 1)");
  EXPECT_EQ(c.DinGroupCount, 2);
  Take(100);
  count = 100;
  ASSERT_EQ(DIN_GetScaledData(values, &count, 1), QVX_OK);
  EXPECT_EQ(count, 0);
  Take(1);
  count = 100;
  ASSERT_EQ(DIN_GetScaledData(values, &count, 1), QVX_OK);
  ASSERT_EQ(count, 100);
  std::int64_t wrong = 0;
  for (int i = 0; i < 100; ++i) {
    for (int d = 0; d < 18; ++d) {
      wrong += values[i * 18 + d] != ((kestro_sim_pattern_din(i, d / 16) >> (d % 16)) & 1u);
    }
  }
  EXPECT_EQ(wrong, 0);
  std::int32_t waiting = 0;
  EXPECT_EQ(GetDINBufferStatus(0, &waiting), QVX_OK);
  EXPECT_EQ(waiting, 1);
  EXPECT_EQ(LastTrace(), "begin GetDINBufferStatus (0, *ValuesPerCh)");

  // Refusals latch; a latched card is not read.
  EXPECT_EQ(DIN_GetScaledData(values, &count, 2), QVX_ARGUMENT);
  kestro_sim_log_clear();
  EXPECT_EQ(DIN_GetBinaryData(values, &count, 1), QVX_FAILURE);
  EXPECT_EQ(LastTrace(), "begin DIN_GetBinaryData (*DestBuff, " + Address(&count) + ", 1)");
  EXPECT_EQ(GetDINBufferStatus(0, &waiting), QVX_FAILURE);
  EXPECT_EQ(Reads(), Log{});
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  EXPECT_EQ(DIN_GetScaledData(nullptr, &count, 0), QVX_ARGUMENT);
}

// Buffer status calls latch the current card for a bad card number, and
// the named card for a null pointer only in the counter form.
TEST_F(DigitalCounterTest, BufferStatusRefusalsLatchTheirOwnCards) {
  Open(1);
  Open(0);
  ASSERT_EQ(SwitchCard(1), QVX_OK);
  std::int32_t waiting = 7;
  EXPECT_EQ(GetDINBufferStatus(16, &waiting), QVX_ARGUMENT);
  EXPECT_EQ(LastTrace(), "begin GetDINBufferStatus (16, *ValuesPerCh)");
  EXPECT_EQ(g_cards[1].ErrorLatch.load(), 1);
  EXPECT_EQ(g_cards[0].ErrorLatch.load(), 0);
  EXPECT_EQ(GetDINBufferStatus(0, nullptr), QVX_ARGUMENT);
  EXPECT_EQ(g_cards[0].ErrorLatch.load(), 0);
  ASSERT_EQ(ClearChannelLists(), QVX_OK);

  EXPECT_EQ(GetCTBufferStatus(16, &waiting), QVX_ARGUMENT);
  EXPECT_EQ(LastTrace(), "begin GetCTBufferStatus (16, *ValPerChan)");
  EXPECT_EQ(g_cards[1].ErrorLatch.load(), 0);
  EXPECT_EQ(GetCTBufferStatus(0, nullptr), QVX_ARGUMENT);
  EXPECT_EQ(g_cards[0].ErrorLatch.load(), 1);
  EXPECT_EQ(g_cards[1].ErrorLatch.load(), 0);
  EXPECT_EQ(GetCTBufferStatus(0, &waiting), QVX_FAILURE);
  EXPECT_EQ(waiting, 7);
}

// Argument ranges, modes and factors of the counter configuration, and the
// driver's own order of the arguments.
TEST_F(DigitalCounterTest, CounterConfigurationChecksScalesAndForwards) {
  Open(1, KESTRO_SIM_COUNTER);  // module type 9, 8 counters
  CardState& nine = Current();
  EXPECT_EQ(ConfigureCounterInput(7, 0, INT_MAX, 0, 0, 0, 0, 0, 2), QVX_OK);
  EXPECT_EQ(LastTrace(), "begin ConfigureCounterInput (7, 0, 2147483647, 0, 0, 0, 0, 0, 2)");
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
  const std::int32_t refused[][9] = {
      {4, 0, 0, 0, 0, 0, 0, 0, 0}, {0, 4, 0, 0, 0, 0, 0, 0, 0}, {0, 2, 0, 0, 0, 0, 0, 0, 0},
      {0, 3, 0, 0, 0, 0, 0, 0, 0}, {0, 6, 0, 0, 0, 0, 0, 0, 0}, {0, 0, -1, 0, 0, 0, 0, 0, 0},
      {0, 0, 0, 4, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 2, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, -1, 0},
      {0, 0, 0, 0, 0, 0, 0, 0, 3}, {-1, 0, 0, 0, 0, 0, 0, 0, 0}};
  for (const auto& a : refused) {
    ASSERT_EQ(ClearChannelLists(), QVX_OK);
    kestro_sim_log_clear();
    EXPECT_EQ(ConfigureCounterInputEx(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], 0),
              QVX_ARGUMENT)
        << a[0] << " " << a[1];
    EXPECT_EQ(two.ErrorLatch.load(), 1);
    EXPECT_EQ(kestro_sim_log_size(), 0u);
  }
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
  EXPECT_EQ(LastTrace(), "begin ReadCounterValue (3, *Value)");
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
  EXPECT_EQ(LastTrace(), "begin Add_CT_Channel_to_ScanList (0)");
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
  EXPECT_EQ(LastTrace(), "begin CT_GetBinaryData (*DatBuff " + Address(&count) + ", 0)");
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

  // A counter the driver refuses keeps its slot flag but does not count.
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  kestro_sim_fail("ZQ7_CT_AddChannelList", -1, 1);
  EXPECT_EQ(Add_CT_Channel_to_ScanList(3), QVX_FAILURE);
  EXPECT_EQ(c.ScanSlotIsCounter[0], 1);
  EXPECT_EQ(c.CtChannelCount.load(), 0);

  // The Ex start turns the run state on first and passes its settings as
  // they are; a failing driver call leaves it on, latched.
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  kestro_sim_fail("ZQ7_AD_Start", -1, 1);
  EXPECT_EQ(StartCTCaptureEx(5, 0, -7), QVX_FAILURE);
  EXPECT_EQ(LastTrace(), "begin StartCTCaptureEx (5, 0, -7)");
  std::int32_t flags[3];
  ASSERT_EQ(kestro_sim_start_extern(0, flags), 1);
  EXPECT_EQ(std::vector<std::int32_t>(flags, flags + 3), (std::vector<std::int32_t>{5, 0, -7}));
  EXPECT_EQ(c.AdRunState.load(), 1);
  EXPECT_EQ(c.ErrorLatch.load(), 1);
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

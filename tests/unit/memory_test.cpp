// White-box tests of memory measurements: starts and stops, the target and
// fetch bookkeeping, and the two block reads with their layouts. The module
// runs on its manual clock; where a read needs counter or digital values of
// the test's choosing, the simulator answers the FIFO reads without moving
// anything and the test fills the staging buffers itself.
#include <gtest/gtest.h>

#include <atomic>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "frame/call.h"
#include "frame/card_state.h"
#include "support.h"

namespace qvx {
namespace {

using qvx_test::CallLog;
using qvx_test::Volts;
using qvx_test::WaitFor;
using Log = std::vector<std::string>;

std::int32_t Wide(std::uint32_t code) {
  return static_cast<std::int32_t>(code) * 16 - 524288;
}
// The driver calls logged since the last clear, without the worker's fetches.
Log DriverCalls() {
  Log calls;
  for (const std::string& line : CallLog()) {
    if (line.rfind("ZQ7_AD_ReadData_MixedChannels", 0) != 0) calls.push_back(line);
  }
  return calls;
}

class MemoryTest : public qvx_test::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    kestro_sim_set_clock(0, KESTRO_SIM_CLOCK_MANUAL);
    kestro_sim_set_pattern(0, 1);
    ASSERT_EQ(OpenCard(0), QVX_OK);
    card().CtPollEnable = 0;  // no reset clears it
  }
  void TearDown() override {
    StopMemoryMeasurement(0);
    ClearChannelLists();
    SimTest::TearDown();
  }
  static CardState& card() { return g_cards[0]; }

  // Analog inputs 0, 1, ... with the given range codes, at `rate`; FinalInit.
  static void List(std::initializer_list<int> ranges, int rate = 100000) {
    int input = 0;
    for (const int range : ranges) ASSERT_EQ(Add_AD_Channel_to_ScanList(input++, 0, range, 0), 0);
    ASSERT_EQ(SetADFrequency(rate), QVX_OK);
    ASSERT_EQ(FinalInit(), QVX_OK);
  }
  static void Take(std::int64_t scans) { qvx_test::Take(0, scans); }

  // The next read finds `waiting` scans and its FIFO reads succeed without
  // touching the staging buffers.
  static void Staged(std::int32_t waiting) {
    kestro_sim_fail("ZQ7_AD_GetFifoStatus", waiting, 1);
    for (const char* read :
         {"ZQ7_AD_GetDataFromFifo", "ZQ7_CT_GetDataFromFifo", "ZQ7_DIN_GetDataFromFifo"}) {
      kestro_sim_fail(read, 0, 1);
    }
  }
};

TEST_F(MemoryTest, StartsCheckTheirArgumentsAndHandOverTheTriggerFlags) {
  List({0});
  EXPECT_EQ(StartMemoryMeasurement(16, 1, 100, 5), QVX_ARGUMENT);
  EXPECT_EQ(card().ErrorLatch.load(), 0);
  EXPECT_EQ(StartMemoryMeasurementEx(0, 1, 100, 4, 0), QVX_FAILURE);
  EXPECT_EQ(card().ErrorLatch.load(), 1);
  EXPECT_EQ(StartMemoryMeasurement(0, 1, 100, 5), QVX_FAILURE);  // latched
  EXPECT_EQ(kestro_sim_call_count("ZQ7_AD_Start"), 0u);
  EXPECT_EQ(card().MemTargetValues, 0);

  card().ErrorLatch = 0;
  ASSERT_EQ(PrepareExtTrigger(0, 1, 0, 1), QVX_OK);
  kestro_sim_log_clear();
  EXPECT_EQ(StartMemoryMeasurement(0, 1, 0, 5), QVX_OK);  // the smallest values accepted
  EXPECT_EQ(DriverCalls(), (Log{"ZQ7_Start_Extern(0, 0, 1, 1)", "ZQ7_AD_Start(0)"}));
  kestro_sim_log_clear();
  EXPECT_EQ(StartMemoryMeasurementEx(0, 1, 50, 5, 0), QVX_OK);  // running: the flags only
  EXPECT_EQ(DriverCalls(), (Log{"ZQ7_Start_Extern(0, 0, 1, 1)"}));
  ASSERT_EQ(PrepareExtTrigger(0, 0, 1, 1), QVX_OK);
  kestro_sim_log_clear();
  EXPECT_EQ(StartMemoryMeasurement(0, 1, 70, 5), QVX_OK);
  EXPECT_EQ(DriverCalls(), Log{});
  EXPECT_EQ(card().MemTargetValues, 70);
  ASSERT_EQ(StopMemoryMeasurement(0), QVX_OK);
  kestro_sim_log_clear();
  EXPECT_EQ(StartMemoryMeasurement(0, 1, 70, 5), QVX_OK);  // flag B alone is not handed over
  EXPECT_EQ(DriverCalls(), (Log{"ZQ7_AD_Start(0)"}));
}

TEST_F(MemoryTest, StatusPassesTheTargetOnlyWhileRunningAndStrictlyAbove) {
  List({0, 1}, 1000);
  EXPECT_EQ(GetMemoryMeasurementStatus(0), QVX_MEM_NOT_RUNNING);
  EXPECT_EQ(GetMemoryMeasurementStatus(16), QVX_ARGUMENT);
  ASSERT_EQ(StartMemoryMeasurement(0, 1, 1000, 5), QVX_OK);
  Take(1700);
  std::vector<double> volts(2 * 1000);
  const auto fetch = [&volts](std::int32_t n) {
    std::int32_t got = -1;
    EXPECT_EQ(GetScaledDataFromMemoryMeasurement(0, 0, 2, n, volts.data(), 0, &got), QVX_OK);
    EXPECT_EQ(got, n);
  };
  fetch(600);
  fetch(400);
  EXPECT_EQ(GetMemoryMeasurementStatus(0), QVX_MEM_RUNNING);  // exactly 1000
  fetch(1);
  EXPECT_EQ(GetMemoryMeasurementStatus(0), QVX_MEM_TARGET_PASSED);
  ASSERT_EQ(StartMemoryMeasurement(0, 1, 0, 5), QVX_OK);  // no target; counting starts anew
  EXPECT_EQ(card().MemValuesFetched, 0);
  fetch(199);
  EXPECT_EQ(GetMemoryMeasurementStatus(0), QVX_MEM_RUNNING);
  ASSERT_EQ(StartMemoryMeasurement(0, 1, 1000, 5), QVX_OK);
  fetch(500);
  ASSERT_EQ(StartMemoryMeasurementEx(0, 1, 500, 5, 0), QVX_OK);  // keeps the 500 fetched
  EXPECT_EQ(GetMemoryMeasurementStatus(0), QVX_MEM_RUNNING);
  ASSERT_EQ(StartMemoryMeasurementEx(0, 1, 400, 5, 0), QVX_OK);
  EXPECT_EQ(GetMemoryMeasurementStatus(0), QVX_MEM_TARGET_PASSED);

  // Ten seconds of values over both inputs, less the 300 scans waiting.
  Take(300);
  std::int32_t use = -1, size = -1;
  EXPECT_EQ(ReadMemoryMeasurementStatus(0, &use, &size), QVX_OK);
  EXPECT_EQ(size, 300);
  EXPECT_EQ(use, 19700);

  ASSERT_EQ(StartMemoryMeasurement(0, 0, 400, 5), QVX_FAILURE);  // latches; status ignores it
  EXPECT_EQ(GetMemoryMeasurementStatus(0), QVX_MEM_TARGET_PASSED);
  ASSERT_EQ(StopMemoryMeasurement(0), QVX_OK);
  EXPECT_EQ(GetMemoryMeasurementStatus(0), QVX_MEM_NOT_RUNNING);
  EXPECT_EQ(card().MemTargetValues, 400);
  EXPECT_EQ(card().MemValuesFetched, 500);
}

TEST_F(MemoryTest, DeInitHonoursTheLatchWhileStopDoesNot) {
  List({0});
  ASSERT_EQ(StartMemoryMeasurement(0, 1, 100, 5), QVX_OK);
  EXPECT_EQ(StopMemoryMeasurement(16), QVX_ARGUMENT);
  EXPECT_EQ(DeInitMemoryMeasurement(16), QVX_ARGUMENT);
  ASSERT_EQ(StartMemoryMeasurement(0, 1, 100, 4), QVX_FAILURE);
  EXPECT_EQ(DeInitMemoryMeasurement(0), QVX_FAILURE);
  EXPECT_EQ(card().AdRunState.load(), 1);
  EXPECT_NE(card().AdBuffer, nullptr);
  kestro_sim_log_clear();
  EXPECT_EQ(StopMemoryMeasurement(0), QVX_OK);
  EXPECT_EQ(DriverCalls(), (Log{"ZQ7_AD_Stop(0)"}));
  EXPECT_EQ(card().AdBuffer, nullptr);
  EXPECT_EQ(card().CtBuffer, nullptr);
  EXPECT_EQ(card().DinBuffer, nullptr);
  ASSERT_TRUE(WaitFor([] { return card().AdRunState == -1; }));  // the worker acknowledged
  EXPECT_EQ(StopMemoryMeasurement(0), QVX_OK);                   // nothing runs
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  EXPECT_EQ(DeInitMemoryMeasurement(0), QVX_OK);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_AD_Stop"), 1u);
}

TEST_F(MemoryTest, ListsOfAnalogInputsDeliverTheFirstChannelCountInputs) {
  kestro_sim_set_pattern(0, 0);
  kestro_sim_set_signal(0, 0, KESTRO_SIM_SIGNAL_DC, 0.0, -10.0, 0.0);  // code 0
  kestro_sim_set_signal(0, 1, KESTRO_SIM_SIGNAL_DC, 0.0, 0.0, 0.0);    // code 32768
  kestro_sim_set_signal(0, 2, KESTRO_SIM_SIGNAL_DC, 0.0, 10.0, 0.0);   // code 65535
  List({0, 0, 1, 2});
  ASSERT_EQ(StartMemoryMeasurement(0, 1, 0, 5), QVX_OK);
  Take(2);
  std::int32_t got = -1, wide[3];
  double volts[3];
  EXPECT_EQ(GetScaledDataFromMemoryMeasurement(0, 0, 3, 1, volts, 0, &got), QVX_OK);
  EXPECT_EQ(GetBinaryDataFromMemoryMeasurement(0, 3, 1, wide, 0, &got), QVX_OK);
  EXPECT_EQ(got, 4);  // the values taken from the FIFO: all four inputs
  EXPECT_EQ((std::vector<double>(volts, volts + 3)),
            (std::vector<double>{-10.0, 0.0, 4.999847412109375}));
  EXPECT_EQ((std::vector<std::int32_t>(wide, wide + 3)),
            (std::vector<std::int32_t>{-524288, 0, 524272}));

  // Scaled reads keep the scan's stride and leave the other places alone;
  // binary reads pack the inputs wanted densely.
  kestro_sim_set_pattern(0, 1);
  Take(6);
  std::vector<double> places(3 * 4, -99.0);
  std::vector<std::int32_t> packed(3 * 4, -99);
  EXPECT_EQ(GetScaledDataFromMemoryMeasurement(0, 0, 2, 3, places.data(), 0, &got), QVX_OK);
  EXPECT_EQ(GetBinaryDataFromMemoryMeasurement(0, 2, 3, packed.data(), 0, &got), QVX_OK);
  for (int v = 0; v < 3 * 4; ++v) {
    const int i = v / 4, k = v % 4;
    EXPECT_EQ(places[v], k < 2 ? Volts(kestro_sim_pattern_ad(2 + i, k), 1.0) : -99.0) << v;
    EXPECT_EQ(packed[v], v < 6 ? Wide(kestro_sim_pattern_ad(5 + v / 2, v % 2)) : -99) << v;
  }
}

// Card 1 is read while card 0, the current card, has byte ports: its slots
// are analog 0 (range 1), counter 0, single lines 0..17, analog 1 and
// counter 1, two digital groups.
TEST_F(MemoryTest, MixedReadsWalkTheSlotsOfTheCardNamed) {
  ASSERT_EQ(OpenCard(1), QVX_OK);
  CardState& c = g_cards[1];
  ASSERT_EQ(Add_AD_Channel_to_ScanList(0, 0, 1, 0), QVX_OK);
  ASSERT_EQ(Add_CT_Channel_to_ScanList(0), QVX_OK);
  for (int s = 2; s < 20; ++s) c.ScanSlotIsDigital[s] = 1;
  c.DigChannelCount = 18;
  c.DinGroupEnabled[0] = c.DinGroupEnabled[1] = 1;
  ASSERT_EQ(Add_AD_Channel_to_ScanList(1, 0, 0, 0), QVX_OK);
  ASSERT_EQ(Add_CT_Channel_to_ScanList(1), QVX_OK);
  ASSERT_EQ(SetADFrequency(1000), QVX_OK);
  ASSERT_EQ(FinalInit(), QVX_OK);
  ASSERT_EQ(SwitchCard(0), QVX_OK);
  card().DigitalWidthCode = 1;
  constexpr int kSlots = 22, kScans = 10;
  for (int i = 0; i < kScans; ++i) {
    c.AdBuffer[i * 2] = static_cast<std::uint16_t>(i == 0 ? 65535 : 4099 * i);
    c.AdBuffer[i * 2 + 1] = static_cast<std::uint16_t>(7919 * i);
    c.CtBuffer[i * 2] = 4294967295u - static_cast<std::uint32_t>(i);
    c.CtBuffer[i * 2 + 1] = 123456789u * static_cast<std::uint32_t>(i);
    c.DinBuffer[i * 2] = static_cast<std::uint16_t>(0xA5C3 ^ (i * 0x1111));
    c.DinBuffer[i * 2 + 1] = static_cast<std::uint16_t>(i % 2 == 0 ? 0xAB02 : 0x54FD);
  }
  Staged(11);
  kestro_sim_log_clear();
  std::vector<std::int32_t> wide(kScans * kSlots);
  std::int32_t got = -1;
  EXPECT_EQ(GetBinaryDataFromMemoryMeasurement(1, 99, 10, wide.data(), 0, &got), QVX_OK);
  EXPECT_EQ(got, kScans * (2 + 2 + 2));  // analog codes, counter values, group words
  EXPECT_EQ(CallLog(),
            (Log{"ZQ7_AD_GetFifoStatus(1)", "ZQ7_AD_GetDataFromFifo(1, 10, ptr)",
                 "ZQ7_CT_GetDataFromFifo(1, 10, ptr)", "ZQ7_DIN_GetDataFromFifo(1, 10, ptr)"}));
  Staged(10);
  std::vector<double> volts(kScans * kSlots);
  EXPECT_EQ(GetScaledDataFromMemoryMeasurement(1, 0, 1, 10, volts.data(), 0, &got), QVX_OK);
  EXPECT_EQ(got, kScans);
  EXPECT_EQ(c.MemValuesFetched, 2 * kScans);
  EXPECT_EQ(card().MemValuesFetched, 0);
  EXPECT_EQ(volts[0], 4.999847412109375);
  EXPECT_EQ(volts[1], 4294967295.0);
  EXPECT_EQ(wide[1], -1);  // the same bits
  EXPECT_EQ(wide[19], 1);  // entry 17: bit 1 of group word 1
  EXPECT_EQ(wide[kSlots + 19], 0);
  for (int v = 0; v < kScans * kSlots; ++v) {
    const int i = v / kSlots, s = v % kSlots, d = s - 2;
    if (s == 0 || s == 20) {
      const std::uint16_t code = c.AdBuffer[i * 2 + (s == 20)];
      EXPECT_EQ(wide[v], Wide(code)) << v;
      EXPECT_EQ(volts[v], Volts(code, s == 0 ? 0.5 : 1.0)) << v;
    } else {
      const std::uint32_t value = s == 1 || s == 21
                                      ? c.CtBuffer[i * 2 + (s == 21)]
                                      : (c.DinBuffer[i * 2 + d / 16] >> (d % 16)) & 1u;
      EXPECT_EQ(wide[v], static_cast<std::int32_t>(value)) << v;
      EXPECT_EQ(volts[v], static_cast<double>(value)) << v;
    }
  }

  // As byte ports, entry 3 is the high byte of group word 1.
  c.DigitalWidthCode = 1;
  card().DigitalWidthCode = 0;
  Staged(10);
  EXPECT_EQ(GetBinaryDataFromMemoryMeasurement(1, 1, 10, wide.data(), 0, &got), QVX_OK);
  for (int i = 0; i < kScans; ++i) {
    EXPECT_EQ(wide[i * kSlots + 2 + 3], c.DinBuffer[i * 2 + 1] >> 8) << i;
    EXPECT_EQ(wide[i * kSlots + 2 + 2], c.DinBuffer[i * 2 + 1] & 0xFF) << i;
  }
}

TEST_F(MemoryTest, FailedOrImpossibleReadsDeliverNothing) {
  ASSERT_EQ(Add_AD_Channel_to_ScanList(0, 0, 0, 0), QVX_OK);
  ASSERT_EQ(Add_CT_Channel_to_ScanList(0), QVX_OK);
  List({}, 1000);
  ASSERT_EQ(StartMemoryMeasurement(0, 1, 0, 5), QVX_OK);
  Take(50);
  double volts[2 * 20];
  std::int32_t got = -1, wide[2 * 20];
  // The block counts although a FIFO read fails; scans already moved out of
  // the analog FIFO are lost.
  kestro_sim_fail("ZQ7_AD_GetDataFromFifo", -1, 1);
  EXPECT_EQ(GetScaledDataFromMemoryMeasurement(0, 0, 1, 20, volts, 0, &got), QVX_OK);
  EXPECT_EQ(got, 0);
  EXPECT_EQ(card().MemValuesFetched, 20);
  kestro_sim_fail("ZQ7_CT_GetDataFromFifo", -1, 1);
  EXPECT_EQ(GetBinaryDataFromMemoryMeasurement(0, 1, 20, wide, 0, &got), QVX_OK);
  EXPECT_EQ(got, 0);
  EXPECT_EQ(card().MemValuesFetched, 40);
  EXPECT_EQ(card().ErrorLatch.load(), 0);
  EXPECT_EQ(GetBinaryDataFromMemoryMeasurement(0, 1, 1, wide, 0, &got), QVX_OK);
  EXPECT_EQ(wide[0], Wide(kestro_sim_pattern_ad(20, 0)));

  // After a stop the staging buffers are gone: the driver is not even asked.
  ASSERT_EQ(StopMemoryMeasurement(0), QVX_OK);
  kestro_sim_log_clear();
  got = -1;
  EXPECT_EQ(GetScaledDataFromMemoryMeasurement(0, 0, 1, 5, volts, 0, &got), QVX_OK);
  EXPECT_EQ(got, 0);
  EXPECT_EQ(card().MemValuesFetched, 41);
  EXPECT_EQ(kestro_sim_log_size(), 0u);
}

}  // namespace
}  // namespace qvx

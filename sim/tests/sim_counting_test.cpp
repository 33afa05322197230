// Tests of the simulated module's counter inputs and captured digital
// inputs, on the manual clock: counting modes, presets, and line states
// that hold from the scan after each change.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "frame/driver_api.h"
#include "kestro_sim.h"

extern "C" {
#define DECLARE_ENTRY(required, result, name, params, args, missing) result KESTRO_CALL name params;
QVX_DRIVER_ENTRIES(DECLARE_ENTRY)
#undef DECLARE_ENTRY
}

namespace {

class SimCounting : public ::testing::Test {
 protected:
  void SetUp() override { kestro_sim_reset(); }
  void TearDown() override { kestro_sim_reset(); }

  // Starts card `card` at `rate` on the manual clock with analog input 0 and
  // the lists already given, takes `scans` scans and fetches them all.
  static void Run(int32_t card, double rate, int64_t scans) {
    ASSERT_EQ(ZQ7_AD_AddChannellist(card, 0, 0, 0), 0);
    ASSERT_EQ(ZQ7_AD_SetFrequency(card, rate), 0);
    ASSERT_EQ(kestro_sim_set_clock(card, KESTRO_SIM_CLOCK_MANUAL), 0);
    ASSERT_EQ(ZQ7_AD_Start(card), 0);
    Take(card, scans);
  }
  // Takes `scans` more scans and moves everything waiting into the FIFOs.
  static void Take(int32_t card, int64_t scans) {
    ASSERT_EQ(kestro_sim_advance(card, scans), 0);
    int32_t count = 1 << 20;
    ASSERT_EQ(ZQ7_AD_ReadData_MixedChannels(card, &count), 0);
  }
};

// Counters 0..3 of the standard module: unconfigured at 1 kHz (events),
// event counting from a preset near the top, frequency measurement over
// 0.1 s gates, and no input at all; scans at 10 kHz.
TEST_F(SimCounting, CountersCountEventsOrEdgesPerGateByTheirMode) {
  ASSERT_EQ(kestro_sim_set_counter_input(0, 0, 1000.0), 0);
  ASSERT_EQ(kestro_sim_set_counter_input(0, 1, 2500.0), 0);
  ASSERT_EQ(kestro_sim_set_counter_preset(0, 1, 0xFFFFFFF0u), 0);
  ASSERT_EQ(ZQ7_ConfigureCounterInputEx(0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), 0);
  ASSERT_EQ(kestro_sim_set_counter_input(0, 2, 25.0), 0);
  ASSERT_EQ(ZQ7_ConfigureCounterInputEx(0, 2, 1, 0, 0, 0, 0, 3, 0, 0, 0, 0), 0);
  ASSERT_EQ(kestro_sim_set_counter_preset(0, 3, 77), 0);
  for (int32_t counter : {0, 1, 2, 3}) ASSERT_EQ(ZQ7_CT_AddChannelList(0, counter), 0);
  Run(0, 10000.0, 3000);
  // Changes after the start wait for the next one.
  kestro_sim_set_counter_input(0, 0, 5000.0);

  std::vector<uint32_t> values(4 * 3000);
  ASSERT_EQ(ZQ7_CT_GetDataFromFifo(0, 3000, values.data()), 0);
  for (uint64_t s = 0; s < 3000; ++s) {
    const uint32_t* scan = &values[s * 4];
    ASSERT_EQ(scan[0], s / 10) << s;
    ASSERT_EQ(scan[1], 0xFFFFFFF0u + static_cast<uint32_t>(s * 25 / 100)) << s;  // wraps
    // 25 Hz: gates of 0.1 s hold 2 or 3 edges; a measurement shows the last
    // complete gate.
    const uint64_t gates = s / 1000;
    const uint32_t expected = gates == 0 ? 0 : (gates * 25 / 10) - ((gates - 1) * 25 / 10);
    ASSERT_EQ(scan[2], expected) << s;
    ASSERT_EQ(scan[3], 77u) << s;
    for (int32_t e = 0; e < 4; ++e) {
      ASSERT_EQ(kestro_sim_counter_value(0, e, s), static_cast<int64_t>(scan[e]));
    }
  }
  EXPECT_EQ(values[1999 * 4 + 2], 2u);
  EXPECT_EQ(values[2000 * 4 + 2], 3u);  // the second gate holds edges 3, 4 and 5
  EXPECT_EQ(kestro_sim_counter_value(0, 4, 0), -1);
  EXPECT_EQ(kestro_sim_set_counter_input(0, 4, 1.0), -1);  // the standard module has 4
  EXPECT_EQ(kestro_sim_set_counter_input(0, 0, -1.0), -1);
  EXPECT_EQ(kestro_sim_set_counter_preset(16, 0, 1), -1);
}

// On module type 9 argument 4 of the configuration picks the gate: 1 s,
// 0.1 s, 0.01 s or 1 ms; elsewhere a measurement always gates 0.1 s.
TEST_F(SimCounting, TheGateFollowsTheDecadeOnlyOnTheCounterModule) {
  ASSERT_EQ(kestro_sim_set_module(1, KESTRO_SIM_COUNTER), 0);
  for (int32_t decade = 0; decade < 4; ++decade) {
    ASSERT_EQ(kestro_sim_set_counter_input(1, decade, 20000.0), 0);
    ASSERT_EQ(ZQ7_ConfigureCounterInputEx(1, decade, 1, 0, 0, 0, 0, decade, 0, 0, 0, 0), 0);
    ASSERT_EQ(ZQ7_CT_AddChannelList(1, decade), 0);
  }
  Run(1, 10000.0, 10001);
  const uint32_t edges_per_gate[4] = {20000, 2000, 200, 20};
  for (int32_t e = 0; e < 4; ++e) {
    EXPECT_EQ(kestro_sim_counter_value(1, e, 10000), edges_per_gate[e]) << e;
    EXPECT_EQ(kestro_sim_counter_value(1, e, 10), e == 3 ? 20 : 0) << e;  // the first 1 ms gate
  }
  ASSERT_EQ(ZQ7_AD_Stop(1), 0);
  // The older configuration entry has no decade.
  ASSERT_EQ(ZQ7_ConfigureCounterInput(1, 3, 1, 0, 3, 0, 0, 0, 0, 0), 0);
  ASSERT_EQ(ZQ7_AD_Start(1), 0);
  Take(1, 1001);
  EXPECT_EQ(kestro_sim_counter_value(1, 3, 1000), 2000);
}

// The digital module's 32 lines in scans of two words: input lines follow
// the count, outputs their latch, a looped-back input its source; a change
// holds from the next scan on, and scans taken before it keep the old state.
TEST_F(SimCounting, CapturedLinesFollowTheCountAndEachChangeFromTheNextScan) {
  ASSERT_EQ(kestro_sim_set_module(2, KESTRO_SIM_DIGITAL), 0);
  EXPECT_EQ(ZQ7_GetNumOfTTLIn(2), 32);
  ASSERT_EQ(kestro_sim_set_digital_count(2, 1, 0x0001FFF0u, 3), 0);
  ASSERT_EQ(ZQ7_TTL_AddChannelList(2, 31), 0);
  ASSERT_EQ(ZQ7_TTL_AddChannelList(2, 0), 0);
  Run(2, 1000.0, 10);
  ASSERT_EQ(ZQ7_TTL_SetDirection(2, 4, 1), 0);  // line 4: an output, latch 1
  ASSERT_EQ(ZQ7_TTL_PutChannel(2, 4, 0x0010), 0);
  ASSERT_EQ(kestro_sim_set_digital_loopback(2, 20, 4), 0);
  Take(2, 5);
  ASSERT_EQ(kestro_sim_set_digital_count(2, 0, 0, 0), 0);
  ASSERT_EQ(kestro_sim_set_digital_input_word(2, 1, 0x8001), 0);
  ASSERT_EQ(kestro_sim_advance(2, 5), 0);
  ASSERT_EQ(kestro_sim_set_digital_input_word(2, 1, 0x0002), 0);  // scans 20.. only
  Take(2, 5);  // scans 15..24, all fetched after the last change

  uint16_t words[2 * 25];
  ASSERT_EQ(ZQ7_DIN_GetDataFromFifo(2, 25, words), 0);
  for (uint32_t s = 0; s < 25; ++s) {
    const uint32_t count = 0x0001FFF0u + 3 * s;
    uint32_t low = count & 0xFFFF;
    uint32_t high = count >> 16;
    if (s >= 10) {
      low |= 0x10u;   // line 4 shows its latch
      high |= 0x10u;  // line 20 loops back line 4
    }
    if (s >= 15) low = 0x10, high = 0x8011;  // counting off: input levels
    if (s >= 20) high = 0x0012;
    EXPECT_EQ(words[s * 2], low) << s;
    EXPECT_EQ(words[s * 2 + 1], high) << s;
  }
  // Port reads keep showing the levels.
  EXPECT_EQ(ZQ7_TTL_Getchannel(2, 16), 0x0012u);
}

// Without counting a 24-line module's second group has 8 lines, and a scan
// shows the levels as they stood when it was taken.
TEST_F(SimCounting, LevelsOfAShortGroupAreMaskedAndKeptPerScan) {
  ASSERT_EQ(ZQ7_TTL_AddChannelList(0, 17), 0);
  ASSERT_EQ(kestro_sim_set_digital_input_word(0, 1, 0xFFFF), 0);
  Run(0, 1000.0, 3);
  ASSERT_EQ(kestro_sim_set_digital_input(0, 16, 0), 0);
  Take(0, 2);
  uint16_t words[5];
  ASSERT_EQ(ZQ7_DIN_GetDataFromFifo(0, 5, words), 0);
  EXPECT_EQ(std::vector<uint16_t>(words, words + 5),
            (std::vector<uint16_t>{0xFF, 0xFF, 0xFF, 0xFE, 0xFE}));
}

}  // namespace

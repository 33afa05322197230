// Tests of the simulated module's own model, through its exports as the
// library sees them: the initial modules, and the counter inputs on the
// manual clock.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "sim_test_support.h"

namespace {

using Sim = SimFixture;

// ctest starts this program with KESTRO_SIM_MODULES naming cards 13 and 14
// and two bad items.
TEST_F(Sim, EnvironmentChoosesInitialModules) {
  if (std::getenv("KESTRO_SIM_MODULES") == nullptr) GTEST_SKIP() << "KESTRO_SIM_MODULES unset";
  EXPECT_EQ(kestro_sim_get_module(13), KESTRO_SIM_HISPEED);
  EXPECT_EQ(kestro_sim_get_module(14), KESTRO_SIM_TTL_IN8);
  EXPECT_EQ(kestro_sim_get_module(15), KESTRO_SIM_STANDARD);
  kestro_sim_set_module(13, KESTRO_SIM_ABSENT);
  EXPECT_EQ(ZQ7_CreateSimpleHandle(13), 0);
  kestro_sim_reset();
  EXPECT_EQ(ZQ7_IsHiSpeed(13), 1);
}

using SimCounting = SimFixture;

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
  // Analog input 0 at 10 kHz on the manual clock: 3000 scans, all moved into
  // the FIFOs.
  ASSERT_EQ(ZQ7_AD_AddChannellist(0, 0, 0, 0), 0);
  ASSERT_EQ(ZQ7_AD_SetFrequency(0, 10000.0), 0);
  ASSERT_EQ(kestro_sim_set_clock(0, KESTRO_SIM_CLOCK_MANUAL), 0);
  ASSERT_EQ(ZQ7_AD_Start(0), 0);
  ASSERT_EQ(kestro_sim_advance(0, 3000), 0);
  int32_t count = 1 << 20;
  ASSERT_EQ(ZQ7_AD_ReadData_MixedChannels(0, &count), 0);
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

}  // namespace

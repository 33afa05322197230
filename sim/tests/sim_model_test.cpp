// Tests of the simulated module's own model, through its exports as the
// library sees them. Nothing here depends on the clock.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "sim_test_support.h"

namespace {

using Sim = SimFixture;

template <class R>
bool SameBytes(const R& a, const R& b) {
  return std::memcmp(&a, &b, sizeof(R)) == 0;
}

// Calls an entry point on `card` with every other argument zero or null.
template <class R, class... P>
R CallOn(R(KESTRO_CALL* entry)(std::int32_t, P...), std::int32_t card) {
  return entry(card, P{}...);
}
template <class R>
R CallOn(R(KESTRO_CALL* entry)(), std::int32_t) {
  return entry();
}

TEST_F(Sim, InjectedResultsCountDownOrStayUntilCleared) {
  ASSERT_EQ(kestro_sim_fail("ZQ7_AD_Start", -7, 2), 0);
  EXPECT_EQ(ZQ7_AD_Start(0), -7);
  EXPECT_EQ(ZQ7_AD_Start(1), -7);  // any card
  EXPECT_EQ(ZQ7_AD_Start(0), 0);

  kestro_sim_fail("ZQ7_AD_Stop", -3, -1);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(ZQ7_AD_Stop(0), -3);
  kestro_sim_fail("ZQ7_AD_Stop", 0, 0);
  EXPECT_EQ(ZQ7_AD_Stop(0), 0);

  // A record cannot carry a result: the call fails with a zero record.
  kestro_sim_fail("ZQ7_ReadNewFlash", 1, 1);
  EXPECT_EQ(ZQ7_ReadNewFlash(0).bytes[140], 0);
  EXPECT_EQ(ZQ7_ReadNewFlash(0).bytes[140], 16);

  kestro_sim_fail("ZQ7_IsHiSpeed", 9, -1);
  kestro_sim_delay("ZQ7_IsHiSpeed", 0);
  kestro_sim_clear_faults();
  EXPECT_EQ(ZQ7_IsHiSpeed(0), 0);

  EXPECT_EQ(kestro_sim_call_count("ZQ7_AD_Start"), 3u);  // injected calls count too
}

TEST_F(Sim, BadCardsAndAbsentModulesFailEveryEntryPointSafely) {
  kestro_sim_set_module(2, KESTRO_SIM_ABSENT);
  for (int32_t card : {-1, 16, 1000000, 2}) {
    SCOPED_TRACE(card);
#define EXPECT_FAILURE(required, result, name, params, args, missing)      \
  if (card != 2 || std::strcmp(#name, "ZQ7_SwitchCard") != 0) {            \
    EXPECT_TRUE(SameBytes<result>(CallOn(&name, card), missing)) << #name; \
  }
    KESTRO_ENTRIES(EXPECT_FAILURE)
#undef EXPECT_FAILURE
  }
  EXPECT_EQ(ZQ7_SwitchCard(2), 0);
  EXPECT_EQ(ZQ7_SwitchCard(15), 0);
  EXPECT_EQ(kestro_sim_is_open(2), 0);
}

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

}  // namespace

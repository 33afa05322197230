#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/worker.h"
#include "frame/card_state.h"
#include "support.h"

namespace qvx {
namespace {

using qvx_test::CallLog;
using qvx_test::WaitFor;

class LifecycleTest : public qvx_test::SimTest {};

// An open asks the driver in this order and starts an idle worker; a
// failed one latches and leaves the current card; closing keeps it.
TEST_F(LifecycleTest, OpenAndCloseTheirDriverCallsAndTheCurrentCard) {
  ASSERT_EQ(OpenCard(3), QVX_OK);
  CardState& c = g_cards[3];
  EXPECT_EQ(CurrentCard.load(), 3u);
  EXPECT_TRUE(WaitFor([&] { return c.AdRunState == -1 && c.DaRunState == -1; }));
  const auto log = CallLog();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 3),
            (std::vector<std::string>{"ZQ7_CreateSimpleHandle(3)", "ZQ7_SwitchCard(3)",
                                      "ZQ7_ReadNewFlash(3)"}));
  EXPECT_EQ(log[3].rfind("ZQ7_Get_ModuleIdent(3,", 0), 0u) << log[3];

  kestro_sim_set_module(4, KESTRO_SIM_ABSENT);
  EXPECT_EQ(OpenCard(4), QVX_FAILURE);
  EXPECT_EQ(g_cards[4].ErrorLatch.load(), 1);
  EXPECT_EQ(g_cards[4].WorkerThread, nullptr);
  EXPECT_EQ(SwitchCard(4), QVX_FAILURE);
  EXPECT_EQ(CurrentCard.load(), 3u);
  kestro_sim_set_module(4, KESTRO_SIM_STANDARD);
  EXPECT_EQ(OpenCard(4), QVX_OK);
  EXPECT_EQ(g_cards[4].ErrorLatch.load(), 0);

  EXPECT_EQ(CloseCard(3), QVX_OK);
  EXPECT_EQ(c.WorkerThread, nullptr);
  EXPECT_EQ(c.AdMutex, nullptr);
  EXPECT_EQ(CurrentCard.load(), 4u);  // closing leaves the current card
  EXPECT_EQ(CallLog().back(), "ZQ7_CloseSimpleHandle(3)");
}

TEST_F(LifecycleTest, NoDriverCallForTheCardAfterItsHandleIsClosed) {
  ASSERT_EQ(OpenCard(7), QVX_OK);
  CardState& c = g_cards[7];
  c.ValuesPerPoll = 1;
  SetRunState(c, c.AdRunState, 1);  // the worker polls the driver on every pass
  ASSERT_TRUE(WaitFor([] { return kestro_sim_call_count("ZQ7_AD_ReadData_MixedChannels") > 5; }));
  kestro_sim_delay("ZQ7_AD_ReadData_MixedChannels", 20);  // a slow driver call
  ASSERT_EQ(CloseCard(7), QVX_OK);
  const std::uint32_t polls = kestro_sim_call_count("ZQ7_AD_ReadData_MixedChannels");
  EXPECT_EQ(CallLog().back(), "ZQ7_CloseSimpleHandle(7)");
  platform::SleepMs(30);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_AD_ReadData_MixedChannels"), polls);
  c.AdRunState = 0;
}

}  // namespace
}  // namespace qvx

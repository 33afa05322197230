#include <gtest/gtest.h>

#include "engine/worker.h"
#include "frame/card_state.h"
#include "support.h"

namespace qvx {
namespace {

using qvx_test::CallLog;
using qvx_test::WaitFor;

class LifecycleTest : public qvx_test::SimTest {};

TEST_F(LifecycleTest, OpenReadsTheRecordAndStartsTheWorker) {
  ASSERT_EQ(OpenCard(3), QVX_OK);
  CardState& c = g_cards[3];
  EXPECT_EQ(CurrentCard.load(), 3u);
  EXPECT_EQ(c.ModuleInfo.NumAdChannels(), 16);
  EXPECT_EQ(c.ModuleInfo.MaxAdRateKHz(), 500);
  EXPECT_NE(c.AdMutex, nullptr);
  EXPECT_NE(c.DaMutex, nullptr);
  EXPECT_NE(c.WorkerThread, nullptr);
  // The idle worker acknowledges both halves as off.
  EXPECT_TRUE(WaitFor([&] { return c.AdRunState == -1 && c.DaRunState == -1; }));

  const auto log = CallLog();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[0], "ZQ7_CreateSimpleHandle(3)");
  EXPECT_EQ(log[1], "ZQ7_SwitchCard(3)");
  EXPECT_EQ(log[2], "ZQ7_ReadNewFlash(3)");
  EXPECT_EQ(log[3].rfind("ZQ7_Get_ModuleIdent(3,", 0), 0u) << log[3];

  EXPECT_EQ(CloseCard(3), QVX_OK);
  EXPECT_EQ(c.WorkerThread, nullptr);
  EXPECT_EQ(c.AdMutex, nullptr);
  EXPECT_EQ(CurrentCard.load(), 3u);  // closing leaves the current card
  EXPECT_EQ(CallLog().back(), "ZQ7_CloseSimpleHandle(3)");
}

TEST_F(LifecycleTest, FailedOpenLatchesAndTouchesNothingElse) {
  ASSERT_EQ(OpenCard(0), QVX_OK);
  kestro_sim_set_module(4, KESTRO_SIM_ABSENT);
  EXPECT_EQ(OpenCard(4), QVX_FAILURE);
  EXPECT_EQ(g_cards[4].ErrorLatch.load(), 1);
  EXPECT_EQ(g_cards[4].WorkerThread, nullptr);
  EXPECT_EQ(CurrentCard.load(), 0u);
  EXPECT_EQ(SwitchCard(4), QVX_FAILURE);
  EXPECT_EQ(CurrentCard.load(), 0u);

  kestro_sim_set_module(4, KESTRO_SIM_STANDARD);
  EXPECT_EQ(OpenCard(4), QVX_OK);
  EXPECT_EQ(g_cards[4].ErrorLatch.load(), 0);
  EXPECT_EQ(CurrentCard.load(), 4u);
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

#include "engine/worker.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "frame/card_state.h"
#include "support.h"

namespace qvx {
namespace {

using qvx_test::WaitFor;

class WorkerTest : public qvx_test::SimTest {
 protected:
  void TearDown() override {
    qvx_test::SimTest::TearDown();  // closes the cards: no worker runs now
    CardState& c = g_cards[0];
    c.CtBuffer = nullptr;
    c.Staging.capacity[kCounterFifo] = 0;
    c.CtPollEnable = 0;
    for (auto& value : c.CounterValue) value = 0;
  }
};

TEST_F(WorkerTest, FetchFailureLatchesStopsPollingAndStillReadsCounters) {
  ASSERT_EQ(OpenCard(0), QVX_OK);
  CardState& c = g_cards[0];
  std::uint32_t counters[2] = {7, 9};  // the last scan of the block
  c.CtBuffer = counters;
  c.Staging.capacity[kCounterFifo] = 2;
  c.CtChannelCount = 2;
  c.CounterScale[0] = 10;
  c.CounterScale[1] = 1;
  c.ValuesPerPoll = 1;
  c.CtPollEnable = 1;
  kestro_sim_fail("ZQ7_AD_ReadData_MixedChannels", -3, 1);
  kestro_sim_fail("ZQ7_CT_GetDataFromFifo", 0, -1);  // success, buffer as it is
  SetRunState(c, c.AdRunState, 1);

  ASSERT_TRUE(WaitFor([&] { return c.AdRunState == -1; }));
  EXPECT_EQ(c.ErrorLatch.load(), 1);
  EXPECT_EQ(c.CounterValue[0].load(), 70u);
  EXPECT_EQ(c.CounterValue[1].load(), 9u);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_AD_ReadData_MixedChannels"), 1u);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_CT_GetDataFromFifo"), 1u);
}

// An idle worker sleeps until it is woken; every call that switches a half
// off wakes it, so it marks the half idle again as it always did.
TEST_F(WorkerTest, AnIdleWorkerAcknowledgesEveryCallThatSwitchesAHalfOff) {
  ASSERT_EQ(OpenCard(0), QVX_OK);
  CardState& c = g_cards[0];
  const auto idle = [&] { return c.AdRunState == -1 && c.DaRunState == -1; };
  const std::pair<const char*, std::function<void()>> calls[] = {
      {"StopDAOutput", [] { StopDAOutput(); }},
      {"ClearChannelLists", [] { ClearChannelLists(); }},
      {"StopADCapture of a latched card",
       [&] {
         c.ErrorLatch = 1;
         StopADCapture();
       }},
  };
  for (const auto& [name, call] : calls) {
    ASSERT_TRUE(WaitFor(idle)) << name;
    call();
    EXPECT_TRUE(WaitFor(idle)) << name;
  }
}

}  // namespace
}  // namespace qvx

// White-box tests of the card set-up calls: FinalInit's output ring and the
// list clears.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "frame/call.h"
#include "frame/card_state.h"
#include "frame/driver.h"
#include "support.h"

namespace qvx {
namespace {

using qvx_test::CallLog;
using Log = std::vector<std::string>;

class SetupTest : public qvx_test::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_EQ(OpenCard(0), QVX_OK);
    kestro_sim_log_clear();
  }
  void TearDown() override {
    ASSERT_EQ(ClearChannelLists(), QVX_OK);
    SimTest::TearDown();
  }
  CardState& card() { return g_cards[0]; }
};

TEST_F(SetupTest, FinalInitSizesTheOutputRingByTheAggregateOutputRate) {
  const struct {
    std::int32_t channels;
    double rate;
    std::int32_t per_channel;
  } cases[] = {{1, 1000.0, 3000}, {1, 1000.5, 6000}, {2, 2500.0, 6000}, {2, 2501.0, 12000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.channels << " x " << c.rate);
    card().DaChannelCount = c.channels;
    card().DaSampleRate = c.rate;
    card().DaStatus = KestroDaStatus{};
    ASSERT_EQ(FinalInit(), QVX_OK);
    EXPECT_EQ(card().DaRing.capacity, c.channels * c.per_channel);
    EXPECT_EQ(card().DaStatus.word[1], c.per_channel);
    EXPECT_EQ(card().DaStatus.word[0], 1);
    EXPECT_EQ(card().DaStatus.word[14], 1);
    EXPECT_EQ(card().DaBlockSize.load(), 32);
  }
  kestro_sim_set_module(1, KESTRO_SIM_HISPEED);
  ASSERT_EQ(OpenCard(1), QVX_OK);
  g_cards[1].DaChannelCount = 1;
  ASSERT_EQ(FinalInit(), QVX_OK);
  EXPECT_EQ(g_cards[1].DaBlockSize.load(), 256);
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  ASSERT_EQ(SwitchCard(0), QVX_OK);

  // Without output channels the ring has no storage and the rest stays.
  card().DaChannelCount = 0;
  card().DaStatus.word[1] = 77;
  ASSERT_EQ(FinalInit(), QVX_OK);
  EXPECT_EQ(card().DaRing.buffer, nullptr);
  EXPECT_EQ(RingFreeSpace(&card().DaRing), 0);
  EXPECT_EQ(card().DaStatus.word[1], 77);
  EXPECT_EQ(card().DaBlockSize.load(), 32);

  // A latched card refuses the set-up and keeps its buffers and the module
  // hears nothing.
  std::uint16_t* const buffer = card().AdBuffer;
  card().ErrorLatch = 1;
  kestro_sim_log_clear();
  EXPECT_EQ(FinalInit(), QVX_FAILURE);
  EXPECT_EQ(card().AdBuffer, buffer);
  EXPECT_EQ(kestro_sim_log_size(), 0u);
}

TEST_F(SetupTest, ClearingTheListsResetsTheCardAndReportsDriverFailures) {
  ASSERT_EQ(Add_AD_Channel_to_ScanList(0, 0, 1, 0), QVX_OK);
  ASSERT_EQ(FinalInit(), QVX_OK);
  card().ErrorLatch = 1;
  kestro_sim_log_clear();
  EXPECT_EQ(ClearChannelLists(), QVX_OK);
  EXPECT_EQ(card().ErrorLatch.load(), 0);
  EXPECT_EQ(card().AdChannelCount, 0);
  EXPECT_NE(card().AdBuffer, nullptr);  // buffers outlive a clear
  EXPECT_EQ(CallLog(), (Log{"ZQ7_AD_ClearChannelList(0)", "ZQ7_DA_ClearChannelList(0)"}));

  kestro_sim_fail("ZQ7_AD_ClearChannelList", 0, 1);
  EXPECT_EQ(ClearChannelLists(), QVX_FAILURE);
  EXPECT_EQ(card().ErrorLatch.load(), 1);
  kestro_sim_fail("ZQ7_DA_ClearChannelList", 5, 1);
  EXPECT_EQ(ClearChannelLists(), QVX_FAILURE);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_DA_ClearChannelList"), 2u);
}

// A stop or set-up that cannot have AdMutex (card 0's worker holds it inside
// a driver call that outlasts every bound) changes nothing the worker could
// be using: the stop stops the module and leaves the staging buffers for a
// later set-up; FinalInit (of another card: the mutex is shared) sets up
// nothing and returns 1 without latching.
TEST_F(SetupTest, StopAndSetUpThatCannotHaveTheMutexChangeNothingAWorkerSees) {
  ASSERT_EQ(OpenCard(1), QVX_OK);
  ASSERT_EQ(OpenCard(0), QVX_OK);
  ASSERT_EQ(Add_AD_Channel_to_ScanList(0, 0, 0, 0), QVX_OK);
  ASSERT_EQ(Add_CT_Channel_to_ScanList(0), QVX_OK);
  ASSERT_EQ(SetADFrequency(1000), QVX_OK);
  ASSERT_EQ(FinalInit(), QVX_OK);
  std::uint16_t* const buffer = card().AdBuffer;
  // The first poll fails (latching the card) and its counter read then
  // holds the mutex for 6 s.
  kestro_sim_fail("ZQ7_AD_ReadData_MixedChannels", -1, 1);
  kestro_sim_delay("ZQ7_CT_GetDataFromFifo", 6000);
  ASSERT_EQ(StartCTforRead(), QVX_OK);
  ASSERT_TRUE(qvx_test::WaitFor([&] { return card().ErrorLatch.load() == 1; }));
  kestro_sim_log_clear();
  EXPECT_EQ(StopADCapture(), QVX_OK);
  EXPECT_EQ(card().AdBuffer, buffer);
  EXPECT_EQ(CallLog(), (Log{"ZQ7_AD_Stop(0)"}));

  ASSERT_EQ(SwitchCard(1), QVX_OK);
  ASSERT_EQ(Add_AD_Channel_to_ScanList(0, 0, 0, 0), QVX_OK);
  std::uint16_t* const earlier = g_cards[1].AdBuffer;
  kestro_sim_log_clear();
  EXPECT_EQ(FinalInit(), QVX_FAILURE);
  EXPECT_EQ(g_cards[1].AdBuffer, earlier);
  EXPECT_EQ(g_cards[1].ErrorLatch.load(), 0);
  EXPECT_EQ(kestro_sim_log_size(), 0u);
  kestro_sim_clear_faults();
  ASSERT_TRUE(qvx_test::WaitFor([] { return FinalInit() == QVX_OK; }, std::chrono::seconds(10)));
  EXPECT_EQ(g_cards[1].Staging.capacity[kAnalogFifo], std::size_t{kStagingScans});
}

}  // namespace
}  // namespace qvx

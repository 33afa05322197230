// White-box tests of the card set-up calls: FinalInit's buffers and output
// ring, the list clears, and the settings handed to the module.
#include <gtest/gtest.h>

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

std::string LastTrace() {
  char text[kTraceSize];
  CopyLastCallTrace(text, sizeof text);
  return text;
}

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
}

TEST_F(SetupTest, FinalInitAddsAnalogInputZeroOnlyForListsWithoutAnalogEntries) {
  ASSERT_EQ(SetADFrequency(1000), QVX_OK);
  card().CtChannelCount = 2;  // two counters, no analog entry
  kestro_sim_log_clear();
  ASSERT_EQ(FinalInit(), QVX_OK);
  EXPECT_EQ(CallLog(), (Log{"ZQ7_AD_AddChannellist(0, 0, 0, 0)", "ZQ7_AD_SetFrequency(0, 1000)",
                            "ZQ7_ConfigMeasure(0)"}));
  EXPECT_EQ(card().AutoAdChannel, 1);
  EXPECT_EQ(card().AdChannelCount, 1);
  EXPECT_EQ(card().AdBufferEntries, 1);
  EXPECT_EQ(card().CtBufferEntries, 2);
  EXPECT_NE(card().CtBuffer, nullptr);

  // A second FinalInit finds the analog entry: nothing added, flag back to 0;
  // enabled digital groups are counted again.
  card().DinGroupEnabled[0] = 1;
  card().DinGroupEnabled[2] = 1;
  ASSERT_EQ(FinalInit(), QVX_OK);
  EXPECT_EQ(card().AutoAdChannel, 0);
  EXPECT_EQ(card().AdChannelCount, 1);
  EXPECT_EQ(card().DinGroupCount, 2);
  ASSERT_EQ(FinalInit(), QVX_OK);
  EXPECT_EQ(card().DinGroupCount, 4);
  EXPECT_EQ(kestro_sim_ad_list_length(0), 1);

  // With only analog entries nothing is added.
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  ASSERT_EQ(Add_AD_Channel_to_ScanList(3, 0, 0, 0), QVX_OK);
  kestro_sim_log_clear();
  ASSERT_EQ(FinalInit(), QVX_OK);
  EXPECT_EQ(CallLog(), Log{"ZQ7_ConfigMeasure(0)"});
  EXPECT_EQ(card().AutoAdChannel, 0);
}

TEST_F(SetupTest, FinalInitOnALatchedCardChangesNothing) {
  ASSERT_EQ(Add_AD_Channel_to_ScanList(0, 0, 0, 0), QVX_OK);
  ASSERT_EQ(FinalInit(), QVX_OK);
  std::uint16_t* const buffer = card().AdBuffer;
  ASSERT_EQ(ConfigCard(5, 0, 0), QVX_ARGUMENT);  // latches
  Trace("begin marker");
  kestro_sim_log_clear();
  card().CtChannelCount = 1;
  card().AdChannelCount = 0;
  EXPECT_EQ(FinalInit(), QVX_FAILURE);
  EXPECT_EQ(card().AdBuffer, buffer);
  EXPECT_EQ(card().AutoAdChannel, 0);
  EXPECT_EQ(kestro_sim_log_size(), 0u);
  EXPECT_EQ(LastTrace(), "begin marker");  // FinalInit writes no trace line
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

  // The Ex form checks its number, reads no result and clears the current
  // card, whichever number it names.
  kestro_sim_log_clear();
  EXPECT_EQ(ClearChannelListsEx(20, 0, 0), QVX_ARGUMENT);
  EXPECT_EQ(LastTrace(), "begin ClearChannelListsEx (20, 0, 0)");
  EXPECT_EQ(card().ErrorLatch.load(), 1);
  EXPECT_EQ(kestro_sim_log_size(), 0u);
  kestro_sim_fail("ZQ7_DA_ClearChannelList", 0, 1);
  EXPECT_EQ(ClearChannelListsEx(5, 7, 9), QVX_OK);
  EXPECT_EQ(card().ErrorLatch.load(), 0);
  EXPECT_EQ(CallLog(), (Log{"ZQ7_AD_ClearChannelList(0)", "ZQ7_DA_ClearChannelList(0)"}));
}

TEST_F(SetupTest, SettingsCallsCheckTheirArgumentsAndLatchTheRightCard) {
  EXPECT_EQ(ConfigCard(1, 7, 9), QVX_OK);
  EXPECT_EQ(LastTrace(), "begin ConfigCard (1, 7, 9)");
  EXPECT_EQ(card().ConfigMode, 1u);
  EXPECT_EQ(CallLog(), Log{"ZQ7_SetDifferenz(0, 1)"});
  EXPECT_EQ(ConfigCard(2, 0, 0), QVX_ARGUMENT);
  EXPECT_EQ(card().ErrorLatch.load(), 1);
  EXPECT_EQ(ConfigCard(0, 0, 0), QVX_OK);  // the latch is not consulted
  ASSERT_EQ(ClearChannelLists(), QVX_OK);

  ASSERT_EQ(OpenCard(3), QVX_OK);  // card 3 is now current
  kestro_sim_log_clear();
  std::int32_t value = 0;
  EXPECT_EQ(SetDelay(0, 256), QVX_OK);
  EXPECT_EQ(kestro_sim_register(0, 10, &value), 0);
  EXPECT_EQ(value, 256);
  EXPECT_EQ(SetDelay(0, 257), QVX_ARGUMENT);
  EXPECT_EQ(LastTrace(), "begin SetDelay (0, 257)");
  EXPECT_EQ(card().ErrorLatch.load(), 1);
  EXPECT_EQ(SetDelay(0, 0), QVX_FAILURE);
  EXPECT_EQ(SetDelay(16, 0), QVX_ARGUMENT);
  EXPECT_EQ(g_cards[3].ErrorLatch.load(), 0);
  kestro_sim_fail("WriteAlteraValue", 0, 1);
  EXPECT_EQ(SetDelay(3, -1), QVX_ARGUMENT);
  ASSERT_EQ(ClearChannelLists(), QVX_OK);  // clears card 3
  EXPECT_EQ(SetDelay(3, 5), QVX_FAILURE);
  EXPECT_EQ(g_cards[3].ErrorLatch.load(), 1);
  ASSERT_EQ(ClearChannelLists(), QVX_OK);

  EXPECT_EQ(SetMasterSlaveFunction(3, 2), QVX_OK);
  EXPECT_EQ(kestro_sim_master_slave(3), 2);
  EXPECT_EQ(SetMasterSlaveFunction(3, 3), QVX_ARGUMENT);
  EXPECT_EQ(g_cards[3].ErrorLatch.load(), 1);
  EXPECT_EQ(SetMasterSlaveFunction(-1, 0), QVX_ARGUMENT);
  EXPECT_EQ(LastTrace(), "begin SetMasterSlaveFunction (-1, 0)");
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
}

TEST_F(SetupTest, ExternalTriggerFlagsStayOnTheNamedCard) {
  card().ErrorLatch = 1;  // not consulted
  EXPECT_EQ(PrepareExtTrigger(0, 3, 0, 2), QVX_OK);
  EXPECT_EQ(card().ExtTriggerA, 1);
  EXPECT_EQ(card().ExtTriggerB, 0);
  EXPECT_EQ(PrepareExtTrigger(5, 0, 1, 1), QVX_OK);
  EXPECT_EQ(g_cards[5].ExtTriggerA, 0);
  EXPECT_EQ(g_cards[5].ExtTriggerB, 1);
  EXPECT_EQ(card().DigitalWidthCode, 0u);
  EXPECT_EQ(PrepareExtTrigger(0, 1, 1, 0), QVX_ARGUMENT);
  EXPECT_EQ(LastTrace(), "begin PrepareExtTrigger (0, 1, 1, 0)");
  EXPECT_EQ(PrepareExtTrigger(16, 0, 0, 0), QVX_ARGUMENT);
  EXPECT_EQ(g_cards[5].ErrorLatch.load(), 0);
  EXPECT_EQ(kestro_sim_log_size(), 0u);
  ResetCardState(5);
}

TEST_F(SetupTest, ReSynchronizeCallsTheDriverOnlyWhenItHasTheEntry) {
  EXPECT_EQ(ReSynchronize(), QVX_OK);
  EXPECT_EQ(LastTrace(), "begin ReSynchronize USB-Bus");
  EXPECT_EQ(CallLog(), Log{"ZQ7_ReSynchronize()"});
  auto* const entry = g_driver.ZQ7_ReSynchronize;
  g_driver.ZQ7_ReSynchronize = nullptr;
  EXPECT_EQ(ReSynchronize(), QVX_OK);
  g_driver.ZQ7_ReSynchronize = entry;
  EXPECT_EQ(kestro_sim_call_count("ZQ7_ReSynchronize"), 1u);
}

}  // namespace
}  // namespace qvx

// White-box tests of the analog scan list and the acquisition rate: the
// module's limits and the first rate that wins.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/capture_control.h"
#include "frame/call.h"
#include "frame/card_state.h"
#include "support.h"

namespace qvx {
namespace {

using qvx_test::CallLog;
using Log = std::vector<std::string>;

class ScanRateTest : public qvx_test::SimTest {
 protected:
  // Opens card 0 with `module` and clears the call log.
  void Open(std::int32_t module) {
    kestro_sim_set_module(0, module);
    ASSERT_EQ(OpenCard(0), QVX_OK);
    kestro_sim_log_clear();
  }
  CardState& card() { return g_cards[0]; }
};

TEST_F(ScanRateTest, AggregateLimitCountsTheAnalogEntries) {
  Open(KESTRO_SIM_COUNTER);  // 4 inputs, 100 kHz
  for (int k = 0; k < 4; ++k) ASSERT_EQ(Add_AD_Channel_to_ScanList(k, 0, 0, 0), QVX_OK);
  EXPECT_EQ(SetADFrequency(25001), QVX_ARGUMENT);
  EXPECT_EQ(card().ErrorLatch.load(), 1);
  EXPECT_EQ(card().SampleRate, 0.0);
  EXPECT_EQ(SetADFrequency(25000), QVX_FAILURE);  // latched
  ASSERT_EQ(OpenCard(0), QVX_OK);
  for (int k = 0; k < 4; ++k) ASSERT_EQ(Add_AD_Channel_to_ScanList(k, 0, 0, 0), QVX_OK);
  EXPECT_EQ(SetADFrequency(25000), QVX_OK);
  EXPECT_EQ(card().SampleRate, 25000.0);
  EXPECT_EQ(kestro_sim_ad_frequency(0), 25000.0);

  // Without analog entries any rate from 10 Hz passes this check; 9 Hz never.
  ASSERT_EQ(OpenCard(0), QVX_OK);
  EXPECT_EQ(SetADFrequency(9), QVX_ARGUMENT);
  ASSERT_EQ(OpenCard(0), QVX_OK);
  EXPECT_EQ(SetADFrequency(10), QVX_OK);
  ASSERT_EQ(OpenCard(0), QVX_OK);
  EXPECT_EQ(SetADFrequency(100000), QVX_OK);
  // A product beyond 32 bits is refused, not wrapped into an accepted one.
  ASSERT_EQ(OpenCard(0), QVX_OK);
  for (int k = 0; k < 4; ++k) ASSERT_EQ(Add_AD_Channel_to_ScanList(0, 0, 0, 0), QVX_OK);
  EXPECT_EQ(SetADFrequency(1073741824), QVX_ARGUMENT);  // x 4 = 2^32
}

TEST_F(ScanRateTest, StrictModulesBoundThePerInputRate) {
  Open(KESTRO_SIM_STRICT);
  ModuleInfoRecord& info = card().ModuleInfo;
  info.bytes[140] = 16;  // 16 inputs at 100 kHz: 6250 Hz per input
  ASSERT_EQ(Add_AD_Channel_to_ScanList(0, 0, 0, 0), QVX_OK);
  EXPECT_EQ(SetADFrequency(6251), QVX_ARGUMENT);
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  ASSERT_EQ(Add_AD_Channel_to_ScanList(0, 0, 0, 0), QVX_OK);
  EXPECT_EQ(SetADFrequency(6250), QVX_OK);

  info.bytes[140] = 0;  // a module that reports no inputs has no per-input rate
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  EXPECT_EQ(SetADFrequency(10), QVX_ARGUMENT);
  EXPECT_EQ(card().ErrorLatch.load(), 1);
}

TEST_F(ScanRateTest, TheFirstAcceptedRateWinsUntilTheListsAreCleared) {
  Open(KESTRO_SIM_STANDARD);
  ASSERT_EQ(SetADFrequency(1000), QVX_OK);
  EXPECT_EQ(SetADFrequency(2000), QVX_OK);
  EXPECT_EQ(SetADFrequency(9), QVX_ARGUMENT);  // later calls still check
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  EXPECT_EQ(card().SampleRate, 0.0);
  EXPECT_EQ(card().ValuesPerPoll.load(), 0);
  ASSERT_EQ(SetADFrequency(4000), QVX_OK);
  EXPECT_EQ(card().SampleRate, 4000.0);
  EXPECT_EQ(card().ValuesPerPoll.load(), 200);
  EXPECT_EQ(CallLog(), (Log{"ZQ7_AD_SetFrequency(0, 1000)", "ZQ7_AD_ClearChannelList(0)",
                            "ZQ7_DA_ClearChannelList(0)", "ZQ7_AD_SetFrequency(0, 4000)"}));

  // A refused clock keeps the rate but not the poll size, and latches.
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  kestro_sim_fail("ZQ7_AD_SetFrequency", -1, 1);
  EXPECT_EQ(SetADFrequency(3000), QVX_FAILURE);
  EXPECT_EQ(card().SampleRate, 3000.0);
  EXPECT_EQ(card().ValuesPerPoll.load(), 0);
  EXPECT_EQ(card().ErrorLatch.load(), 1);
}

}  // namespace
}  // namespace qvx

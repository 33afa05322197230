#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "frame/call.h"
#include "frame/card_state.h"
#include "frame/driver.h"
#include "platform/platform.h"
#include "support.h"

namespace qvx {
namespace {

std::string LastTrace() {
  char text[kTraceSize];
  CopyLastCallTrace(text, sizeof text);
  return text;
}

using FrameTest = qvx_test::SimTest;

// Trace lines as the callers print them, refused calls included: integers
// wrapped to 32 bits, pointers as integers, doubles through %f, and a put
// that reads no further into the caller's buffer than its request.
TEST_F(FrameTest, TraceLines) {
  EXPECT_EQ(OpenCard(16), QVX_ARGUMENT);
  EXPECT_EQ(LastTrace(), "begin OpenCard (16)");
  EXPECT_EQ(CloseCard(-2147483647 - 1), QVX_ARGUMENT);
  EXPECT_EQ(LastTrace(), "begin CloseCard (-2147483648)");
  EXPECT_EQ(qvx_test::CallLog().size(), 0u);  // none reached the driver

  ASSERT_EQ(OpenCard(0), QVX_OK);
  ASSERT_EQ(Add_DA_Channel_to_ScanList(0), QVX_OK);
  ASSERT_EQ(SetDAFrequency(500), QVX_OK);
  ASSERT_EQ(FinalInit(), QVX_OK);
  Trace("begin marker");
  ASSERT_EQ(FinalInit(), QVX_OK);
  EXPECT_EQ(LastTrace(), "begin marker");  // FinalInit writes no line
  int32_t one = 1;
  const std::string at = qvx_test::Address(&one);
  const auto single = std::make_unique<uint16_t[]>(1);  // a second code would overrun
  single[0] = 0x1234;
  EXPECT_EQ(PutBinaryData(single.get(), 1, &one, 1), QVX_OK);
  EXPECT_EQ(LastTrace(), "begin PutBinaryData (4660, 1, " + at + ", 1)");
  const uint16_t pair[2] = {0x1234, 0xABCD};
  int32_t two = 2;
  EXPECT_EQ(PutBinaryData(pair, 3, &two, 0), QVX_OK);
  EXPECT_EQ(LastTrace(),
            "begin PutBinaryData (-1412623820, 3, " + qvx_test::Address(&two) + ", 0)");
  const double volts[1] = {2.5};
  EXPECT_EQ(PutScaledData(-7, volts, 1, &one, 0), QVX_OK);
  EXPECT_EQ(LastTrace(), "begin PutScaledData (-7, 2.500000, 1, " + at + ", 0)");
  EXPECT_EQ(PutScaledData(3, nullptr, 2, &one, 4), QVX_ARGUMENT);
  EXPECT_EQ(LastTrace(), "begin PutScaledData (3, 0.000000, 2, " + at + ", 4)");
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  EXPECT_EQ(SetDINFrequency(9.99), QVX_ARGUMENT);
  EXPECT_EQ(LastTrace(), "begin SetDINFrequency (9.990000)");
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  StartDAOutputEx(1, -2, 3);
  EXPECT_EQ(LastTrace(), "begin StartDAOutputEx (1, -2, 3)");
  StopDAOutput();
  EXPECT_EQ(LastTrace(), "begin StartDAOutputEx (1, -2, 3)");  // stop writes none
}

// Differential mode halves an odd input count toward zero (no simulated
// module has one: the record is changed by hand).
TEST_F(FrameTest, DifferentialModeHalvesAnOddInputCountTowardZero) {
  ASSERT_EQ(OpenCard(2), QVX_OK);
  g_cards[2].ModuleInfo.bytes[140] = 5;
  uint32_t code = 0;
  EXPECT_EQ(CaptureOneChannel(1, 1, 0, nullptr, &code), QVX_OK);
  EXPECT_EQ(CaptureOneChannel(2, 1, 0, nullptr, &code), QVX_ARGUMENT);
}

// A stop that the latch ends at once leaves no poll behind it: a worker
// that was waiting for the mutex finds its half switched off once it has it,
// and touches neither the driver nor the buffers the stop frees. (The test
// holds the card's mutex itself, which no application can.)
TEST_F(FrameTest, NoPollFollowsALatchedStop) {
  ASSERT_EQ(OpenCard(3), QVX_OK);
  CardState& c = g_cards[3];
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(qvx_test::All({ClearChannelLists(), CT_AddChannel_To_CTScanlist(0),
                             SetCTFrequency(1000.0), FinalInit(), StartCTforRead()}),
              QVX_OK);
    EXPECT_EQ(Add_CT_Channel_to_ScanList(-1), QVX_ARGUMENT);  // latches
    // Hold the mutex until the worker waits for it, then stop and let go.
    ASSERT_EQ(platform::MutexWait(c.AdMutex, 1000), platform::WaitResult::kOwned);
    platform::SleepMs(3);
    kestro_sim_log_clear();
    ASSERT_EQ(StopCTCapture(), QVX_OK);
    platform::MutexRelease(c.AdMutex);
    platform::SleepMs(10);
    const std::vector<std::string> log = qvx_test::CallLog();
    const auto stop = std::find(log.begin(), log.end(), "ZQ7_AD_Stop(3)");
    ASSERT_NE(stop, log.end());
    EXPECT_EQ(std::vector<std::string>(stop + 1, log.end()), std::vector<std::string>{}) << round;
  }
  ASSERT_EQ(CloseCard(3), QVX_OK);
  c.CtPollEnable = 0;  // nothing else clears it
}

using WorkerTest = qvx_test::SimTest;

// An idle worker sleeps until it is woken; every call that switches a half
// off wakes it, so it marks the half idle again as it always did.
TEST_F(WorkerTest, AnIdleWorkerAcknowledgesEveryCallThatSwitchesAHalfOff) {
  ASSERT_EQ(OpenCard(0), QVX_OK);
  const auto idle = [] { return g_cards[0].AdRunState == -1 && g_cards[0].DaRunState == -1; };
  const struct {
    const char* name;
    void (*call)();
  } calls[] = {
      {"StopDAOutput", [] { StopDAOutput(); }},
      {"ClearChannelLists", [] { ClearChannelLists(); }},
      {"StopADCapture of a latched card",
       [] {
         g_cards[0].ErrorLatch = 1;
         StopADCapture();
       }},
  };
  for (const auto& [name, call] : calls) {
    ASSERT_TRUE(qvx_test::WaitFor(idle)) << name;
    call();
    EXPECT_TRUE(qvx_test::WaitFor(idle)) << name;
  }
}

}  // namespace
}  // namespace qvx

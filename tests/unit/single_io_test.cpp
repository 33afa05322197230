// White-box checks of the single-value analog and static digital calls and
// the reserved entry points: trace lines, and module counts the simulated
// catalogue does not offer.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "frame/call.h"
#include "frame/card_state.h"
#include "support.h"

namespace qvx {
namespace {

std::string LastTrace() {
  char text[kTraceSize];
  CopyLastCallTrace(text, sizeof text);
  return text;
}

class SingleIoTest : public qvx_test::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_EQ(OpenCard(2), QVX_OK);
    kestro_sim_log_clear();
  }
  CardState& card() { return g_cards[2]; }
};

TEST_F(SingleIoTest, EveryCallLeavesItsTraceLineEvenWhenRefusedOrLatched) {
  double v = 0;
  uint32_t b = 0;
  const struct {
    std::int32_t status;
    std::function<std::int32_t()> call;
    const char* line;
  } calls[] = {
      {2, [&] { return CaptureOneChannel(-3, 1, 2, &v, &b); },
       "begin CaptureOneChannel (-3, 1, 2, *ScaledValue, *BinaryValue)"},
      {1, [&] { return CaptureOneChannelEx(1, 0, 3, 4, 5, 6, nullptr, nullptr); },
       "begin CaptureOneChannelEx (1, 0, 3, 4, 5, 6, *ScaledValue, *BinaryValue)"},
      {1, [] { return PutOneChannel(0, -7, 2.5); }, "begin PutOneChannel (0, -7, 2.500000)"},
      {1, [] { return WriteDigitalBit(17, -5); }, "begin WriteDigitalBit (17, -5)"},
      {1, [] { return WriteDigitalPort(3, 4, 0xFFFFFFFFu); }, "begin WriteDigitalPort (3, 4, -1)"},
      {1, [] { return SetDigitalDirection(1, 0); }, "begin SetDigitalDirection (1, 0)"},
      {1, [] { return SetDigitalPortDirection(0, 4, 1); },
       "begin SetDigitalPortDirection (0, 4, 1)"},
      {0, [&] { return ReadDigitalBit(5, &b); }, "begin ReadDigitalBit (5, *Val)"},
      {0, [&] { return ReadDigitalPort(8, 9, &b); }, "begin ReadDigitalPort (8, 9, *Val)"},
      {0, [] { return ProgramUserTimerFrequency(-1, 1000); },
       "begin ProgramUserTimerFrequency (-1, 1000)"},
  };
  for (const auto& c : calls) {  // the first call refuses and latches the card
    EXPECT_EQ(c.call(), c.status) << c.line;
    EXPECT_EQ(LastTrace(), c.line);
  }
  EXPECT_EQ(PutOneChannel(0, 0, std::nan("")), QVX_FAILURE);
  const std::string nan_line = LastTrace();  // the C library spells NaN its own way
  EXPECT_EQ(nan_line.rfind("begin PutOneChannel (0, 0, ", 0), 0u) << nan_line;
  // The other reserved entry points write no line.
  EXPECT_EQ(StartUserTimer(1, 2), QVX_OK);
  EXPECT_EQ(PrepareFFTEntry(16, 0, 0, 0, 0, 0, 0, 0), QVX_ARGUMENT);
  EXPECT_EQ(LastTrace(), nan_line);
}

TEST_F(SingleIoTest, OddInputCountHalvesTowardZeroInDifferentialMode) {
  card().ModuleInfo.bytes[140] = 5;
  uint32_t b = 0;
  EXPECT_EQ(CaptureOneChannel(1, 1, 0, nullptr, &b), QVX_OK);
  EXPECT_EQ(CaptureOneChannel(2, 1, 0, nullptr, &b), QVX_ARGUMENT);
  EXPECT_EQ(card().ErrorLatch.load(), 1);
}

TEST_F(SingleIoTest, ModuleWithoutOutputsRefusesEveryChannel) {
  card().ModuleInfo.bytes[144] = 0;
  EXPECT_EQ(PutOneChannel(0, 0, 0.0), QVX_ARGUMENT);
  EXPECT_EQ(card().ErrorLatch.load(), 1);
  EXPECT_EQ(kestro_sim_log_size(), 0u);
}

}  // namespace
}  // namespace qvx

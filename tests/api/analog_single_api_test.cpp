// Single conversions and single output values on the simulated module.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "support.h"

namespace {

using qvx_test::CallLog;
using Log = std::vector<std::string>;

class AnalogSingleApi : public qvx_test::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    Reopen();
  }
  // Opens card 0 afresh, which clears its latch.
  void Reopen() {
    ASSERT_EQ(OpenCard(0), QVX_OK);
    kestro_sim_log_clear();
  }
};

TEST_F(AnalogSingleApi, DifferentialModeHalvesTheChannelsAndSwitchesFirst) {
  uint32_t code = 0;
  EXPECT_EQ(CaptureOneChannel(15, 0, 0, nullptr, &code), QVX_OK);
  EXPECT_EQ(CaptureOneChannel(7, 1, 0, nullptr, &code), QVX_OK);
  EXPECT_EQ(CallLog(), (Log{"ZQ7_AD_TriggerChannel(0, 15, 0, 0)", "ZQ7_SetDifferenz(0, 1)",
                            "ZQ7_AD_TriggerChannel(0, 7, 0, 0)"}));
  Reopen();
  EXPECT_EQ(CaptureOneChannel(8, 1, 0, nullptr, &code), QVX_ARGUMENT);  // 8 pairs: 0..7
  EXPECT_EQ(CaptureOneChannel(0, 0, 0, nullptr, &code), QVX_FAILURE);   // latched
  EXPECT_EQ(CallLog(), Log{"ZQ7_SetDifferenz(0, 1)"});
  Reopen();
  EXPECT_EQ(CaptureOneChannelEx(16, 0, 0, 0, 0, 0, nullptr, &code), QVX_ARGUMENT);
  EXPECT_EQ(kestro_sim_log_size(), 0u);
}

TEST_F(AnalogSingleApi, RawCodeAndVoltsWithoutRangeFactorAndLoopBack) {
  ASSERT_EQ(kestro_sim_set_signal(0, 5, KESTRO_SIM_SIGNAL_DC, 0.0, 5.0, 0.0), 0);
  double volts = 0;
  uint32_t code = 0;
  EXPECT_EQ(CaptureOneChannelEx(5, 0, 77, 3, 88, 99, &volts, &code), QVX_OK);
  EXPECT_EQ(code, 49152u);
  EXPECT_EQ(volts, 5.0);
  EXPECT_EQ(CaptureOneChannel(6, 0, 1, nullptr, nullptr), QVX_OK);  // still converts
  EXPECT_EQ(CallLog(),
            (Log{"ZQ7_AD_TriggerChannel(0, 5, 3, 0)", "ZQ7_AD_TriggerChannel(0, 6, 1, 0)"}));
  // Output 0 loops back to input 0.
  EXPECT_EQ(PutOneChannel(0, 0, 2.5), QVX_OK);
  EXPECT_EQ(CaptureOneChannel(0, 0, 0, &volts, &code), QVX_OK);
  EXPECT_EQ(code, 40960u);
  EXPECT_EQ(volts, 2.5);
}

TEST_F(AnalogSingleApi, OutputVoltagesBeyondTheSpanAreRefused) {
  const double kInf = std::numeric_limits<double>::infinity();
  const struct {
    int32_t channel;
    double volts;
  } refused[] = {{0, 10.000001}, {0, -10.000001}, {0, std::nan("")}, {0, kInf},
                 {0, -kInf},     {4, 0.0},        {-1, 0.0}};
  for (const auto& r : refused) {
    Reopen();
    EXPECT_EQ(PutOneChannel(r.channel, 0, r.volts), QVX_ARGUMENT) << r.channel << " " << r.volts;
    EXPECT_EQ(PutOneChannel(0, 0, 1.0), QVX_FAILURE);  // latched
    EXPECT_EQ(kestro_sim_log_size(), 0u);
  }
  EXPECT_EQ(kestro_sim_da_code(0, 0), 32768);
}

}  // namespace

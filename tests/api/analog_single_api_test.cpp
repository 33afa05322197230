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
    ASSERT_EQ(OpenCard(0), QVX_OK);
    kestro_sim_log_clear();
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
  for (int32_t channel : {8, 99, -1}) {
    Reopen();
    EXPECT_EQ(CaptureOneChannel(channel, 1, 0, nullptr, &code), QVX_ARGUMENT);
    EXPECT_EQ(CaptureOneChannel(0, 0, 0, nullptr, &code), QVX_FAILURE);  // latched
    EXPECT_EQ(CallLog(), Log{"ZQ7_SetDifferenz(0, 1)"}) << channel;
  }
  for (int32_t channel : {16, -1}) {
    Reopen();
    EXPECT_EQ(CaptureOneChannelEx(channel, 0, 0, 0, 0, 0, nullptr, &code), QVX_ARGUMENT);
    EXPECT_EQ(kestro_sim_log_size(), 0u) << channel;
  }
}

TEST_F(AnalogSingleApi, DifferentialModeStaysUntilConfiguredOtherwise) {
  uint32_t code = 0;
  ASSERT_EQ(CaptureOneChannel(1, 1, 0, nullptr, &code), QVX_OK);
  kestro_sim_log_clear();
  EXPECT_EQ(CaptureOneChannel(1, 0, 0, nullptr, &code), QVX_OK);
  EXPECT_EQ(CallLog(), Log{"ZQ7_AD_TriggerChannel(0, 1, 0, 0)"});
  EXPECT_EQ(kestro_sim_differential(0), 1);
  // Channel 12 passes the single-ended bound, but the differential module
  // refuses it: a driver failure, with the outputs left alone.
  double volts = 123.0;
  code = 77;
  EXPECT_EQ(CaptureOneChannel(12, 0, 0, &volts, &code), QVX_FAILURE);
  EXPECT_EQ(volts, 123.0);
  EXPECT_EQ(code, 77u);
  EXPECT_EQ(CaptureOneChannel(1, 0, 0, &volts, &code), QVX_FAILURE);
}

TEST_F(AnalogSingleApi, RawCodeAndVoltsWithoutRangeFactor) {
  ASSERT_EQ(kestro_sim_set_signal(0, 5, KESTRO_SIM_SIGNAL_DC, 0.0, 5.0, 0.0), 0);
  ASSERT_EQ(kestro_sim_set_signal(0, 6, KESTRO_SIM_SIGNAL_DC, 0.0, 0.0, 0.0), 0);
  double volts = 0;
  uint32_t code = 0;
  EXPECT_EQ(CaptureOneChannelEx(5, 0, 77, 3, 88, 99, &volts, &code), QVX_OK);
  EXPECT_EQ(code, 49152u);
  EXPECT_EQ(volts, 5.0);
  EXPECT_EQ(CaptureOneChannel(6, 0, 2, &volts, &code), QVX_OK);
  EXPECT_EQ(code, 32768u);
  EXPECT_EQ(volts, 0.0);
  EXPECT_EQ(CaptureOneChannel(6, 0, 1, nullptr, nullptr), QVX_OK);  // still converts
  EXPECT_EQ(CallLog(),
            (Log{"ZQ7_AD_TriggerChannel(0, 5, 3, 0)", "ZQ7_AD_TriggerChannel(0, 6, 2, 0)",
                 "ZQ7_AD_TriggerChannel(0, 6, 1, 0)"}));
}

TEST_F(AnalogSingleApi, OutputLoopsBackToTheInputExactly) {
  EXPECT_EQ(PutOneChannel(0, 0, 2.5), QVX_OK);
  double volts = 0;
  uint32_t code = 0;
  EXPECT_EQ(CaptureOneChannel(0, 0, 0, &volts, &code), QVX_OK);
  EXPECT_EQ(code, 40960u);
  EXPECT_EQ(volts, 2.5);
}

TEST_F(AnalogSingleApi, OutputVoltagesAtAndBeyondTheSpan) {
  const struct {
    double volts;
    int32_t code;
  } accepted[] = {{-10.0, 0}, {0.0, 32768}, {5.0, 49152}, {-5.0, 16384}, {10.0, 65535}};
  int32_t second = -5;
  for (const auto& a : accepted) {
    kestro_sim_log_clear();
    EXPECT_EQ(PutOneChannel(3, second *= 7, a.volts), QVX_OK) << a.volts;
    EXPECT_EQ(kestro_sim_da_code(0, 3), a.code) << a.volts;
    EXPECT_EQ(CallLog(), Log{"ZQ7_DA_TriggerChannel(0, 3, " + std::to_string(a.code) + ")"});
  }
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

// Single values on the simulated modules: single conversions and single
// output values; static digital I/O (the read-modify-write of port words, the
// line offset of modules with dedicated inputs, and the checks).
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

// The standard module: 24 lines, the driver reports 12 inputs and 12 outputs.
class DigitalStaticApi : public qvx_test::SimTest {
 protected:
  void Open(int32_t module) {
    ASSERT_EQ(kestro_sim_set_module(0, module), 0);
    ASSERT_EQ(OpenCard(0), QVX_OK);
    kestro_sim_log_clear();
  }
  void SetUp() override {
    SimTest::SetUp();
    Open(KESTRO_SIM_STANDARD);
  }
};

TEST_F(DigitalStaticApi, WriteBitChangesOneBitOfThePortWord) {
  EXPECT_EQ(kestro_sim_set_digital_input_word(0, 0, 0x8001), 0);
  EXPECT_EQ(WriteDigitalBit(12, 1), QVX_OK);  // the reported output count itself
  EXPECT_EQ(CallLog(), (Log{"ZQ7_GetNumOfTTLOut(0)", "ZQ7_TTL_Getchannel(0, 12)",
                            "ZQ7_GetNumOfTTLIn(0)", "ZQ7_TTL_PutChannel(0, 12, 36865)"}));
  kestro_sim_log_clear();
  EXPECT_EQ(WriteDigitalBit(13, 1), QVX_ARGUMENT);
  EXPECT_EQ(WriteDigitalBit(0, 1), QVX_FAILURE);
  EXPECT_EQ(CallLog(), Log{"ZQ7_GetNumOfTTLOut(0)"});

  Open(KESTRO_SIM_STANDARD);
  kestro_sim_fail("ZQ7_GetNumOfTTLOut", 17, -1);  // a driver reporting 17 outputs
  EXPECT_EQ(kestro_sim_set_digital_input_word(0, 1, 0xA5), 0);
  EXPECT_EQ(WriteDigitalBit(17, 7), QVX_OK);
  EXPECT_EQ(kestro_sim_digital_output_word(0, 1), 0xA7);
  EXPECT_EQ(kestro_sim_set_digital_input_word(0, 1, 0xFF), 0);
  EXPECT_EQ(WriteDigitalBit(17, -5), QVX_OK);
  EXPECT_EQ(kestro_sim_digital_output_word(0, 1), 0xFD);
  EXPECT_EQ(WriteDigitalBit(-1, 1), QVX_ARGUMENT);
}

TEST_F(DigitalStaticApi, WritePortKeepsTheLinesOutsideTheRun) {
  EXPECT_EQ(kestro_sim_set_digital_input_word(0, 0, 0x8001), 0);
  EXPECT_EQ(WriteDigitalPort(3, 4, 0xFF), QVX_OK);
  EXPECT_EQ(kestro_sim_digital_output_word(0, 0), 0x8079);
  EXPECT_EQ(WriteDigitalPort(5, 0, 0xFFFF), QVX_OK);  // writes the word back unchanged
  EXPECT_EQ(WriteDigitalPort(20, 4, 0x5), QVX_OK);    // bits 4..7 of group 1
  EXPECT_EQ(
      CallLog(),
      (Log{"ZQ7_TTL_Getchannel(0, 3)", "ZQ7_GetNumOfTTLIn(0)", "ZQ7_TTL_PutChannel(0, 3, 32889)",
           "ZQ7_TTL_Getchannel(0, 5)", "ZQ7_GetNumOfTTLIn(0)", "ZQ7_TTL_PutChannel(0, 5, 32769)",
           "ZQ7_TTL_Getchannel(0, 20)", "ZQ7_GetNumOfTTLIn(0)", "ZQ7_TTL_PutChannel(0, 20, 80)"}));
  EXPECT_EQ(WriteDigitalPort(20, 5, 0), QVX_ARGUMENT);  // beyond the 24 lines
}

TEST_F(DigitalStaticApi, DedicatedInputsAreDroppedFromThePortWord) {
  for (const auto& module : {std::pair{KESTRO_SIM_TTL_IN4, 4}, {KESTRO_SIM_TTL_IN8, 8}}) {
    Open(module.first);
    EXPECT_EQ(kestro_sim_set_dedicated_inputs(0, 0xFF), 0);
    EXPECT_EQ(kestro_sim_set_digital_input_word(0, 0, 0x1234), 0);
    EXPECT_EQ(WriteDigitalPort(0, 0, 0), QVX_OK);
    EXPECT_EQ(kestro_sim_digital_output_word(0, 0), 0x1234) << module.second;
    EXPECT_EQ(WriteDigitalPort(3, 4, 0xFF), QVX_OK);
    EXPECT_EQ(kestro_sim_digital_output_word(0, 0), 0x127C) << module.second;
    EXPECT_EQ(WriteDigitalBit(2, 0), QVX_OK);  // the lines are inputs: read 0x1234
    EXPECT_EQ(kestro_sim_digital_output_word(0, 0), 0x1230) << module.second;
  }
}

TEST_F(DigitalStaticApi, DirectionsOfModulesWithEightInputsAreOffset) {
  Open(KESTRO_SIM_TTL_IN8);
  EXPECT_EQ(SetDigitalPortDirection(0, 4, 1), QVX_OK);
  EXPECT_EQ(CallLog(), (Log{"ZQ7_GetNumOfTTLIn(0)", "ZQ7_TTL_SetDirection(0, 8, 1)",
                            "ZQ7_TTL_SetDirection(0, 9, 1)", "ZQ7_TTL_SetDirection(0, 10, 1)",
                            "ZQ7_TTL_SetDirection(0, 11, 1)"}));
  EXPECT_EQ(kestro_sim_digital_direction(0, 11), 1);
  EXPECT_EQ(SetDigitalDirection(8, 0), QVX_OK);  // the input count itself
  EXPECT_EQ(CallLog().back(), "ZQ7_TTL_SetDirection(0, 16, 0)");
  EXPECT_EQ(SetDigitalDirection(9, 0), QVX_ARGUMENT);
  // A failing line does not stop the run, nor latch the card.
  Open(KESTRO_SIM_TTL_IN8);
  kestro_sim_fail("ZQ7_TTL_SetDirection", -1, 1);
  EXPECT_EQ(SetDigitalPortDirection(0, 16, 0), QVX_OK);
  EXPECT_EQ(kestro_sim_log_size(), 1u + 16u);
  EXPECT_EQ(SetDigitalPortDirection(0, 17, 1), QVX_ARGUMENT);  // 8 + 17 > 24 lines
}

}  // namespace

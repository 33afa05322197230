// The simulated module's clocked output, on its manual clock: consumption in
// whole frames, the record, loop-back and underruns.
#include <gtest/gtest.h>

#include <vector>

#include "sim_test_support.h"

namespace {

class SimOutput : public SimFixture {
 protected:
  // Outputs 2 and 0, in that order, at 100 frames per second.
  void SetUp() override {
    SimFixture::SetUp();
    ASSERT_EQ(kestro_sim_set_da_clock(0, KESTRO_SIM_CLOCK_MANUAL), 0);
    ZQ7_DA_AddChannellist(0, 2);
    ZQ7_DA_AddChannellist(0, 0);
    ZQ7_DA_SetFrequency(0, 100.0);
  }

  static kestro_sim_output_status Status() {
    kestro_sim_output_status status{};
    EXPECT_EQ(kestro_sim_output(0, &status), 0);
    return status;
  }
  static std::vector<uint16_t> Codes(uint16_t from, int count) {
    std::vector<uint16_t> codes(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) codes[i] = static_cast<uint16_t>(from + i);
    return codes;
  }
  static std::vector<uint16_t> Record(uint64_t first, int64_t count) {
    std::vector<uint16_t> codes(static_cast<size_t>(count));
    EXPECT_EQ(kestro_sim_da_record(0, first, codes.data(), count), count);
    return codes;
  }
};

TEST_F(SimOutput, FramesLeaveInOrderFromTheFirstCodeOnAndReachTheOutputs) {
  EXPECT_EQ(kestro_sim_da_advance(0, 1), -1);  // stopped
  ASSERT_EQ(ZQ7_DA_Start(0), 0);
  EXPECT_EQ(ZQ7_DA_GetStatus(0).word[0], 1);
  EXPECT_EQ(kestro_sim_da_advance(0, 50), 0);  // the clock waits for data
  EXPECT_EQ(Status().underruns, 0u);
  const std::vector<uint16_t> codes = Codes(1000, 11);  // 5 frames and a half
  ASSERT_EQ(ZQ7_DA_PutData(0, codes.data(), 11), 0);
  ASSERT_EQ(kestro_sim_da_advance(0, 3), 0);
  EXPECT_EQ(Status().output, 6u);
  EXPECT_EQ(Record(0, 6), Codes(1000, 6));
  EXPECT_EQ(kestro_sim_da_code(0, 2), 1004);
  EXPECT_EQ(kestro_sim_da_code(0, 0), 1005);

  // Three frames due on two whole ones: an underrun after code 10.
  ASSERT_EQ(kestro_sim_da_advance(0, 3), 0);
  kestro_sim_output_status status = Status();
  EXPECT_EQ(status.output, 10u);
  EXPECT_EQ(status.queued, 1);
  EXPECT_EQ(status.underruns, 1u);
  EXPECT_EQ(status.first_underrun, 10);
  // The clock waits again until data comes; a stop keeps the queue.
  ASSERT_EQ(kestro_sim_da_advance(0, 5), 0);
  EXPECT_EQ(Status().underruns, 1u);
  ASSERT_EQ(ZQ7_DA_PutData(0, codes.data(), 1), 0);
  ASSERT_EQ(ZQ7_DA_Stop(0), 0);
  EXPECT_EQ(kestro_sim_da_advance(0, 1), -1);
  ASSERT_EQ(ZQ7_DA_Start(0), 0);  // queued codes start the clock at once
  ASSERT_EQ(kestro_sim_da_advance(0, 1), 0);
  status = Status();
  EXPECT_EQ(status.output, 12u);
  EXPECT_EQ(status.received, 12u);
  EXPECT_EQ(Record(10, 2), (std::vector<uint16_t>{1010, 1000}));
  EXPECT_EQ(kestro_sim_da_record(0, 12, nullptr, 0), 0);
  EXPECT_EQ(kestro_sim_da_record(0, 0, nullptr, 1), -1);

  // The looped-back input of output 0 converts its last code.
  EXPECT_EQ(ZQ7_AD_TriggerChannel(0, 0, 0, 0), 1000);
}

}  // namespace

// Tests of the simulated module's clocked capture, through its exports as the
// library sees them, on the manual clock.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sim_test_support.h"

namespace {

kestro_sim_capture_status Status(int32_t card) {
  kestro_sim_capture_status status{};
  EXPECT_EQ(kestro_sim_capture(card, &status), 0);
  return status;
}

int32_t Fetch(int32_t card, int32_t wanted, int32_t* moved = nullptr) {
  int32_t count = wanted;
  const int32_t result = ZQ7_AD_ReadData_MixedChannels(card, &count);
  if (moved != nullptr) *moved = count;
  return result;
}

class SimCapture : public SimFixture {
 protected:
  // Card 0 with `inputs` analog entries (inputs 0, 1, ...), on the manual
  // clock in pattern mode, started at 1000 Hz.
  void StartManual(int inputs) {
    for (int k = 0; k < inputs; ++k) ASSERT_EQ(ZQ7_AD_AddChannellist(0, k, 0, 0), 0);
    ASSERT_EQ(ZQ7_AD_SetFrequency(0, 1000.0), 0);
    ASSERT_EQ(kestro_sim_set_clock(0, KESTRO_SIM_CLOCK_MANUAL), 0);
    ASSERT_EQ(kestro_sim_set_pattern(0, 1), 0);
    ASSERT_EQ(ZQ7_AD_Start(0), 0);
  }
};

TEST_F(SimCapture, FetchedScansFillTheThreeFifosInTheirLayouts) {
  ZQ7_CT_AddChannelList(0, 3);
  ZQ7_CT_AddChannelList(0, 1);
  ZQ7_TTL_AddChannelList(0, 17);  // group 1
  ZQ7_TTL_AddChannelList(0, 2);   // group 0
  StartManual(3);
  const kestro_sim_capture_status widths = Status(0);
  EXPECT_EQ(widths.ad_width, 3);
  EXPECT_EQ(widths.ct_width, 2);
  EXPECT_EQ(widths.din_width, 2);

  ASSERT_EQ(kestro_sim_advance(0, 10), 0);
  int32_t moved = 0;
  ASSERT_EQ(Fetch(0, 4, &moved), 0);
  EXPECT_EQ(moved, 4);
  ASSERT_EQ(Fetch(0, 100, &moved), 0);  // only 6 are left
  EXPECT_EQ(moved, 6);
  EXPECT_EQ(ZQ7_AD_GetFifoStatus(0), 10);
  EXPECT_EQ(ZQ7_CT_GetFifoStatus(0), 10);
  EXPECT_EQ(ZQ7_DIN_GetFifoStatus(0), 10);

  // The FIFOs drain independently, scan-major.
  std::vector<uint16_t> codes(3 * 7);
  ASSERT_EQ(ZQ7_AD_GetDataFromFifo(0, 7, codes.data()), 0);
  for (int i = 0; i < 7; ++i) {
    for (int k = 0; k < 3; ++k) EXPECT_EQ(codes[i * 3 + k], kestro_sim_pattern_ad(i, k));
  }
  std::vector<uint32_t> counts(2 * 4);
  ASSERT_EQ(ZQ7_CT_GetDataFromFifo(0, 4, counts.data()), 0);
  for (int i = 0; i < 4; ++i) {
    for (int e = 0; e < 2; ++e) EXPECT_EQ(counts[i * 2 + e], kestro_sim_pattern_ct(i, e));
  }
  EXPECT_EQ(ZQ7_AD_GetFifoStatus(0), 3);
  EXPECT_EQ(ZQ7_CT_GetFifoStatus(0), 6);
  ASSERT_EQ(ZQ7_AD_GetDataFromFifo(0, 3, codes.data()), 0);
  EXPECT_EQ(codes[0], kestro_sim_pattern_ad(7, 0));
  EXPECT_EQ(codes[8], kestro_sim_pattern_ad(9, 2));

  uint16_t words[2 * 10];
  ASSERT_EQ(ZQ7_DIN_GetDataFromFifo(0, 10, words), 0);
  EXPECT_EQ(words[0], kestro_sim_pattern_din(0, 0));
  EXPECT_EQ(words[19], kestro_sim_pattern_din(9, 1));
  EXPECT_EQ(ZQ7_AD_GetDataFromFifo(0, 1, codes.data()), -1);
}

TEST_F(SimCapture, FullBoardMemoryLosesTheOldestScansAndFailsTheNextFetchOnce) {
  ASSERT_EQ(kestro_sim_set_board_memory(0, 100), 0);
  StartManual(2);
  kestro_sim_advance(0, 150);
  kestro_sim_capture_status status = Status(0);
  EXPECT_EQ(status.board_lost, 50u);
  EXPECT_EQ(status.board_scans, 100u);

  int32_t moved = -1;
  EXPECT_NE(Fetch(0, 1000, &moved), 0);
  EXPECT_EQ(moved, 0);
  EXPECT_EQ(ZQ7_AD_GetFifoStatus(0), 0);
  ASSERT_EQ(Fetch(0, 1000, &moved), 0);  // the loss was reported: fetching goes on
  EXPECT_EQ(moved, 100);
  uint16_t codes[2];
  ASSERT_EQ(ZQ7_AD_GetDataFromFifo(0, 1, codes), 0);
  EXPECT_EQ(codes[1], kestro_sim_pattern_ad(50, 1));  // scans 0..49 were overwritten
}

}  // namespace

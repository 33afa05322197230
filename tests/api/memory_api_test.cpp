// A memory measurement end to end, through libquorvex as an application uses
// it: the simulated module's real-time clock in pattern mode, fetched in
// blocks until the target is passed, with every value checked against the
// scan it must come from.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "support.h"

namespace {

using qvx_test::kSanitized;

constexpr int kInputs = 8;
constexpr int32_t kBlock = 4000;
// 50 kHz with a target of two seconds of scans; a fifth of both under the
// sanitizers.
constexpr int32_t kRate = kSanitized ? 10000 : 50000;
constexpr int32_t kTarget = kSanitized ? 20000 : 100000;

using MemoryApi = qvx_test::SimTest;

TEST_F(MemoryApi, AMeasurementDeliversEveryScanInOrderUntilItsTargetIsPassed) {
  qvx_test::OpenInputs(0, kInputs, kRate);
  ASSERT_EQ(StartMemoryMeasurement(0, 1, kTarget, 5), QVX_OK);

  const double factors[4] = {1.0, 0.5, 0.25, 0.125};
  std::vector<double> volts(kInputs * kBlock);
  std::vector<int32_t> wide(kInputs * kBlock);
  uint64_t next = 0;
  int64_t wrong = 0;
  // Scaled and binary reads in both modes, in turn, every few milliseconds.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (int turn = 0; GetMemoryMeasurementStatus(0) == QVX_MEM_RUNNING; ++turn) {
    ASSERT_LT(std::chrono::steady_clock::now(), end) << next << " scans fetched";
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const int32_t mode = turn / 2 % 2;
    int32_t got = -1;
    if (turn % 2 == 0) {
      ASSERT_EQ(GetScaledDataFromMemoryMeasurement(0, 0, kInputs, kBlock, volts.data(), mode, &got),
                QVX_OK);
      for (int32_t v = 0; v < got * kInputs; ++v) {
        const uint16_t code = kestro_sim_pattern_ad(next + v / kInputs, v % kInputs);
        wrong += volts[v] != (code / 3276.8 - 10.0) * factors[v % kInputs % 4];
      }
    } else {
      ASSERT_EQ(GetBinaryDataFromMemoryMeasurement(0, kInputs, kBlock, wide.data(), mode, &got),
                QVX_OK);
      for (int32_t v = 0; v < got; ++v) {
        const uint16_t code = kestro_sim_pattern_ad(next + v / kInputs, v % kInputs);
        wrong += wide[v] != code * 16 - 524288;
      }
      got /= kInputs;
    }
    next += static_cast<uint64_t>(got);
  }
  EXPECT_EQ(GetMemoryMeasurementStatus(0), QVX_MEM_TARGET_PASSED);
  EXPECT_GT(next, static_cast<uint64_t>(kTarget));
  EXPECT_EQ(wrong, 0);
  int32_t use = 0, size = 0;
  ASSERT_EQ(ReadMemoryMeasurementStatus(0, &use, &size), QVX_OK);
  EXPECT_EQ(use, kRate * kInputs * 10 - size);

  ASSERT_EQ(StopMemoryMeasurement(0), QVX_OK);
  EXPECT_EQ(GetMemoryMeasurementStatus(0), QVX_MEM_NOT_RUNNING);
  kestro_sim_capture_status status{};
  ASSERT_EQ(kestro_sim_capture(0, &status), 0);
  EXPECT_EQ(status.board_lost, 0u);
  EXPECT_EQ(status.fifo_lost, 0u);
  EXPECT_EQ(next, status.produced - status.board_scans - status.ad_fifo);
  EXPECT_EQ(DeInitMemoryMeasurement(0), QVX_OK);
}

}  // namespace

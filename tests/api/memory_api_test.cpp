// Memory measurements through libquorvex as an application uses them, on the
// simulated module's manual clock in pattern mode: the starts, the status
// and its figures, and the layouts of the reads, every value checked against
// the scan it must come from.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"

namespace {

using qvx_test::DriverCalls;
using qvx_test::Take;
using qvx_test::Volts;
using qvx_test::Wide;
using Log = std::vector<std::string>;

using MemoryApi = qvx_test::SimTest;

// Starts check their settings and hand the trigger flags over when flag A is
// set, also to a running measurement; the status passes the target only
// strictly above it, counting the values fetched since the last plain start
// (failed reads included); DeInit honours the latch while Stop does not.
TEST_F(MemoryApi, StartsStatusAndStops) {
  qvx_test::OpenInputs(0, 2, 1000, true);
  EXPECT_EQ(GetMemoryMeasurementStatus(0), QVX_MEM_NOT_RUNNING);
  EXPECT_EQ(GetMemoryMeasurementStatus(16), QVX_ARGUMENT);
  EXPECT_EQ(StartMemoryMeasurement(16, 1, 100, 5), QVX_ARGUMENT);  // no latch
  EXPECT_EQ(StartMemoryMeasurementEx(0, 1, 100, 4, 0), QVX_FAILURE);
  EXPECT_EQ(StartMemoryMeasurement(0, 1, 100, 5), QVX_FAILURE);  // latched
  EXPECT_EQ(kestro_sim_call_count("ZQ7_AD_Start"), 0u);
  qvx_test::OpenInputs(0, 2, 1000, true);  // opened again: the latch is gone

  const struct {
    int32_t flag_a, flag_b;
    Log calls;
  } triggers[] = {
      {1, 0, {"ZQ7_Start_Extern(0, 0, 1, 0)", "ZQ7_AD_Start(0)", "ZQ7_Start_Extern(0, 0, 1, 0)"}},
      {0, 1, {"ZQ7_AD_Start(0)"}}};
  for (const auto& c : triggers) {
    ASSERT_EQ(PrepareExtTrigger(0, c.flag_a, 0, c.flag_b), QVX_OK);
    kestro_sim_log_clear();
    EXPECT_EQ(StartMemoryMeasurement(0, 1, 0, 5), QVX_OK);       // the smallest values accepted
    EXPECT_EQ(StartMemoryMeasurementEx(0, 1, 0, 5, 0), QVX_OK);  // running
    EXPECT_EQ(DriverCalls(), c.calls);
    ASSERT_EQ(StopMemoryMeasurement(0), QVX_OK);
  }

  ASSERT_EQ(qvx_test::All({FinalInit(), StartMemoryMeasurement(0, 1, 1000, 5)}),
            QVX_OK);  // a stop freed the buffers
  Take(0, 1700);
  // Ten seconds of values over both inputs, less those waiting.
  int32_t use = -1, size = -1;
  EXPECT_EQ(ReadMemoryMeasurementStatus(0, &use, &size), QVX_OK);
  EXPECT_EQ(size, 1700);
  EXPECT_EQ(use, 1000 * 2 * 10 - 1700);
  std::vector<double> volts(2 * 1000);
  const auto fetch = [&volts](int32_t n) {
    int32_t got = -1;
    EXPECT_EQ(GetScaledDataFromMemoryMeasurement(0, 0, 2, n, volts.data(), 0, &got), QVX_OK);
    return got;
  };
  EXPECT_EQ(fetch(600) + fetch(400), 1000);
  EXPECT_EQ(GetMemoryMeasurementStatus(0), QVX_MEM_RUNNING);  // exactly the target
  kestro_sim_fail("ZQ7_AD_GetDataFromFifo", -1, 1);
  EXPECT_EQ(fetch(1), 0);
  EXPECT_EQ(GetMemoryMeasurementStatus(0), QVX_MEM_TARGET_PASSED);
  ASSERT_EQ(StartMemoryMeasurement(0, 1, 0, 5), QVX_OK);  // no target; counting anew
  EXPECT_EQ(fetch(199), 199);
  EXPECT_EQ(GetMemoryMeasurementStatus(0), QVX_MEM_RUNNING);
  ASSERT_EQ(StartMemoryMeasurement(0, 1, 100, 5), QVX_OK);
  EXPECT_EQ(fetch(50), 50);
  ASSERT_EQ(StartMemoryMeasurementEx(0, 1, 50, 5, 0), QVX_OK);  // keeps the 50 fetched
  EXPECT_EQ(GetMemoryMeasurementStatus(0), QVX_MEM_RUNNING);
  ASSERT_EQ(StartMemoryMeasurementEx(0, 1, 49, 5, 0), QVX_OK);
  EXPECT_EQ(GetMemoryMeasurementStatus(0), QVX_MEM_TARGET_PASSED);

  ASSERT_EQ(StartMemoryMeasurement(0, 1, 100, 4), QVX_FAILURE);  // latches
  EXPECT_EQ(GetMemoryMeasurementStatus(0), QVX_MEM_TARGET_PASSED);
  EXPECT_EQ(DeInitMemoryMeasurement(0), QVX_FAILURE);
  EXPECT_EQ(GetMemoryMeasurementStatus(0), QVX_MEM_TARGET_PASSED);  // still running
  EXPECT_EQ(StopMemoryMeasurement(16), QVX_ARGUMENT);
  EXPECT_EQ(StopMemoryMeasurement(0), QVX_OK);
  EXPECT_EQ(GetMemoryMeasurementStatus(0), QVX_MEM_NOT_RUNNING);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_AD_Stop"), 3u);
}

// Reads of an analog list deliver its first channel_count inputs, each with
// its range: scaled reads at the list's stride, leaving the other places
// alone; binary reads packed, counting all inputs taken from the FIFO. More
// inputs than the list holds are refused.
TEST_F(MemoryApi, ReadsOfFewerInputsThanListed) {
  qvx_test::OpenInputs(0, 4, 1000, true);  // range codes 0, 1, 2, 3
  ASSERT_EQ(StartMemoryMeasurement(0, 1, 0, 5), QVX_OK);
  Take(0, 6);
  std::vector<double> volts(3 * 4, -99.0);
  std::vector<int32_t> packed(3 * 4, -99);
  int32_t got = -1;
  EXPECT_EQ(GetScaledDataFromMemoryMeasurement(0, 0, 3, 3, volts.data(), 0, &got), QVX_OK);
  EXPECT_EQ(got, 3);
  EXPECT_EQ(GetBinaryDataFromMemoryMeasurement(0, 2, 3, packed.data(), 0, &got), QVX_OK);
  EXPECT_EQ(got, 3 * 4);
  const double factors[4] = {1.0, 0.5, 0.25, 0.125};
  for (int v = 0; v < 3 * 4; ++v) {
    const int i = v / 4, k = v % 4;
    EXPECT_EQ(volts[v], k < 3 ? Volts(kestro_sim_pattern_ad(i, k), factors[k]) : -99.0) << v;
    EXPECT_EQ(packed[v], v < 6 ? Wide(kestro_sim_pattern_ad(3 + v / 2, v % 2)) : -99) << v;
  }
  EXPECT_EQ(GetBinaryDataFromMemoryMeasurement(0, 5, 1, packed.data(), 0, &got), QVX_FAILURE);
}

}  // namespace

// Tests of the simulated module's clocked capture, through its exports as the
// library sees them. The manual clock makes every test but the real-time
// ones deterministic.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "frame/driver_api.h"
#include "kestro_sim.h"

extern "C" {
#define DECLARE_ENTRY(required, result, name, params, args, missing) result KESTRO_CALL name params;
QVX_DRIVER_ENTRIES(DECLARE_ENTRY)
#undef DECLARE_ENTRY
}

namespace {

#if defined(QVX_SANITIZED)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

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

class SimCapture : public ::testing::Test {
 protected:
  void SetUp() override { kestro_sim_reset(); }
  void TearDown() override { kestro_sim_reset(); }

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

  // More than waits, or nowhere to put it: refused, nothing moves.
  uint16_t words[2 * 10];
  EXPECT_NE(ZQ7_DIN_GetDataFromFifo(0, 11, words), 0);
  EXPECT_NE(ZQ7_DIN_GetDataFromFifo(0, 1, nullptr), 0);
  EXPECT_EQ(ZQ7_DIN_GetDataFromFifo(0, 0, nullptr), 0);
  EXPECT_EQ(ZQ7_DIN_GetFifoStatus(0), 10);
  ASSERT_EQ(ZQ7_DIN_GetDataFromFifo(0, 10, words), 0);
  EXPECT_EQ(words[0], kestro_sim_pattern_din(0, 0));
  EXPECT_EQ(words[19], kestro_sim_pattern_din(9, 1));
  EXPECT_EQ(ZQ7_AD_GetDataFromFifo(0, 1, codes.data()), -1);
}

TEST_F(SimCapture, PatternValuesTellScansAndEntriesApart) {
  for (uint64_t scan : {uint64_t{0}, uint64_t{65535}, uint64_t{1} << 32}) {
    for (int32_t k = 1; k < 1024; ++k) {
      ASSERT_NE(kestro_sim_pattern_ad(scan, k), kestro_sim_pattern_ad(scan, k - 1));
    }
    ASSERT_NE(kestro_sim_pattern_ct(scan, 1), kestro_sim_pattern_ct(scan, 0));
    ASSERT_NE(kestro_sim_pattern_din(scan, 1), kestro_sim_pattern_din(scan, 0));
  }
  // A run that is off by a whole number of 16-bit wraps still differs.
  int same = 0;
  for (uint64_t scan = 0; scan < 1000; ++scan) {
    same += kestro_sim_pattern_ad(scan, 0) == kestro_sim_pattern_ad(scan + 65536, 0);
  }
  EXPECT_LT(same, 5);
}

TEST_F(SimCapture, NormalModeSamplesTheSignalsAtEachScansMoment) {
  kestro_sim_set_signal(0, 5, KESTRO_SIM_SIGNAL_SINE, 5.0, 0.0, 3.0);
  kestro_sim_set_signal(0, 6, KESTRO_SIM_SIGNAL_DC, 0.0, 2.5, 0.0);
  ZQ7_DA_TriggerChannel(0, 1, 12345);  // input 1 loops back output 1
  for (int32_t channel : {5, 6, 1}) ZQ7_AD_AddChannellist(0, channel, 0, 0);
  ZQ7_CT_AddChannelList(0, 0);
  ZQ7_TTL_AddChannelList(0, 4);
  kestro_sim_set_digital_input_word(0, 0, 0x0A51);
  ZQ7_AD_SetFrequency(0, 100.0);
  kestro_sim_set_clock(0, KESTRO_SIM_CLOCK_MANUAL);
  ASSERT_EQ(ZQ7_AD_Start(0), 0);
  EXPECT_DOUBLE_EQ(kestro_sim_scan_time(0, 25), 0.25);  // the manual clock starts at 0 s

  kestro_sim_advance(0, 50);
  ASSERT_EQ(Fetch(0, 50), 0);
  uint16_t codes[3 * 50];
  uint32_t counts[50];
  uint16_t words[50];
  ASSERT_EQ(ZQ7_AD_GetDataFromFifo(0, 50, codes), 0);
  ASSERT_EQ(ZQ7_CT_GetDataFromFifo(0, 50, counts), 0);
  ASSERT_EQ(ZQ7_DIN_GetDataFromFifo(0, 50, words), 0);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(codes[i * 3], kestro_sim_signal_code(0, 5, kestro_sim_scan_time(0, i))) << i;
    EXPECT_EQ(codes[i * 3 + 1], 40960);
    EXPECT_EQ(codes[i * 3 + 2], 12345);
    EXPECT_EQ(counts[i], 0u);  // no edges at the input of counter 0
    EXPECT_EQ(words[i], 0x0A51);
  }
  EXPECT_NE(codes[0], codes[3 * 8]);  // the sine moved

  // In differential mode the list must name channels the module still has.
  ZQ7_AD_AddChannellist(0, 12, 0, 0);
  ZQ7_SetDifferenz(0, 1);
  EXPECT_EQ(ZQ7_AD_Start(0), -1);
  ZQ7_SetDifferenz(0, 0);
  EXPECT_EQ(ZQ7_AD_Start(0), 0);
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

TEST_F(SimCapture, FullFifoDropsTheNewestScansAndFailsTheNextFetchOnce) {
  ASSERT_EQ(kestro_sim_set_fifo_capacity(0, 10), 0);
  StartManual(1);
  EXPECT_EQ(Status(0).fifo_capacity, 10);
  kestro_sim_advance(0, 15);
  ASSERT_EQ(Fetch(0, 15), 0);
  EXPECT_EQ(Status(0).fifo_lost, 5u);
  EXPECT_EQ(ZQ7_AD_GetFifoStatus(0), 10);
  EXPECT_NE(Fetch(0, 15), 0);
  uint16_t codes[10];
  ASSERT_EQ(ZQ7_AD_GetDataFromFifo(0, 10, codes), 0);
  EXPECT_EQ(codes[9], kestro_sim_pattern_ad(9, 0));

  // Writes and reads that run past the end of the ring keep the order.
  ASSERT_EQ(ZQ7_AD_Start(0), 0);
  kestro_sim_advance(0, 12);
  ASSERT_EQ(Fetch(0, 8), 0);
  ASSERT_EQ(ZQ7_AD_GetDataFromFifo(0, 3, codes), 0);
  ASSERT_EQ(Fetch(0, 4), 0);
  ASSERT_EQ(ZQ7_AD_GetFifoStatus(0), 9);
  ASSERT_EQ(ZQ7_AD_GetDataFromFifo(0, 9, codes), 0);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(codes[i], kestro_sim_pattern_ad(3 + i, 0)) << i;
  EXPECT_EQ(Status(0).fifo_lost, 0u);
}

TEST_F(SimCapture, StopKeepsWhatWaitsWhileStartAndClearEmptyIt) {
  StartManual(1);
  kestro_sim_advance(0, 8);
  ASSERT_EQ(Fetch(0, 5), 0);
  ASSERT_EQ(ZQ7_AD_Stop(0), 0);
  EXPECT_EQ(kestro_sim_advance(0, 1), -1);  // no scans after the stop
  kestro_sim_capture_status status = Status(0);
  EXPECT_EQ(status.running, 0);
  EXPECT_EQ(status.board_scans, 3u);
  int32_t moved = 0;
  ASSERT_EQ(Fetch(0, 10, &moved), 0);  // still fetched after the stop
  EXPECT_EQ(moved, 3);
  EXPECT_EQ(ZQ7_AD_GetFifoStatus(0), 8);

  ASSERT_EQ(ZQ7_AD_Start(0), 0);
  EXPECT_EQ(ZQ7_AD_GetFifoStatus(0), 0);
  kestro_sim_advance(0, 4);
  ASSERT_EQ(Fetch(0, 2), 0);
  uint16_t code = 0;
  ASSERT_EQ(ZQ7_AD_GetDataFromFifo(0, 1, &code), 0);
  EXPECT_EQ(code, kestro_sim_pattern_ad(0, 0));  // numbering restarts

  ASSERT_EQ(ZQ7_AD_ClearChannelList(0), 1);
  status = Status(0);
  EXPECT_EQ(status.running, 0);
  EXPECT_EQ(status.board_scans, 0u);
  EXPECT_EQ(status.ad_fifo, 0);
  EXPECT_EQ(kestro_sim_ad_list_length(0), 0);
  EXPECT_EQ(kestro_sim_list_entries(0, KESTRO_SIM_LIST_CT, nullptr, 0), 0);
  EXPECT_EQ(kestro_sim_list_entries(0, KESTRO_SIM_LIST_TTL, nullptr, 0), 0);
}

TEST_F(SimCapture, ControlCallsRefuseWhatTheyCannotDo) {
  EXPECT_EQ(kestro_sim_set_clock(0, 2), -1);
  EXPECT_EQ(kestro_sim_set_clock(16, KESTRO_SIM_CLOCK_MANUAL), -1);
  EXPECT_EQ(kestro_sim_advance(0, 1), -1);  // real-time clock
  kestro_sim_set_clock(0, KESTRO_SIM_CLOCK_MANUAL);
  EXPECT_EQ(kestro_sim_advance(0, 1), -1);  // not started
  EXPECT_EQ(kestro_sim_set_board_memory(0, 0), -1);
  EXPECT_EQ(kestro_sim_set_fifo_capacity(0, 0), -1);
  EXPECT_EQ(kestro_sim_capture(0, nullptr), -1);
  EXPECT_EQ(kestro_sim_scan_time(-1, 0), -1.0);
  int32_t count = -1;
  EXPECT_EQ(ZQ7_AD_ReadData_MixedChannels(0, &count), -1);
  EXPECT_EQ(ZQ7_AD_ReadData_MixedChannels(0, nullptr), -1);
  // Nothing listed, nothing started: nothing waits, and fetching moves nothing.
  int32_t moved = -1;
  EXPECT_EQ(Fetch(0, 100, &moved), 0);
  EXPECT_EQ(moved, 0);
}

TEST_F(SimCapture, RealTimeClockTakesScansUntilTheStop) {
  ZQ7_AD_AddChannellist(0, 0, 0, 0);
  ZQ7_AD_SetFrequency(0, 2000.0);
  ASSERT_EQ(ZQ7_AD_Start(0), 0);
  const double first = kestro_sim_scan_time(0, 0);
  EXPECT_DOUBLE_EQ(kestro_sim_scan_time(0, 2000) - first, 1.0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (Status(0).produced < 20 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_GE(Status(0).produced, 20u);
  ASSERT_EQ(ZQ7_AD_Stop(0), 0);
  const uint64_t produced = Status(0).produced;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(Status(0).produced, produced);

  // Switching to the manual clock and back goes on from the scans taken.
  ASSERT_EQ(ZQ7_AD_Start(0), 0);
  kestro_sim_set_clock(0, KESTRO_SIM_CLOCK_MANUAL);
  const uint64_t frozen = Status(0).produced;
  ASSERT_EQ(kestro_sim_advance(0, 1000), 0);
  EXPECT_EQ(Status(0).produced, frozen + 1000);
  kestro_sim_set_clock(0, KESTRO_SIM_CLOCK_REAL_TIME);
  EXPECT_GE(Status(0).produced, frozen + 1000);
  EXPECT_LT(Status(0).produced, frozen + 1000 + 2000 * 5);  // not the time since the start
}

// The library's worker fetches while its application thread drains: every
// scan arrives once, in order, and the thread sanitizer sees no race.
TEST_F(SimCapture, ConcurrentFetchAndDrainKeepEveryScan) {
  constexpr int kInputs = 4;
  const double rate = kSanitized ? 20000.0 : 200000.0;
  const auto run = std::chrono::milliseconds(kSanitized ? 300 : 500);
  for (int k = 0; k < kInputs; ++k) ZQ7_AD_AddChannellist(0, k, 0, 0);
  ZQ7_AD_SetFrequency(0, rate);
  kestro_sim_set_pattern(0, 1);
  ASSERT_EQ(ZQ7_AD_Start(0), 0);

  std::atomic<bool> stop{false};
  std::atomic<int> failures{0};
  std::thread fetcher([&] {
    while (!stop.load()) {
      if (Fetch(0, 10000) != 0) failures.fetch_add(1);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  uint64_t next = 0;
  int wrong = 0;
  std::vector<uint16_t> codes(10000 * kInputs);
  auto drain = [&] {
    const int32_t waiting = std::min(ZQ7_AD_GetFifoStatus(0), 10000);
    if (waiting <= 0 || ZQ7_AD_GetDataFromFifo(0, waiting, codes.data()) != 0) return false;
    for (int32_t i = 0; i < waiting; ++i, ++next) {
      for (int k = 0; k < kInputs; ++k) {
        wrong += codes[i * kInputs + k] != kestro_sim_pattern_ad(next, k);
      }
    }
    return true;
  };
  const auto end = std::chrono::steady_clock::now() + run;
  while (std::chrono::steady_clock::now() < end) {
    drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ZQ7_AD_Stop(0);
  stop = true;
  fetcher.join();
  while (Fetch(0, 10000) == 0 && drain()) {
  }
  const kestro_sim_capture_status status = Status(0);
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(status.board_lost + status.fifo_lost, 0u);
  EXPECT_EQ(next, status.produced);
  EXPECT_GT(next, 0u);
}

}  // namespace

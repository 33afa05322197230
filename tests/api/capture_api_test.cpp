// Continuous capture end to end, through libquorvex as an application uses
// it: the simulated module's real-time clock in pattern mode, drained every
// 10 ms, with every value checked against the scan it must come from.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "support.h"

namespace {

using qvx_test::kSanitized;
using qvx_test::Volts;
using qvx_test::WaitFor;

constexpr int kInputs = 16;
constexpr int32_t kChunk = 10000;
// The standard module's full aggregate rate, 500 kHz over 16 inputs; a fifth
// of it for a fifth of the time under the sanitizers.
constexpr int32_t kRate = kSanitized ? 31250 / 5 : 31250;
constexpr auto kRun = std::chrono::seconds(kSanitized ? 1 : 5);

class CaptureApi : public qvx_test::SimTest {
 protected:
  // 16 inputs with range codes 0, 1, 2, 3, 0, ... at `rate`, started.
  static void Start(int32_t rate) {
    qvx_test::OpenInputs(0, kInputs, rate);
    ASSERT_EQ(StartADCapture(), QVX_OK);
  }

  // Drains every 10 ms for `run` with `read`, which reads one block into its
  // own buffer, checks it against the scans from `next` on, and returns the
  // scans it delivered (0 when none waited). Stops the capture and checks
  // that every scan the module took was delivered, in order, or still waits.
  static void DrainAndStop(std::chrono::milliseconds run,
                           const std::function<int32_t(uint64_t next)>& read) {
    uint64_t next = 0;
    const auto end = std::chrono::steady_clock::now() + run;
    while (std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      for (int32_t got = read(next); got > 0; got = read(next)) next += got;
    }
    ASSERT_EQ(StopADCapture(), QVX_OK);
    kestro_sim_capture_status status{};
    ASSERT_EQ(kestro_sim_capture(0, &status), 0);
    EXPECT_EQ(status.board_lost, 0u);
    EXPECT_EQ(status.fifo_lost, 0u);
    int32_t waiting = 0;
    EXPECT_EQ(GetADBufferStatus(0, &waiting), QVX_OK);  // never latched
    EXPECT_EQ(next, status.produced - status.board_scans - status.ad_fifo);
    EXPECT_GT(next, 0u);
  }
};

TEST_F(CaptureApi, FullRateBinaryReadsDeliverEveryScanInOrder) {
  Start(kRate);
  std::vector<uint32_t> codes(kInputs * kChunk);
  int64_t wrong = 0;
  DrainAndStop(kRun, [&](uint64_t next) {
    int32_t count = kChunk;
    if (GetBinaryData(codes.data(), &count, 0) != QVX_OK) return -1;
    for (int32_t i = 0; i < count; ++i) {
      for (int k = 0; k < kInputs; ++k) {
        wrong += codes[i * kInputs + k] != kestro_sim_pattern_ad(next + i, k);
      }
    }
    return count;
  });
  EXPECT_EQ(wrong, 0);
}

TEST_F(CaptureApi, FullRateScaledReadsGiveExactVoltsWithEachRange) {
  Start(kRate);
  const double factors[4] = {1.0, 0.5, 0.25, 0.125};
  std::vector<double> volts(kInputs * kChunk);
  int64_t wrong = 0;
  DrainAndStop(kRun, [&](uint64_t next) {
    int32_t count = kChunk;
    if (GetScaledData(0, volts.data(), &count, 0) != QVX_OK) return -1;
    for (int32_t i = 0; i < count; ++i) {
      for (int k = 0; k < kInputs; ++k) {
        const double expected = Volts(kestro_sim_pattern_ad(next + i, k), factors[k % 4]);
        wrong += volts[i * kInputs + k] != expected;
      }
    }
    return count;
  });
  EXPECT_EQ(wrong, 0);
}

// Sixteen cards capture at once. Card 0 is stopped and started afresh over
// and over while the other 15 keep capturing: no card loses or misplaces a
// scan, none latches, and no wait for a mutex runs out.
TEST_F(CaptureApi, OneCardStopsAndRestartsWhileFifteenCapture) {
  constexpr int32_t kCards = QVX_MAX_CARDS;
  for (int32_t card = 0; card < kCards; ++card) {
    qvx_test::OpenInputs(card, kInputs, kRate);
    ASSERT_EQ(StartADCapture(), QVX_OK);
  }
  std::vector<uint64_t> next(kCards, 0);  // scans delivered per card since its start
  std::vector<uint32_t> codes(kInputs * kChunk);
  int64_t wrong = 0;
  const auto drain = [&](int32_t card) {
    ASSERT_EQ(SwitchCard(card), QVX_OK);
    int32_t count = 0;
    do {
      count = kChunk;
      ASSERT_EQ(GetBinaryData(codes.data(), &count, 0), QVX_OK) << "card " << card;
      for (int32_t i = 0; i < count * kInputs; ++i) {
        wrong += codes[i] != kestro_sim_pattern_ad(next[card] + i / kInputs, i % kInputs);
      }
      next[card] += count;
    } while (count > 0);
  };
  // Every scan the module took was delivered or still waits: none was lost.
  const auto stop_and_account = [&](int32_t card) {
    ASSERT_EQ(SwitchCard(card), QVX_OK);
    ASSERT_EQ(StopADCapture(), QVX_OK);
    kestro_sim_capture_status status{};
    ASSERT_EQ(kestro_sim_capture(card, &status), 0);
    EXPECT_EQ(next[card], status.produced - status.board_scans - status.ad_fifo) << "card " << card;
  };

  testing::internal::CaptureStderr();
  for (int cycle = 0; cycle < (kSanitized ? 50 : 100); ++cycle) {
    stop_and_account(0);
    ASSERT_EQ(FinalInit(), QVX_OK);
    ASSERT_EQ(StartADCapture(), QVX_OK);
    next[0] = 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (int32_t card = 0; card < kCards; ++card) drain(card);
  }
  for (int32_t card = 0; card < kCards; ++card) {
    drain(card);
    stop_and_account(card);
    EXPECT_GT(next[card], 0u) << "card " << card;
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(wrong, 0);
}

}  // namespace

// Continuous capture end to end, through libquorvex as an application uses
// it: sixteen cards on the simulated module's real-time clock in pattern
// mode, each at the standard module's full aggregate rate, drained every
// 10 ms, with every value checked against the scan it must come from.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "support.h"

namespace {

using qvx_test::kSanitized;

constexpr int kInputs = 16;
constexpr int32_t kChunk = 10000;
// 500 kHz over 16 inputs; a fifth of it under the sanitizers.
constexpr int32_t kRate = kSanitized ? 31250 / 5 : 31250;

using CaptureApi = qvx_test::SimTest;

// Card 0 is stopped and started afresh over and over while the other 15 keep
// capturing: no card loses or misplaces a scan, none latches, and no wait for
// a mutex runs out. Odd cards are read as volts (range codes 0, 1, 2, 3, 0,
// ... exact by the plain formula), even cards as codes.
TEST_F(CaptureApi, OneCardStopsAndRestartsWhileFifteenCapture) {
  constexpr int32_t kCards = QVX_MAX_CARDS;
  for (int32_t card = 0; card < kCards; ++card) {
    qvx_test::OpenInputs(card, kInputs, kRate);
    ASSERT_EQ(StartADCapture(), QVX_OK);
  }
  const double factors[4] = {1.0, 0.5, 0.25, 0.125};
  std::vector<uint64_t> next(kCards, 0);  // scans delivered per card since its start
  std::vector<uint32_t> codes(kInputs * kChunk);
  std::vector<double> volts(kInputs * kChunk);
  int64_t wrong = 0;
  const auto drain = [&](int32_t card) {
    ASSERT_EQ(SwitchCard(card), QVX_OK);
    int32_t count = 0;
    do {
      count = kChunk;
      ASSERT_EQ(card % 2 ? GetScaledData(0, volts.data(), &count, 0)
                         : GetBinaryData(codes.data(), &count, 0),
                QVX_OK)
          << "card " << card;
      for (int32_t i = 0; i < count * kInputs; ++i) {
        const uint32_t code = kestro_sim_pattern_ad(next[card] + i / kInputs, i % kInputs);
        wrong += card % 2 ? volts[i] != qvx_test::Volts(code, factors[i % 4]) : codes[i] != code;
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

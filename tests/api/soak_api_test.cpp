// Long runs and held mutexes, through libquorvex on the simulated module.
//
// The soak runs four cards at once on the real-time clock, each capturing a
// mixed list (two analog inputs, a counter, a 16-line port) and streaming one
// output, drained and fed by one application thread that switches between
// them. Every value of every scan and every output code is checked, the
// module must lose no scan and miss no output frame, and the resident size
// must stay flat. QVX_SOAK_SECONDS sets its length (the test command leaves
// the default of 60 s; 20 s at lower rates under the sanitizers and Wine).
//
// The time-out test holds driver calls longer than a mutex wait while
// workers own the mutexes: the calls that wait meanwhile give up with their
// label, and every card works again once the driver answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support.h"

namespace {

using qvx_test::ProcStatus;
using qvx_test::WaitFor;
using Clock = std::chrono::steady_clock;

#if defined(QVX_SANITIZED) || defined(_WIN32)
constexpr bool kSlow = true;
#else
constexpr bool kSlow = false;
#endif

constexpr int32_t kSlots = 4;

void OpenMixed(int32_t card, double rate, int32_t da_rate) {
  ASSERT_EQ(kestro_sim_set_pattern(card, 1), 0);
  ASSERT_EQ(OpenCard(card), QVX_OK);
  ASSERT_EQ(Add_AD_Channel_to_ScanList(0, 0, 0, 0) + Add_AD_Channel_to_ScanList(1, 0, 1, 0) +
                Add_CT_Channel_to_ScanList(0) + Add_Dig_Channel_to_ScanList(0, 2) +
                Add_DA_Channel_to_ScanList(0) + SetADFrequency(rate) + SetDAFrequency(da_rate) +
                FinalInit(),
            QVX_OK);
}

// Reads what waits on the current card (scans from `next` on), counts the
// values that differ from the pattern and returns the scans delivered.
int32_t DrainChecked(uint64_t next, std::vector<uint32_t>& buffer, int64_t* wrong) {
  int32_t count = static_cast<int32_t>(buffer.size() / kSlots);
  if (GetBinaryData(buffer.data(), &count, 0) != QVX_OK) return -1;
  for (int32_t i = 0; i < count * kSlots; ++i) {
    const uint64_t scan = next + i / kSlots;
    const int32_t s = i % kSlots;
    const uint32_t expected = s < 2    ? kestro_sim_pattern_ad(scan, s)
                              : s == 2 ? kestro_sim_pattern_ct(scan, 0)
                                       : kestro_sim_pattern_din(scan, 0);
    *wrong += buffer[i] != expected ? 1 : 0;
  }
  return count;
}

uint16_t OutputCode(int32_t card, uint64_t frame) {
  return static_cast<uint16_t>(frame * 37 + static_cast<uint64_t>(card) * 1000);
}

TEST(Soak, FourCardsCaptureAndStreamWithoutLoss) {
  constexpr int32_t kCards = 4;
  // Scans and frames per second per card, far below what a worker moves.
  constexpr double kRate = kSlow ? 500.0 : 2000.0;
  constexpr int32_t kDaRate = kSlow ? 200 : 500;
  const char* text = std::getenv("QVX_SOAK_SECONDS");
  const int seconds = text != nullptr ? std::atoi(text) : kSlow ? 20 : 60;
  ASSERT_GT(seconds, 0);
  kestro_sim_reset();
  kestro_sim_log_enable(0);
  for (int32_t card = 0; card < kCards; ++card) {
    // FIFOs of 16 s of scans wrap early, before the memory is measured.
    ASSERT_EQ(kestro_sim_set_fifo_capacity(card, 1 << 15), 0);
    OpenMixed(card, kRate, kDaRate);
    ASSERT_EQ(StartADCapture() + StartDAOutput(), QVX_OK);
  }

  std::vector<uint32_t> scans(10000 * kSlots);
  std::vector<uint16_t> codes(1000);
  uint64_t next[kCards] = {};
  uint64_t frames[kCards] = {};
  int64_t wrong = 0;
  int64_t failed = 0;
  int64_t rss_settled = 0;
  int64_t rss_max = 0;
  const auto start = Clock::now();
  for (auto sample = start; Clock::now() < start + std::chrono::seconds(seconds);) {
    for (int32_t card = 0; card < kCards; ++card) {
      failed += SwitchCard(card);
      for (int32_t got = 1; got > 0;) {
        got = DrainChecked(next[card], scans, &wrong);
        failed += got < 0 ? 1 : 0;
        next[card] += static_cast<uint64_t>(std::max(got, 0));
      }
      int32_t put = 0;
      failed += GetDAFreeBufferSpace(card, &put);
      put = std::min(put, static_cast<int32_t>(codes.size()));
      for (int32_t i = 0; i < put; ++i) codes[i] = OutputCode(card, frames[card] + i);
      if (put > 0) failed += PutBinaryData(codes.data(), 1, &put, 0);
      frames[card] += static_cast<uint64_t>(put);
    }
    if (Clock::now() >= sample) {
      // Settled after the first quarter: FIFOs wrapped, output ring filled.
      // The module's record of the codes it output grows by 2 bytes a code;
      // that is the simulator's, not the library's.
      int64_t rss = ProcStatus("VmRSS:");
      for (int32_t card = 0; card < kCards; ++card) {
        kestro_sim_output_status out{};
        kestro_sim_output(card, &out);
        rss -= static_cast<int64_t>(out.output * 2 / 1024);
      }
      if (Clock::now() - start < std::chrono::seconds(seconds / 4 + 1)) {
        rss_settled = rss;
      } else {
        rss_max = std::max(rss_max, rss);
      }
      sample += std::chrono::seconds(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  uint64_t checked = 0;
  uint64_t output = 0;
  for (int32_t card = 0; card < kCards; ++card) {
    ASSERT_EQ(SwitchCard(card) + StopDAOutput() + StopADCapture(), QVX_OK);
    kestro_sim_capture_status in{};
    kestro_sim_output_status out{};
    ASSERT_EQ(kestro_sim_capture(card, &in) + kestro_sim_output(card, &out), 0);
    EXPECT_EQ(in.board_lost + in.fifo_lost + out.underruns, 0u) << card;
    EXPECT_EQ(next[card] + in.board_scans + static_cast<uint64_t>(in.ad_fifo), in.produced);
    EXPECT_GT(next[card], static_cast<uint64_t>(kRate * seconds / 2)) << card;
    EXPECT_GT(out.output, static_cast<uint64_t>(kDaRate * seconds / 2)) << card;
    std::vector<uint16_t> sent(out.output);
    ASSERT_EQ(kestro_sim_da_record(card, 0, sent.data(), static_cast<int64_t>(sent.size())),
              static_cast<int64_t>(sent.size()));
    for (uint64_t i = 0; i < sent.size(); ++i) wrong += sent[i] != OutputCode(card, i) ? 1 : 0;
    checked += next[card];
    output += out.output;
    CloseCard(card);
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(failed, 0);
  // Nothing is allocated per call: the rest is allocator noise.
  EXPECT_LE(rss_max - rss_settled, 1024) << "KiB gained";
  std::printf(
      "soak: %d s, %d cards, %llu scans (%llu values) and %llu output codes checked, "
      "resident less the output record %lld -> %lld KiB\n",
      seconds, kCards, static_cast<unsigned long long>(checked),
      static_cast<unsigned long long>(checked * kSlots), static_cast<unsigned long long>(output),
      static_cast<long long>(rss_settled), static_cast<long long>(rss_max));
  kestro_sim_reset();
}

// Both for status calls that take a card: 0 with nothing reported.
bool NothingReported(int32_t(QVX_CALL* call)(int32_t, int32_t*), int32_t card) {
  int32_t n = -1;
  return call(card, &n) == QVX_OK && n == 0;
}

// Card 0's worker holds AdMutex in its fetch and card 1's holds DaMutex in
// its status read, each for kHold (the mutexes are shared by every card).
// Calls on cards 2 and 3 that wait meanwhile give up on their own bound with
// their label and what a time-out gives; afterwards every card works.
TEST(TimeOuts, WaitingCallsGiveUpAndEveryCardRecovers) {
  constexpr uint32_t kHold = 4000;  // ms, well beyond the 1000 ms wait
  kestro_sim_reset();
  for (int32_t card = 0; card < 4; ++card) {
    ASSERT_EQ(kestro_sim_set_clock(card, KESTRO_SIM_CLOCK_MANUAL), 0);
    ASSERT_EQ(kestro_sim_set_da_clock(card, KESTRO_SIM_CLOCK_MANUAL), 0);
    OpenMixed(card, 1000.0, 100);
  }
  ASSERT_EQ(SwitchCard(0) + StartADCapture() + SwitchCard(1) + StartDAOutput() + SwitchCard(2),
            QVX_OK);
  ASSERT_EQ(kestro_sim_delay("ZQ7_AD_ReadData_MixedChannels", kHold), 0);
  ASSERT_EQ(kestro_sim_delay("ZQ7_DA_GetStatus", kHold), 0);
  // Both workers call every few milliseconds: once neither count has grown
  // for 100 ms, each sits in a held call (maybe the one it was making when
  // the delays came), which lasts most of kHold from now.
  const auto calls = [] {
    return std::make_pair(kestro_sim_call_count("ZQ7_AD_ReadData_MixedChannels"),
                          kestro_sim_call_count("ZQ7_DA_GetStatus"));
  };
  ASSERT_TRUE(WaitFor([&] {
    const auto before = calls();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return before.first > 0 && before.second > 0 && calls() == before;
  }));

  const std::vector<std::pair<const char*, std::function<bool()>>> waiters = {
      {"GetADBufferStatus", [] { return NothingReported(&GetADBufferStatus, 3); }},
      {"CtGetStatus", [] { return NothingReported(&GetCTBufferStatus, 3); }},
      {"DinGetStatus", [] { return NothingReported(&GetDINBufferStatus, 2); }},
      {"GetDAFreeBufferSpace", [] { return NothingReported(&GetDAFreeBufferSpace, 3); }},
      {"GetScaledData_1",
       [] {
         double volts[kSlots * 10];
         int32_t n = 10;
         return GetScaledData(0, volts, &n, 0) == QVX_OK && n == 0;
       }},
      {"PutScaledData-beg",
       [] {
         const double volts[2] = {1.0, 2.0};
         int32_t n = 2;
         return PutScaledData(0, volts, 1, &n, 0) == QVX_FAILURE && n == 0;
       }},
      {nullptr,  // its first wait sends no message
       [] {
         const uint16_t codes[2] = {1, 2};
         int32_t n = 2;
         return PutBinaryData(codes, 1, &n, 0) == QVX_FAILURE && n == 0;
       }},
  };
  testing::internal::CaptureStderr();
  std::vector<std::thread> threads;
  std::vector<char> gave_up(waiters.size());
  for (size_t i = 0; i < waiters.size(); ++i) {
    threads.emplace_back([&, i] {
      const auto begin = Clock::now();
      // It gives up on its own bound instead of waiting out the held call.
      gave_up[i] = waiters[i].second() && Clock::now() - begin < std::chrono::milliseconds(kHold);
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::string messages = testing::internal::GetCapturedStderr();
  long lines = 0;
  for (size_t i = 0; i < waiters.size(); ++i) {
    EXPECT_TRUE(gave_up[i]) << i;
    if (waiters[i].first == nullptr) continue;
#if !defined(_WIN32)  // on Windows the lines go to the debugger output
    EXPECT_NE(messages.find(std::string(waiters[i].first) + " WAIT_TIMEOUT\n"), std::string::npos)
        << waiters[i].first;
    lines += 1;
#endif
  }
  EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), lines) << messages;

  // The driver answers again; nothing was latched. A put that still meets
  // the held call gives up and is simply repeated.
  kestro_sim_clear_faults();
  const auto recovered = std::chrono::milliseconds(kHold + 5000);
  ASSERT_EQ(SwitchCard(1), QVX_OK);
  const std::vector<uint16_t> frames(64, 30000);
  bool put = false;
  EXPECT_TRUE(WaitFor(
      [&] {
        int32_t n = 64;
        put = put || (PutBinaryData(frames.data(), 1, &n, 0) == QVX_OK && n == 64);
        kestro_sim_output_status out{};
        kestro_sim_output(1, &out);
        return put && out.received >= 64;
      },
      recovered));
  for (int32_t card = 0; card < 4; ++card) {
    ASSERT_EQ(SwitchCard(card) + StartADCapture() + kestro_sim_advance(card, 100), 0);
    int32_t n = 0;
    EXPECT_TRUE(
        WaitFor([&] { return GetADBufferStatus(card, &n) == QVX_OK && n >= 100; }, recovered));
    std::vector<uint32_t> scans(100 * kSlots);
    int64_t wrong = 0;
    EXPECT_EQ(DrainChecked(0, scans, &wrong), 100) << card;
    EXPECT_EQ(wrong + StopADCapture() + StopDAOutput(), 0) << card;
    CloseCard(card);
  }
  kestro_sim_reset();
}

}  // namespace

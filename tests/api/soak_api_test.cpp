// Long runs and held mutexes, through libquorvex on the simulated module.
//
// The soak runs four cards at once on the real-time clock, each capturing a
// mixed list and streaming output, drained and fed by one application thread
// that switches between them: every value of every scan is checked, and no
// scan may be lost, no output frame missed, no memory gained. QVX_SOAK_SECONDS
// sets its length (the test command leaves the default).
//
// The time-out test holds one driver call longer than a mutex wait while a
// worker owns the mutex: the calls that wait for it give up with their label,
// and every card works again once the driver answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support.h"

namespace {

using qvx_test::kSanitized;
using qvx_test::WaitFor;
using Clock = std::chrono::steady_clock;

constexpr int32_t kSlots = 4;  // two analog inputs, a counter, a 16-line port

// Opens `card` in pattern mode with the mixed list and one output channel.
void OpenMixed(int32_t card, double rate, int32_t da_rate) {
  ASSERT_EQ(kestro_sim_set_pattern(card, 1), 0);
  ASSERT_EQ(OpenCard(card), QVX_OK);
  ASSERT_EQ(Add_AD_Channel_to_ScanList(0, 0, 0, 0), QVX_OK);
  ASSERT_EQ(Add_AD_Channel_to_ScanList(1, 0, 1, 0), QVX_OK);
  ASSERT_EQ(Add_CT_Channel_to_ScanList(0), QVX_OK);
  ASSERT_EQ(Add_Dig_Channel_to_ScanList(0, 2), QVX_OK);
  ASSERT_EQ(Add_DA_Channel_to_ScanList(0), QVX_OK);
  ASSERT_EQ(SetADFrequency(rate), QVX_OK);
  ASSERT_EQ(SetDAFrequency(da_rate), QVX_OK);
  ASSERT_EQ(FinalInit(), QVX_OK);
}

// What pattern mode gives for slot `s` of scan `scan` of the mixed list.
uint32_t Expected(uint64_t scan, int32_t s) {
  if (s < 2) return kestro_sim_pattern_ad(scan, s);
  return s == 2 ? kestro_sim_pattern_ct(scan, 0) : kestro_sim_pattern_din(scan, 0);
}

// Reads what waits on the current card from scan `next` on; returns the
// scans delivered and counts the values that differ from the pattern.
int32_t DrainChecked(uint64_t next, std::vector<uint32_t>& buffer, int64_t* wrong) {
  int32_t count = static_cast<int32_t>(buffer.size() / kSlots);
  if (GetBinaryData(buffer.data(), &count, 0) != QVX_OK) return -1;
  for (int32_t i = 0; i < count; ++i) {
    for (int32_t s = 0; s < kSlots; ++s) {
      *wrong += buffer[static_cast<size_t>(i) * kSlots + s] != Expected(next + i, s) ? 1 : 0;
    }
  }
  return count;
}

// The code of output frame `frame` of `card`.
uint16_t OutputCode(int32_t card, uint64_t frame) {
  return static_cast<uint16_t>(frame * 37 + static_cast<uint64_t>(card) * 1000);
}

int64_t ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      int64_t kib = 0;
      status >> kib;
      return kib;
    }
  }
  return -1;
}

TEST(Soak, FourCardsCaptureAndStreamWithoutLoss) {
  constexpr int32_t kCards = 4;
  // Scans and frames per second per card: a wide margin below what one
  // worker moves on a loaded 2-core machine.
  constexpr double kRate = kSanitized ? 500.0 : 2000.0;
  constexpr int32_t kDaRate = kSanitized ? 200 : 500;
  const char* seconds_text = std::getenv("QVX_SOAK_SECONDS");
  const int seconds = seconds_text != nullptr ? std::atoi(seconds_text) : kSanitized ? 20 : 60;
  ASSERT_GT(seconds, 0);

  kestro_sim_reset();
  kestro_sim_log_enable(0);
  for (int32_t card = 0; card < kCards; ++card) {
    // A FIFO of 16 s of scans: it wraps early in the run, so its pages are
    // all touched before the memory is measured.
    ASSERT_EQ(kestro_sim_set_fifo_capacity(card, 1 << 15), 0);
    OpenMixed(card, kRate, kDaRate);
    ASSERT_EQ(StartADCapture(), QVX_OK);
    ASSERT_EQ(StartDAOutput(), QVX_OK);
  }

  std::vector<uint32_t> scans(static_cast<size_t>(10000) * kSlots);
  std::vector<uint16_t> codes(1000);
  uint64_t next[kCards] = {};
  uint64_t frames[kCards] = {};
  int64_t wrong = 0;
  int64_t failed_calls = 0;
  int64_t rss_settled = 0;
  int64_t rss_max = 0;
  const auto start = Clock::now();
  const auto end = start + std::chrono::seconds(seconds);
  auto next_sample = start;
  while (Clock::now() < end) {
    for (int32_t card = 0; card < kCards; ++card) {
      failed_calls += SwitchCard(card) != QVX_OK ? 1 : 0;
      for (int32_t got = DrainChecked(next[card], scans, &wrong); got != 0;
           got = DrainChecked(next[card], scans, &wrong)) {
        if (got < 0) {
          ++failed_calls;
          break;
        }
        next[card] += static_cast<uint64_t>(got);
      }
      int32_t room = 0;
      failed_calls += GetDAFreeBufferSpace(card, &room) != QVX_OK ? 1 : 0;
      int32_t put = room < static_cast<int32_t>(codes.size()) ? room : 1000;
      for (int32_t i = 0; i < put; ++i) codes[i] = OutputCode(card, frames[card] + i);
      if (put > 0) failed_calls += PutBinaryData(codes.data(), 1, &put, 0) != QVX_OK ? 1 : 0;
      frames[card] += static_cast<uint64_t>(put);
    }
    const auto now = Clock::now();
    if (now >= next_sample) {
      const int64_t rss = ResidentKiB();
      // Settled once the FIFOs have wrapped and the output ring is full.
      if (now - start < std::chrono::seconds(seconds / 4 + 1)) {
        rss_settled = rss;
      } else if (rss > rss_max) {
        rss_max = rss;
      }
      next_sample += std::chrono::seconds(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  uint64_t checked = 0;
  uint64_t output = 0;
  for (int32_t card = 0; card < kCards; ++card) {
    ASSERT_EQ(SwitchCard(card), QVX_OK);
    ASSERT_EQ(StopDAOutput(), QVX_OK);
    ASSERT_EQ(StopADCapture(), QVX_OK);
    kestro_sim_capture_status capture{};
    ASSERT_EQ(kestro_sim_capture(card, &capture), 0);
    EXPECT_EQ(capture.board_lost + capture.fifo_lost, 0u) << card;
    EXPECT_EQ(next[card] + capture.board_scans + static_cast<uint64_t>(capture.ad_fifo),
              capture.produced)
        << card;
    EXPECT_GT(next[card], static_cast<uint64_t>(kRate * seconds / 2)) << card;
    kestro_sim_output_status out{};
    ASSERT_EQ(kestro_sim_output(card, &out), 0);
    EXPECT_EQ(out.underruns, 0u) << card;
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
  EXPECT_EQ(failed_calls, 0);
  // Nothing is allocated per call: after the first quarter the resident
  // size stays within allocator noise.
  EXPECT_LE(rss_max - rss_settled, 1024) << "KiB gained";
  std::printf(
      "soak: %d s, %d cards, %llu scans (%llu values) checked, %llu output codes checked,"
      " resident %lld -> %lld KiB\n",
      seconds, kCards, static_cast<unsigned long long>(checked),
      static_cast<unsigned long long>(checked * kSlots), static_cast<unsigned long long>(output),
      static_cast<long long>(rss_settled), static_cast<long long>(rss_max));
  kestro_sim_reset();
}

// A driver call held for kHold while a worker owns the mutex: card 0's
// worker holds AdMutex in its fetch, card 1's holds DaMutex in its status
// read (both mutexes are shared by every card). Calls on cards 2 and 3 that
// wait meanwhile give up after their bounded wait with their label and the
// documented result; afterwards every card captures or outputs again.
TEST(TimeOuts, WaitingCallsGiveUpAndEveryCardRecovers) {
  constexpr uint32_t kHold = 4000;  // ms, well beyond the 1000 ms wait
  kestro_sim_reset();
  for (int32_t card = 0; card < 4; ++card) {
    ASSERT_EQ(kestro_sim_set_clock(card, KESTRO_SIM_CLOCK_MANUAL), 0);
    ASSERT_EQ(kestro_sim_set_da_clock(card, KESTRO_SIM_CLOCK_MANUAL), 0);
    OpenMixed(card, 1000.0, 100);
  }
  ASSERT_EQ(SwitchCard(0), QVX_OK);
  ASSERT_EQ(StartADCapture(), QVX_OK);
  ASSERT_EQ(SwitchCard(1), QVX_OK);
  ASSERT_EQ(StartDAOutput(), QVX_OK);
  ASSERT_EQ(SwitchCard(2), QVX_OK);

  // Once the counts move, each worker is inside a held call.
  ASSERT_EQ(kestro_sim_delay("ZQ7_AD_ReadData_MixedChannels", kHold), 0);
  ASSERT_EQ(kestro_sim_delay("ZQ7_DA_GetStatus", kHold), 0);
  const uint32_t fetches = kestro_sim_call_count("ZQ7_AD_ReadData_MixedChannels");
  const uint32_t statuses = kestro_sim_call_count("ZQ7_DA_GetStatus");
  ASSERT_TRUE(WaitFor([&] {
    return kestro_sim_call_count("ZQ7_AD_ReadData_MixedChannels") > fetches &&
           kestro_sim_call_count("ZQ7_DA_GetStatus") > statuses;
  }));

  struct Waiter {
    const char* label;
    std::function<bool()> call;  // true when it returned what a time-out gives
  };
  const std::vector<Waiter> waiters = {
      {"GetADBufferStatus",
       [] {
         int32_t n = -1;
         return GetADBufferStatus(3, &n) == QVX_OK && n == 0;
       }},
      {"CtGetStatus",
       [] {
         int32_t n = -1;
         return GetCTBufferStatus(3, &n) == QVX_OK && n == 0;
       }},
      {"DinGetStatus",
       [] {
         int32_t n = -1;
         return GetDINBufferStatus(2, &n) == QVX_OK && n == 0;
       }},
      {"GetDAFreeBufferSpace",
       [] {
         int32_t n = -1;
         return GetDAFreeBufferSpace(3, &n) == QVX_OK && n == 0;
       }},
      {"GetScaledData_1",
       [] {
         std::vector<double> volts(kSlots * 10);
         int32_t n = 10;
         return GetScaledData(0, volts.data(), &n, 0) == QVX_OK && n == 0;
       }},
      {"PutScaledData-beg",
       [] {
         const double volts[2] = {1.0, 2.0};
         int32_t n = 2;
         return PutScaledData(0, volts, 1, &n, 0) == QVX_FAILURE && n == 0;
       }},
      // Its first wait sends no message.
      {nullptr,
       [] {
         const uint16_t code[2] = {1, 2};
         int32_t n = 2;
         return PutBinaryData(code, 1, &n, 0) == QVX_FAILURE && n == 0;
       }},
  };
  testing::internal::CaptureStderr();
  std::vector<std::thread> threads;
  std::vector<char> gave_up(waiters.size());
  std::vector<double> took(waiters.size());
  for (size_t i = 0; i < waiters.size(); ++i) {
    threads.emplace_back([&, i] {
      const auto begin = Clock::now();
      gave_up[i] = waiters[i].call() ? 1 : 0;
      took[i] = std::chrono::duration<double>(Clock::now() - begin).count();
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::string messages = testing::internal::GetCapturedStderr();
  size_t lines = 0;
  for (size_t i = 0; i < waiters.size(); ++i) {
    EXPECT_TRUE(gave_up[i]) << i;
    // It gave up on its own bound instead of waiting out the held call.
    EXPECT_LT(took[i], kHold / 1000.0 - 0.5) << i;
    if (waiters[i].label == nullptr) continue;
    const std::string line = std::string(waiters[i].label) + " WAIT_TIMEOUT\n";
    EXPECT_NE(messages.find(line), std::string::npos) << line;
    lines += 1;
  }
  // One line per time-out, and none from a wait that was not made.
  EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), static_cast<long>(lines))
      << messages;

  // The driver answers again: nothing was latched, every card works.
  kestro_sim_clear_faults();
  const auto recovered = std::chrono::milliseconds(kHold + 5000);
  ASSERT_EQ(SwitchCard(1), QVX_OK);
  // A put that meets the held call still gives up: it is simply repeated.
  const std::vector<uint16_t> frames(64, 30000);
  EXPECT_TRUE(WaitFor(
      [&] {
        int32_t put = 64;
        return PutBinaryData(frames.data(), 1, &put, 0) == QVX_OK && put == 64;
      },
      recovered));
  EXPECT_TRUE(WaitFor(
      [] {
        kestro_sim_output_status out{};
        kestro_sim_output(1, &out);
        return out.received >= 64;
      },
      recovered));
  for (int32_t card = 0; card < 4; ++card) {
    ASSERT_EQ(SwitchCard(card), QVX_OK);
    ASSERT_EQ(StartADCapture(), QVX_OK);
    ASSERT_EQ(kestro_sim_advance(card, 100), 0);
    int32_t n = 0;
    EXPECT_TRUE(
        WaitFor([&] { return GetADBufferStatus(card, &n) == QVX_OK && n >= 100; }, recovered))
        << card;
    std::vector<uint32_t> scans(100 * kSlots);
    int64_t wrong = 0;
    EXPECT_EQ(DrainChecked(0, scans, &wrong), 100) << card;
    EXPECT_EQ(wrong, 0) << card;
    EXPECT_EQ(StopADCapture(), QVX_OK);
    EXPECT_EQ(StopDAOutput(), QVX_OK);
    CloseCard(card);
  }
  kestro_sim_reset();
}

}  // namespace

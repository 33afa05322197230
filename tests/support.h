// Shared helpers of the test programs.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "kestro_sim.h"
#include "quorvex.h"

namespace qvx_test {

// Every test starts from a fresh simulator and leaves no card open.
class SimTest : public ::testing::Test {
 protected:
  void SetUp() override { kestro_sim_reset(); }
  void TearDown() override {
    for (int32_t card = 0; card < QVX_MAX_CARDS; ++card) CloseCard(card);
    kestro_sim_reset();
  }
};

// The first of `statuses` that is not 0, or 0. The calls of a braced list
// are made in order, one after the other.
inline int32_t All(std::initializer_list<int32_t> statuses) {
  for (const int32_t status : statuses) {
    if (status != 0) return status;
  }
  return 0;
}

// The simulator's call log, oldest first.
inline std::vector<std::string> CallLog() {
  std::vector<std::string> log;
  const uint32_t size = kestro_sim_log_size();
  for (uint32_t i = 0; i < size; ++i) {
    char text[256];
    if (kestro_sim_log_entry(i, text, sizeof text) >= 0) log.emplace_back(text);
  }
  return log;
}

// The call log without the workers' fetches.
inline std::vector<std::string> DriverCalls() {
  std::vector<std::string> calls;
  for (std::string& line : CallLog()) {
    if (line.rfind("ZQ7_AD_ReadData_MixedChannels", 0) != 0) calls.push_back(std::move(line));
  }
  return calls;
}

// Polls `done` until it holds or `limit` passes; a generous bound for waits
// on other threads, never a timing assertion.
inline bool WaitFor(const std::function<bool()>& done,
                    std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// The address of `pointer` as trace lines print it: a 32-bit integer.
inline std::string Address(const void* pointer) {
  return std::to_string(static_cast<int>(reinterpret_cast<std::intptr_t>(pointer)));
}

// The volts of a 16-bit code at a range factor, by the plain formula.
inline double Volts(uint32_t code, double factor) {
  return (code / 3276.8 - 10.0) * factor;
}

// The 20-bit value of a 16-bit code, as binary memory reads deliver it.
inline int32_t Wide(uint32_t code) {
  return static_cast<int32_t>(code) * 16 - 524288;
}

// Opens `card` in pattern mode with analog inputs 0..inputs-1 (range codes
// 0, 1, 2, 3, 0, ...) at `rate`, and runs FinalInit; on the manual clock
// when `manual`.
inline void OpenInputs(int32_t card, int inputs, int32_t rate, bool manual = false) {
  if (manual) {
    ASSERT_EQ(kestro_sim_set_clock(card, KESTRO_SIM_CLOCK_MANUAL), 0);
  }
  ASSERT_EQ(kestro_sim_set_pattern(card, 1), 0);
  ASSERT_EQ(OpenCard(card), QVX_OK);
  for (int k = 0; k < inputs; ++k) ASSERT_EQ(Add_AD_Channel_to_ScanList(k, 0, k % 4, 0), QVX_OK);
  ASSERT_EQ(SetADFrequency(rate), QVX_OK);
  ASSERT_EQ(FinalInit(), QVX_OK);
}

// On the manual clock: takes `scans` more scans on `card` and waits until
// the worker has fetched them all.
inline void Take(int32_t card, int64_t scans) {
  ASSERT_EQ(kestro_sim_advance(card, scans), 0);
  ASSERT_TRUE(WaitFor([card] {
    kestro_sim_capture_status status{};
    kestro_sim_capture(card, &status);
    return status.board_scans == 0;
  }));
}

// A figure of /proc/self/status ("Threads:", "VmRSS:" in KiB), or -1 where
// there is none (the Windows builds under Wine): comparisons of it then hold
// trivially.
inline int64_t ProcStatus(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string key; status >> key;) {
    if (key == field) {
      int64_t value = -1;
      status >> value;
      return value;
    }
  }
  return -1;
}

#if defined(QVX_SANITIZED)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

}  // namespace qvx_test

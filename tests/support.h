// Shared helpers of the test programs.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
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

#if defined(QVX_SANITIZED)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

}  // namespace qvx_test

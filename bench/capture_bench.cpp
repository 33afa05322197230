// Continuous capture on the simulated module's real-time clock: the highest
// rate the whole path (module, worker, driver FIFOs, GetBinaryData) sustains,
// and the latency of stops. What captures and idle cards cost, on one card
// and on many, is measured by cards_bench.cpp.
//
// Links the library's objects directly: the sustained-rate benchmark drives
// the high-speed module beyond the rate the library accepts for it, to find
// where the path itself gives out.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "engine/capture_control.h"
#include "frame/card_state.h"
#include "frame/driver.h"
#include "kestro_sim.h"
#include "quorvex.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kInputs = 16;
constexpr std::int32_t kChunk = 10000;

// Card 0 holding `module`, with 16 analog inputs at `rate` Hz, after FinalInit.
void SetUpCard(std::int32_t module, std::int32_t rate, bool pattern) {
  kestro_sim_reset();
  kestro_sim_set_module(0, module);
  kestro_sim_set_pattern(0, pattern ? 1 : 0);
  kestro_sim_log_enable(0);
  if (OpenCard(0) != QVX_OK) std::abort();
  for (int k = 0; k < kInputs; ++k) Add_AD_Channel_to_ScanList(k, 0, 0, 0);
  if (SetADFrequency(rate) != QVX_OK || FinalInit() != QVX_OK) std::abort();
}

// Reads everything that waits, in blocks of up to 10000 scans. Returns the
// scans read.
std::int64_t DrainAll(std::vector<std::uint32_t>& codes) {
  std::int64_t scans = 0;
  for (;;) {
    std::int32_t count = kChunk;
    if (GetBinaryData(codes.data(), &count, 0) != QVX_OK || count == 0) return scans;
    scans += count;
  }
}

// Drains every 10 ms for `run`; returns the scans read.
std::int64_t DrainFor(Clock::duration run, std::vector<std::uint32_t>& codes) {
  std::int64_t scans = 0;
  const auto end = Clock::now() + run;
  while (Clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    scans += DrainAll(codes);
  }
  return scans;
}

// The high-speed module at range(0) million values per second (16 inputs)
// for 10 s, drained every 10 ms. sustained = 1 when no scan was lost and the
// card never latched.
void BM_HighSpeedSustained(benchmark::State& state) {
  const double values_per_second = static_cast<double>(state.range(0)) * 1e6;
  const double scan_rate = values_per_second / kInputs;
  std::vector<std::uint32_t> codes(static_cast<std::size_t>(kInputs) * kChunk);
  for (auto _ : state) {
    SetUpCard(KESTRO_SIM_HISPEED, 250000, true);
    // Beyond the module's listed rate: program the clock and the poll size
    // directly, as SetADFrequency would for a module that allowed it.
    qvx::CardState& c = qvx::g_cards[0];
    if (qvx::drv::ZQ7_AD_SetFrequency(0, scan_rate) != 0) std::abort();
    c.SampleRate = scan_rate;
    qvx::UpdateValuesPerPoll();
    const auto begin = Clock::now();
    StartADCapture();
    const std::int64_t scans = DrainFor(std::chrono::seconds(10), codes);
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    const bool latched = c.ErrorLatch.load() != 0;
    StopADCapture();
    kestro_sim_capture_status status{};
    kestro_sim_capture(0, &status);
    const std::uint64_t lost = status.board_lost + status.fifo_lost;
    state.counters["sustained"] = lost == 0 && !latched ? 1 : 0;
    state.counters["lost_scans"] = static_cast<double>(lost);
    state.counters["delivered_values/s"] = static_cast<double>(scans) * kInputs / seconds;
    CloseCard(0);
  }
}
BENCHMARK(BM_HighSpeedSustained)
    ->Arg(4)
    ->Arg(16)
    ->Arg(32)
    ->Arg(48)
    ->Arg(64)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

// StopADCapture of a running capture (500 000 values/s, drained once after
// 20 ms): median and worst of 100 stops, in milliseconds.
void BM_StopLatency(benchmark::State& state) {
  std::vector<std::uint32_t> codes(static_cast<std::size_t>(kInputs) * kChunk);
  for (auto _ : state) {
    SetUpCard(KESTRO_SIM_STANDARD, 31250, false);
    std::vector<double> stops;
    for (int i = 0; i < 100; ++i) {
      if (i > 0 && FinalInit() != QVX_OK) std::abort();
      StartADCapture();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      DrainAll(codes);
      const auto begin = Clock::now();
      StopADCapture();
      stops.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
    }
    std::sort(stops.begin(), stops.end());
    state.counters["median_ms"] = (stops[49] + stops[50]) / 2.0;
    state.counters["worst_ms"] = stops.back();
    CloseCard(0);
  }
}
BENCHMARK(BM_StopLatency)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();

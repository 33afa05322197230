// Streamed analog output on the simulated module: processor use while
// streaming at the output limit, the latency of StopDAOutput, and the
// throughput of PutScaledData and PutBinaryData.
//
// Run: ./build/default/bin/qvx_output_bench
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

#include "frame/call.h"
#include "frame/card_state.h"
#include "kestro_sim.h"
#include "quorvex.h"

namespace {

using Clock = std::chrono::steady_clock;

// Opens card 0 with outputs 0 and 1 at `rate` frames per second each.
bool SetUpOutput(int32_t rate) {
  kestro_sim_reset();
  return OpenCard(0) == QVX_OK && Add_DA_Channel_to_ScanList(0) == QVX_OK &&
         Add_DA_Channel_to_ScanList(1) == QVX_OK && SetDAFrequency(rate) == QVX_OK &&
         FinalInit() == QVX_OK;
}

double ProcessCpuSeconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

kestro_sim_output_status Output() {
  kestro_sim_output_status status{};
  kestro_sim_output(0, &status);
  return status;
}

// Two channels at 500 Hz for 10 s, fed with mode-1 puts of 250 frames after a
// pre-fill of 1000 frames: process CPU (library, worker and simulated module)
// over the wall time of the run, in percent of one core.
void BM_StreamTwoChannelsAt500Hz(benchmark::State& state) {
  constexpr int32_t kFrames = 5000;
  constexpr int32_t kChunk = 250;
  std::vector<double> volts(2 * kFrames);
  for (size_t i = 0; i < volts.size(); ++i) volts[i] = (i % 200) * 0.1 - 10.0;
  for (auto _ : state) {
    if (!SetUpOutput(500)) state.SkipWithError("set-up failed");
    kestro_sim_log_enable(0);
    const double cpu0 = ProcessCpuSeconds();
    const auto wall0 = Clock::now();
    int32_t count = 1000;
    PutScaledData(0, volts.data(), 2, &count, 0);
    StartDAOutput();
    for (int32_t sent = 1000; sent < kFrames; sent += kChunk) {
      count = kChunk;
      if (PutScaledData(0, volts.data() + 2 * sent, 2, &count, 1) != QVX_OK) {
        state.SkipWithError("put failed");
        break;
      }
    }
    // The last codes that fill no whole block stay in the ring.
    const uint64_t whole = (2 * kFrames) / 32 * 32;
    while (Output().output < whole && Clock::now() - wall0 < std::chrono::seconds(30)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    const double cpu = ProcessCpuSeconds() - cpu0;
    const kestro_sim_output_status out = Output();
    StopDAOutput();
    CloseCard(0);
    state.SetIterationTime(wall);
    state.counters["cpu_pct_of_core"] = 100.0 * cpu / wall;
    state.counters["codes_out"] = static_cast<double>(out.output);
    // An underrun before the last code went out is one the feed caused.
    state.counters["underruns_during_stream"] =
        out.first_underrun >= 0 && static_cast<uint64_t>(out.first_underrun) < whole ? 1 : 0;
  }
}
BENCHMARK(BM_StreamTwoChannelsAt500Hz)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// StopDAOutput while a stream runs: from the call until it returns, the
// worker's acknowledgement included.
void BM_StopDAOutputLatency(benchmark::State& state) {
  if (!SetUpOutput(500)) state.SkipWithError("set-up failed");
  kestro_sim_log_enable(0);
  const std::vector<uint16_t> codes(2 * 3000, 32768);
  int round = 0;
  for (auto _ : state) {
    int32_t count = 3000;
    PutBinaryData(codes.data(), 2, &count, 0);  // top up
    StartDAOutput();
    // Stops land at different moments of the worker's passes.
    std::this_thread::sleep_for(std::chrono::microseconds(20000 + 1370 * (round++ % 23)));
    const auto start = Clock::now();
    StopDAOutput();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
  CloseCard(0);
}
BENCHMARK(BM_StopDAOutputLatency)
    ->Iterations(1)
    ->Repetitions(50)
    ->UseManualTime()
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

// Puts of 3000 frames of two channels into an empty ring (the ring is emptied
// by hand between puts; output is not running). Items are values.
template <bool kScaled>
void BM_Put3000Frames(benchmark::State& state) {
  if (!SetUpOutput(500)) state.SkipWithError("set-up failed");
  qvx::CardState& c = qvx::g_cards[0];
  std::vector<double> volts(2 * 3000);
  std::vector<uint16_t> codes(2 * 3000);
  for (size_t i = 0; i < volts.size(); ++i) {
    volts[i] = (i % 2000) * 0.01 - 10.0;
    codes[i] = static_cast<uint16_t>(i * 11);
  }
  for (auto _ : state) {
    {
      qvx::MutexGuard lock(c.DaMutex, nullptr);
      c.DaRing.read_index = c.DaRing.write_index = c.DaRing.count = c.DaRing.wrap = 0;
      c.DaStatus.word[1] = 3000;
    }
    int32_t count = 3000;
    const int32_t status = kScaled ? PutScaledData(0, volts.data(), 2, &count, 0)
                                   : PutBinaryData(codes.data(), 2, &count, 1);
    if (status != QVX_OK || count != 3000) state.SkipWithError("put failed");
  }
  state.SetItemsProcessed(state.iterations() * 2 * 3000);
  CloseCard(0);
}
BENCHMARK_TEMPLATE(BM_Put3000Frames, true)->Name("BM_PutScaledData_3000Frames");
BENCHMARK_TEMPLATE(BM_Put3000Frames, false)->Name("BM_PutBinaryData_3000Frames");

}  // namespace

BENCHMARK_MAIN();

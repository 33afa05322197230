// Throughput of GetScaledData and GetBinaryData through libquorvex, and of the
// C++ interface's block reader over GetScaledData: 10000 scans of 1, 4 or 16
// analog inputs per call, each call reading the driver's FIFO and laying the
// scans out in the caller's buffer. One benchmark iteration is a batch of 8
// calls; Time and CPU are per batch.
//
// The simulated module runs on its manual clock and is fed outside the timed
// region (the module takes the scans and the driver fetches them), so only
// the read itself is timed. Each benchmark also times a memcpy of the same
// output bytes in the same run and reports the ratio of the two rates.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kestro_sim.h"
#include "kestrolib.h"
#include "quorvex.h"
#include "quorvex.hpp"

extern "C" {
std::int32_t KESTRO_CALL ZQ7_AD_Start(std::int32_t card);
std::int32_t KESTRO_CALL ZQ7_AD_ReadData_MixedChannels(std::int32_t card, std::int32_t* count);
}

namespace {

constexpr int32_t kScans = 10000;

// The module of card 0 on its manual clock in pattern mode, without a log.
void SetUpModule() {
  kestro_sim_reset();
  kestro_sim_set_clock(0, KESTRO_SIM_CLOCK_MANUAL);
  kestro_sim_set_pattern(0, 1);
  kestro_sim_log_enable(0);
}

// Card 0 with `inputs` analog inputs (range codes 0..3 in turn), set up for
// reading and started on the module's manual clock in pattern mode. The
// library's worker is not switched on: the benchmark fetches for it.
void SetUpCard(int inputs) {
  SetUpModule();
  if (OpenCard(0) != QVX_OK) std::abort();
  for (int k = 0; k < inputs; ++k) Add_AD_Channel_to_ScanList(k, 0, k % 4, 0);
  SetADFrequency(1000);
  if (FinalInit() != QVX_OK || ZQ7_AD_Start(0) != 0) std::abort();
}

// Reads timed together, so that the clock is read once per batch.
constexpr int kBatch = 8;

// The module takes kBatch blocks of 10000 scans and the driver fetches them.
void Feed() {
  for (int block = 0; block < kBatch; ++block) {
    kestro_sim_advance(0, kScans);
    int32_t count = kScans;
    if (ZQ7_AD_ReadData_MixedChannels(0, &count) != 0 || count != kScans) std::abort();
  }
}

// Bytes per second of memcpy for blocks of `bytes`, warm, in this run.
double MemcpyRate(std::size_t bytes) {
  std::vector<char> from(bytes, 1);
  std::vector<char> to(bytes);
  constexpr int kRounds = 300;
  double best = 0.0;
  for (int trial = 0; trial < 5; ++trial) {
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) {
      std::memcpy(to.data(), from.data(), bytes);
      benchmark::ClobberMemory();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    best = std::max(best, static_cast<double>(bytes) * kRounds / seconds);
  }
  return best;
}

// Times reads of card 0, set up by the caller; `read(out, &count)` reads up
// to count scans and reports them in count.
template <typename T, typename Read>
void RunReads(benchmark::State& state, Read read) {
  const int inputs = static_cast<int>(state.range(0));
  std::vector<T> out(static_cast<std::size_t>(inputs) * kScans);
  double seconds = 0.0;  // in the reads alone, for the ratio below
  for (auto _ : state) {
    state.PauseTiming();
    Feed();
    state.ResumeTiming();
    const auto begin = std::chrono::steady_clock::now();
    bool failed = false;
    for (int block = 0; block < kBatch; ++block) {
      int32_t count = kScans;
      failed |= read(out.data(), &count) != QVX_OK || count != kScans;
      benchmark::DoNotOptimize(out.data());
      benchmark::ClobberMemory();
    }
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    if (failed) {
      state.SkipWithError("read failed");
      break;
    }
  }
  const double rate = static_cast<double>(state.iterations()) * kBatch * inputs * kScans / seconds;
  const double memcpy_rate = MemcpyRate(out.size() * sizeof(T)) / sizeof(T);
  state.counters["values/s"] = rate;
  state.counters["memcpy_values/s"] = memcpy_rate;
  state.counters["vs_memcpy"] = rate / memcpy_rate;
}

void BM_GetScaledData(benchmark::State& state) {
  SetUpCard(static_cast<int>(state.range(0)));
  RunReads<double>(state,
                   [](double* out, int32_t* count) { return GetScaledData(0, out, count, 0); });
  CloseCard(0);
}

void BM_GetBinaryData(benchmark::State& state) {
  SetUpCard(static_cast<int>(state.range(0)));
  RunReads<uint32_t>(state,
                     [](uint32_t* out, int32_t* count) { return GetBinaryData(out, count, 0); });
  CloseCard(0);
}

// The same scaled reads through the C++ interface: a block reader whose card
// selects itself under the process-wide lock before each read. The Python
// package's benchmark (bench/python_read_bench.py) sets its card up the same
// way and compares its reads with these.
void BM_BlockReader(benchmark::State& state) {
  SetUpModule();
  quorvex::card card(0);
  quorvex::scan_list list;
  for (int k = 0; k < state.range(0); ++k) list.analog(k, static_cast<quorvex::range>(k % 4));
  card.prepare(list.rate(1000));
  if (ZQ7_AD_Start(0) != 0) std::abort();
  quorvex::block_reader reader(card, kScans);
  RunReads<double>(state, [&reader](double*, int32_t* count) {
    *count = static_cast<int32_t>(reader.next().scans);
    return QVX_OK;
  });
}

BENCHMARK(BM_GetScaledData)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetBinaryData)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BlockReader)->Arg(16)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

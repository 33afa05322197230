// Many cards at once, driven through libquorvex as an application drives
// them: what idle cards cost, how the cost of full-rate capture grows with
// the number of cards, how long a scan takes from the module to the
// application, and what one card's stops cost the cards that keep capturing.
//
// Every card holds the standard simulated module in pattern mode: 16 analog
// inputs at 31250 scans/s (500 000 values/s), drained every 10 ms, every
// value checked against the scan it must come from.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kestro_sim.h"
#include "quorvex.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kInputs = 16;
constexpr int32_t kRate = 31250;
constexpr int32_t kChunk = 10000;
constexpr auto kDrainPeriod = std::chrono::milliseconds(10);

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// CPU seconds of the whole process, or of the calling thread only.
double CpuSeconds(int who = RUSAGE_SELF) {
  rusage usage{};
  getrusage(who, &usage);
  return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

// Percent of one core between two readings.
struct CpuMeter {
  double process = CpuSeconds();
  double thread = CpuSeconds(RUSAGE_THREAD);
  Clock::time_point begin = Clock::now();

  double Elapsed() const { return std::chrono::duration<double>(Clock::now() - begin).count(); }
  double ProcessPercent() const { return (CpuSeconds() - process) / Elapsed() * 100.0; }
  double ThreadPercent() const { return (CpuSeconds(RUSAGE_THREAD) - thread) / Elapsed() * 100.0; }
};

void Require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "cards_bench: %s failed\n", what);
    std::abort();
  }
}

// What the application has read of one card's run.
struct Reader {
  std::uint64_t next = 0;  // scans delivered since the start
  std::int64_t wrong = 0;  // values that are not those of their scan
  bool latched = false;
};

// Cards 0..size-1 capturing 16 inputs at kRate, and what the application has
// read of each. Card 0 also lists one analog output at 500 frames/s.
class Rack {
 public:
  explicit Rack(int size)
      : readers_(static_cast<std::size_t>(size)),
        codes_(static_cast<std::size_t>(kInputs) * kChunk) {
    kestro_sim_reset();
    kestro_sim_log_enable(0);
    for (int32_t card = 0; card < size; ++card) {
      kestro_sim_set_pattern(card, 1);
      Require(OpenCard(card) == QVX_OK, "OpenCard");
      for (int k = 0; k < kInputs; ++k) Add_AD_Channel_to_ScanList(k, 0, 0, 0);
      Require(SetADFrequency(kRate) == QVX_OK, "SetADFrequency");
      if (card == 0) {
        Require(Add_DA_Channel_to_ScanList(0) == QVX_OK, "Add_DA_Channel_to_ScanList");
        Require(SetDAFrequency(500) == QVX_OK, "SetDAFrequency");
      }
      Require(FinalInit() == QVX_OK, "FinalInit");
    }
    for (int32_t card = 0; card < size; ++card) Restart(card);
  }
  ~Rack() {
    for (int32_t card = 0; card < size(); ++card) CloseCard(card);
  }
  Rack(const Rack&) = delete;
  Rack& operator=(const Rack&) = delete;

  int size() const { return static_cast<int>(readers_.size()); }
  const Reader& reader(int32_t card) const { return readers_[static_cast<std::size_t>(card)]; }

  // (Re)starts the capture of `card` after FinalInit; its reads count anew.
  void Restart(int32_t card) {
    Require(SwitchCard(card) == QVX_OK && StartADCapture() == QVX_OK, "StartADCapture");
    readers_[static_cast<std::size_t>(card)] = Reader{};
  }

  // Reads everything that waits on `card` and checks it. Returns the scans
  // read.
  std::int64_t Drain(int32_t card) {
    Reader& reader = readers_[static_cast<std::size_t>(card)];
    Require(SwitchCard(card) == QVX_OK, "SwitchCard");
    std::int64_t scans = 0;
    for (;;) {
      int32_t count = kChunk;
      if (GetBinaryData(codes_.data(), &count, 0) != QVX_OK) {
        reader.latched = true;
        return scans;
      }
      if (count <= 0) return scans;
      for (int32_t i = 0; i < count; ++i) {
        for (int k = 0; k < kInputs; ++k) {
          reader.wrong += codes_[static_cast<std::size_t>(i) * kInputs + k] !=
                          kestro_sim_pattern_ad(reader.next + static_cast<std::uint64_t>(i), k);
        }
      }
      reader.next += static_cast<std::uint64_t>(count);
      scans += count;
    }
  }

  std::int64_t DrainAll() {
    std::int64_t scans = 0;
    for (int32_t card = 0; card < size(); ++card) scans += Drain(card);
    return scans;
  }

  // Stops cards first..size-1 and reports as `<prefix>lost_values` the
  // values they lost (taken by the module but neither delivered nor still
  // waiting on board or in the FIFO; a latched card counts as one scan lost
  // at least) and as `<prefix>wrong_values` the values they delivered wrong.
  void StopAndReport(benchmark::State& state, int32_t first, const std::string& prefix) {
    std::uint64_t lost = 0;
    std::int64_t wrong = 0;
    for (int32_t card = first; card < size(); ++card) {
      const Reader& read = reader(card);
      Require(SwitchCard(card) == QVX_OK, "SwitchCard");
      StopADCapture();
      kestro_sim_capture_status status{};
      kestro_sim_capture(card, &status);
      const std::uint64_t accounted =
          read.next + status.board_scans + static_cast<std::uint64_t>(status.ad_fifo);
      const std::uint64_t scans = status.produced > accounted ? status.produced - accounted : 0;
      lost += std::max<std::uint64_t>(scans, read.latched ? 1 : 0) * kInputs;
      wrong += read.wrong;
    }
    state.counters[prefix + "lost_values"] = static_cast<double>(lost);
    state.counters[prefix + "wrong_values"] = static_cast<double>(wrong);
  }

 private:
  std::vector<Reader> readers_;
  std::vector<std::uint32_t> codes_;
};

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0.0;
  const auto at = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at), values.end());
  return values[at];
}

// Benchmarks run on 1, 4 and 16 cards.
void OneFourSixteen(benchmark::internal::Benchmark* b) {
  b->Arg(1)->Arg(4)->Arg(16)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
}

// Process CPU of range(0) open, idle cards over 10 s.
void BM_IdleCards(benchmark::State& state) {
  const auto cards = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    kestro_sim_reset();
    for (int32_t card = 0; card < cards; ++card) Require(OpenCard(card) == QVX_OK, "OpenCard");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const CpuMeter cpu;
    std::this_thread::sleep_for(std::chrono::seconds(10));
    state.counters["cpu_percent_of_core"] = cpu.ProcessPercent();
    for (int32_t card = 0; card < cards; ++card) CloseCard(card);
  }
}
BENCHMARK(BM_IdleCards)->Arg(1)->Arg(16)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

// range(0) cards capturing at full rate at once for 10 s. Process CPU in all
// and per card (the application thread's reads and checks, the workers and
// the simulated module's own work), the application thread's share, and the
// values lost or misplaced.
void BM_CaptureCards(benchmark::State& state) {
  for (auto _ : state) {
    Rack rack(static_cast<int>(state.range(0)));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    rack.DrainAll();
    const CpuMeter cpu;
    std::int64_t scans = 0;
    while (cpu.Elapsed() < 10.0) {
      std::this_thread::sleep_for(kDrainPeriod);
      scans += rack.DrainAll();
    }
    const double process = cpu.ProcessPercent();
    state.counters["cpu_percent_of_core"] = process;
    state.counters["cpu_percent_per_card"] = process / rack.size();
    state.counters["app_thread_percent"] = cpu.ThreadPercent();
    state.counters["values/s"] = static_cast<double>(scans) * kInputs / cpu.Elapsed();
    rack.StopAndReport(state, 0, "");
  }
}
BENCHMARK(BM_CaptureCards)->Apply(OneFourSixteen);

// range(0) cards capturing at full rate, drained every 10 ms; card 0's
// scans are timed from the moment the module takes them to the moment the
// worker has fetched them into the driver's FIFO, from where GetScaledData
// returns them. Another thread watches the module about every 100 us for
// 10 s. Median and 99th percentile in ms.
void BM_ScanLatency(benchmark::State& state) {
  for (auto _ : state) {
    Rack rack(static_cast<int>(state.range(0)));
    const double scan0 = kestro_sim_scan_time(0, 0);
    std::vector<double> latencies;
    latencies.reserve(static_cast<std::size_t>(kRate) * 11);
    std::atomic<bool> done{false};
    std::thread watcher([&] {
      std::uint64_t seen = 0;  // scans of card 0 fetched so far
      while (!done.load()) {
        kestro_sim_capture_status status{};
        kestro_sim_capture(0, &status);
        const double now = kestro_sim_elapsed(0);
        for (; seen < status.produced - status.board_scans; ++seen) {
          latencies.push_back((now - (scan0 + static_cast<double>(seen) / kRate)) * 1e3);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
    });
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < end) {
      std::this_thread::sleep_for(kDrainPeriod);
      rack.DrainAll();
    }
    done.store(true);
    watcher.join();
    state.counters["median_ms"] = Percentile(latencies, 0.5);
    state.counters["p99_ms"] = Percentile(latencies, 0.99);
    rack.StopAndReport(state, 0, "");
  }
}
BENCHMARK(BM_ScanLatency)->Apply(OneFourSixteen);

// Collects what the library writes to standard error (its wait messages)
// while it lives, and counts the wait messages.
class StderrCapture {
 public:
  StderrCapture() : file_(std::tmpfile()), saved_(dup(STDERR_FILENO)) {
    std::fflush(stderr);
    dup2(fileno(file_), STDERR_FILENO);
  }
  ~StderrCapture() {
    Restore();
    std::fclose(file_);
  }
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  int WaitMessages() {
    Restore();
    std::rewind(file_);
    int messages = 0;
    char line[256];
    while (std::fgets(line, sizeof line, file_) != nullptr) {
      messages += std::strstr(line, "WAIT_TIMEOUT") != nullptr;
    }
    return messages;
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    saved_ = -1;
  }
  std::FILE* file_;
  int saved_;
};

// The longest time any of cards 1..15 went without a fetch since the last
// RestartGaps, in ms.
void RestartGaps() {
  for (int32_t card = 1; card < QVX_MAX_CARDS; ++card) kestro_sim_restart_fetch_gap(card);
}
double LongestGapMs() {
  double longest = 0.0;
  for (int32_t card = 1; card < QVX_MAX_CARDS; ++card) {
    kestro_sim_capture_status status{};
    kestro_sim_capture(card, &status);
    longest = std::max(longest, status.longest_fetch_gap);
  }
  return longest * 1e3;
}

// 16 cards capturing at full rate. Card 0 is stopped 100 times with
// StopADCapture (then FinalInit and a new start), then 100 times with
// StopDAOutput while it also streams one output; each stop follows 10 ms of
// draining. Reports the stops' median and worst, the longest time any other
// card's worker went without a fetch in each phase and in an equal phase
// without stops, and what the other cards lost, misread or reported.
void BM_StopAmongSixteen(benchmark::State& state) {
  constexpr int kStops = 100;
  std::vector<std::uint16_t> frames(200, 32768);
  for (auto _ : state) {
    Rack rack(QVX_MAX_CARDS);
    StderrCapture messages;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    rack.DrainAll();

    // The same cadence without stops.
    RestartGaps();
    for (int i = 0; i < kStops; ++i) {
      std::this_thread::sleep_for(kDrainPeriod);
      rack.DrainAll();
    }
    const double quiet_gap = LongestGapMs();

    // Times `stop` on card 0 after 10 ms of draining, kStops times, with
    // `before` and `after` around each.
    const auto time_stops = [&](auto before, auto stop, auto after) {
      std::vector<double> stops;
      for (int i = 0; i < kStops; ++i) {
        before();
        std::this_thread::sleep_for(kDrainPeriod);
        rack.DrainAll();
        Require(SwitchCard(0) == QVX_OK, "SwitchCard");
        const auto begin = Clock::now();
        stop();
        stops.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
        after();
      }
      return stops;
    };
    RestartGaps();
    const std::vector<double> ad_stops = time_stops([] {}, [] { StopADCapture(); },
                                                    [&] {
                                                      Require(FinalInit() == QVX_OK, "FinalInit");
                                                      rack.Restart(0);
                                                    });
    const double ad_gap = LongestGapMs();
    RestartGaps();
    const std::vector<double> da_stops = time_stops(
        [&] {
          Require(SwitchCard(0) == QVX_OK, "SwitchCard");
          int32_t count = static_cast<int32_t>(frames.size());
          PutBinaryData(frames.data(), 1, &count, 0);
          Require(StartDAOutput() == QVX_OK, "StartDAOutput");
        },
        [] { StopDAOutput(); }, [] {});
    const double da_gap = LongestGapMs();

    rack.DrainAll();
    rack.StopAndReport(state, 1, "others_");
    state.counters["ad_stop_median_ms"] = Percentile(ad_stops, 0.5);
    state.counters["ad_stop_worst_ms"] = Percentile(ad_stops, 1.0);
    state.counters["da_stop_median_ms"] = Percentile(da_stops, 0.5);
    state.counters["da_stop_worst_ms"] = Percentile(da_stops, 1.0);
    state.counters["gap_without_stops_ms"] = quiet_gap;
    state.counters["gap_ad_stops_ms"] = ad_gap;
    state.counters["gap_da_stops_ms"] = da_gap;
    state.counters["wait_messages"] = messages.WaitMessages();
  }
}
BENCHMARK(BM_StopAmongSixteen)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();

// Counter inputs: configuration, the counter channel list and counting. The
// counter FIFO belongs to clocked capture (acquisition.cpp).
//
// Each counter's input carries a square wave of a set frequency; a run
// counts its rising edges on the scan clock, as events since the start or,
// in mode 1, per gate period (a frequency measurement).
#include <cmath>

#include "entries.h"
#include "sim_card.h"

namespace ksim {
namespace {

bool ValidCounter(const CardAccess& access, std::int32_t counter) {
  return access && counter >= 0 && counter < access.model().counters;
}

constexpr std::int32_t kFrequencyMode = 1;
constexpr std::uint32_t kDecadeModuleType = 9;
// Position of argument 4, the decade of a gate, in a recorded
// ZQ7_ConfigureCounterInputEx configuration.
constexpr int kExDecadeValue = 5;

// The rising edges within the first `time` / `per_second` seconds of the
// input, kept to 32 bits. Both come from whole numbers (scans and rate,
// gates, Hz), so the one rounded division leaves the floor exact.
std::uint32_t Edges(double time, double frequency, double per_second) {
  return static_cast<std::uint32_t>(
      std::fmod(std::floor(time * frequency / per_second), 4294967296.0));
}

}  // namespace

CounterRun CounterForRun(const SimCard& card, int counter) {
  CounterRun run;
  if (counter < 0 || counter >= kMaxCounters) return run;
  run.frequency = card.counter_frequency[counter];
  run.preset = card.counter_preset[counter];
  const CounterConfig& config = card.counters[counter];
  if (config.source != 0 && config.values[0] == kFrequencyMode) {
    run.gates_per_second = 10;
    const std::int32_t decade = config.values[kExDecadeValue];
    if (config.source == 2 && card.model->type == kDecadeModuleType && decade >= 0 && decade <= 3) {
      constexpr std::int32_t kGates[4] = {1, 10, 100, 1000};
      run.gates_per_second = kGates[decade];
    }
  }
  return run;
}

std::uint32_t CounterCaptureValue(const CounterRun& counter, std::uint64_t scan, double rate) {
  const auto s = static_cast<double>(scan);
  const bool edges = counter.frequency > 0.0 && rate > 0.0;
  if (counter.gates_per_second == 0) {
    return counter.preset + (edges ? Edges(s, counter.frequency, rate) : 0u);
  }
  if (!edges) return 0;
  const double per_second = counter.gates_per_second;
  const double gates = std::floor(s * per_second / rate);  // complete gates
  if (gates < 1.0) return 0;
  return Edges(gates, counter.frequency, per_second) -
         Edges(gates - 1.0, counter.frequency, per_second);
}

namespace drv {

std::int32_t ZQ7_ConfigureCounterInput(std::int32_t card, std::int32_t counter, std::int32_t mode,
                                       std::int32_t a, std::int32_t b, std::int32_t c,
                                       std::int32_t d, std::int32_t e, std::int32_t f,
                                       std::int32_t g) {
  CardAccess access(card);
  if (!ValidCounter(access, counter)) return failure::ZQ7_ConfigureCounterInput;
  access->counters[counter] = CounterConfig{1, {mode, a, b, c, d, e, f, g}};
  return 0;
}

std::int32_t ZQ7_ConfigureCounterInputEx(std::int32_t card, std::int32_t counter, std::int32_t mode,
                                         std::int32_t a5, std::int32_t zero1, std::int32_t zero2,
                                         std::int32_t a3, std::int32_t a4, std::int32_t a6,
                                         std::int32_t a7, std::int32_t a8, std::int32_t a9) {
  CardAccess access(card);
  if (!ValidCounter(access, counter)) return failure::ZQ7_ConfigureCounterInputEx;
  access->counters[counter] = CounterConfig{2, {mode, a5, zero1, zero2, a3, a4, a6, a7, a8, a9}};
  return 0;
}

std::int32_t ZQ7_CT_AddChannelList(std::int32_t card, std::int32_t counter) {
  CardAccess access(card);
  if (!ValidCounter(access, counter) || !access->ct_list.Add(counter)) {
    return failure::ZQ7_CT_AddChannelList;
  }
  return 0;
}

std::int32_t ZQ7_CT_GetData(std::int32_t card, std::int32_t* count, std::uint32_t*) {
  return DeliverNothing(CardAccess(card), count, failure::ZQ7_CT_GetData);
}

}  // namespace drv
}  // namespace ksim

extern "C" {

KESTRO_SIM_API int32_t kestro_sim_set_counter_input(int32_t card, int32_t counter,
                                                    double frequency) {
  ksim::CardAccess access(card, ksim::CardAccess::kAnyModule);
  if (!ksim::ValidCounter(access, counter) || !(frequency >= 0.0) || !std::isfinite(frequency)) {
    return -1;
  }
  access->counter_frequency[counter] = frequency;
  return 0;
}

KESTRO_SIM_API int32_t kestro_sim_set_counter_preset(int32_t card, int32_t counter,
                                                     uint32_t value) {
  ksim::CardAccess access(card, ksim::CardAccess::kAnyModule);
  if (!ksim::ValidCounter(access, counter)) return -1;
  access->counter_preset[counter] = value;
  return 0;
}

KESTRO_SIM_API int64_t kestro_sim_counter_value(int32_t card, int32_t entry, uint64_t scan) {
  ksim::CardAccess access(card, ksim::CardAccess::kAnyModule);
  if (!access || entry < 0 || entry >= access->capture.ct.width) return -1;
  const ksim::Capture& c = access->capture;
  return ksim::CounterCaptureValue(c.counters[access->ct_list.entries[entry]], scan, c.rate);
}

KESTRO_SIM_API int32_t kestro_sim_counter_config(int32_t card, int32_t counter,
                                                 int32_t values[10]) {
  ksim::CardAccess access(card, ksim::CardAccess::kAnyModule);
  if (!ksim::ValidCounter(access, counter)) return -1;
  const ksim::CounterConfig& config = access->counters[counter];
  if (values != nullptr) {
    for (int i = 0; i < 10; ++i) values[i] = config.values[i];
  }
  return config.source;
}

}  // extern "C"

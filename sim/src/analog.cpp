// Analog signals, single conversions and single output updates.
#include <cmath>

#include "entries.h"
#include "sim_card.h"

namespace ksim {
namespace {

constexpr double kPi = 3.14159265358979323846;

// A well-mixed 64-bit value of `x` (splitmix64's finaliser).
std::uint64_t Mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

std::uint64_t NoiseSeed(const SimCard& card, int input) {
  return (static_cast<std::uint64_t>(card.number) << 32) | static_cast<std::uint64_t>(input);
}

// Volts of single-ended input `input`; a loop-back input gives the volts of
// its output's code exactly.
double InputVolts(SimCard& card, int input, double seconds) {
  Signal& signal = card.inputs[input];
  if (signal.kind == KESTRO_SIM_SIGNAL_LOOPBACK) {
    return CodeToVolts(OutputCodeAt(card, signal.source_output, seconds));
  }
  const double volts = SignalVolts(signal, seconds, NoiseSeed(card, input), signal.draws);
  if (signal.kind == KESTRO_SIM_SIGNAL_NOISE) ++signal.draws;
  return volts;
}

bool ValidInput(const CardAccess& access, std::int32_t input) {
  return access && input >= 0 && input < access.model().ad_inputs;
}

}  // namespace

// trunc((v + 10) * 3276.8), computed as (v + 10) * 32768 / 10: for volts on
// a code step, (v + 10) * 32768 is an exact multiple of 10, so the division
// lands exactly on the code and truncation cannot drop a step.
std::uint16_t VoltsToCode(double volts) {
  const double code = (volts + 10.0) * 32768.0 / 10.0;
  if (!(code >= 0.0)) return 0;  // also NaN
  if (code >= 65535.0) return 65535;
  return static_cast<std::uint16_t>(code);
}

double CodeToVolts(std::int32_t code) {
  return (code - 32768) * 10.0 / 32768.0;
}

double SignalVolts(const Signal& signal, double seconds, std::uint64_t seed, std::uint64_t draw) {
  const double cycles = signal.frequency * seconds;
  const double phase = cycles - std::floor(cycles);
  switch (signal.kind) {
    case KESTRO_SIM_SIGNAL_SINE:
      return signal.offset + signal.amplitude * std::sin(2.0 * kPi * cycles);
    case KESTRO_SIM_SIGNAL_SQUARE:
      return signal.offset + (phase < 0.5 ? signal.amplitude : -signal.amplitude);
    case KESTRO_SIM_SIGNAL_RAMP:
      return signal.offset + signal.amplitude * (2.0 * phase - 1.0);
    case KESTRO_SIM_SIGNAL_NOISE: {
      const double unit = static_cast<double>(Mix(seed * 0x100000001B3ull + draw) >> 11) /
                          9007199254740992.0;  // [0, 1)
      return signal.offset + signal.amplitude * (2.0 * unit - 1.0);
    }
    default:
      return signal.offset;
  }
}

std::uint16_t InputCode(SimCard& card, int input, double seconds, bool advance) {
  Signal& signal = card.inputs[input];
  if (signal.kind == KESTRO_SIM_SIGNAL_LOOPBACK) {
    return OutputCodeAt(card, signal.source_output, seconds);
  }
  if (advance) return VoltsToCode(InputVolts(card, input, seconds));
  return VoltsToCode(SignalVolts(signal, seconds, NoiseSeed(card, input), signal.draws));
}

int ChannelCount(const SimCard& card) {
  return card.differential != 0 ? card.model->ad_inputs / 2 : card.model->ad_inputs;
}

std::uint16_t ChannelCode(SimCard& card, int channel, double seconds) {
  if (card.differential == 0) return InputCode(card, channel, seconds, true);
  const double plus = InputVolts(card, 2 * channel, seconds);
  const double minus = InputVolts(card, 2 * channel + 1, seconds);
  return VoltsToCode(plus - minus);
}

bool ChannelIsSteady(const SimCard& card, int channel) {
  // A looped-back input follows its output's codes over time, unless the
  // output never changed or the capture runs on the manual clock, whose
  // scans have no moment of the time base (they read the output as of now).
  const auto steady = [&card](int input) {
    const Signal& signal = card.inputs[input];
    if (signal.kind == KESTRO_SIM_SIGNAL_LOOPBACK) {
      return card.capture.clock == KESTRO_SIM_CLOCK_MANUAL ||
             card.da_out.history[signal.source_output].count == 0;
    }
    return signal.kind == KESTRO_SIM_SIGNAL_DC;
  };
  if (card.differential == 0) return steady(channel);
  return steady(2 * channel) && steady(2 * channel + 1);
}

namespace drv {

std::int32_t ZQ7_SetDifferenz(std::int32_t card, std::int32_t mode) {
  CardAccess access(card);
  if (!access || (mode != 0 && mode != 1)) return failure::ZQ7_SetDifferenz;
  access->differential = mode;
  return 0;
}

// Converts at the current moment of the card's time base. The range is
// recorded nowhere: the module always answers with the +-10 V code.
std::int32_t ZQ7_AD_TriggerChannel(std::int32_t card, std::int32_t channel, std::int32_t,
                                   std::int32_t) {
  CardAccess access(card);
  if (!access || channel < 0 || channel >= ChannelCount(*access)) {
    return failure::ZQ7_AD_TriggerChannel;
  }
  AdvanceOutput(*access);  // a looped-back input reads the output as of now
  return ChannelCode(*access, channel, Elapsed(*access));
}

std::int32_t ZQ7_DA_TriggerChannel(std::int32_t card, std::int32_t channel, std::int32_t code) {
  CardAccess access(card);
  if (!access || channel < 0 || channel >= access.model().da_outputs || code < 0 || code > 65535) {
    return failure::ZQ7_DA_TriggerChannel;
  }
  SetOutputCode(*access, channel, static_cast<std::uint16_t>(code), Elapsed(*access));
  return 0;
}

}  // namespace drv
}  // namespace ksim

using ksim::CardAccess;

extern "C" {

KESTRO_SIM_API int32_t kestro_sim_set_signal(int32_t card, int32_t input, int32_t kind,
                                             double amplitude, double offset, double frequency) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!ksim::ValidInput(access, input) || kind < KESTRO_SIM_SIGNAL_DC ||
      kind > KESTRO_SIM_SIGNAL_NOISE) {
    return -1;
  }
  ksim::Signal& signal = access->inputs[input];
  signal = ksim::Signal{};
  signal.kind = kind;
  signal.amplitude = amplitude;
  signal.offset = offset;
  signal.frequency = frequency;
  return 0;
}

KESTRO_SIM_API int32_t kestro_sim_set_analog_loopback(int32_t card, int32_t input, int32_t output) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!ksim::ValidInput(access, input) || output < 0 || output >= access.model().da_outputs) {
    return -1;
  }
  access->inputs[input] = ksim::Signal{};
  access->inputs[input].kind = KESTRO_SIM_SIGNAL_LOOPBACK;
  access->inputs[input].source_output = output;
  return 0;
}

KESTRO_SIM_API int32_t kestro_sim_signal_code(int32_t card, int32_t input, double seconds) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!ksim::ValidInput(access, input)) return -1;
  return ksim::InputCode(*access, input, seconds, false);
}

KESTRO_SIM_API int32_t kestro_sim_da_code(int32_t card, int32_t output) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!access || output < 0 || output >= access.model().da_outputs) return -1;
  return access->da_codes[output];
}

KESTRO_SIM_API int32_t kestro_sim_differential(int32_t card) {
  CardAccess access(card, CardAccess::kAnyModule);
  return access ? access->differential : -1;
}

}  // extern "C"

// State of the simulated modules: one SimCard per card number, the module
// catalogue, and the lock that guards each card.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

#include "frame/driver_api.h"
#include "kestro_sim.h"

namespace ksim {

inline constexpr int kCards = 16;
inline constexpr int kMaxInputs = 16;
inline constexpr int kMaxOutputs = 4;
inline constexpr int kMaxLines = 32;  // two groups of 16
inline constexpr int kMaxCounters = 8;
inline constexpr int kPrivateFlashBytes = KESTRO_SIM_PRIVATE_FLASH_SIZE;
inline constexpr int kAdListCapacity = 1024;
inline constexpr int kShortListCapacity = 64;  // DA, CT and TTL lists
inline constexpr int kRegisterSlots = 64;

using Clock = std::chrono::steady_clock;

// One entry of the catalogue: what a module reports and how it behaves.
struct ModuleModel {
  const char* name;         // short name, as in KESTRO_SIM_MODULES
  std::uint32_t type;       // ZQ7_Get_ModuleIdent
  bool present;             // false: no module answers
  bool hi_speed;            // ZQ7_IsHiSpeed
  int ad_inputs;            // NumAdChannels
  int ad_rate_khz;          // MaxAdRateKHz, aggregate
  int da_outputs;           // NumDaChannels
  int lines;                // NumDigitalLines
  int counters;             // NumCounters
  int ttl_in;               // ZQ7_GetNumOfTTLIn
  int ttl_out;              // ZQ7_GetNumOfTTLOut
  int dedicated_inputs;     // input bits below the port word (ttl4, ttl8)
  int da_queue_codes;       // room of the output queue, in codes
  std::uint8_t ident141;    // IdentByte141
  std::uint8_t ident145;    // IdentByte145
  const char* ident_text1;  // may be longer than its field: cut to 33 bytes
  const char* ident_text2;
  const char* customer;
  std::uint32_t serial;
};

const ModuleModel& Model(int module);
// Fills the module's identification record.
void BuildIdentRecord(int module, qvx::KestroModuleInfo& record);
// Reads "0=hispeed,3=counter" into modules[card]; bad items are reported on
// standard error and skipped. Cards not named keep their value.
void ParseModuleChoice(const char* text, std::int32_t modules[kCards]);

struct Signal {
  std::int32_t kind = KESTRO_SIM_SIGNAL_DC;
  double amplitude = 0.0;
  double offset = 0.0;
  double frequency = 0.0;
  std::int32_t source_output = 0;  // loop-back
  std::uint64_t draws = 0;         // noise values drawn so far
};

struct AdListEntry {
  std::int32_t channel;
  std::int32_t range;
  std::int32_t zero;
};

struct ShortList {
  std::int32_t entries[kShortListCapacity] = {};
  std::int32_t length = 0;

  bool Add(std::int32_t value) {
    if (length >= kShortListCapacity) return false;
    entries[length++] = value;
    return true;
  }
};

struct CounterConfig {
  std::int32_t source = 0;  // 0 never, 1 ConfigureCounterInput, 2 ...Ex
  std::int32_t values[10] = {};
};

struct RegisterSlot {
  std::int32_t reg;
  std::int32_t value;
};

// Everything one module holds; power-on state is SimCard{} plus PowerOn().
struct SimCard {
  std::int32_t number = 0;
  std::int32_t module = KESTRO_SIM_STANDARD;
  const ModuleModel* model = nullptr;
  bool open = false;
  Clock::time_point epoch{};  // start of the time base
  qvx::KestroModuleInfo ident{};

  // Settings the driver received.
  std::int32_t differential = 0;
  std::int32_t master_slave = 0;
  bool start_extern_called = false;
  std::int32_t start_extern[3] = {};
  RegisterSlot registers[kRegisterSlots] = {};
  std::int32_t register_count = 0;

  // Analog input.
  Signal inputs[kMaxInputs];
  AdListEntry ad_list[kAdListCapacity] = {};
  std::int32_t ad_list_length = 0;
  double ad_frequency = 0.0;
  bool ad_running = false;

  // Analog output.
  std::uint16_t da_codes[kMaxOutputs] = {};
  ShortList da_list;
  double da_frequency = 0.0;
  bool da_running = false;
  std::uint64_t da_codes_received = 0;

  // Digital lines: bit n of each word belongs to line n.
  std::uint32_t outputs = 0;       // direction: 1 = output
  std::uint32_t latches = 0;       // output latches
  std::uint32_t input_levels = 0;  // levels applied to input lines
  std::uint32_t dedicated = 0;     // dedicated input bits (ttl4, ttl8)
  std::int8_t loop_source[kMaxLines] = {};
  ShortList ttl_list;
  bool din_running = false;

  // Counters.
  CounterConfig counters[kMaxCounters];
  ShortList ct_list;
  bool ct_running = false;
};

// Puts `card` into the power-on state of `module`.
void PowerOn(SimCard& card, std::int32_t number, std::int32_t module);
// Seconds of the card's time base now.
double Elapsed(const SimCard& card);

// Exclusive access to one card while it lives. Empty (false) for a card
// number outside 0..15, and, when a module is required, for an absent one.
class CardAccess {
 public:
  enum Need { kModule, kAnyModule };

  explicit CardAccess(std::int32_t card, Need need = kModule);

  explicit operator bool() const { return card_ != nullptr; }
  SimCard* operator->() const { return card_; }
  SimCard& operator*() const { return *card_; }
  const ModuleModel& model() const { return *card_->model; }
  std::uint8_t* private_flash() const { return flash_; }

 private:
  std::unique_lock<std::mutex> lock_;
  SimCard* card_ = nullptr;
  std::uint8_t* flash_ = nullptr;
};

// Analog conversion, shared by single conversions and (later) the clocked
// acquisition.
std::uint16_t VoltsToCode(double volts);
double CodeToVolts(std::int32_t code);
// Volts of a DC, sine, square, ramp or noise signal at `seconds`; `draw` is
// the noise value's index in the input's sequence.
double SignalVolts(const Signal& signal, double seconds, std::uint64_t seed, std::uint64_t draw);
// Code of single-ended input `input` at `seconds`; advances a noise input
// when `advance` is set.
std::uint16_t InputCode(SimCard& card, int input, double seconds, bool advance);
// Code channel `channel` converts at `seconds` in the card's input mode
// (differential: input 2k minus input 2k+1).
std::uint16_t ChannelCode(SimCard& card, int channel, double seconds);
// Number of channels the card converts in its input mode.
int ChannelCount(const SimCard& card);

// Level (0 or 1) of a digital line as the port shows it.
std::uint32_t LineLevel(const SimCard& card, int line);

// Reads of captured data while nothing is captured: DeliverNothing sets
// *count to 0 scans, ReadEmptyFifo writes nothing. Both return 0, or
// `failed` for a bad card or pointer.
std::int32_t DeliverNothing(const CardAccess& access, std::int32_t* count, std::int32_t failed);
std::int32_t ReadEmptyFifo(const CardAccess& access, std::int32_t count, const void* dest,
                           std::int32_t failed);

// Resets call counters, faults, delays and the call log.
void ResetCalls();

}  // namespace ksim

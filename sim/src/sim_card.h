// State of the simulated modules: one SimCard per card number, the module
// catalogue, and the lock that guards each card.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "kestro_sim.h"
#include "kestrolib.h"

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
  int da_queue_codes;       // size of the on-board output queue, in codes
  std::uint8_t ident141;    // IdentByte141
  std::uint8_t ident145;    // IdentByte145
  const char* ident_text1;  // may be longer than its field: cut to 33 bytes
  const char* ident_text2;
  const char* customer;
  std::uint32_t serial;
};

const ModuleModel& Model(int module);
// Fills the module's identification record.
void BuildIdentRecord(int module, KestroModuleInfo& record);
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

// ---- Clocked capture (acquisition.cpp) ----
// From ZQ7_AD_Start the module takes one scan of its input lists per tick of
// its acquisition clock into an on-board memory; ZQ7_AD_ReadData_MixedChannels
// moves scans from there into three driver FIFOs that the library drains.
// Scans are numbered from 0 at each start; their contents are computed when
// they leave on-board memory, so the memory itself only counts them.
inline constexpr std::int64_t kBoardScans = 65536;         // on-board memory at power-on
inline constexpr std::int64_t kFifoScans = 1 << 20;        // FIFO bound at power-on
inline constexpr std::int64_t kFifoValueLimit = 16 << 20;  // elements one FIFO may hold
inline constexpr int kDinGroupLimit = kMaxLines / 16 + 1;  // 16-line groups a scan can carry
inline constexpr int kDinEpochs = 64;                      // line states kept per run

// The state of the digital lines from scan `from` of a run on: per group,
// the bits that hold a level and the bits that follow the count
// start + scan * step (32-bit). A change of the lines during a run opens a
// new epoch at the next scan; a scan takes the newest epoch begun by then.
struct DinEpoch {
  std::uint64_t from = 0;
  std::uint16_t fixed[kDinGroupLimit] = {};
  std::uint16_t counted[kDinGroupLimit] = {};
  std::uint32_t start = 0;
  std::uint32_t step = 0;
};

// A counter as a run sees it, fixed at the start: the frequency of its
// input, the value event counting starts from, and the gates per second of a
// frequency measurement (0: event counting).
struct CounterRun {
  double frequency = 0.0;
  std::uint32_t preset = 0;
  std::int32_t gates_per_second = 0;
};

// One driver FIFO: whole scans of `width` elements in a ring of `capacity`
// scans. A FIFO whose list was empty at the start (width 0) stays empty.
template <typename T>
struct ScanFifo {
  std::unique_ptr<T[]> storage;
  std::int64_t allocated = 0;  // elements
  std::int32_t width = 0;      // elements per scan
  std::int64_t capacity = 0;   // scans
  std::int64_t head = 0;       // ring slot of the oldest waiting scan
  std::int64_t level = 0;      // scans waiting
};

struct Capture {
  // Settings, kept until power-on.
  std::int32_t clock = KESTRO_SIM_CLOCK_REAL_TIME;
  bool pattern = false;
  std::int64_t board_scans = kBoardScans;
  std::int64_t fifo_scans = kFifoScans;

  // The run, fixed at ZQ7_AD_Start.
  Clock::time_point start{};
  double start_seconds = 0.0;                    // the card's time base at scan 0
  double rate = 0.0;                             // scans per second
  std::int32_t din_groups[kDinGroupLimit] = {};  // group of each digital word, ascending
  CounterRun counters[kMaxCounters];
  // Line states of the run, oldest first; those that no unfetched scan
  // needs any more are dropped at each fetch.
  DinEpoch din_epochs[kDinEpochs];
  std::int32_t din_epoch_count = 0;

  // Progress: scans [fetched, produced) wait in on-board memory.
  std::uint64_t produced = 0;
  std::uint64_t fetched = 0;
  std::uint64_t board_lost = 0;  // overwritten before they were fetched
  std::uint64_t fifo_lost = 0;   // dropped because a FIFO was full
  bool loss_pending = false;     // the next fetch reports the loss
  // Real-time clock: the start or the latest fetch of the run, and the
  // longest time between two of them.
  Clock::time_point last_fetch{};
  double longest_fetch_gap = 0.0;

  ScanFifo<std::uint16_t> ad;   // AdChannelCount codes per scan
  ScanFifo<std::uint32_t> ct;   // one value per counter-list entry
  ScanFifo<std::uint16_t> din;  // one word per 16-line group in use
};

// ---- Clocked output (output.cpp) ----
// From ZQ7_DA_Start the module outputs one frame per tick of its output clock
// (one code per entry of its DA list, in list order) from an on-board queue
// that ZQ7_DA_PutData fills. The clock starts with the first code that
// arrives after the start, and again with the first code after the queue ran
// empty while frames were due (an underrun). Consumption is brought up to the
// clock lazily, at every driver or control call on the card.
inline constexpr std::int32_t kDaQueueLimit = 4096;  // largest on-board queue, codes
inline constexpr std::uint64_t kDaRecordCodes = KESTRO_SIM_DA_RECORD_CAPACITY;

// The codes an output showed, newest last, with the moment (seconds of the
// card's time base) each was set: a looped-back input reads the code its
// output showed at the moment of its scan, not the code of now.
inline constexpr int kOutputHistory = 2048;
struct OutputHistory {
  double at[kOutputHistory] = {};
  std::uint16_t code[kOutputHistory] = {};
  std::uint64_t count = 0;  // codes set since power-on; slot i % kOutputHistory
};

struct Output {
  // Settings, kept until power-on.
  std::int32_t clock = KESTRO_SIM_CLOCK_REAL_TIME;
  std::int32_t queue_size = -1;  // codes; -1: the module's own

  // The on-board queue: `level` codes from ring slot `head`.
  std::uint16_t queue[kDaQueueLimit] = {};
  std::int32_t head = 0;
  std::int32_t level = 0;

  // The output clock while it runs: frames output since `origin` (real
  // time), or frames granted by kestro_sim_da_advance and not yet output
  // (manual clock).
  bool ticking = false;
  Clock::time_point origin{};
  std::uint64_t frames_since_origin = 0;
  std::uint64_t manual_due = 0;

  // Accounting since power-on.
  std::uint64_t output = 0;  // codes that left the module
  std::uint64_t underruns = 0;
  std::int64_t first_underrun = -1;  // codes output before the first underrun
  // The last kDaRecordCodes codes output, code i at slot i % kDaRecordCodes;
  // allocated with the first code output.
  std::unique_ptr<std::uint16_t[]> record;
  OutputHistory history[kMaxOutputs];
};

// Everything one module holds; power-on state is SimCard{} plus PowerOn().
struct SimCard {
  std::int32_t number = 0;
  std::int32_t module = KESTRO_SIM_STANDARD;
  const ModuleModel* model = nullptr;
  bool open = false;
  Clock::time_point epoch{};  // start of the time base
  KestroModuleInfo ident{};

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
  // Counting stimulus of the captured input lines (kestro_sim_set_digital_count).
  bool din_count = false;
  std::uint32_t din_count_start = 0;
  std::uint32_t din_count_step = 0;

  // Counters.
  CounterConfig counters[kMaxCounters];
  ShortList ct_list;
  bool ct_running = false;
  // What each counter's input carries (kestro_sim_set_counter_input, _preset).
  double counter_frequency[kMaxCounters] = {};
  std::uint32_t counter_preset[kMaxCounters] = {};

  Capture capture;
  Output da_out;
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

// The reads of the older polled interface, which is not modelled: sets
// *count to 0 scans and returns 0, or `failed` for a bad card or pointer.
std::int32_t DeliverNothing(const CardAccess& access, std::int32_t* count, std::int32_t failed);

// Whether channel `channel` converts the same code at every moment (DC and
// looped-back inputs), so a block of scans can share one conversion.
bool ChannelIsSteady(const SimCard& card, int channel);
// What capture records for the other kinds of entry. Counting: the counter
// as a run sees it (configuration, input, preset), and its value in scan
// `scan` of a run at `rate` scans per second (counters.cpp). Digital: the
// lines' state as it stands now, for the scans from now on (digital.cpp);
// NoteDigitalChange records it after every change of the lines, so that
// scans taken before it keep the earlier state (acquisition.cpp).
CounterRun CounterForRun(const SimCard& card, int counter);
std::uint32_t CounterCaptureValue(const CounterRun& counter, std::uint64_t scan, double rate);
DinEpoch DigitalEpoch(const SimCard& card);
void NoteDigitalChange(SimCard& card);

// Sets output `channel` to `code` from the moment `at` on (seconds of the
// card's time base), and the code it showed at `seconds`: the newest code
// set by then, the oldest one kept when `seconds` lies before it, and the
// output's code now when none was ever set.
void SetOutputCode(SimCard& card, int channel, std::uint16_t code, double at);
std::uint16_t OutputCodeAt(const SimCard& card, int channel, double seconds);

// Brings the card's output up to its clock, and stops it (ZQ7_DA_Stop,
// closing the handle).
void AdvanceOutput(SimCard& card);
void StopOutput(SimCard& card);

// Resets call counters, faults, delays and the call log.
void ResetCalls();

}  // namespace ksim

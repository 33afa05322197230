// libFuzzer target over the whole C interface of libquorvex, with the
// simulated module steered between the calls.
//
// An input is a script: one byte chooses an operation (an export of the
// library or a control of the simulated module), then one byte per argument,
// decoded by the argument's kind (see Decode). Every buffer handed to the
// library is exactly as large as the call may fill or read by its documented
// contract, computed from the lists as the script built them, so that a write
// or read of one element too many lands outside it. A watchdog aborts a call
// that does not return (a hang is a finding), and every input starts from
// the same state: all cards closed, their buffers released, simulator reset.
//
// The committed corpus (corpus/) holds realistic scripts; QVX_FUZZ_TRACE=1
// with a corpus file as the argument prints it as calls.
#include <algorithm>
#include <atomic>
#include <bitset>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

#include "kestro_sim.h"
#include "quorvex.h"

namespace {

constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kHuge = std::numeric_limits<double>::max();

// ---- Argument kinds ----------------------------------------------------------
// c  card: 0..3 mostly, any card, or out of range
// i  integer: 0..127, or a value from kHostileInts
// m  read mode: 0 or 1 mostly, else -4..43 or a value from kHostileInts
// r  real: a usable rate or voltage, or a value from kHostileReals
// p  pointer: a buffer of the exact size, or (one byte in 16) null
// e  driver entry point of the simulated module
// t, d, z  times of an injected failure, ms of an injected delay or a pause
constexpr int32_t kHostileCards[] = {-1, 16, 17, 100, kMin, kMax};
constexpr int32_t kHostileInts[] = {
    -1,    -2,    -100,   kMin,   kMax,   kMax - 1, kMin + 1, 200,      255,        256,   257,
    1000,  1024,  3000,   4096,   9999,   10000,    10001,    12000,    20000,      32768, 65535,
    65536, 99999, 100000, 200000, 500000, 1000000,  4000000,  16777216, 0x40000000, -65536};
constexpr double kReals[] = {0,     1,     10,     50,     100,    200,     1000, 5000,
                             10000, 20000, 100000, 200000, 500000, 4000000, -10,  5};
constexpr double kHostileReals[] = {kNaN,    kInf,     -kInf,  -1,     -0.0,         1e-300,
                                    1e12,    9.99,     kHuge,  -kHuge, 2147483648.0, 0.5,
                                    10.0001, -10.0001, 9.9999, -1e12};
constexpr int32_t kSeedNull = 15;
// Injected failures repeat 1 or 2 times or until cleared; injected delays
// and pauses are in milliseconds.
constexpr int32_t kTimes[] = {1, 1, 2, -1};
constexpr int32_t kDelays[] = {0, 1, 2, 5, 20, 200, 1100};
constexpr int32_t kPauses[] = {0, 1, 2, 5, 10, 30};

struct Arg {
  double r = 0;
  int32_t i = 0;
  bool null = false;
};

template <typename T, std::size_t N>
constexpr int32_t Count(const T (&)[N]) {
  return static_cast<int32_t>(N);
}

Arg Decode(char kind, uint8_t b) {
  Arg a;
  a.null = kind == 'p' && b % 16 == kSeedNull;
  if (kind == 'r') {
    a.r = b < 0x80 ? kReals[b % Count(kReals)] : kHostileReals[b % Count(kHostileReals)];
  }
  const auto hostile = [](int k) { return kHostileInts[k % Count(kHostileInts)]; };
  const auto card = [](int x) {
    return x < 0xC0 ? x % 16 : kHostileCards[x % Count(kHostileCards)];
  };
  a.i = kind == 'c'   ? (b < 0x80 ? b % 4 : card(b))
        : kind == 'i' ? (b < 0x80 ? b : hostile(b - 0x80))
        : kind == 'm' ? (b < 0xC0   ? b % 2
                         : b < 0xF0 ? b - 0xC4
                                    : hostile(b))
        : kind == 'r' ? b
        : kind == 'e' ? b % KESTRO_SIM_ENTRY_COUNT
        : kind == 't' ? kTimes[b % Count(kTimes)]
        : kind == 'd' ? kDelays[b % Count(kDelays)]
        : kind == 'z' ? kPauses[b % Count(kPauses)]
                      : 0;
  return a;
}

// An argument as the traces write it.
std::string Show(char kind, const Arg& a) {
  if (kind == 'p') return a.null ? "null" : "p";
  if (kind == 'e') return kestro_sim_entry_name(a.i);
  char text[32];
  if (kind == 'r') std::snprintf(text, sizeof text, "%g", a.r);
  if (kind != 'r') std::snprintf(text, sizeof text, "%d", a.i);
  return text;
}

// ---- The lists as the script built them -----------------------------------
// What an application knows of its lists: the entries it added with success
// since the last clear or open. The buffers of the reads are sized from it.
struct Lists {
  int32_t ad = 0, ct = 0, dig = 0, da = 0;
  bool mixed = false;
};
Lists g_lists[QVX_MAX_CARDS];
int32_t g_current = 0;
std::bitset<QVX_MAX_CARDS> g_touched;
std::bitset<QVX_MAX_CARDS> g_set_up;  // FinalInit was called: buffers may exist

bool InRange(int32_t card) {
  return card >= 0 && card < QVX_MAX_CARDS;
}
Lists& Current() {
  return g_lists[g_current];
}
// Values per scan that GetScaledData / GetBinaryData deliver.
int32_t ScanWidth(const Lists& l) {
  return l.mixed ? l.ad + l.ct + l.dig : l.ad;
}
// Scans a block read may deliver for a request: at most 10000.
std::size_t Scans(int32_t count) {
  return static_cast<std::size_t>(std::clamp(count, 0, 10000));
}

// A caller's buffer of exactly n elements (a distinct block also for n = 0),
// or null when the script asks for it.
template <typename T>
struct Buffer {
  std::unique_ptr<T[]> block;
  T* ptr;
  Buffer(std::size_t n, bool null) : block(new T[n]()), ptr(null ? nullptr : block.get()) {}
};

// One argument of a call, of its parameter's type: integers and reals by
// value, a pointer to a buffer of one element, a void pointer to a block of
// none (the calls taking one may not touch it).
template <typename T>
struct In {
  explicit In(const Arg& a)
      : value(std::is_floating_point_v<T> ? static_cast<T>(a.r) : static_cast<T>(a.i)) {}
  T get() const { return value; }
  T value;
};
template <typename T>
struct In<T*> : Buffer<T> {
  explicit In(const Arg& a) : Buffer<T>(1, a.null) {}
  T* get() const { return this->ptr; }
};
template <>
struct In<void*> : Buffer<char> {
  explicit In(const Arg& a) : Buffer<char>(0, a.null) {}
  void* get() const { return ptr; }
};

// Calls `f` with the script's arguments a[0], a[1], ... in its own types.
template <typename R, typename... P, std::size_t... K>
R CallAt(R (*f)(P...), const Arg* a, std::index_sequence<K...>) {
  std::tuple<In<P>...> in{a[K]...};
  return std::apply([f](const auto&... x) { return f(x.get()...); }, in);
}
template <typename R, typename... P>
R Call(R (*f)(P...), const Arg* a) {
  return CallAt(f, a, std::index_sequence_for<P...>{});
}
// Calls each of `f` with the same arguments.
template <typename... F>
void CallEach(const Arg* a, F... f) {
  (Call(f, a), ...);
}

// ---- Watchdog ------------------------------------------------------------------
// Each call must return within kCallBoundMs. The library's own waits add up
// to a few seconds at most (mutex waits of 1 s, a stop's wait of 5 s,
// injected driver delays of 1.1 s); anything longer is a hang.
constexpr int64_t kCallBoundMs = 30000;
std::atomic<const char*> g_call{nullptr};
std::atomic<int64_t> g_deadline{0};

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct Watch {
  explicit Watch(const char* name) {
    g_deadline = Now() + kCallBoundMs;
    g_call = name;
  }
  ~Watch() { g_call = nullptr; }
};

void WatchdogLoop() {
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const char* call = g_call;
    if (call != nullptr && Now() > g_deadline) {
      std::fprintf(stderr, "==watchdog== %s has not returned within 30 s: a hang\n", call);
      std::abort();
    }
  }
}

// ---- Operations ------------------------------------------------------------------
struct Op {
  const char* name;
  const char* kinds;
  void (*run)(const Arg* a);
};

void Opened(int32_t card, int32_t status) {
  if (status == QVX_OK) {
    g_lists[card] = Lists{};
    g_current = card;
  }
}
void Cleared() {
  Current() = Lists{};
}
// FinalInit adds an analog entry by itself to a list of only counters and
// digital entries.
void Finalized(int32_t status) {
  g_set_up.set(g_current);
  Lists& l = Current();
  if (status == QVX_OK && l.ad == 0 && (l.ct > 0 || l.dig > 0)) l.ad = 1;
}
void Added(int32_t status, int32_t Lists::*kind, bool mixed) {
  if (status != QVX_OK) return;
  Current().*kind += 1;
  if (mixed) Current().mixed = true;
}

// Block reads of the capture (analog, digital-input, counter): destination,
// count pointer, count, mode; `width` values per scan.
template <typename T>
void BlockRead(const Arg* a, int32_t width, int32_t (*read)(T*, int32_t*, int32_t)) {
  Buffer<T> out(Scans(a[2].i) * static_cast<std::size_t>(width), a[0].null);
  Buffer<int32_t> count(1, a[1].null);
  if (count.ptr != nullptr) *count.ptr = a[2].i;
  read(out.ptr, count.ptr, a[3].i);
}

// Puts of the script's frame count, bounded so that the caller's buffer stays
// allocatable (the largest output ring holds 12000 frames): values from the
// tables (reals) or spread over the codes, one hostile real in seven.
template <typename T, typename Put>
void StreamPut(bool null, int32_t requested, Put put) {
  int32_t count = std::min(requested, 65536);
  const std::size_t n = static_cast<std::size_t>(std::max(count, 0)) * Current().da;
  Buffer<T> values(n, null);
  for (std::size_t k = 0; k < n; ++k) {
    if constexpr (std::is_floating_point_v<T>) {
      values.block[k] = k % 7 == 6 ? kHostileReals[k % Count(kHostileReals)] : kReals[k % 16] / 1e5;
    } else {
      values.block[k] = static_cast<T>(k * 2654435761u);
    }
  }
  put(values.ptr, &count);
}

// Memory-measurement reads: card, channels, values per channel, mode.
std::size_t MemoryValues(int32_t card, int32_t channels, int32_t count, bool scaled) {
  if (!InRange(card)) return 0;
  const Lists& l = g_lists[card];
  const int32_t width = l.mixed  ? l.ad + l.ct + l.dig
                        : scaled ? l.ad
                                 : (channels > 0 && channels <= l.ad ? channels : 0);
  return Scans(count) * static_cast<std::size_t>(width);
}

// clang-format off
#define OP(name, kinds, ...) {#name, kinds, [](const Arg* a) { (void)a; __VA_ARGS__; }}
#define CALL(name, kinds) {#name, kinds, [](const Arg* a) { Call(name, a); }}
#define ADD(name, kinds, list, mixed) OP(name, kinds, Added(Call(name, a), &Lists::list, mixed))
// clang-format on

const Op kOps[] = {
    // Card lifecycle
    CALL(LoadCard, "c"),
    OP(OpenCard, "c", Opened(a[0].i, OpenCard(a[0].i))),
    OP(SwitchCard, "c", if (SwitchCard(a[0].i) == QVX_OK) g_current = a[0].i),
    CALL(CloseCard, "c"),
    // Set-up
    CALL(ConfigCard, "iii"),
    OP(ClearChannelLists, "", ClearChannelLists(); Cleared()),
    OP(ClearChannelListsEx, "cii",
       if (ClearChannelListsEx(a[0].i, a[1].i, a[2].i) == QVX_OK) Cleared()),
    OP(FinalInit, "", Finalized(FinalInit())),
    CALL(ReSynchronize, ""),
    CALL(PrepareExtTrigger, "ciii"),
    CALL(SetMasterSlaveFunction, "ci"),
    CALL(SetDelay, "ci"),
    // Module information and flash
    CALL(ReadFlashData, "cp"),
    CALL(ReadFlashDataEx, "cp"),
    OP(GetCustomerName, "cp", Buffer<char> b(8042, a[1].null); GetCustomerName(a[0].i, b.ptr)),
    CALL(GetEnhancedInformations, "cp"),
    OP(GetDLLVersion, "pppp", Buffer<char> t(20, a[0].null); GetDLLVersion(
           t.ptr, In<int32_t*>(a[1]).ptr, In<int32_t*>(a[2]).ptr, In<int32_t*>(a[3]).ptr)),
    CALL(ClearPrivateFlash, "c"),
    OP(ReadPrivateFlash, "cpi", Buffer<char> b(std::clamp(a[2].i, 0, 256), a[1].null);
       ReadPrivateFlash(a[0].i, b.ptr, a[2].i)),
    OP(WritePrivateFlash, "cpi", Buffer<char> b(std::clamp(a[2].i, 0, 256), a[1].null);
       WritePrivateFlash(a[0].i, b.ptr, a[2].i)),
    // Reserved entry points, arguments x, y, x, y, ...: nothing may be
    // written through their pointers.
    OP(Reserved, "ci", Arg r[26]; for (int k = 0; k < 26; ++k) r[k] = a[k % 2];
       CallEach(r, ProgramUserTimerFrequency, StartUserTimer, StopUserTimer, SendICPSettings,
                ShowDebugNumber, GetHWExtensions, GetSWExtensions, PreparePWMOutput,
                PrepareFMOutput, WriteNewPWMRatio, WriteNewFMRatio, WriteNewPWMRatioEx,
                WriteNewFMRatioEx, GetFFTData, PrepareFFTEntry, PrepareFilterEntry, PreparePIDEntry,
                PrepareTriggerEntry, PrepareTriggerTakt, SetGlobalTriggerValues)),
    // Analog input
    ADD(Add_AD_Channel_to_ScanList, "iiii", ad, false),
    CALL(SetADFrequency, "i"),
    CALL(SetADFrequencyEx, "iii"),
    CALL(StartADCapture, ""),
    CALL(StartADCaptureEx, "iii"),
    CALL(StopADCapture, ""),
    CALL(GetADBufferStatus, "cp"),
    OP(GetScaledData, "ppim",
       BlockRead<double>(
           a, ScanWidth(Current()),
           [](double* d, int32_t* n, int32_t m) { return GetScaledData(7, d, n, m); })),
    OP(GetBinaryData, "ppim", BlockRead<uint32_t>(a, ScanWidth(Current()), GetBinaryData)),
    CALL(CaptureOneChannel, "imipp"),
    CALL(CaptureOneChannelEx, "imiiiipp"),
    // Analog output
    CALL(PutOneChannel, "iir"),
    ADD(Add_DA_Channel_to_ScanList, "i", da, false),
    CALL(Add_DA_Channel_to_ScanListEx, "iii"),
    CALL(SetDAFrequency, "i"),
    CALL(StartDAOutput, ""),
    CALL(StartDAOutputEx, "iii"),
    CALL(StopDAOutput, ""),
    OP(PutScaledData, "piim",
       StreamPut<double>(a[0].null, a[2].i,
                         [a](double* v, int32_t* n) { PutScaledData(0, v, a[1].i, n, a[3].i); })),
    OP(PutBinaryData, "piim",
       StreamPut<uint16_t>(a[0].null, a[2].i,
                           [a](uint16_t* v, int32_t* n) { PutBinaryData(v, a[1].i, n, a[3].i); })),
    CALL(GetDAFreeBufferSpace, "cp"),
    // Digital I/O
    CALL(SetDigitalDirection, "ii"),
    CALL(ReadDigitalBit, "ip"),
    CALL(WriteDigitalBit, "ii"),
    CALL(SetDigitalPortDirection, "iii"),
    CALL(ReadDigitalPort, "iip"),
    CALL(WriteDigitalPort, "iii"),
    // Digital-input capture
    ADD(Add_Dig_Channel_to_ScanList, "ii", dig, true),
    ADD(DIN_AddChannel_To_DINScanlist, "ii", dig, false),
    CALL(SetDINFrequency, "r"),
    CALL(StartDINCapture, ""),
    CALL(StartDINCaptureEx, "iii"),
    CALL(StopDINCapture, ""),
    OP(DIN_GetScaledData, "ppim", BlockRead<uint32_t>(a, Current().dig, DIN_GetScaledData)),
    OP(DIN_GetBinaryData, "ppim", BlockRead<uint32_t>(a, Current().dig, DIN_GetBinaryData)),
    CALL(GetDINBufferStatus, "cp"),
    // Counters
    CALL(ConfigureCounterInput, "iiiiiiiii"),
    CALL(ConfigureCounterInputEx, "iiiiiiiiii"),
    CALL(ReadCounterValue, "ip"),
    ADD(Add_CT_Channel_to_ScanList, "i", ct, true),
    ADD(CT_AddChannel_To_CTScanlist, "i", ct, false),
    CALL(SetCTFrequency, "r"),
    CALL(StartCTCapture, ""),
    CALL(StartCTCaptureEx, "iii"),
    CALL(StartCTforRead, ""),
    CALL(StopCTCapture, ""),
    OP(CT_GetScaledData, "ppim", BlockRead<uint32_t>(a, Current().ct, CT_GetScaledData)),
    OP(CT_GetBinaryData, "ppim", BlockRead<uint32_t>(a, Current().ct, CT_GetBinaryData)),
    CALL(GetCTBufferStatus, "cp"),
    // Memory measurements
    CALL(StartMemoryMeasurement, "ciii"),
    CALL(StartMemoryMeasurementEx, "ciiii"),
    CALL(StopMemoryMeasurement, "c"),
    CALL(DeInitMemoryMeasurement, "c"),
    CALL(GetMemoryMeasurementStatus, "c"),
    CALL(ReadMemoryMeasurementStatus, "cpp"),
    OP(GetScaledDataFromMemoryMeasurement, "ciiipmp",
       Buffer<double> out(MemoryValues(a[0].i, a[2].i, a[3].i, true), a[4].null);
       GetScaledDataFromMemoryMeasurement(a[0].i, a[1].i, a[2].i, a[3].i, out.ptr, a[5].i,
                                          In<int32_t*>(a[6]).ptr)),
    OP(GetBinaryDataFromMemoryMeasurement, "ciipmp",
       Buffer<int32_t> out(MemoryValues(a[0].i, a[1].i, a[2].i, false), a[3].null);
       GetBinaryDataFromMemoryMeasurement(a[0].i, a[1].i, a[2].i, out.ptr, a[4].i,
                                          In<int32_t*>(a[5]).ptr)),
    // The simulated module
    OP(sim_clock, "ci", kestro_sim_set_clock(a[0].i, a[1].i)),
    OP(sim_advance, "ci", kestro_sim_advance(a[0].i, a[1].i)),
    OP(sim_da_clock, "ci", kestro_sim_set_da_clock(a[0].i, a[1].i)),
    OP(sim_da_advance, "ci", kestro_sim_da_advance(a[0].i, a[1].i)),
    OP(sim_module, "ci", kestro_sim_set_module(a[0].i, a[1].i % 9)),
    OP(sim_pattern, "ci", kestro_sim_set_pattern(a[0].i, a[1].i)),
    OP(sim_board_memory, "ci", kestro_sim_set_board_memory(a[0].i, a[1].i)),
    OP(sim_fifo_capacity, "ci", kestro_sim_set_fifo_capacity(a[0].i, a[1].i)),
    OP(sim_da_queue, "ci", kestro_sim_set_da_queue(a[0].i, a[1].i)),
    OP(sim_counter_input, "cir", Call(kestro_sim_set_counter_input, a)),
    OP(sim_digital_count, "ciii", Call(kestro_sim_set_digital_count, a)),
    OP(sim_digital_input, "cii", Call(kestro_sim_set_digital_input_word, a)),
    OP(sim_signal, "ciirrr", Call(kestro_sim_set_signal, a)),
    OP(sim_fail, "eit", kestro_sim_fail(kestro_sim_entry_name(a[0].i), a[1].i, a[2].i)),
    OP(sim_delay, "ed",
       kestro_sim_delay(kestro_sim_entry_name(a[0].i), static_cast<uint32_t>(a[1].i))),
    OP(sim_clear_faults, "", kestro_sim_clear_faults()),
    OP(pause, "z", std::this_thread::sleep_for(std::chrono::milliseconds(a[0].i))),
};
#undef OP
#undef CALL
#undef ADD
constexpr int32_t kOpCount = Count(kOps);

// Brings the library and the simulator back to the state every input starts
// from: each card the input may have touched opened afresh, its lists
// cleared in the library and the driver, its staging buffers and output ring
// released (after a FinalInit), and closed; card 0 current; the simulator
// reset.
void Restore() {
  Watch watch("restore between inputs");
  kestro_sim_clear_faults();
  g_touched.set(0);
  for (int32_t card = QVX_MAX_CARDS - 1; card >= 0; --card) {
    if (!g_touched.test(card)) continue;
    kestro_sim_set_module(card, KESTRO_SIM_STANDARD);
    OpenCard(card);
    ClearChannelLists();  // the driver's lists too, so the library forgets their widths
    if (g_set_up.test(card)) {
      FinalInit();       // frees the output ring
      StartADCapture();  // a stop releases the staging buffers only after a start (or a latch)
      StopADCapture();
      ClearChannelLists();  // the latch the start may have set
    }
    CloseCard(card);
  }
  kestro_sim_reset();
  kestro_sim_log_enable(0);
  for (Lists& l : g_lists) l = Lists{};
  g_current = 0;
  g_touched.reset();
  g_set_up.reset();
}

// QVX_FUZZ_TRACE=1 prints each operation with its arguments and the driver
// calls it made, to turn a finding into a readable call sequence.
bool g_trace = false;

// Calls made over the whole run, printed at exit.
uint64_t g_calls = 0;
uint64_t g_inputs = 0;

// Injected delays can make a long script legitimately slow; past this
// budget the rest of the script is skipped, so that libFuzzer's time-out
// per input (scripts/fuzz.sh) only sees real hangs.
constexpr int64_t kScriptBudgetMs = 20000;

void RunScript(const uint8_t* data, std::size_t size) {
  ++g_inputs;
  const int64_t start = Now();
  if (g_trace) kestro_sim_log_enable(1);
  std::size_t at = 0;
  while (at < size && Now() - start < kScriptBudgetMs) {
    const Op& op = kOps[data[at++] % kOpCount];
    Arg args[12];
    std::string line = op.name;
    for (std::size_t k = 0; op.kinds[k] != '\0'; ++k) {
      args[k] = Decode(op.kinds[k], at < size ? data[at++] : 0);
      if (op.kinds[k] == 'c' && InRange(args[k].i)) g_touched.set(args[k].i);
      if (g_trace) line += " " + Show(op.kinds[k], args[k]);
    }
    g_touched.set(g_current);
    if (g_trace) std::fprintf(stderr, "%s\n", line.c_str());
    {
      Watch watch(op.name);
      op.run(args);
      ++g_calls;
    }
    g_touched.set(g_current);
    char text[256];
    for (uint32_t k = 0; g_trace && kestro_sim_log_entry(k, text, sizeof text) >= 0; ++k) {
      std::fprintf(stderr, "    %s\n", text);
    }
    kestro_sim_log_clear();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_trace = std::getenv("QVX_FUZZ_TRACE") != nullptr;
  std::thread(WatchdogLoop).detach();
  std::atexit([] {
    std::fprintf(stderr, "quorvex_fuzz: %llu calls in %llu inputs\n",
                 static_cast<unsigned long long>(g_calls),
                 static_cast<unsigned long long>(g_inputs));
  });
  Restore();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  RunScript(data, size);
  Restore();
  return 0;
}

// qvx: the command-line tool of the Quorvex library. Declarations shared by
// its source files; main.cpp holds the command line, each other file one
// group of commands or helpers.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "kestro_sim.h"
#include "quorvex.hpp"

namespace qvx {

// A bad option or value: exit status 2, one line naming what was wrong.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A failure that is not a status of the library (a file that cannot be
// written, a capture that ran dry): exit status 1.
struct RunError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// ---- Options ----------------------------------------------------------------

struct Common {
  std::int32_t card = 0;
  std::vector<std::string> sim;  // settings of the simulated module
  bool quiet = false;            // no progress line
};

// Inputs of a capture, as given on the command line.
struct InputOptions {
  std::string ai, ct, di;
  std::vector<std::string> ranges;  // "0-3:1", "2:5V", or a code for all inputs
  std::int32_t rate = 1000;
};

// A waveform for streamed output.
struct WaveOptions {
  std::string wave = "sine";  // sine, square, triangle, or a CSV file
  double amplitude = 1.0;     // volts
  double offset = 0.0;        // volts
  double frequency = 1.0;     // Hz
};

struct ScanOptions {
  InputOptions inputs;
  std::optional<double> duration;  // seconds
  std::optional<std::int64_t> scans;
  std::optional<std::int64_t> target;  // memory measurement
  std::string output;                  // .csv, .bin, .h5, or "-" (CSV on stdout)
  std::string plot;                    // .png
  bool raw = false;
  bool quiet = false;
  std::string ao;  // outputs streamed during the capture
  std::int32_t ao_rate = 0;
  WaveOptions wave;
};

struct AiOptions {
  std::string channels = "0";
  std::string range = "0";
  bool differential = false;
  std::int32_t count = 1;
  double interval = 0.1;  // seconds
};

struct AoOptions {
  std::string channels = "0";
  std::optional<double> set;  // one value now
  WaveOptions wave;
  std::int32_t rate = 0;  // frames per second
  std::optional<double> duration;
};

struct DioOptions {
  std::string action;  // read, write, direction
  std::string lines;   // "3" or "0-7"
  std::string port;    // "FIRST:COUNT"
  std::string value;   // write: 0/1 or a port word (0x.. allowed)
  bool output = false, input = false;
};

struct CounterOptions {
  std::string counters = "0";
  std::optional<std::int32_t> mode;
  std::vector<std::int32_t> settings;  // setting3, setting4, 4 flags, setting9
  std::int32_t rate = 100;
  double duration = 1.0;
  double interval = 0.2;
};

struct FlashOptions {
  std::string action;  // read, write, clear
  std::int32_t count = 256;
  std::string text, hex, file, output;
};

// ---- Parsing (parse.cpp) ----------------------------------------------------

// "0-3,5" -> 0 1 2 3 5. Raises UsageError naming `option` when malformed.
std::vector<std::int32_t> ParseList(const std::string& text, const char* option);
quorvex::range ParseRange(const std::string& text, const char* option);
// The scan list of the options; `rate` set.
quorvex::scan_list BuildScanList(const InputOptions& options);
// An unsigned number in decimal or with 0x.
std::uint32_t ParseWord(const std::string& text, const char* option);

// ---- The simulated module, looked up at run time (sim.cpp) --------------------

// The control functions of the simulated module when the loaded driver is
// the simulator; every pointer is null with another driver.
struct Sim {
  decltype(&kestro_sim_capture) capture = nullptr;
  decltype(&kestro_sim_output) output = nullptr;
  decltype(&kestro_sim_set_module) set_module = nullptr;
  decltype(&kestro_sim_module_from_name) module_from_name = nullptr;
  decltype(&kestro_sim_set_signal) set_signal = nullptr;
  decltype(&kestro_sim_set_analog_loopback) set_analog_loopback = nullptr;
  decltype(&kestro_sim_set_pattern) set_pattern = nullptr;
  decltype(&kestro_sim_set_counter_input) set_counter_input = nullptr;
  decltype(&kestro_sim_set_digital_count) set_digital_count = nullptr;
  decltype(&kestro_sim_set_digital_input_word) set_digital_input_word = nullptr;

  bool present() const { return capture != nullptr; }
  // Scans lost in the module's memory or the driver's buffers; -1 unknown.
  std::int64_t Lost(std::int32_t card) const;
  // Output underruns; -1 unknown.
  std::int64_t Underruns(std::int32_t card) const;
  // Codes waiting in the module's output queue; -1 unknown.
  std::int64_t Queued(std::int32_t card) const;
};

// Looks the simulator up in the driver the library loaded (needs the library
// loaded: call after the first library call).
const Sim& FindSim();
// Applies --sim settings to `card` before it is opened; warns and ignores
// them with another driver.
void ApplySim(const Common& common);

// ---- Terminal and Ctrl-C (sim.cpp) -------------------------------------------

// True once Ctrl-C was pressed (after WatchInterrupt).
extern std::atomic<bool> g_interrupted;
void WatchInterrupt();
bool StderrIsTerminal();
// Rewrites the progress line on standard error (only on a terminal, unless
// quiet); Finish ends it with a line feed.
class Progress {
 public:
  explicit Progress(bool enabled) : enabled_(enabled && StderrIsTerminal()) {}
  void Show(const std::string& text);
  void Finish();

 private:
  bool enabled_;
  bool shown_ = false;
};

// ---- Writing captured data (output.cpp) --------------------------------------

struct CaptureInfo {
  std::int32_t card = 0;
  std::int32_t rate = 0;
  std::string module;
  std::string start_time;            // ISO 8601, UTC
  std::vector<quorvex::slot> slots;  // written slots (the implicit one left out)
  std::vector<std::size_t> columns;  // their positions in a scan
  std::vector<std::string> names;    // unique names ("ai0", "ai0_2", ...)
  bool raw = false;
};

// Unit of a written slot: "code" for raw analog values, else the slot's own.
std::string UnitOf(const quorvex::slot& slot, bool raw);

class Writer {
 public:
  virtual ~Writer() = default;
  // Writes `scans` scans of `values` (every slot of the layout, scan-major),
  // the first numbered `first_scan`.
  virtual void Write(std::uint64_t first_scan, std::size_t scans, std::size_t stride,
                     std::span<const double> values) = 0;
  // Completes the file; a closed file is valid whatever came before.
  virtual void Close() = 0;

 protected:
  // For destructors, which complete the file too but must not throw.
  template <class F>
  static void Quietly(F&& close) noexcept {
    try {
      close();
    } catch (const std::exception&) {
    }
  }
};

// A writer chosen by the file's extension; "-" writes CSV to standard output.
std::unique_ptr<Writer> MakeWriter(const std::string& path, const CaptureInfo& info);
// Raises UsageError for a file name this build cannot write.
void CheckOutputName(const std::string& path);

// Running statistics of every written slot, and its dominant frequency.
class Statistics {
 public:
  explicit Statistics(const CaptureInfo& info);
  void Add(std::size_t scans, std::size_t stride, std::span<const double> values);
  void Print(std::FILE* to) const;

 private:
  struct Slot {
    double min = 0, max = 0, sum = 0, squares = 0;
    std::vector<double> recent;  // the newest values, for the spectrum
  };
  const CaptureInfo& info_;
  std::vector<Slot> slots_;
  std::uint64_t count_ = 0;
};

// Draws the CSV file `data` into `png` with gnuplot; false with a message when
// gnuplot is not installed.
bool Plot(const std::string& data, const std::string& png, const CaptureInfo& info);

// ---- Commands (capture.cpp, commands.cpp) -------------------------------------

int Info(const Common& common, bool all);
int Scan(const Common& common, const ScanOptions& options);
int Memory(const Common& common, const ScanOptions& options);
int Ai(const Common& common, const AiOptions& options);
int Ao(const Common& common, const AoOptions& options);
int Dio(const Common& common, const DioOptions& options);
int Counter(const Common& common, const CounterOptions& options);
int Flash(const Common& common, const FlashOptions& options);

// Generates the frames of a waveform, one value per output, continuing where
// the last call ended (commands.cpp).
class Wave {
 public:
  Wave(const WaveOptions& options, std::int32_t rate, std::size_t outputs);
  void Fill(std::span<double> frames);
  // Frames of one pass through a CSV waveform; 0 for generated ones.
  std::size_t FileFrames() const { return rows_.size(); }

 private:
  WaveOptions options_;
  std::int32_t rate_;
  std::size_t outputs_;
  std::uint64_t frame_ = 0;
  std::vector<std::vector<double>> rows_;
};

}  // namespace qvx

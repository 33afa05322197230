// quorvex.hpp - C++ interface of the Quorvex data-acquisition library.
//
// Header-only, over the C functions of quorvex.h; it needs C++20. It adds no
// behaviour to the library: it selects the right card before every call,
// turns status codes into exceptions and gives the lists, buffers and runs
// types of their own.
//
//   quorvex::card card(0);                      // OpenCard; closed at scope end
//   quorvex::scan_list inputs;
//   inputs.analog(0).analog(1, quorvex::range::pm5v).counter(0).rate(1000);
//   card.prepare(inputs);                       // lists, rate, FinalInit
//   quorvex::block_reader reader(card, 500);
//   card.start_capture();
//   auto block = reader.next(std::chrono::seconds(1));
//   double volts = block.at(0, 1);              // scan 0, slot 1 (input 1)
//
// Threading model
//
//  - Every call of this interface takes one process-wide lock (per program
//    module), selects its card with SwitchCard and makes its C call, then
//    lets go. So card objects may be used from any thread, and one thread's
//    selection never redirects another thread's call. A single card object
//    (and a block reader) is used by one thread at a time.
//  - Code that calls the C functions directly while card objects are in use
//    on other threads holds quorvex::lock_calls() around each of its
//    select-and-call sequences.
//  - Waiting is done outside the lock: block_reader::next and
//    card::write_all poll with calls that do not wait, and sleep between
//    polls without holding the lock.
//  - Each open card has a worker thread inside the library that moves data
//    between the module and the library's buffers; it never calls back.
//  - background_reader runs a block reader on a thread of its own and calls
//    your handler there, without holding the lock. The handler may call any
//    function of this interface on any card, and request_stop() of its own
//    reader, but must not destroy or stop() (join) its reader.
//
// Errors: a failing status raises quorvex::error (a std::system_error whose
// code() is of the quorvex category), carrying the status, the name of the
// failing C function and the card. A failure latches the card: every further
// call on it fails until reopen(). Lists given to the builders are checked
// before any call and raise std::invalid_argument.
#ifndef QUORVEX_HPP
#define QUORVEX_HPP

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "quorvex.h"
#include "quorvex_status.h"

namespace quorvex {

// Status codes of the library (quorvex_status.h gives their messages).
enum class status : int {
  ok = QVX_OK,
  failure = QVX_FAILURE,
  argument = QVX_ARGUMENT,
  mem_target_passed = QVX_MEM_TARGET_PASSED,
  mem_not_running = QVX_MEM_NOT_RUNNING,
  mem_running = QVX_MEM_RUNNING,
};

namespace detail {
class category_impl final : public std::error_category {
 public:
  const char* name() const noexcept override { return "quorvex"; }
  std::string message(int code) const override { return QvxStatusMessage(code); }
};
}  // namespace detail

// The error category of the library's status codes.
inline const std::error_category& category() noexcept {
  static const detail::category_impl instance;
  return instance;
}

inline std::error_code make_error_code(status code) noexcept {
  return {static_cast<int>(code), category()};
}

}  // namespace quorvex

template <>
struct std::is_error_code_enum<quorvex::status> : std::true_type {};

namespace quorvex {

// A call of the library that failed: status(), the C function's name
// (call()) and the card (card(), -1 for calls without one).
class error : public std::system_error {
 public:
  error(std::int32_t code, std::string call, std::int32_t card, const std::string& detail = {})
      : std::system_error(code, category(), Describe(code, call, card, detail)),
        call_(std::make_shared<const std::string>(std::move(call))),
        card_(card) {}

  std::int32_t status() const noexcept { return code().value(); }
  const std::string& call() const noexcept { return *call_; }
  std::int32_t card() const noexcept { return card_; }

 private:
  static std::string Describe(std::int32_t code, const std::string& call, std::int32_t card,
                              const std::string& detail) {
    std::string text = call;
    if (card >= 0) text += " on card " + std::to_string(card);
    text += " returned " + std::to_string(code);
    const std::string name = QvxStatusName(code);
    if (!name.empty()) text += " (" + name + ")";
    if (!detail.empty()) text += ", " + detail;
    return text;  // std::system_error appends ": " and the message
  }

  std::shared_ptr<const std::string> call_;
  std::int32_t card_;
};

// SwitchCard refused the card because its error latch is set: no call went
// to it (nor to whichever card is current). reopen() clears the latch.
class latched_error : public error {
 public:
  explicit latched_error(std::int32_t card)
      : error(QVX_FAILURE, "SwitchCard", card,
              "the card's error latch is set by an earlier failure, so no call goes to it; "
              "reopen() the card (OpenCard) to clear the latch") {}
};

// A capture ended by the card's error latch (for example after the module's
// on-board memory overflowed): scans_delivered() scans, numbered from 0,
// were delivered intact; last_good_scan() is the last of them (-1: none).
class capture_error : public error {
 public:
  capture_error(std::int32_t card, std::string call, std::uint64_t delivered)
      : error(QVX_FAILURE, std::move(call), card,
              "the card latched during the capture; " +
                  (delivered == 0
                       ? std::string("no scan was delivered")
                       : "scans 0 to " + std::to_string(delivered - 1) + " were delivered intact") +
                  ", later ones are lost"),
        delivered_(delivered) {}

  std::uint64_t scans_delivered() const noexcept { return delivered_; }
  std::int64_t last_good_scan() const noexcept { return static_cast<std::int64_t>(delivered_) - 1; }

 private:
  std::uint64_t delivered_;
};

// The lock that serialises every select-and-call sequence of this interface.
inline std::mutex& call_mutex() {
  static std::mutex mutex;
  return mutex;
}

// Hold this around C calls made beside card objects used on other threads.
inline std::unique_lock<std::mutex> lock_calls() {
  return std::unique_lock<std::mutex>(call_mutex());
}

// ---- Lists ------------------------------------------------------------------

// Input ranges of the analog inputs: ±10 V, ±5 V, ±2.5 V, ±1.25 V.
enum class range : std::int32_t { pm10v = 0, pm5v = 1, pm2v5 = 2, pm1v25 = 3 };

// Full scale of a range in volts (10, 5, 2.5 or 1.25).
constexpr double full_scale(range r) noexcept {
  return 10.0 / static_cast<double>(1 << std::clamp(static_cast<int>(r), 0, 3));
}

// What one digital entry of a scan list holds: one line, an 8-line port or a
// 16-line port. A list has one width for all its digital entries.
enum class digital_width : std::int32_t { line = 0, byte = 1, word = 2 };

enum class slot_kind { analog, counter, digital };

// One value of a scan, as the reads deliver it.
struct slot {
  slot_kind kind = slot_kind::analog;
  std::int32_t channel = 0;                   // input, counter, or line/port number
  range input_range = range::pm10v;           // analog slots
  digital_width width = digital_width::line;  // digital slots
  bool implicit = false;  // input 0, added by the library to a list without analog inputs

  // "ai3", "ct0", "di1".
  std::string name() const {
    const char* prefix = kind == slot_kind::analog    ? "ai"
                         : kind == slot_kind::counter ? "ct"
                                                      : "di";
    return prefix + std::to_string(channel);
  }
  // Unit of the scaled value: "V", "counts", "line", "byte" or "word".
  const char* unit() const {
    if (kind == slot_kind::analog) return "V";
    if (kind == slot_kind::counter) return "counts";
    return width == digital_width::line ? "line" : width == digital_width::byte ? "byte" : "word";
  }
};

// The mixed scan list of a capture or memory measurement: analog inputs
// with their ranges, counters and digital entries, in the order added, and
// the acquisition rate. Digital entries are read by their position in the
// list, so a list names lines or ports 0, 1, 2, ... in that order.
class scan_list {
 public:
  scan_list& analog(std::int32_t channel, range input_range = range::pm10v) {
    Check(channel >= 0, "an analog input number is negative");
    Check(Count(slot_kind::analog) < 16, "a scan list holds at most 16 analog inputs");
    return Add({slot_kind::analog, channel, input_range, digital_width::line, false});
  }
  scan_list& counter(std::int32_t counter_number) {
    Check(counter_number >= 0 && counter_number < 16, "a counter number lies in 0..15");
    Check(Count(slot_kind::counter) < 16, "a scan list holds at most 16 counters");
    return Add({slot_kind::counter, counter_number, range::pm10v, digital_width::line, false});
  }
  scan_list& digital(std::int32_t channel, digital_width width) {
    const std::size_t before = Count(slot_kind::digital);
    Check(before == 0 || width == width_,
          "all digital entries of a scan list have one width (line, byte or word)");
    Check(channel == static_cast<std::int32_t>(before),
          "digital entries are read by their position: list lines or ports 0, 1, 2, ... in "
          "that order");
    width_ = width;
    return Add({slot_kind::digital, channel, range::pm10v, width, false});
  }
  // Scans per second (10 and up; rate x analog inputs within the module's
  // aggregate rate).
  scan_list& rate(std::int32_t hz) {
    Check(hz >= 10, "the acquisition rate is 10 Hz or more");
    rate_ = hz;
    return *this;
  }

  std::int32_t rate() const noexcept { return rate_; }
  std::span<const slot> entries() const noexcept { return entries_; }
  bool empty() const noexcept { return entries_.empty(); }
  // True when the list holds counters or digital entries.
  bool mixed() const noexcept { return Count(slot_kind::analog) != entries_.size(); }

  // The slots of one scan as the reads deliver them: the entries, and input 0
  // at the end when the list has no analog input (the library adds it).
  std::vector<slot> layout() const {
    std::vector<slot> slots = entries_;
    if (!entries_.empty() && Count(slot_kind::analog) == 0) {
      slots.push_back({slot_kind::analog, 0, range::pm10v, digital_width::line, true});
    }
    return slots;
  }

 private:
  static void Check(bool ok, const char* what) {
    if (!ok) throw std::invalid_argument(std::string("scan_list: ") + what);
  }
  std::size_t Count(slot_kind kind) const noexcept {
    return static_cast<std::size_t>(std::count_if(
        entries_.begin(), entries_.end(), [kind](const slot& s) { return s.kind == kind; }));
  }
  scan_list& Add(const slot& entry) {
    Check(entries_.size() < 49, "a scan list holds at most 49 entries");
    entries_.push_back(entry);
    return *this;
  }

  std::vector<slot> entries_;
  digital_width width_ = digital_width::line;
  std::int32_t rate_ = 0;
};

// The outputs of a streamed analog output, one value each per frame, and
// the frame rate (frames per second; rate x outputs at most 1000).
class output_list {
 public:
  output_list& analog(std::int32_t channel) {
    if (channel < 0) throw std::invalid_argument("output_list: an output number is negative");
    channels_.push_back(channel);
    return *this;
  }
  output_list& rate(std::int32_t hz) {
    if (hz < 1) throw std::invalid_argument("output_list: the frame rate is 1 Hz or more");
    rate_ = hz;
    return *this;
  }
  std::int32_t rate() const noexcept { return rate_; }
  std::span<const std::int32_t> channels() const noexcept { return channels_; }
  // Values per frame.
  std::size_t width() const noexcept { return channels_.size(); }

 private:
  std::vector<std::int32_t> channels_;
  std::int32_t rate_ = 0;
};

// ---- Card ---------------------------------------------------------------------

struct module_info {
  std::string name;      // identification text ("KESTRO USB-AD16f")
  std::string serial;    // second identification text ("SN 02-004711")
  std::string customer;  // customer name
  std::int32_t analog_inputs = 0;
  std::int32_t analog_outputs = 0;
  std::int32_t digital_lines = 0;
  std::int32_t counters = 0;
  std::int32_t max_rate_hz = 0;  // highest aggregate analog input rate
};

struct library_version {
  std::string text;  // "QUORVEX GEN V61127"
  std::int32_t major = 0, minor = 0, build = 0;
};

// One single conversion: volts over the ±10 V span, and the 16-bit code.
struct conversion {
  double volts = 0.0;
  std::uint32_t code = 0;
};

enum class input_mode : std::int32_t { single_ended = 0, differential = 1 };
enum class direction : std::int32_t { input = 0, output = 1 };
enum class memory_state : std::int32_t {
  target_passed = QVX_MEM_TARGET_PASSED,
  not_running = QVX_MEM_NOT_RUNNING,
  running = QVX_MEM_RUNNING,
};

// The settings ConfigureCounterInput hands to the module after counter and
// mode (their meaning is the module's): setting3 >= 0, setting4 0..3 (the
// decade of frequency measurement on counter modules), flags 0 or 1,
// setting9 0..2.
struct counter_settings {
  std::int32_t setting3 = 0, setting4 = 0;
  std::array<std::int32_t, 4> flags{};
  std::int32_t setting9 = 0;
};

// An open card. The constructor opens it (OpenCard); the destructor stops its
// capture and output and closes it. Movable, not copyable; one object per
// card number at a time.
class card {
 public:
  explicit card(std::int32_t number) : number_(number) {
    std::lock_guard<std::mutex> lock(call_mutex());
    Check(::OpenCard(number_), "OpenCard");
  }
  ~card() { close(); }

  card(const card&) = delete;
  card& operator=(const card&) = delete;
  card(card&& other) noexcept { *this = std::move(other); }
  card& operator=(card&& other) noexcept {
    if (this != &other) {
      close();
      number_ = std::exchange(other.number_, -1);
      layout_ = std::move(other.layout_);
      output_width_ = std::exchange(other.output_width_, 0);
    }
    return *this;
  }

  std::int32_t number() const noexcept { return number_; }
  bool is_open() const noexcept { return number_ >= 0; }
  // The slots of one scan of the list prepare() set up.
  std::span<const slot> layout() const noexcept { return layout_; }
  std::size_t output_width() const noexcept { return output_width_; }

  // Stops what runs and opens the card afresh (OpenCard): clears its latch,
  // restarts its worker and forgets its lists and rates. The way back after
  // any failure.
  void reopen() {
    Open();
    std::lock_guard<std::mutex> lock(call_mutex());
    StopAll();
    Check(::OpenCard(number_), "OpenCard");
    layout_.clear();
    output_width_ = 0;
  }

  // Stops capture and output and closes the card now; the object is then
  // empty. Never throws. A latched card cannot be selected: its capture is
  // then stopped through its card number and its output ends with the close.
  void close() noexcept {
    if (number_ < 0) return;
    std::lock_guard<std::mutex> lock(call_mutex());
    StopAll();
    ::CloseCard(number_);
    number_ = -1;
    layout_.clear();
    output_width_ = 0;
  }

  // ---- Information ----

  module_info info() const {
    Open();
    QvxFlashInfoEx record;
    std::memset(&record, 0, sizeof record);
    std::vector<char> customer(8400, '\0');
    {
      std::lock_guard<std::mutex> lock(call_mutex());
      Check(::ReadFlashDataEx(number_, &record), "ReadFlashDataEx");
      Check(::GetCustomerName(number_, customer.data()), "GetCustomerName");
    }
    module_info info;
    info.name = Text(record.Info.IdentText1, sizeof record.Info.IdentText1);
    info.serial = Text(record.Info.IdentText2, sizeof record.Info.IdentText2);
    info.customer = Text(customer.data(), customer.size());
    info.analog_inputs = record.Info.NumAdChannels;
    info.analog_outputs = record.Info.NumDaChannels;
    info.digital_lines = record.Info.NumDigitalLines;
    info.counters = record.Info.NumCounters;
    info.max_rate_hz = record.MaxAdRateHz;
    return info;
  }

  static library_version version() {
    char text[20] = {};
    library_version v;
    std::lock_guard<std::mutex> lock(call_mutex());
    ::GetDLLVersion(text, &v.major, &v.minor, &v.build);
    v.text = Text(text, sizeof text);
    return v;
  }

  // ---- Set-up ----

  void set_input_mode(input_mode mode) {
    Selected([&] { Check(::ConfigCard(static_cast<std::int32_t>(mode), 0, 0), "ConfigCard"); });
  }

  // Stops what runs, clears the card's lists, lists the inputs and the
  // outputs, sets the rates and completes the set-up (FinalInit).
  void prepare(const scan_list& inputs, const output_list& outputs) {
    if (!inputs.empty() && inputs.rate() == 0) {
      throw std::invalid_argument("scan_list: set a rate before prepare()");
    }
    if (outputs.width() > 0 && outputs.rate() == 0) {
      throw std::invalid_argument("output_list: set a rate before prepare()");
    }
    Selected([&] {
      ::StopADCapture();
      if (output_width_ > 0) ::StopDAOutput();
      layout_.clear();
      output_width_ = 0;
      Check(::ClearChannelLists(), "ClearChannelLists");
      for (const slot& s : inputs.entries()) {
        switch (s.kind) {
          case slot_kind::analog:
            Check(::Add_AD_Channel_to_ScanList(s.channel, 0,
                                               static_cast<std::int32_t>(s.input_range), 0),
                  "Add_AD_Channel_to_ScanList");
            break;
          case slot_kind::counter:
            Check(::Add_CT_Channel_to_ScanList(s.channel), "Add_CT_Channel_to_ScanList");
            break;
          case slot_kind::digital:
            Check(::Add_Dig_Channel_to_ScanList(s.channel, static_cast<std::int32_t>(s.width)),
                  "Add_Dig_Channel_to_ScanList");
            break;
        }
      }
      if (!inputs.empty()) Check(::SetADFrequency(inputs.rate()), "SetADFrequency");
      for (const std::int32_t channel : outputs.channels()) {
        Check(::Add_DA_Channel_to_ScanList(channel), "Add_DA_Channel_to_ScanList");
      }
      if (outputs.width() > 0) Check(::SetDAFrequency(outputs.rate()), "SetDAFrequency");
      Check(::FinalInit(), "FinalInit");
      layout_ = inputs.layout();
      output_width_ = outputs.width();
    });
  }
  void prepare(const scan_list& inputs) { prepare(inputs, output_list{}); }
  void prepare(const output_list& outputs) { prepare(scan_list{}, outputs); }

  // ---- Capture ----

  void start_capture() {
    Selected([&] { Check(::StartADCapture(), "StartADCapture"); });
  }
  // Stops the capture; a new one needs prepare() again.
  void stop_capture() {
    Selected([&] { ::StopADCapture(); });
  }
  // True while an acquisition (capture or memory measurement) runs.
  bool capture_running() const {
    Open();
    std::lock_guard<std::mutex> lock(call_mutex());
    return ::GetMemoryMeasurementStatus(number_) != QVX_MEM_NOT_RUNNING;
  }
  // Scans waiting to be read.
  std::size_t scans_waiting() const {
    Open();
    std::int32_t scans = 0;
    std::lock_guard<std::mutex> lock(call_mutex());
    Check(::GetADBufferStatus(number_, &scans), "GetADBufferStatus");
    return static_cast<std::size_t>(std::max(scans, 0));
  }
  // Reads what waits, up to as many whole scans as `values` holds (at most
  // 10000), scan-major in the order of layout(); returns the scans read.
  // Analog slots in volts (range applied), counters and digital entries as
  // numbers. Never waits for data.
  std::size_t read(std::span<double> values) {
    return Read(
        values, [](double* to, std::int32_t* count) { return ::GetScaledData(0, to, count, 0); },
        "GetScaledData");
  }
  // The same as raw values: 16-bit codes for analog slots.
  std::size_t read_raw(std::span<std::uint32_t> values) {
    return Read(
        values,
        [](std::uint32_t* to, std::int32_t* count) { return ::GetBinaryData(to, count, 0); },
        "GetBinaryData");
  }

  // ---- Streamed output ----

  void start_output() {
    Selected([&] { Check(::StartDAOutput(), "StartDAOutput"); });
  }
  void stop_output() {
    Selected([&] { ::StopDAOutput(); });
  }
  // Room for frames in the library's output ring.
  std::size_t free_frames() const {
    Open();
    std::int32_t frames = 0;
    std::lock_guard<std::mutex> lock(call_mutex());
    Check(::GetDAFreeBufferSpace(number_, &frames), "GetDAFreeBufferSpace");
    return static_cast<std::size_t>(std::max(frames, 0));
  }
  // Writes as many whole frames of `volts` (output_width() values each,
  // interleaved) as there is room for, without waiting; returns the frames
  // taken.
  std::size_t write(std::span<const double> volts) {
    return Write(
        volts,
        [this](const double* from, std::int32_t* frames) {
          return ::PutScaledData(0, from, static_cast<std::int32_t>(output_width_), frames, 0);
        },
        "PutScaledData");
  }
  // The same with 16-bit codes.
  std::size_t write_raw(std::span<const std::uint16_t> codes) {
    return Write(
        codes,
        [this](const std::uint16_t* from, std::int32_t* frames) {
          return ::PutBinaryData(from, static_cast<std::int32_t>(output_width_), frames, 0);
        },
        "PutBinaryData");
  }
  // Writes every frame of `volts`, waiting for room (outside the lock) at
  // most `limit` in all; raises quorvex::error when the room does not come.
  void write_all(std::span<const double> volts,
                 std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!volts.empty()) {
      const std::size_t frames = write(volts);
      volts = volts.subspan(frames * output_width_);
      if (volts.empty()) break;
      if (std::chrono::steady_clock::now() >= end) {
        throw error(QVX_FAILURE, "PutScaledData", number_,
                    "no room for the remaining frames in time; is the output started?");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  // ---- Single values ----

  // One conversion of `channel`; the range is handed to the module, the volts
  // are those of the ±10 V span.
  conversion convert(std::int32_t channel, range input_range = range::pm10v,
                     input_mode mode = input_mode::single_ended) {
    conversion c;
    Selected([&] {
      Check(::CaptureOneChannel(channel, static_cast<std::int32_t>(mode),
                                static_cast<std::int32_t>(input_range), &c.volts, &c.code),
            "CaptureOneChannel");
    });
    return c;
  }
  void set_voltage(std::int32_t channel, double volts) {
    Selected([&] { Check(::PutOneChannel(channel, 0, volts), "PutOneChannel"); });
  }

  // ---- Digital lines ----

  void set_direction(std::int32_t line, direction d) {
    Selected([&] {
      Check(::SetDigitalDirection(line, static_cast<std::int32_t>(d)), "SetDigitalDirection");
    });
  }
  void set_port_direction(std::int32_t first_line, std::int32_t count, direction d) {
    Selected([&] {
      Check(::SetDigitalPortDirection(first_line, count, static_cast<std::int32_t>(d)),
            "SetDigitalPortDirection");
    });
  }
  void write_line(std::int32_t line, bool high) {
    Selected([&] { Check(::WriteDigitalBit(line, high ? 1 : 0), "WriteDigitalBit"); });
  }
  void write_port(std::int32_t first_line, std::int32_t count, std::uint32_t value) {
    Selected([&] { Check(::WriteDigitalPort(first_line, count, value), "WriteDigitalPort"); });
  }

  // ---- Counters ----

  // Mode 0, 1 (frequency measurement), 2 and 3 (counter modules) or 5.
  // Configure after prepare(): preparing resets the counters' factors.
  void configure_counter(std::int32_t counter_number, std::int32_t mode,
                         const counter_settings& s = {}) {
    Selected([&] {
      Check(::ConfigureCounterInput(counter_number, mode, s.setting3, s.setting4, s.flags[0],
                                    s.flags[1], s.flags[2], s.flags[3], s.setting9),
            "ConfigureCounterInput");
    });
  }
  // Starts the prepared acquisition with counter reading on: read_counter()
  // then gives each listed counter's newest value.
  void start_counter_reading() {
    Selected([&] { Check(::StartCTforRead(), "StartCTforRead"); });
  }
  // The newest value of the counter at `position` in the scan list, times
  // its factor (10 for frequency measurement).
  std::uint32_t read_counter(std::int32_t position) {
    std::uint32_t value = 0;
    Selected([&] { Check(::ReadCounterValue(position, &value), "ReadCounterValue"); });
    return value;
  }

  // ---- Memory measurements ----

  // Starts the prepared acquisition as a memory measurement with a target of
  // scans (0: none).
  void start_memory(std::int32_t target_scans) {
    Open();
    std::lock_guard<std::mutex> lock(call_mutex());
    Check(::StartMemoryMeasurement(number_, 1, target_scans, 5), "StartMemoryMeasurement");
  }
  memory_state memory_status() const {
    Open();
    std::lock_guard<std::mutex> lock(call_mutex());
    const std::int32_t code = ::GetMemoryMeasurementStatus(number_);
    if (code != QVX_MEM_TARGET_PASSED && code != QVX_MEM_NOT_RUNNING && code != QVX_MEM_RUNNING) {
      throw error(code, "GetMemoryMeasurementStatus", number_);
    }
    return static_cast<memory_state>(code);
  }
  // Reads what waits of a memory measurement, as read() does.
  std::size_t read_memory(std::span<double> values) {
    const std::int32_t want = Want(values.size());
    if (want == 0) return 0;
    std::int32_t delivered = 0;
    std::lock_guard<std::mutex> lock(call_mutex());
    Check(
        ::GetScaledDataFromMemoryMeasurement(number_, 0, static_cast<std::int32_t>(layout_.size()),
                                             want, values.data(), 0, &delivered),
        "GetScaledDataFromMemoryMeasurement");
    return static_cast<std::size_t>(std::max(delivered, 0));
  }
  void stop_memory() {
    Open();
    std::lock_guard<std::mutex> lock(call_mutex());
    Check(::StopMemoryMeasurement(number_), "StopMemoryMeasurement");
  }

  // ---- Private flash (256 bytes) ----

  void read_private_flash(std::span<std::uint8_t> bytes) {
    Flash(
        bytes.size(), [&](std::int32_t n) { return ::ReadPrivateFlash(number_, bytes.data(), n); },
        "ReadPrivateFlash");
  }
  void write_private_flash(std::span<const std::uint8_t> bytes) {
    Flash(
        bytes.size(), [&](std::int32_t n) { return ::WritePrivateFlash(number_, bytes.data(), n); },
        "WritePrivateFlash");
  }
  void clear_private_flash() {
    Open();
    std::lock_guard<std::mutex> lock(call_mutex());
    Check(::ClearPrivateFlash(number_), "ClearPrivateFlash");
  }

 private:
  void Open() const {
    if (number_ < 0) throw std::logic_error("quorvex::card: the card object is closed");
  }
  void Check(std::int32_t code, const char* call) const {
    if (code != QVX_OK) throw error(code, call, number_);
  }
  // Stops capture and output. A latched card cannot be selected: its
  // acquisition is then stopped through its number. The caller holds the lock.
  void StopAll() noexcept {
    if (::SwitchCard(number_) == QVX_OK) {
      ::StopADCapture();
      if (output_width_ > 0) ::StopDAOutput();
    } else {
      ::StopMemoryMeasurement(number_);
    }
  }
  // Selects the card; the caller holds the lock.
  void Select() const {
    const std::int32_t code = ::SwitchCard(number_);
    if (code == QVX_FAILURE) throw latched_error(number_);
    Check(code, "SwitchCard");
  }
  template <class F>
  void Selected(F&& call) {
    Open();
    std::lock_guard<std::mutex> lock(call_mutex());
    Select();
    call();
  }
  std::int32_t Want(std::size_t values) const {
    if (layout_.empty()) throw std::logic_error("quorvex::card: prepare() a scan list first");
    return static_cast<std::int32_t>(std::min<std::size_t>(values / layout_.size(), 10000));
  }
  template <class T, class Call>
  std::size_t Read(std::span<T> values, Call&& call, const char* name) {
    std::int32_t count = Want(values.size());
    if (count == 0) return 0;
    Selected([&] { Check(call(values.data(), &count), name); });
    return static_cast<std::size_t>(std::max(count, 0));
  }
  template <class T, class Call>
  std::size_t Write(std::span<const T> values, Call&& call, const char* name) {
    if (output_width_ == 0) throw std::logic_error("quorvex::card: prepare() an output list first");
    const std::size_t whole = std::min<std::size_t>(values.size() / output_width_,
                                                    std::numeric_limits<std::int32_t>::max());
    std::int32_t frames = static_cast<std::int32_t>(whole);
    if (frames == 0) return 0;
    Selected([&] { Check(call(values.data(), &frames), name); });
    return static_cast<std::size_t>(std::max(frames, 0));
  }
  template <class Call>
  void Flash(std::size_t size, Call&& call, const char* name) {
    if (size < 1 || size > 256) {
      throw std::invalid_argument("quorvex::card: the private flash takes 1 to 256 bytes");
    }
    Open();
    std::lock_guard<std::mutex> lock(call_mutex());
    Check(call(static_cast<std::int32_t>(size)), name);
  }
  // A text field that may fill its field without a terminator.
  static std::string Text(const char* field, std::size_t size) {
    const void* end = std::memchr(field, '\0', size);
    return std::string(field, end ? static_cast<const char*>(end) - field : size);
  }

  std::int32_t number_ = -1;
  std::vector<slot> layout_;
  std::size_t output_width_ = 0;
};

// ---- Block reader -------------------------------------------------------------

// A block of scans of a running capture. first_scan numbers its first scan
// from 0 at the start of the capture, so consecutive blocks join without a
// gap; values holds scans x slots values, scan-major.
template <class T>
struct basic_block {
  std::uint64_t first_scan = 0;
  std::size_t scans = 0;
  std::size_t slots = 0;
  std::span<const T> values;

  T at(std::size_t scan, std::size_t slot_index) const { return values[scan * slots + slot_index]; }
  bool empty() const noexcept { return scans == 0; }
};

// Drains a prepared card's capture in blocks of up to `block_scans` scans
// (at most 10000). Make it before the capture starts and let nothing else
// read the card's data, so that its scan numbers count from the start. When
// the card latches, next() raises capture_error naming the last good scan.
template <class T>
class basic_block_reader {
  static_assert(std::is_same_v<T, double> || std::is_same_v<T, std::uint32_t>,
                "blocks hold volts (double) or raw values (std::uint32_t)");

 public:
  explicit basic_block_reader(card& source, std::size_t block_scans = 1000)
      : card_(&source), slots_(source.layout().size()) {
    if (slots_ == 0) throw std::logic_error("quorvex::block_reader: prepare() a scan list first");
    buffer_.resize(std::clamp<std::size_t>(block_scans, 1, 10000) * slots_);
  }

  // The next block: what waits, up to the block size. Waits at most `limit`
  // for the first scan, polling every `poll` without holding the lock; an
  // empty block when none came.
  basic_block<T> next(std::chrono::milliseconds limit = {},
                      std::chrono::milliseconds poll = std::chrono::milliseconds(2)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const std::size_t scans = ReadOnce();
      if (scans > 0 || std::chrono::steady_clock::now() >= end) {
        basic_block<T> block{next_scan_, scans, slots_,
                             std::span<const T>(buffer_.data(), scans * slots_)};
        next_scan_ += scans;
        return block;
      }
      std::this_thread::sleep_for(poll);
    }
  }
  std::uint64_t scans_delivered() const noexcept { return next_scan_; }

 private:
  std::size_t ReadOnce() {
    try {
      if constexpr (std::is_same_v<T, double>) {
        return card_->read(buffer_);
      } else {
        return card_->read_raw(buffer_);
      }
    } catch (const latched_error&) {
      throw capture_error(card_->number(), "SwitchCard", next_scan_);
    } catch (const error& e) {
      if (e.status() == QVX_FAILURE) throw capture_error(card_->number(), e.call(), next_scan_);
      throw;
    }
  }

  card* card_;
  std::size_t slots_;
  std::vector<T> buffer_;
  std::uint64_t next_scan_ = 0;
};

using block = basic_block<double>;
using raw_block = basic_block<std::uint32_t>;
using block_reader = basic_block_reader<double>;
using raw_block_reader = basic_block_reader<std::uint32_t>;

// Runs a block reader on a thread of its own and hands every block to
// `handler` there. The thread ends at stop(), at request_stop(), or at the
// first error (error() then holds it; a latch gives a capture_error).
// Destroy it before its card.
template <class T>
class basic_background_reader {
 public:
  using handler = std::function<void(const basic_block<T>&)>;

  basic_background_reader(card& source, handler on_block, std::size_t block_scans = 1000)
      : reader_(source, block_scans), handler_(std::move(on_block)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~basic_background_reader() { stop(); }
  basic_background_reader(const basic_background_reader&) = delete;
  basic_background_reader& operator=(const basic_background_reader&) = delete;

  // Asks the thread to end after the current block; may be called from the
  // handler.
  void request_stop() noexcept { stop_.store(true); }
  // Ends the thread and waits for it. Not from the handler.
  void stop() {
    request_stop();
    if (thread_.joinable()) thread_.join();
  }
  // Waits up to `limit` for the thread to end by itself; true when it has.
  bool wait_for(std::chrono::milliseconds limit) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done_.load()) {
      if (std::chrono::steady_clock::now() >= end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }
  // The error that ended the thread, or null. Read it after wait_for or stop.
  std::exception_ptr error() const {
    std::lock_guard<std::mutex> lock(error_mutex_);
    return error_;
  }
  std::uint64_t scans_delivered() const noexcept { return delivered_.load(); }

 private:
  void Run() {
    try {
      while (!stop_.load()) {
        const basic_block<T> block = reader_.next(std::chrono::milliseconds(20));
        delivered_.store(reader_.scans_delivered());
        if (!block.empty()) handler_(block);
      }
    } catch (...) {
      std::lock_guard<std::mutex> lock(error_mutex_);
      error_ = std::current_exception();
    }
    done_.store(true);
  }

  basic_block_reader<T> reader_;
  handler handler_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
  std::atomic<std::uint64_t> delivered_{0};
  mutable std::mutex error_mutex_;
  std::exception_ptr error_;
  std::thread thread_;
};

using background_reader = basic_background_reader<double>;
using raw_background_reader = basic_background_reader<std::uint32_t>;

}  // namespace quorvex

#endif  // QUORVEX_HPP

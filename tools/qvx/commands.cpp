// qvx info, ai, ao, dio, counter and flash; the waveforms of streamed output.
#include <fmt/format.h>
#include <chrono>
#include <cmath>
#include <fstream>
#include <numbers>
#include <numeric>
#include <sstream>
#include <thread>

#include "qvx.h"

namespace qvx {
namespace {

using Clock = std::chrono::steady_clock;

void Sleep(double seconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

std::string Driver() {
  return FindSim().present() ? "simulated module (kestrolib of this build)" : "kestrolib";
}

void PrintCard(const quorvex::card& card) {
  const quorvex::module_info info = card.info();
  fmt::print("card {}\n", card.number());
  fmt::print("  {:<16} {}\n", "identification", info.name);
  fmt::print("  {:<16} {}\n", "serial", info.serial);
  fmt::print("  {:<16} {}\n", "customer", info.customer);
  fmt::print("  {:<16} {} (at most {} Hz over all inputs)\n", "analog inputs", info.analog_inputs,
             info.max_rate_hz);
  fmt::print("  {:<16} {} (at most 1000 values/s streamed)\n", "analog outputs",
             info.analog_outputs);
  fmt::print("  {:<16} {}\n", "digital lines", info.digital_lines);
  fmt::print("  {:<16} {}\n", "counters", info.counters);
}

}  // namespace

Wave::Wave(const WaveOptions& options, std::int32_t rate, std::size_t outputs)
    : options_(options), rate_(rate), outputs_(outputs) {
  static const char* const shapes[] = {"sine", "square", "triangle"};
  if (std::find(std::begin(shapes), std::end(shapes), options.wave) != std::end(shapes)) return;
  std::ifstream file(options.wave);
  if (!file)
    throw UsageError("--wave: '" + options.wave + "' is neither a shape nor a readable CSV file");
  // One frame per line: one value for every output, or one for all of them.
  std::string line;
  while (std::getline(file, line)) {
    std::vector<double> row;
    std::stringstream fields(line);
    std::string field;
    bool numbers = true;
    while (std::getline(fields, field, ',')) {
      char* end = nullptr;
      row.push_back(std::strtod(field.c_str(), &end));
      numbers = numbers && end != field.c_str();
    }
    if (row.empty() || !numbers) continue;  // a header or an empty line
    if (row.size() != 1 && row.size() != outputs) {
      throw UsageError(fmt::format("--wave: a line of {} has {} values for {} outputs",
                                   options.wave, row.size(), outputs));
    }
    rows_.push_back(std::move(row));
  }
  if (rows_.empty()) throw UsageError("--wave: " + options.wave + " holds no values");
}

void Wave::Fill(std::span<double> frames) {
  for (std::size_t i = 0; i + outputs_ <= frames.size(); i += outputs_, ++frame_) {
    for (std::size_t k = 0; k < outputs_; ++k) {
      double value;
      if (!rows_.empty()) {
        const auto& row = rows_[frame_ % rows_.size()];
        value = row.size() == 1 ? row[0] : row[k];
      } else {
        const double cycles = static_cast<double>(frame_) * options_.frequency / rate_;
        const double phase = cycles - std::floor(cycles);
        const double unit = options_.wave == "sine"     ? std::sin(2 * std::numbers::pi * phase)
                            : options_.wave == "square" ? (phase < 0.5 ? 1.0 : -1.0)
                                                        : 1.0 - 4.0 * std::abs(phase - 0.5);
        value = options_.offset + options_.amplitude * unit;
      }
      frames[i + k] = value;
    }
  }
}

int Info(const Common& common, bool all) {
  ApplySim(common);
  const quorvex::library_version version = quorvex::card::version();
  fmt::print("library  {} ({}.{}.{})\n", version.text, version.major, version.minor, version.build);
  fmt::print("driver   {}\n", Driver());
  if (!all) {
    PrintCard(quorvex::card(common.card));
    return 0;
  }
  int opened = 0;
  for (std::int32_t number = 0; number < QVX_MAX_CARDS; ++number) {
    try {
      PrintCard(quorvex::card(number));
      ++opened;
    } catch (const quorvex::error&) {
      // no module answers on this card number
    }
  }
  fmt::print("{} of {} cards opened\n", opened, QVX_MAX_CARDS);
  return opened > 0 ? 0 : 1;
}

int Ai(const Common& common, const AiOptions& o) {
  const auto channels = ParseList(o.channels, "--channel");
  const quorvex::range range = ParseRange(o.range, "--range");
  ApplySim(common);
  quorvex::card card(common.card);
  const auto mode =
      o.differential ? quorvex::input_mode::differential : quorvex::input_mode::single_ended;
  for (std::int32_t i = 0; i < o.count; ++i) {
    if (i > 0) Sleep(o.interval);
    for (const std::int32_t channel : channels) {
      const quorvex::conversion c = card.convert(channel, range, mode);
      fmt::print("ai{:<3} {:>11.6f} V  code {:>5}\n", channel, c.volts, c.code);
    }
  }
  return 0;
}

int Ao(const Common& common, const AoOptions& o) {
  const auto channels = ParseList(o.channels, "--channel");
  if (o.set) {
    if (!(std::abs(*o.set) <= 10.0)) throw UsageError("--set: the outputs span -10 V to +10 V");
    ApplySim(common);
    quorvex::card card(common.card);
    for (const std::int32_t channel : channels) card.set_voltage(channel, *o.set);
    fmt::print("ao {} set to {:.6f} V\n", o.channels, *o.set);
    return 0;
  }
  quorvex::output_list outputs;
  for (const std::int32_t channel : channels) outputs.analog(channel);
  const std::int32_t rate = o.rate > 0 ? o.rate : std::max<std::int32_t>(1, 1000 / channels.size());
  outputs.rate(rate);
  Wave wave(o.wave, rate, channels.size());
  const double duration = o.duration              ? *o.duration
                          : wave.FileFrames() > 0 ? double(wave.FileFrames()) / rate
                                                  : 5.0;
  // The library sends its ring in blocks of 32 codes (256 on high-speed
  // modules) and keeps a last partial block: the stream is rounded up to
  // whole blocks of 256 codes, so that all of it goes out.
  const std::uint64_t unit = 256 / std::gcd<std::uint64_t>(256, channels.size());
  const auto total =
      (static_cast<std::uint64_t>(std::llround(duration * rate)) + unit - 1) / unit * unit;
  ApplySim(common);
  WatchInterrupt();
  quorvex::card card(common.card);
  card.prepare(outputs);
  const std::size_t capacity = card.free_frames();
  std::vector<double> frames;
  std::uint64_t written = 0;
  const auto top_up = [&] {
    const std::size_t n = std::min<std::uint64_t>(card.free_frames(), total - written);
    frames.resize(n * channels.size());
    wave.Fill(frames);
    written += card.write(frames);
  };
  top_up();
  card.start_output();
  Progress progress(!common.quiet);
  const auto started = Clock::now();
  // Until every frame is written and the ring has drained (and, with the
  // simulated module, its queue too), within the duration and two seconds.
  const auto limit = started + std::chrono::duration<double>(duration + 2.0);
  while (!g_interrupted.load() && Clock::now() < limit) {
    top_up();
    const std::size_t room = card.free_frames();
    if (written == total && room >= capacity && FindSim().Queued(card.number()) <= 0) break;
    const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
    progress.Show(fmt::format("{:6.1f} s {:>9} of {} frames  ring free {:<6} underruns {}", elapsed,
                              written, total, room, [&] {
                                const std::int64_t u = FindSim().Underruns(card.number());
                                return u >= 0 ? std::to_string(u) : std::string("n/a");
                              }()));
    Sleep(0.02);
  }
  progress.Finish();
  card.stop_output();
  fmt::print("qvx: {} {} frames on ao {} at {} frames/s\n",
             g_interrupted.load() ? "stopped by Ctrl-C after" : "streamed", written, o.channels,
             rate);
  return 0;
}

int Dio(const Common& common, const DioOptions& o) {
  if (o.action == "read") {
    const auto lines = ParseList(o.lines.empty() ? "0-7" : o.lines, "--lines");
    const std::int32_t last = *std::max_element(lines.begin(), lines.end());
    // The read calls of the library do not read the lines: a short capture
    // of lines 0..last does (entries are read by their position).
    quorvex::scan_list list;
    for (std::int32_t line = 0; line <= last; ++line)
      list.digital(line, quorvex::digital_width::line);
    list.rate(100);
    ApplySim(common);
    quorvex::card card(common.card);
    card.prepare(list);
    quorvex::block_reader reader(card, 1);
    card.start_capture();
    const quorvex::block scan = reader.next(std::chrono::seconds(2));
    card.stop_capture();
    if (scan.empty()) throw RunError("the card delivered no scan of its digital lines");
    for (const std::int32_t line : lines) {
      fmt::print("line {:<3} {}\n", line, scan.at(0, static_cast<std::size_t>(line)));
    }
    return 0;
  }
  if (o.lines.empty() == o.port.empty()) throw UsageError("give --lines or --port");
  std::int32_t first = 0, count = 1;
  if (!o.port.empty()) {
    const auto colon = o.port.find(':');
    if (colon == std::string::npos) throw UsageError("--port: give FIRST:COUNT, for example 0:8");
    first = ParseList(o.port.substr(0, colon), "--port").at(0);
    count = ParseList(o.port.substr(colon + 1), "--port").at(0);
  } else {
    const auto lines = ParseList(o.lines, "--lines");
    first = lines.front();
    count = static_cast<std::int32_t>(lines.size());
    if (lines.back() - first + 1 != count)
      throw UsageError("--lines: give one line or a run like 0-7");
  }
  if (o.action == "direction") {
    if (o.input == o.output) throw UsageError("give --input or --output");
    const auto d = o.output ? quorvex::direction::output : quorvex::direction::input;
    ApplySim(common);
    quorvex::card card(common.card);
    if (count == 1) {
      card.set_direction(first, d);
    } else {
      card.set_port_direction(first, count, d);
    }
    fmt::print("lines {} to {} are {}s\n", first, first + count - 1, o.output ? "output" : "input");
    return 0;
  }
  if (o.value.empty()) throw UsageError("--value: give the value to write");
  const std::uint32_t value = ParseWord(o.value, "--value");
  ApplySim(common);
  quorvex::card card(common.card);
  if (count == 1 && o.port.empty()) {
    card.write_line(first, value != 0);
  } else {
    card.write_port(first, count, value);
  }
  fmt::print("wrote {:#x} to lines {} to {}\n", value, first, first + count - 1);
  return 0;
}

int Counter(const Common& common, const CounterOptions& o) {
  const auto counters = ParseList(o.counters, "--counter");
  if (!o.settings.empty() && o.settings.size() != 7) {
    throw UsageError("--settings: give seven values: setting3,setting4,flag5..flag8,setting9");
  }
  quorvex::scan_list list;
  try {
    for (const std::int32_t counter : counters) list.counter(counter);
    list.rate(o.rate);
  } catch (const std::invalid_argument& e) {
    throw UsageError(e.what());
  }
  ApplySim(common);
  quorvex::card card(common.card);
  card.prepare(list);
  if (o.mode) {
    quorvex::counter_settings s;
    if (!o.settings.empty()) {
      s = {o.settings[0],
           o.settings[1],
           {o.settings[2], o.settings[3], o.settings[4], o.settings[5]},
           o.settings[6]};
    }
    for (const std::int32_t counter : counters) card.configure_counter(counter, *o.mode, s);
  }
  card.start_counter_reading();
  const auto started = Clock::now();
  const auto reads = static_cast<std::int64_t>(std::floor(o.duration / o.interval + 1e-9));
  for (std::int64_t i = 0; i <= reads; ++i) {
    const double t = static_cast<double>(i) * o.interval;
    std::this_thread::sleep_until(started + std::chrono::duration<double>(t));
    std::string line = fmt::format("{:7.2f} s", t);
    for (std::size_t position = 0; position < counters.size(); ++position) {
      line += fmt::format("  ct{} {:>10}", counters[position],
                          card.read_counter(static_cast<std::int32_t>(position)));
    }
    fmt::print("{}\n", line);
  }
  card.stop_capture();
  return 0;
}

int Flash(const Common& common, const FlashOptions& o) {
  ApplySim(common);
  if (o.action == "clear") {
    quorvex::card(common.card).clear_private_flash();
    fmt::print("private flash of card {} cleared\n", common.card);
    return 0;
  }
  if (o.action == "read") {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(o.count));
    quorvex::card(common.card).read_private_flash(bytes);
    if (!o.output.empty()) {
      std::ofstream file(o.output, std::ios::binary);
      file.write(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<std::streamsize>(bytes.size()));
      if (!file) throw RunError("cannot write " + o.output);
      return 0;
    }
    for (std::size_t row = 0; row < bytes.size(); row += 16) {
      std::string hex, text;
      for (std::size_t i = row; i < std::min(row + 16, bytes.size()); ++i) {
        hex += fmt::format("{:02x} ", bytes[i]);
        text += bytes[i] >= 32 && bytes[i] < 127 ? static_cast<char>(bytes[i]) : '.';
      }
      fmt::print("{:04x}  {:<48} {}\n", row, hex, text);
    }
    return 0;
  }
  std::vector<std::uint8_t> bytes;
  if (!o.text.empty()) bytes.assign(o.text.begin(), o.text.end());
  if (!o.hex.empty()) {
    std::stringstream in(o.hex);
    std::string item;
    while (in >> item)
      bytes.push_back(static_cast<std::uint8_t>(ParseWord("0x" + item, "--hex") & 0xFF));
  }
  if (!o.file.empty()) {
    std::ifstream file(o.file, std::ios::binary);
    if (!file) throw UsageError("--file: cannot read " + o.file);
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  if (bytes.empty() || bytes.size() > 256)
    throw UsageError("give 1 to 256 bytes with --text, --hex or --file");
  quorvex::card(common.card).write_private_flash(bytes);
  fmt::print("wrote {} bytes to the private flash of card {}\n", bytes.size(), common.card);
  return 0;
}

}  // namespace qvx

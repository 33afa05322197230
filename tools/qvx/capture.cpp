// qvx scan and qvx mem: continuous capture and memory measurements, written
// to a file, with a progress line, statistics and a plot.
#include <fmt/format.h>
#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

#include "qvx.h"

namespace qvx {
namespace {

using Clock = std::chrono::steady_clock;

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
#if defined(_WIN32)
  gmtime_s(&utc, &now);
#else
  gmtime_r(&now, &utc);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

CaptureInfo Describe(const quorvex::card& card, const std::string& module, bool raw) {
  CaptureInfo info;
  info.card = card.number();
  info.module = module;
  info.raw = raw;
  const auto layout = card.layout();
  for (std::size_t column = 0; column < layout.size(); ++column) {
    if (layout[column].implicit) continue;  // input 0, added by the library
    std::string name = layout[column].name();
    const auto taken = std::count(info.names.begin(), info.names.end(), name);
    if (taken > 0) name = fmt::format("{}_{}", name, taken + 1);
    info.slots.push_back(layout[column]);
    info.columns.push_back(column);
    info.names.push_back(name);
  }
  return info;
}

bool IsCsvFile(const std::string& path) {
  return path.size() > 4 && path.compare(path.size() - 4, 4, ".csv") == 0;
}

// The files, statistics and plot of one run.
class Recording {
 public:
  Recording(const ScanOptions& options, const CaptureInfo& info)
      : options_(options), info_(info), statistics_(info_) {
    if (!options.output.empty()) writer_ = MakeWriter(options.output, info_);
    if (!options.plot.empty()) {
      plot_data_ = IsCsvFile(options.output) ? options.output : options.plot + ".data.csv";
      if (plot_data_ != options.output) plot_writer_ = MakeWriter(plot_data_, info_);
    }
  }

  void Add(std::uint64_t first_scan, std::size_t scans, std::span<const double> values) {
    const std::size_t stride = values.size() / std::max<std::size_t>(scans, 1);
    if (writer_) writer_->Write(first_scan, scans, stride, values);
    if (plot_writer_) plot_writer_->Write(first_scan, scans, stride, values);
    statistics_.Add(scans, stride, values);
    scans_ += scans;
  }

  // Completes the files and prints the summary, the statistics and the plot.
  void Finish(const std::string& what) {
    if (writer_) writer_->Close();
    if (plot_writer_) plot_writer_->Close();
    std::FILE* report = options_.output == "-" ? stderr : stdout;
    fmt::print(stderr, "qvx: {} {} scans ({:.3f} s at {} scans/s) from card {}{}\n", what, scans_,
               static_cast<double>(scans_) / info_.rate, info_.rate, info_.card,
               options_.output.empty() || options_.output == "-" ? "" : " into " + options_.output);
    statistics_.Print(report);
    std::fflush(report);
    if (!plot_data_.empty() && scans_ > 0 && Plot(plot_data_, options_.plot, info_)) {
      fmt::print(stderr, "qvx: plot in {}\n", options_.plot);
    }
    if (plot_writer_) std::remove(plot_data_.c_str());
  }

  std::uint64_t scans() const { return scans_; }

 private:
  const ScanOptions& options_;
  CaptureInfo info_;
  Statistics statistics_;
  std::unique_ptr<Writer> writer_, plot_writer_;
  std::string plot_data_;
  std::uint64_t scans_ = 0;
};

// What the progress line says about overflows: the scans the simulated
// module lost, or the library's own state of the acquisition.
std::string LossText(const quorvex::card& card) {
  const std::int64_t lost = FindSim().Lost(card.number());
  if (lost >= 0) return fmt::format("overflow {}", lost);
  return card.capture_running() ? "capture running" : "capture stopped";
}

std::string UnderrunText(const quorvex::card& card) {
  const std::int64_t underruns = FindSim().Underruns(card.number());
  return underruns >= 0 ? std::to_string(underruns) : "n/a";
}

// Streams a waveform to the card's listed outputs, topping up the ring.
class Feeder {
 public:
  Feeder(quorvex::card& card, const WaveOptions& wave, std::int32_t rate)
      : card_(card), wave_(wave, rate, card.output_width()) {}
  // Writes as many frames as there is room for, at most `limit`; returns
  // the frames written.
  std::uint64_t TopUp(std::uint64_t limit = UINT64_MAX) {
    const std::size_t room = std::min<std::uint64_t>(card_.free_frames(), limit);
    if (room == 0) return 0;
    frames_.resize(room * card_.output_width());
    wave_.Fill(frames_);
    const std::size_t written = card_.write(frames_);
    if (written != room) throw RunError("the output ring took fewer frames than it had room for");
    return written;
  }

 private:
  quorvex::card& card_;
  Wave wave_;
  std::vector<double> frames_;
};

// The value of a raw or scaled block as doubles (raw values are exact).
template <class T>
std::span<const double> AsDoubles(const quorvex::basic_block<T>& block, std::vector<double>& to) {
  if constexpr (std::is_same_v<T, double>) {
    return block.values;
  } else {
    to.assign(block.values.begin(), block.values.end());
    return to;
  }
}

template <class T>
void Capture(quorvex::card& card, const ScanOptions& o, Recording& recording,
             std::optional<Feeder>& feeder) {
  const std::int32_t rate = o.inputs.rate;
  const std::uint64_t wanted = o.scans ? static_cast<std::uint64_t>(*o.scans)
                               : o.duration
                                   ? static_cast<std::uint64_t>(std::llround(*o.duration * rate))
                                   : UINT64_MAX;
  quorvex::basic_block_reader<T> reader(card, std::clamp<std::size_t>(rate / 10, 1, 10000));
  Progress progress(!o.quiet);
  std::vector<double> converted;
  const auto started = Clock::now();
  auto shown = started;
  if (feeder) {
    feeder->TopUp();
    card.start_output();
  }
  card.start_capture();
  while (recording.scans() < wanted && !g_interrupted.load()) {
    const auto block = reader.next(std::chrono::milliseconds(100));
    const std::size_t scans = std::min<std::uint64_t>(block.scans, wanted - recording.scans());
    recording.Add(block.first_scan, scans, AsDoubles(block, converted).first(scans * block.slots));
    if (feeder) feeder->TopUp();
    const auto now = Clock::now();
    if (now - shown >= std::chrono::milliseconds(200)) {
      shown = now;
      const double elapsed = std::chrono::duration<double>(now - started).count();
      std::string text = fmt::format("{:6.1f} s {:>10} scans {:>9.0f} scans/s  waiting {:<6} {}",
                                     elapsed, recording.scans(), recording.scans() / elapsed,
                                     card.scans_waiting(), LossText(card));
      if (feeder) {
        text += fmt::format("  ao free {} underruns {}", card.free_frames(), UnderrunText(card));
      }
      progress.Show(text);
    }
  }
  progress.Finish();
  card.stop_capture();
  if (feeder) card.stop_output();
}

// What a capture that latched lost, when the simulated module can tell.
void ExplainLoss(const quorvex::card& card) {
  const std::int64_t lost = FindSim().Lost(card.number());
  if (lost > 0) {
    fmt::print(stderr,
               "qvx: the simulated module lost {} scans: its on-board memory or the "
               "driver's buffers overflowed (lower --rate)\n",
               lost);
  }
}

void CheckCommon(const ScanOptions& o) {
  CheckOutputName(o.output);
  if (o.duration && o.scans) throw UsageError("give --duration or --scans, not both");
  if (!o.plot.empty() && (o.plot.size() < 5 || o.plot.compare(o.plot.size() - 4, 4, ".png") != 0)) {
    throw UsageError("--plot: '" + o.plot + "' does not end in .png");
  }
}

}  // namespace

int Scan(const Common& common, const ScanOptions& o) {
  const quorvex::scan_list inputs = BuildScanList(o.inputs);
  CheckCommon(o);
  quorvex::output_list outputs;
  if (!o.ao.empty()) {
    const auto channels = ParseList(o.ao, "--ao");
    for (const std::int32_t channel : channels) outputs.analog(channel);
    outputs.rate(o.ao_rate > 0 ? o.ao_rate : std::max<std::int32_t>(1, 1000 / channels.size()));
  }
  ApplySim(common);
  WatchInterrupt();
  quorvex::card card(common.card);
  const std::string module = card.info().name;
  card.prepare(inputs, outputs);
  CaptureInfo info = Describe(card, module, o.raw);
  info.rate = inputs.rate();
  info.start_time = UtcNow();
  Recording recording(o, info);
  std::optional<Feeder> feeder;
  if (outputs.width() > 0) feeder.emplace(card, o.wave, outputs.rate());
  try {
    if (o.raw) {
      Capture<std::uint32_t>(card, o, recording, feeder);
    } else {
      Capture<double>(card, o, recording, feeder);
    }
  } catch (const quorvex::capture_error&) {
    recording.Finish("kept");
    ExplainLoss(card);
    throw;
  }
  recording.Finish(g_interrupted.load() ? "stopped by Ctrl-C after" : "captured");
  return 0;
}

int Memory(const Common& common, const ScanOptions& o) {
  const quorvex::scan_list inputs = BuildScanList(o.inputs);
  CheckCommon(o);
  if (!o.target || *o.target < 1)
    throw UsageError("--target: give the scans to measure (1 or more)");
  if (o.raw) throw UsageError("--raw: memory measurements are written in volts");
  ApplySim(common);
  WatchInterrupt();
  quorvex::card card(common.card);
  const std::string module = card.info().name;
  card.prepare(inputs);
  CaptureInfo info = Describe(card, module, false);
  info.rate = inputs.rate();
  info.start_time = UtcNow();
  Recording recording(o, info);
  std::vector<double> buffer(card.layout().size() * std::clamp(inputs.rate() / 10, 1, 10000));
  Progress progress(!o.quiet);
  const auto started = Clock::now();
  auto shown = started;
  card.start_memory(static_cast<std::int32_t>(*o.target));
  quorvex::memory_state state = quorvex::memory_state::running;
  while (state == quorvex::memory_state::running && !g_interrupted.load()) {
    const std::size_t scans = card.read_memory(buffer);
    recording.Add(recording.scans(), scans,
                  std::span<const double>(buffer).first(scans * card.layout().size()));
    state = card.memory_status();
    if (state == quorvex::memory_state::not_running) {
      throw RunError("the memory measurement stopped before its target");
    }
    if (scans == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto now = Clock::now();
    if (now - shown >= std::chrono::milliseconds(200)) {
      shown = now;
      progress.Show(fmt::format(
          "{:6.1f} s {:>10} of {} scans  {}", std::chrono::duration<double>(now - started).count(),
          recording.scans(), *o.target, QvxStatusName(static_cast<int>(state))));
    }
  }
  progress.Finish();
  card.stop_memory();
  recording.Finish(g_interrupted.load() ? "stopped by Ctrl-C after" : "target passed:");
  return 0;
}

}  // namespace qvx

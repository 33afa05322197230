// Writing captured data: CSV, raw binary and HDF5 files, the statistics at
// the end of a run and the plot.
#include <fmt/format.h>
#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>

#if defined(QVX_HAVE_HDF5)
#include <hdf5.h>
#endif

#include "qvx.h"

namespace qvx {
namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  std::FILE* file = std::fopen(path.c_str(), mode);
  if (file == nullptr) throw RunError("cannot write " + path);
  return file;
}

// CSV: a header of names and units, then one row per scan.
class CsvWriter : public Writer {
 public:
  CsvWriter(const std::string& path, const CaptureInfo& info)
      : info_(info), file_(path == "-" ? stdout : OpenFile(path, "w")), path_(path) {
    std::string header = "scan,time [s]";
    for (std::size_t i = 0; i < info.slots.size(); ++i) {
      header += fmt::format(",{} [{}]", info.names[i], UnitOf(info.slots[i], info.raw));
    }
    header += '\n';
    Put(header);
  }
  ~CsvWriter() override {
    Quietly([this] { Shut(); });
  }

  void Write(std::uint64_t first_scan, std::size_t scans, std::size_t stride,
             std::span<const double> values) override {
    fmt::memory_buffer text;
    for (std::size_t i = 0; i < scans; ++i) {
      const std::uint64_t scan = first_scan + i;
      fmt::format_to(std::back_inserter(text), "{},{:.6f}", scan,
                     static_cast<double>(scan) / info_.rate);
      for (std::size_t c = 0; c < info_.columns.size(); ++c) {
        const double value = values[i * stride + info_.columns[c]];
        if (info_.raw || info_.slots[c].kind != quorvex::slot_kind::analog) {
          fmt::format_to(std::back_inserter(text), ",{:.0f}", value);
        } else {
          fmt::format_to(std::back_inserter(text), ",{:.6f}", value);
        }
      }
      text.push_back('\n');
    }
    Put(std::string_view(text.data(), text.size()));
  }

  void Close() override { Shut(); }

 private:
  void Shut() {
    if (file_ == nullptr) return;
    const bool failed = std::fflush(file_) != 0 || (file_ != stdout && std::fclose(file_) != 0);
    file_ = nullptr;
    if (failed) throw RunError("cannot write " + path_);
  }

  void Put(std::string_view text) {
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) {
      throw RunError("cannot write " + path_);
    }
  }

  const CaptureInfo& info_;
  std::FILE* file_;
  std::string path_;
};

// Raw binary: scan-major, no header, little-endian float64 values, or uint32
// values with --raw.
class BinaryWriter : public Writer {
 public:
  BinaryWriter(const std::string& path, const CaptureInfo& info)
      : info_(info), file_(OpenFile(path, "wb")), path_(path) {}
  ~BinaryWriter() override {
    Quietly([this] { Shut(); });
  }

  void Write(std::uint64_t, std::size_t scans, std::size_t stride,
             std::span<const double> values) override {
    for (std::size_t i = 0; i < scans; ++i) {
      for (const std::size_t column : info_.columns) {
        const double value = values[i * stride + column];
        if (info_.raw) {
          Put(static_cast<std::uint32_t>(value));
        } else {
          Put(value);
        }
      }
    }
  }

  void Close() override { Shut(); }

 private:
  void Shut() {
    if (file_ == nullptr) return;
    const bool failed = std::fclose(file_) != 0;
    file_ = nullptr;
    if (failed) throw RunError("cannot write " + path_);
  }

  template <class T>
  void Put(T value) {
    if (std::fwrite(&value, sizeof value, 1, file_) != 1) throw RunError("cannot write " + path_);
  }

  const CaptureInfo& info_;
  std::FILE* file_;
  std::string path_;
};

#if defined(QVX_HAVE_HDF5)
// HDF5: one growing dataset per slot, with attributes for the rate, range,
// unit, start time and first scan; the same attributes (less range and unit)
// on the file's root group.
class Hdf5Writer : public Writer {
 public:
  Hdf5Writer(const std::string& path, const CaptureInfo& info) : info_(info), path_(path) {
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);  // we report failures ourselves
    file_ = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    if (file_ < 0) throw RunError("cannot write " + path);
    Attributes(file_);
    const hid_t type = info.raw ? H5T_NATIVE_UINT32 : H5T_NATIVE_DOUBLE;
    for (std::size_t i = 0; i < info.slots.size(); ++i) {
      const hsize_t size = 0, max = H5S_UNLIMITED, chunk = 4096;
      const hid_t space = H5Screate_simple(1, &size, &max);
      const hid_t properties = H5Pcreate(H5P_DATASET_CREATE);
      H5Pset_chunk(properties, 1, &chunk);
      const hid_t set = H5Dcreate2(file_, info.names[i].c_str(), type, space, H5P_DEFAULT,
                                   properties, H5P_DEFAULT);
      H5Pclose(properties);
      H5Sclose(space);
      if (set < 0) throw RunError("cannot write " + path);
      datasets_.push_back(set);
      Attributes(set);
      const quorvex::slot& slot = info.slots[i];
      Text(set, "unit", UnitOf(slot, info.raw));
      if (slot.kind == quorvex::slot_kind::analog) {
        Number(set, "range_volts", quorvex::full_scale(slot.input_range));
      }
    }
    column_.resize(4096);
  }
  ~Hdf5Writer() override {
    Quietly([this] { Shut(); });
  }

  void Write(std::uint64_t, std::size_t scans, std::size_t stride,
             std::span<const double> values) override {
    if (column_.size() < scans) column_.resize(scans);
    const hsize_t start = written_, count = scans, size = written_ + scans;
    for (std::size_t c = 0; c < datasets_.size(); ++c) {
      for (std::size_t i = 0; i < scans; ++i) column_[i] = values[i * stride + info_.columns[c]];
      bool ok = H5Dset_extent(datasets_[c], &size) >= 0;
      const hid_t file_space = H5Dget_space(datasets_[c]);
      const hid_t memory_space = H5Screate_simple(1, &count, nullptr);
      ok = ok &&
           H5Sselect_hyperslab(file_space, H5S_SELECT_SET, &start, nullptr, &count, nullptr) >= 0;
      ok = ok && H5Dwrite(datasets_[c], H5T_NATIVE_DOUBLE, memory_space, file_space, H5P_DEFAULT,
                          column_.data()) >= 0;  // converted to the dataset's type
      H5Sclose(memory_space);
      H5Sclose(file_space);
      if (!ok) throw RunError("cannot write " + path_);
    }
    written_ = size;
  }

  void Close() override { Shut(); }

 private:
  void Shut() {
    if (file_ < 0) return;
    for (const hid_t set : datasets_) H5Dclose(set);
    datasets_.clear();
    const bool failed = H5Fclose(file_) < 0;
    file_ = -1;
    if (failed) throw RunError("cannot write " + path_);
  }

  void Attributes(hid_t object) {
    Number(object, "rate_hz", info_.rate);
    Text(object, "start_time", info_.start_time);
    const hid_t space = H5Screate(H5S_SCALAR);
    const hid_t attribute =
        H5Acreate2(object, "first_scan", H5T_NATIVE_UINT64, space, H5P_DEFAULT, H5P_DEFAULT);
    const std::uint64_t first = 0;
    H5Awrite(attribute, H5T_NATIVE_UINT64, &first);
    H5Aclose(attribute);
    H5Sclose(space);
  }
  static void Number(hid_t object, const char* name, double value) {
    const hid_t space = H5Screate(H5S_SCALAR);
    const hid_t attribute =
        H5Acreate2(object, name, H5T_NATIVE_DOUBLE, space, H5P_DEFAULT, H5P_DEFAULT);
    H5Awrite(attribute, H5T_NATIVE_DOUBLE, &value);
    H5Aclose(attribute);
    H5Sclose(space);
  }
  static void Text(hid_t object, const char* name, const std::string& value) {
    const hid_t type = H5Tcopy(H5T_C_S1);
    H5Tset_size(type, std::max<std::size_t>(value.size(), 1));
    const hid_t space = H5Screate(H5S_SCALAR);
    const hid_t attribute = H5Acreate2(object, name, type, space, H5P_DEFAULT, H5P_DEFAULT);
    H5Awrite(attribute, type, value.c_str());
    H5Aclose(attribute);
    H5Sclose(space);
    H5Tclose(type);
  }

  const CaptureInfo& info_;
  std::string path_;
  hid_t file_ = -1;
  std::vector<hid_t> datasets_;
  std::vector<double> column_;
  hsize_t written_ = 0;
};
#endif

// In-place radix-2 FFT; the size is a power of two.
void Fft(std::vector<std::complex<double>>& x) {
  const std::size_t n = x.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(x[i], x[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const double angle = -2.0 * std::numbers::pi / static_cast<double>(len);
    const std::complex<double> step(std::cos(angle), std::sin(angle));
    for (std::size_t i = 0; i < n; i += len) {
      std::complex<double> w(1.0);
      for (std::size_t k = 0; k < len / 2; ++k, w *= step) {
        const std::complex<double> even = x[i + k], odd = x[i + k + len / 2] * w;
        x[i + k] = even + odd;
        x[i + k + len / 2] = even - odd;
      }
    }
  }
}

// The frequency of the strongest component of `values` (mean removed, Hann
// window, zero-padded to a power of two, the peak refined between bins);
// NaN when the values do not vary.
double DominantFrequency(const std::vector<double>& values, double rate) {
  const std::size_t n = values.size();
  if (n < 8) return std::nan("");
  double mean = 0;
  for (const double v : values) mean += v / static_cast<double>(n);
  std::size_t size = 1;
  while (size < n) size <<= 1;
  std::vector<std::complex<double>> x(size);
  for (std::size_t i = 0; i < n; ++i) {
    const double hann =
        0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / (n - 1));
    x[i] = (values[i] - mean) * hann;
  }
  Fft(x);
  std::size_t peak = 1;
  for (std::size_t k = 2; k < size / 2; ++k) peak = std::abs(x[k]) > std::abs(x[peak]) ? k : peak;
  if (std::abs(x[peak]) < 1e-9 * static_cast<double>(n)) return std::nan("");
  double shift = 0;
  if (peak + 1 < size / 2) {
    const double a = std::log(std::abs(x[peak - 1]) + 1e-300), b = std::log(std::abs(x[peak])),
                 c = std::log(std::abs(x[peak + 1]) + 1e-300);
    if (a - 2 * b + c < 0) shift = 0.5 * (a - c) / (a - 2 * b + c);
  }
  return (static_cast<double>(peak) + shift) * rate / static_cast<double>(size);
}

constexpr std::size_t kSpectrumScans = 65536;

}  // namespace

std::string UnitOf(const quorvex::slot& slot, bool raw) {
  return raw && slot.kind == quorvex::slot_kind::analog ? "code" : slot.unit();
}

void CheckOutputName(const std::string& path) {
  if (path.empty() || path == "-" || EndsWith(path, ".csv") || EndsWith(path, ".bin")) return;
  if (EndsWith(path, ".h5")) {
#if defined(QVX_HAVE_HDF5)
    return;
#else
    throw UsageError("--output: this qvx was built without HDF5; write .csv or .bin");
#endif
  }
  throw UsageError("--output: '" + path + "' does not end in .csv, .bin or .h5");
}

std::unique_ptr<Writer> MakeWriter(const std::string& path, const CaptureInfo& info) {
  CheckOutputName(path);
#if defined(QVX_HAVE_HDF5)
  if (EndsWith(path, ".h5")) return std::make_unique<Hdf5Writer>(path, info);
#endif
  if (EndsWith(path, ".bin")) return std::make_unique<BinaryWriter>(path, info);
  return std::make_unique<CsvWriter>(path, info);
}

Statistics::Statistics(const CaptureInfo& info) : info_(info), slots_(info.slots.size()) {}

void Statistics::Add(std::size_t scans, std::size_t stride, std::span<const double> values) {
  for (std::size_t c = 0; c < slots_.size(); ++c) {
    Slot& s = slots_[c];
    for (std::size_t i = 0; i < scans; ++i) {
      const double v = values[i * stride + info_.columns[c]];
      s.min = count_ + i == 0 ? v : std::min(s.min, v);
      s.max = count_ + i == 0 ? v : std::max(s.max, v);
      s.sum += v;
      s.squares += v * v;
    }
    // The newest scans, for the spectrum.
    for (std::size_t i = 0; i < scans; ++i)
      s.recent.push_back(values[i * stride + info_.columns[c]]);
    if (s.recent.size() > 2 * kSpectrumScans) {
      s.recent.erase(s.recent.begin(), s.recent.end() - static_cast<long>(kSpectrumScans));
    }
  }
  count_ += scans;
}

void Statistics::Print(std::FILE* to) const {
  if (count_ == 0) return;
  fmt::print(to, "{:<8} {:<7} {:>14} {:>14} {:>14} {:>14} {:>12}\n", "channel", "unit", "min",
             "max", "mean", "rms", "dominant Hz");
  for (std::size_t c = 0; c < slots_.size(); ++c) {
    const Slot& s = slots_[c];
    const double n = static_cast<double>(count_);
    const std::size_t keep = std::min(s.recent.size(), kSpectrumScans);
    const std::vector<double> recent(s.recent.end() - static_cast<long>(keep), s.recent.end());
    const double dominant = DominantFrequency(recent, info_.rate);
    fmt::print(to, "{:<8} {:<7} {:>14.6g} {:>14.6g} {:>14.6g} {:>14.6g} {:>12}\n", info_.names[c],
               UnitOf(info_.slots[c], info_.raw), s.min, s.max, s.sum / n, std::sqrt(s.squares / n),
               std::isnan(dominant) ? "-" : fmt::format("{:.3f}", dominant));
  }
}

bool Plot(const std::string& data, const std::string& png, const CaptureInfo& info) {
#if defined(_WIN32)
  const char* probe = "gnuplot --version >NUL 2>&1";
#else
  const char* probe = "gnuplot --version >/dev/null 2>&1";
#endif
  if (std::system(probe) != 0) {
    fmt::print(stderr,
               "qvx: no plot: gnuplot is not installed (Debian: apt-get install gnuplot-nox)\n");
    return false;
  }
  const auto quote = [](const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
  };
  // One panel per kind of value: analog inputs, counters, digital entries.
  std::vector<std::pair<std::string, std::string>> panels;
  for (const auto kind :
       {quorvex::slot_kind::analog, quorvex::slot_kind::counter, quorvex::slot_kind::digital}) {
    std::string plot;
    std::string unit;
    for (std::size_t c = 0; c < info.slots.size(); ++c) {
      if (info.slots[c].kind != kind) continue;
      unit = UnitOf(info.slots[c], info.raw);
      plot += fmt::format("{}{} using 2:{} with {} title {}", plot.empty() ? "" : ", ",
                          plot.empty() ? quote(data) : "''", c + 3,
                          kind == quorvex::slot_kind::digital ? "steps" : "lines",
                          quote(info.names[c]));
    }
    if (!plot.empty()) panels.emplace_back(unit, plot);
  }
  std::string script = fmt::format(
      "set datafile separator ','\n"
      "if (strstrt(GPVAL_TERMINALS, 'pngcairo') > 0) {{ set terminal pngcairo size 1000,{} "
      "noenhanced font ',10' }} else {{ set terminal png size 1000,{} }}\n"
      "set output {}\n"
      "set multiplot layout {},1 title {}\n"
      "set grid\nset key outside right\nset xlabel 'time [s]'\nset lmargin 12\n",
      220 + 230 * panels.size(), 220 + 230 * panels.size(), quote(png), panels.size(),
      quote(fmt::format("card {} ({}), {} scans/s, {}", info.card, info.module, info.rate,
                        info.start_time)));
  for (const auto& [unit, plot] : panels) {
    script += fmt::format("set ylabel {}\nplot {}\n", quote(unit), plot);
  }
  script += "unset multiplot\n";
#if defined(_WIN32)
  std::FILE* gnuplot = _popen("gnuplot", "w");
#else
  std::FILE* gnuplot = popen("gnuplot", "w");
#endif
  if (gnuplot == nullptr) throw RunError("cannot start gnuplot");
  std::fwrite(script.data(), 1, script.size(), gnuplot);
#if defined(_WIN32)
  const int status = _pclose(gnuplot);
#else
  const int status = pclose(gnuplot);
#endif
  if (status != 0) throw RunError("gnuplot could not draw " + png);
  return true;
}

}  // namespace qvx

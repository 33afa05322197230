// The simulated module's control functions, found at run time in the driver
// the library loaded; the terminal and Ctrl-C.
#include <fmt/core.h>
#include <csignal>
#include <cstdlib>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include "qvx.h"

namespace qvx {
namespace {

#if defined(_WIN32)
void* DriverSymbol(const char* name) {
  HMODULE driver = GetModuleHandleA("kestrolib.dll");
  return driver ? reinterpret_cast<void*>(GetProcAddress(driver, name)) : nullptr;
}
#else
// The driver beside libquorvex.so, as the library loaded it.
void* DriverSymbol(const char* name) {
  static void* const driver = []() -> void* {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&OpenCard), &info) == 0 || info.dli_fname == nullptr) {
      return nullptr;
    }
    std::string path = info.dli_fname;
    const auto slash = path.rfind('/');
    path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
           "libkestrolib.so";
    return dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  }();
  return driver ? dlsym(driver, name) : nullptr;
}
#endif

template <class F>
void Bind(F& slot, const char* name) {
  slot = reinterpret_cast<F>(DriverSymbol(name));
}

double Number(const std::string& text, const std::string& item) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0') throw UsageError("--sim: '" + item + "': bad number");
  return value;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

// One --sim item: module=NAME, pattern, aiN=KIND:..., aiN=aoM, ctN=HZ,
// di=count[:STEP], di=WORD.
void ApplyItem(const Sim& sim, std::int32_t card, const std::string& item) {
  const auto equals = item.find('=');
  const std::string key = item.substr(0, equals);
  const std::string value = equals == std::string::npos ? "" : item.substr(equals + 1);
  const auto fail = [&](const std::string& why) {
    throw UsageError("--sim: '" + item + "': " + why);
  };
  bool ok = true;
  if (key == "pattern") {
    ok = sim.set_pattern(card, 1) == 0;
  } else if (key == "module") {
    const std::int32_t module = sim.module_from_name(value.c_str());
    if (module < 0) fail("unknown module");
    ok = sim.set_module(card, module) == 0;
  } else if (key.rfind("ai", 0) == 0) {
    const auto input = static_cast<std::int32_t>(Number(key.substr(2), item));
    const std::vector<std::string> p = Split(value, ':');
    if (p[0].rfind("ao", 0) == 0) {
      ok = sim.set_analog_loopback(card, input,
                                   static_cast<std::int32_t>(Number(p[0].substr(2), item))) == 0;
    } else {
      static const char* const kinds[] = {"dc", "sine", "square", "ramp", "noise"};
      std::int32_t kind = -1;
      for (std::int32_t k = 0; k < 5; ++k) kind = p[0] == kinds[k] ? k : kind;
      if (kind < 0) fail("the signal is dc, sine, square, ramp, noise or aoN");
      // dc:OFFSET, noise:AMPLITUDE[:OFFSET], others AMPLITUDE:FREQUENCY[:OFFSET]
      std::vector<double> n;
      for (std::size_t i = 1; i < p.size(); ++i) n.push_back(Number(p[i], item));
      n.resize(3, 0.0);
      if (kind == KESTRO_SIM_SIGNAL_DC) {
        ok = sim.set_signal(card, input, kind, 0.0, n[0], 0.0) == 0;
      } else if (kind == KESTRO_SIM_SIGNAL_NOISE) {
        ok = sim.set_signal(card, input, kind, n[0], n[1], 0.0) == 0;
      } else {
        ok = sim.set_signal(card, input, kind, n[0], n[2], n[1]) == 0;
      }
    }
  } else if (key.rfind("ct", 0) == 0) {
    ok = sim.set_counter_input(card, static_cast<std::int32_t>(Number(key.substr(2), item)),
                               Number(value, item)) == 0;
  } else if (key == "di") {
    const std::vector<std::string> p = Split(value, ':');
    if (p[0] == "count") {
      const double step = p.size() > 1 ? Number(p[1], item) : 1.0;
      ok = sim.set_digital_count(card, 1, 0, static_cast<std::uint32_t>(step)) == 0;
    } else {
      ok = sim.set_digital_input_word(card, 0, ParseWord(p[0], "--sim")) == 0;
    }
  } else {
    fail("unknown setting (module, pattern, aiN, ctN, di)");
  }
  if (!ok) fail("the simulated module refused it");
}

}  // namespace

std::int64_t Sim::Lost(std::int32_t card) const {
  kestro_sim_capture_status status{};
  if (!capture || capture(card, &status) != 0) return -1;
  return static_cast<std::int64_t>(status.board_lost + status.fifo_lost);
}

std::int64_t Sim::Underruns(std::int32_t card) const {
  kestro_sim_output_status status{};
  if (!output || output(card, &status) != 0) return -1;
  return static_cast<std::int64_t>(status.underruns);
}

std::int64_t Sim::Queued(std::int32_t card) const {
  kestro_sim_output_status status{};
  if (!output || output(card, &status) != 0) return -1;
  return status.queued;
}

const Sim& FindSim() {
  static const Sim sim = [] {
    Sim s;
    Bind(s.capture, "kestro_sim_capture");
    Bind(s.output, "kestro_sim_output");
    Bind(s.set_module, "kestro_sim_set_module");
    Bind(s.module_from_name, "kestro_sim_module_from_name");
    Bind(s.set_signal, "kestro_sim_set_signal");
    Bind(s.set_analog_loopback, "kestro_sim_set_analog_loopback");
    Bind(s.set_pattern, "kestro_sim_set_pattern");
    Bind(s.set_counter_input, "kestro_sim_set_counter_input");
    Bind(s.set_digital_count, "kestro_sim_set_digital_count");
    Bind(s.set_digital_input_word, "kestro_sim_set_digital_input_word");
    const bool complete = s.output && s.set_module && s.module_from_name && s.set_signal &&
                          s.set_analog_loopback && s.set_pattern && s.set_counter_input &&
                          s.set_digital_count && s.set_digital_input_word;
    return complete ? s : Sim{};
  }();
  return sim;
}

void ApplySim(const Common& common) {
  if (common.sim.empty()) return;
  LoadCard(common.card);  // any call loads the library and with it the driver
  const Sim& sim = FindSim();
  if (!sim.present()) {
    fmt::print(stderr, "qvx: --sim ignored: the loaded driver is not the simulated module\n");
    return;
  }
  // The module first: choosing it puts the card in its power-on state.
  for (const bool module_items : {true, false}) {
    for (const std::string& option : common.sim) {
      for (const std::string& item : Split(option, ',')) {
        if ((item.rfind("module=", 0) == 0) == module_items) ApplyItem(sim, common.card, item);
      }
    }
  }
}

std::atomic<bool> g_interrupted{false};

void WatchInterrupt() {
  std::signal(SIGINT, [](int) { g_interrupted.store(true); });
}

bool StderrIsTerminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

void Progress::Show(const std::string& text) {
  if (!enabled_) return;
  // Padding instead of an escape sequence, so that every console shows it.
  fmt::print(stderr, "\r{:<78}", text);
  std::fflush(stderr);
  shown_ = true;
}

void Progress::Finish() {
  if (shown_) fmt::print(stderr, "\n");
  shown_ = false;
}

}  // namespace qvx

// Parsing of channel lists, ranges and digital entries given on the command
// line.
#include <cerrno>
#include <cstdlib>
#include <map>

#include "qvx.h"

namespace qvx {
namespace {

std::int32_t Number(const std::string& text, const char* option) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < 0 || value > 1000000) {
    throw UsageError(std::string(option) + ": '" + text + "' is not a channel number");
  }
  return static_cast<std::int32_t>(value);
}

// "a:b" -> {"a", "b"}; `second` empty without a colon.
std::pair<std::string, std::string> SplitColon(const std::string& text) {
  const auto colon = text.find(':');
  if (colon == std::string::npos) return {text, ""};
  return {text.substr(0, colon), text.substr(colon + 1)};
}

}  // namespace

std::vector<std::int32_t> ParseList(const std::string& text, const char* option) {
  std::vector<std::int32_t> list;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string item = text.substr(start, comma - start);
    const auto dash = item.find('-');
    if (dash == std::string::npos) {
      list.push_back(Number(item, option));
    } else {
      const std::int32_t first = Number(item.substr(0, dash), option);
      const std::int32_t last = Number(item.substr(dash + 1), option);
      if (last < first || last - first > 64) {
        throw UsageError(std::string(option) + ": '" + item + "' is not a range like 0-3");
      }
      for (std::int32_t n = first; n <= last; ++n) list.push_back(n);
    }
    start = comma + 1;
  }
  return list;
}

quorvex::range ParseRange(const std::string& text, const char* option) {
  static const std::map<std::string, quorvex::range> names = {
      {"0", quorvex::range::pm10v},  {"10V", quorvex::range::pm10v},
      {"1", quorvex::range::pm5v},   {"5V", quorvex::range::pm5v},
      {"2", quorvex::range::pm2v5},  {"2.5V", quorvex::range::pm2v5},
      {"3", quorvex::range::pm1v25}, {"1.25V", quorvex::range::pm1v25},
  };
  const auto found = names.find(text);
  if (found == names.end()) {
    throw UsageError(std::string(option) + ": '" + text +
                     "' is not a range (0..3, or 10V, 5V, 2.5V, 1.25V)");
  }
  return found->second;
}

std::uint32_t ParseWord(const std::string& text, const char* option) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0' || errno != 0 || value > 0xFFFFFFFFull) {
    throw UsageError(std::string(option) + ": '" + text + "' is not a number");
  }
  return static_cast<std::uint32_t>(value);
}

quorvex::scan_list BuildScanList(const InputOptions& options) {
  quorvex::scan_list list;
  const std::vector<std::int32_t> inputs =
      options.ai.empty() ? std::vector<std::int32_t>{} : ParseList(options.ai, "--ai");
  std::map<std::int32_t, quorvex::range> ranges;
  for (const std::string& given : options.ranges) {
    const auto [channels, code] = SplitColon(given);
    if (code.empty()) {  // one range for every input
      for (const std::int32_t input : inputs) ranges[input] = ParseRange(channels, "--range");
    } else {
      for (const std::int32_t input : ParseList(channels, "--range")) {
        ranges[input] = ParseRange(code, "--range");
      }
    }
  }
  try {
    for (const std::int32_t input : inputs) {
      const auto found = ranges.find(input);
      list.analog(input, found == ranges.end() ? quorvex::range::pm10v : found->second);
    }
    if (!options.ct.empty()) {
      for (const std::int32_t counter : ParseList(options.ct, "--ct")) list.counter(counter);
    }
    if (!options.di.empty()) {
      const auto [channels, width_name] = SplitColon(options.di);
      quorvex::digital_width width = quorvex::digital_width::line;
      if (width_name == "byte") {
        width = quorvex::digital_width::byte;
      } else if (width_name == "word") {
        width = quorvex::digital_width::word;
      } else if (width_name != "line" && !width_name.empty()) {
        throw UsageError("--di: '" + width_name + "' is not a width (line, byte or word)");
      }
      for (const std::int32_t channel : ParseList(channels, "--di")) list.digital(channel, width);
    }
    if (list.empty()) throw UsageError("name at least one input: --ai, --ct or --di");
    list.rate(options.rate);
  } catch (const std::invalid_argument& e) {
    throw UsageError(e.what());
  }
  return list;
}

}  // namespace qvx

// qvx: identification, capture, output, digital lines, counters, memory
// measurements and private flash of Quorvex cards from the command line.
//
//   qvx info                          qvx scan --ai 0-3 --rate 1000 --duration 3 -o x.csv
//   qvx ao --wave sine --frequency 5  qvx dio write --line 3 --value 1
//
// Exit status: 0 success, 1 a failure at run time (a library status, a file
// that cannot be written), 2 a bad option or value. docs/qvx.md has it all.
#include <fmt/core.h>
#include <CLI/CLI.hpp>

#include "qvx.h"

namespace {

// Adds the options that choose a capture's inputs, rate and length.
void AddInputs(CLI::App& command, qvx::ScanOptions& o) {
  command.add_option("--ai", o.inputs.ai, "analog inputs, for example 0-3 or 0,2,5");
  command.add_option("--range", o.inputs.ranges,
                     "input range, for all inputs (1, 5V) or some (0-3:1): 0 ±10 V, 1 ±5 V, "
                     "2 ±2.5 V, 3 ±1.25 V");
  command.add_option("--ct", o.inputs.ct, "counters, for example 0 or 0-1");
  command.add_option("--di", o.inputs.di,
                     "digital lines or ports from 0 on, with their width: 0-7:line, 0:byte, "
                     "0-1:byte, 0:word");
  command.add_option("--rate", o.inputs.rate, "scans per second")
      ->check(CLI::Range(10, 100000000))
      ->capture_default_str();
  command.add_option("-o,--output", o.output,
                     "file to write: .csv, .bin (raw, scan-major), .h5 (HDF5), or - for CSV "
                     "on standard output");
  command.add_option("--plot", o.plot, "draw the capture into a .png file (needs gnuplot)");
}

// Adds the options of a streamed waveform.
void AddWave(CLI::App& command, qvx::WaveOptions& wave) {
  command.add_option("--wave", wave.wave, "sine, square, triangle or a CSV file")
      ->capture_default_str();
  command.add_option("--amplitude", wave.amplitude, "volts")->capture_default_str();
  command.add_option("--offset", wave.offset, "volts")->capture_default_str();
  command.add_option("--frequency", wave.frequency, "Hz")->capture_default_str();
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"qvx: the command-line tool of the Quorvex data-acquisition library", "qvx"};
  app.require_subcommand(1);
  app.fallthrough();
  qvx::Common common;
  app.add_option("-c,--card", common.card, "card number")
      ->check(CLI::Range(0, QVX_MAX_CARDS - 1))
      ->capture_default_str();
  app.add_option("--sim", common.sim,
                 "settings of the simulated module (ignored with another driver): "
                 "module=NAME, pattern, aiN=sine:AMP:HZ[:OFFSET] (square, ramp too), "
                 "aiN=dc:VOLTS, aiN=noise:AMP, aiN=aoM, ctN=HZ, di=count[:STEP], di=WORD");
  app.add_flag("-q,--quiet", common.quiet, "no progress line");

  bool all = false;
  auto* info = app.add_subcommand("info", "identification, counts and rates of a card");
  info->add_flag("--all", all, "every card that opens");

  qvx::ScanOptions scan;
  auto* scan_command = app.add_subcommand("scan", "continuous capture to a file");
  AddInputs(*scan_command, scan);
  auto* length =
      scan_command->add_option("--duration", scan.duration, "seconds")->check(CLI::PositiveNumber);
  scan_command->add_option("--scans", scan.scans, "scans to capture")
      ->check(CLI::PositiveNumber)
      ->excludes(length);
  scan_command->add_flag("--raw", scan.raw, "raw values: 16-bit codes for analog inputs");
  scan_command->add_option("--ao", scan.ao, "analog outputs to stream a waveform to meanwhile");
  scan_command->add_option("--ao-rate", scan.ao_rate, "frames per second of the output")
      ->check(CLI::Range(1, 1000));
  AddWave(*scan_command, scan.wave);

  qvx::ScanOptions memory;
  auto* mem = app.add_subcommand("mem", "memory measurement up to a target number of scans");
  AddInputs(*mem, memory);
  mem->add_option("--target", memory.target, "scans to measure")->required();

  qvx::AiOptions ai;
  auto* ai_command = app.add_subcommand("ai", "single conversions of analog inputs");
  ai_command->add_option("--channel", ai.channels, "inputs, for example 0-3")
      ->capture_default_str();
  ai_command->add_option("--range", ai.range, "range handed to the module (0..3)");
  ai_command->add_flag("--differential", ai.differential, "differential inputs");
  ai_command->add_option("--count", ai.count, "conversions per input")
      ->check(CLI::Range(1, 1000000));
  ai_command->add_option("--interval", ai.interval, "seconds between conversions")
      ->check(CLI::NonNegativeNumber);

  qvx::AoOptions ao;
  auto* ao_command = app.add_subcommand("ao", "set an analog output, or stream a waveform");
  ao_command->add_option("--channel", ao.channels, "outputs, for example 0 or 0-1")
      ->capture_default_str();
  ao_command->add_option("--set", ao.set, "volts to set now");
  AddWave(*ao_command, ao.wave);
  ao_command->add_option("--rate", ao.rate, "frames per second (rate x outputs at most 1000)")
      ->check(CLI::Range(1, 1000));
  ao_command->add_option("--duration", ao.duration, "seconds (a CSV file: once through)")
      ->check(CLI::PositiveNumber);

  qvx::DioOptions dio;
  auto* dio_command = app.add_subcommand("dio", "digital lines: read, write, direction");
  dio_command->add_option("action", dio.action, "read, write or direction")
      ->required()
      ->check(CLI::IsMember({"read", "write", "direction"}));
  dio_command->add_option("--lines,--line", dio.lines,
                          "a line or a run of lines, for example 3 or 0-7");
  dio_command->add_option("--port", dio.port, "FIRST:COUNT, a run written as one word");
  dio_command->add_option("--value", dio.value, "write: 0 or 1 for a line, a word for a port");
  dio_command->add_flag("--output", dio.output, "direction: make the lines outputs");
  dio_command->add_flag("--input", dio.input, "direction: make the lines inputs");

  qvx::CounterOptions counter;
  auto* counter_command = app.add_subcommand("counter", "configure counters and read them");
  counter_command->add_option("--counter", counter.counters, "counters, for example 0-1")
      ->capture_default_str();
  counter_command->add_option("--mode", counter.mode,
                              "0, 1 (frequency), 2, 3 (counter modules) or 5");
  counter_command
      ->add_option("--settings", counter.settings, "the seven module settings after the mode")
      ->delimiter(',');
  counter_command->add_option("--rate", counter.rate, "polls per second")
      ->check(CLI::Range(10, 100000))
      ->capture_default_str();
  counter_command->add_option("--duration", counter.duration, "seconds")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  counter_command->add_option("--interval", counter.interval, "seconds between reads")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();

  qvx::FlashOptions flash;
  auto* flash_command = app.add_subcommand("flash", "the card's 256-byte private flash");
  flash_command->add_option("action", flash.action, "read, write or clear")
      ->required()
      ->check(CLI::IsMember({"read", "write", "clear"}));
  flash_command->add_option("--count", flash.count, "read: bytes")->check(CLI::Range(1, 256));
  flash_command->add_option("-o,--output", flash.output, "read: write the bytes to a file");
  flash_command->add_option("--text", flash.text, "write: these characters");
  flash_command->add_option("--hex", flash.hex, "write: bytes in hex, \"de ad be ef\"");
  flash_command->add_option("--file", flash.file, "write: the bytes of a file");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help
    const auto extra = app.remaining();
    if (app.get_subcommands().empty() && !extra.empty()) {
      fmt::print(stderr, "qvx: '{}' is not a command (qvx --help lists them)\n", extra.front());
      return 2;
    }
    fmt::print(stderr, "qvx: {} (qvx --help)\n", e.what());
    return 2;
  }

  try {
    if (info->parsed()) return qvx::Info(common, all);
    if (scan_command->parsed()) {
      scan.quiet = common.quiet;
      return qvx::Scan(common, scan);
    }
    if (mem->parsed()) {
      memory.quiet = common.quiet;
      return qvx::Memory(common, memory);
    }
    if (ai_command->parsed()) return qvx::Ai(common, ai);
    if (ao_command->parsed()) return qvx::Ao(common, ao);
    if (dio_command->parsed()) return qvx::Dio(common, dio);
    if (counter_command->parsed()) return qvx::Counter(common, counter);
    if (flash_command->parsed()) return qvx::Flash(common, flash);
  } catch (const qvx::UsageError& e) {
    fmt::print(stderr, "qvx: {}\n", e.what());
    return 2;
  } catch (const quorvex::error& e) {
    fmt::print(stderr, "qvx: {}\n", e.what());
    return 1;
  } catch (const std::exception& e) {
    fmt::print(stderr, "qvx: {}\n", e.what());
    return 1;
  }
  return 2;
}

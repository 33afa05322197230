// cpp_capture.cpp - a capture with the C++ interface.
//
// Opens card 0, streams a 10 Hz sine of 2 V to analog output 0 and captures
// analog inputs 0 and 1 with counter 0 for one second, in blocks that a
// reader hands over on a thread of its own. Every block carries the number
// of its first scan, so the program can tell that none was lost. With the
// simulated module of a Quorvex build, input 0 follows output 0.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <thread>
#include <vector>

#include "quorvex.hpp"

int main() {
  try {
    quorvex::card card(0);
    const quorvex::module_info info = card.info();
    std::printf("card 0: %s, %s\n", info.name.c_str(), info.serial.c_str());

    quorvex::scan_list inputs;
    inputs.analog(0).analog(1, quorvex::range::pm5v).counter(0).rate(1000);
    quorvex::output_list outputs;
    outputs.analog(0).rate(1000);
    card.prepare(inputs, outputs);

    // One second of the sine, written before the output starts.
    std::vector<double> sine(1000);
    for (std::size_t i = 0; i < sine.size(); ++i) {
      sine[i] = 2.0 * std::sin(2 * std::numbers::pi * 10.0 * static_cast<double>(i) / 1000.0);
    }
    card.write_all(sine);

    // Written on the reader's thread, read here after it has ended.
    std::uint64_t gaps = 0, next = 0;
    double peak = 0.0;
    {
      // The handler runs on the reader's thread; it may call the card too.
      quorvex::background_reader reader(card, [&](const quorvex::block& block) {
        if (block.first_scan != next) ++gaps;
        next = block.first_scan + block.scans;
        for (std::size_t i = 0; i < block.scans; ++i) peak = std::max(peak, block.at(i, 0));
      });
      card.start_output();
      card.start_capture();
      std::this_thread::sleep_for(std::chrono::seconds(1));
      reader.stop();
      if (reader.error()) std::rethrow_exception(reader.error());
    }
    card.stop_capture();
    card.stop_output();
    std::printf("%llu scans, %llu gaps, peak of ai0 %.3f V\n",
                static_cast<unsigned long long>(next), static_cast<unsigned long long>(gaps), peak);
    return gaps == 0 && next > 0 ? 0 : 1;
  } catch (const quorvex::error& e) {
    // The status, the failing call and the card, in one line.
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}

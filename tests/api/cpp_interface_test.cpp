// The C++ interface (quorvex.hpp) against the simulated module.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <thread>
#include <vector>

#include "quorvex.hpp"
#include "support.h"

namespace {

using namespace std::chrono_literals;
using quorvex::digital_width;
using quorvex::output_list;
using quorvex::scan_list;

class CppInterface : public qvx_test::SimTest {};

// Each failure carries its status, its C call and its card; a latched card
// is refused before any call reaches it. (That each card object selects its
// own card is CardsSelectThemselves.)
TEST_F(CppInterface, ErrorsNameTheCallTheStatusAndTheLatch) {
  ASSERT_EQ(kestro_sim_set_module(5, KESTRO_SIM_ABSENT), 0);
  quorvex::card first(0);
  const struct {
    std::function<void()> action;
    const char* call;
    quorvex::status status;
    bool latched;
  } cases[] = {
      {[] { quorvex::card c(16); }, "OpenCard", quorvex::status::argument, false},
      {[] { quorvex::card c(5); }, "OpenCard", quorvex::status::failure, false},
      {[&] { first.prepare(scan_list().analog(0).rate(500001)); }, "SetADFrequency",
       quorvex::status::argument, false},
      // The rate latched card 0: refused before it is selected.
      {[&] { first.start_capture(); }, "SwitchCard", quorvex::status::failure, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    try {
      c.action();
      ADD_FAILURE() << "no error";
    } catch (const quorvex::error& e) {
      EXPECT_EQ(e.code(), c.status) << e.what();
      EXPECT_EQ(e.call(), c.call);
      const auto* latched = dynamic_cast<const quorvex::latched_error*>(&e);
      ASSERT_EQ(latched != nullptr, c.latched) << e.what();
      if (latched != nullptr) {
        EXPECT_EQ(latched->card(), 0);
        EXPECT_NE(std::string(e.what()).find("reopen()"), std::string::npos) << e.what();
      }
    }
  }
  EXPECT_EQ(kestro_sim_call_count("ZQ7_AD_Start"), 0u);
  first.reopen();
  first.prepare(scan_list().analog(0).rate(1000));
  first.start_capture();
  EXPECT_EQ(kestro_sim_call_count("ZQ7_AD_Start"), 1u);
}

// Two card objects, interleaved on one thread and then on two threads at
// once, each read their own card.
TEST_F(CppInterface, CardsSelectThemselves) {
  ASSERT_EQ(kestro_sim_set_signal(0, 8, KESTRO_SIM_SIGNAL_DC, 0, 1.0, 0), 0);
  ASSERT_EQ(kestro_sim_set_signal(1, 8, KESTRO_SIM_SIGNAL_DC, 0, -2.0, 0), 0);
  quorvex::card a(0), b(1);
  std::atomic<int> wrong{0};
  auto read = [&wrong](quorvex::card& c, double volts, int times) {
    for (int i = 0; i < times; ++i) wrong += std::abs(c.convert(8).volts - volts) > 1e-3;
  };
  for (int i = 0; i < 3; ++i) {
    read(a, 1.0, 1);
    read(b, -2.0, 1);
  }
  std::thread other(read, std::ref(a), 1.0, 300);
  read(b, -2.0, 300);
  other.join();
  EXPECT_EQ(wrong.load(), 0);
}

// An overflow of the module's on-board memory latches the card; the reader
// names the last scan it delivered intact.
TEST_F(CppInterface, BlockReaderNamesTheLastGoodScanAfterAnOverflow) {
  ASSERT_EQ(kestro_sim_set_clock(0, KESTRO_SIM_CLOCK_MANUAL), 0);
  quorvex::card c(0);
  c.prepare(scan_list().analog(0).rate(10000));
  quorvex::block_reader reader(c, 10000);
  c.start_capture();
  ASSERT_EQ(kestro_sim_advance(0, 5000), 0);
  ASSERT_TRUE(qvx_test::WaitFor(
      [&] { return reader.next().scans == 0 && reader.scans_delivered() == 5000; }));
  ASSERT_EQ(kestro_sim_advance(0, 70000), 0);  // more than the 65536 scans it holds
  try {
    qvx_test::WaitFor([&] { return reader.next().scans > 0; });
    ADD_FAILURE() << "no error after the overflow";
  } catch (const quorvex::capture_error& e) {
    EXPECT_EQ(e.last_good_scan(), 4999) << e.what();
  }
}

// The destructor stops capture and output and closes the card, also when the
// card is latched and cannot be selected; a moved-from object closes nothing.
TEST_F(CppInterface, DestructorStopsAndCloses) {
  for (const bool latched : {false, true}) {
    kestro_sim_reset();
    {
      quorvex::card c(0);
      c.prepare(scan_list().analog(0).rate(1000), output_list().analog(0).rate(100));
      c.write_all(std::vector<double>(300, 1.0));
      c.start_output();
      c.start_capture();
      if (latched) {
        EXPECT_THROW(c.set_input_mode(quorvex::input_mode{7}), quorvex::error);
      }
      quorvex::card moved = std::move(c);
      EXPECT_EQ(kestro_sim_is_open(0), 1);
    }
    EXPECT_EQ(kestro_sim_is_open(0), 0) << latched;
    EXPECT_EQ(kestro_sim_call_count("ZQ7_AD_Stop"), 1u) << latched;
    EXPECT_EQ(kestro_sim_call_count("ZQ7_DA_Stop"), latched ? 0u : 1u);
  }
}

}  // namespace

// Capture through libquorvex on the simulated module's manual clock, where
// each case places its scans and pattern mode gives every value of every
// scan: the layouts and bounds of the reads, the lists, starts and stops,
// rates and counters. (The soak and capture tests run on the real-time clock.)
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "support.h"

namespace {

using qvx_test::CallLog;
using qvx_test::DriverCalls;
using qvx_test::Take;
using qvx_test::Volts;
using qvx_test::WaitFor;
using Log = std::vector<std::string>;

class ManualCapture : public qvx_test::SimTest {
 protected:
  // Opens `card` afresh, holding `module`, on the manual clock in pattern
  // mode; every simulated module starts from power-on.
  static void Open(int32_t card, int32_t module = KESTRO_SIM_STANDARD) {
    CloseCard(card);
    kestro_sim_reset();
    ASSERT_EQ(kestro_sim_set_module(card, module), 0);
    ASSERT_EQ(kestro_sim_set_clock(card, KESTRO_SIM_CLOCK_MANUAL), 0);
    ASSERT_EQ(kestro_sim_set_pattern(card, 1), 0);
    ASSERT_EQ(OpenCard(card), QVX_OK);
  }
  static kestro_sim_capture_status Capture(int32_t card = 0) {
    kestro_sim_capture_status status{};
    EXPECT_EQ(kestro_sim_capture(card, &status), 0);
    return status;
  }
};

using Read = int32_t(QVX_CALL*)(uint32_t*, int32_t*, int32_t);

// A memory read of the two analog inputs in the shape of the block reads.
int32_t QVX_CALL MemoryRead(uint32_t* out, int32_t* n, int32_t mode) {
  int32_t got = -1;
  const int32_t status =
      GetBinaryDataFromMemoryMeasurement(0, 2, *n, reinterpret_cast<int32_t*>(out), mode, &got);
  *n = got / 2;
  return status;
}

// Mode 0 delivers what waits when fewer scans than wanted wait; mode 1 only
// more than wanted; no read delivers more than the 10000 scans of the
// staging buffers; mode 2 is refused. Each case empties its FIFO first.
TEST_F(ManualCapture, ReadsDeliverByModeAndStagingRoom) {
  // Two analog inputs, a counter and a word port; a refusal latches, so
  // each refused read is followed by a fresh set-up.
  const auto set_up = [] {
    return qvx_test::All({ClearChannelLists(), Add_AD_Channel_to_ScanList(0, 0, 0, 0),
                          Add_AD_Channel_to_ScanList(1, 0, 0, 0), CT_AddChannel_To_CTScanlist(0),
                          DIN_AddChannel_To_DINScanlist(0, 2), SetADFrequency(100000),
                          FinalInit()});
  };
  Open(0);
  ASSERT_EQ(qvx_test::All({set_up(), StartADCapture()}), QVX_OK);
  const Read analog = &GetBinaryData, counter = &CT_GetBinaryData, digital = &DIN_GetBinaryData,
             memory = &MemoryRead;
  const struct {
    const char* name;
    Read read;
    int32_t waiting, wanted, mode, delivered;
  } cases[] = {
      {"analog", analog, 100, 100, 1, 0},         {"analog", analog, 101, 100, 1, 100},
      {"analog", analog, 50, 100, 1, 0},          {"analog", analog, 50, 100, 0, 50},
      {"analog", analog, 12000, 20000, 0, 10000}, {"counter", counter, 100, 100, 1, 0},
      {"counter", counter, 40, 100, 0, 40},       {"digital", digital, 100, 100, 1, 0},
      {"digital", digital, 40, 100, 0, 40},       {"memory", memory, 100, 100, 1, 0},
      {"memory", memory, 40, 100, 0, 40},
  };
  std::vector<uint32_t> out(2 * 20000);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << " " << c.waiting << " of " << c.wanted);
    for (int32_t n = 1; n > 0;) {
      n = 10000;
      ASSERT_EQ(c.read(out.data(), &n, 0), QVX_OK);
    }
    Take(0, c.waiting);
    int32_t count = c.wanted;
    EXPECT_EQ(c.read(out.data(), &count, c.mode), QVX_OK);
    EXPECT_EQ(count, c.delivered);
  }
  // Memory reads answer their argument errors with 1.
  for (const auto& [read, status] : {std::pair{analog, QVX_ARGUMENT},
                                     {counter, QVX_ARGUMENT},
                                     {digital, QVX_ARGUMENT},
                                     {memory, QVX_FAILURE}}) {
    int32_t count = 1;
    EXPECT_EQ(read(out.data(), &count, 2), status);
    ASSERT_EQ(set_up(), QVX_OK);
  }
}

// Digital entries add their lines to the module's list by width code: a
// line, a byte port of 8 lines or a word port of 16. Refusals latch; a
// negative entry is refused before the module is asked for its inputs.
TEST_F(ManualCapture, DigitalEntriesAddTheirLines) {
  Open(0);  // 12 digital inputs
  const struct {
    int32_t channel, width;
    bool mixed;
    int32_t status, first, lines;
  } cases[] = {{1, 1, true, QVX_OK, 8, 8},        {2, 2, false, QVX_OK, 32, 16},
               {11, 0, true, QVX_OK, 11, 1},      {12, 0, false, QVX_ARGUMENT, 0, 0},
               {11, 3, true, QVX_ARGUMENT, 0, 0}, {0, -1, false, QVX_ARGUMENT, 0, 0},
               {-1, 1, true, QVX_ARGUMENT, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.channel << ", " << c.width);
    ASSERT_EQ(ClearChannelLists(), QVX_OK);
    const uint32_t asked = kestro_sim_call_count("ZQ7_GetNumOfTTLIn");
    kestro_sim_log_clear();
    EXPECT_EQ(c.mixed ? Add_Dig_Channel_to_ScanList(c.channel, c.width)
                      : DIN_AddChannel_To_DINScanlist(c.channel, c.width),
              c.status);
    Log lines;
    for (int32_t i = 0; i < c.lines; ++i) {
      lines.push_back("ZQ7_TTL_AddChannelList(0, " + std::to_string(c.first + i) + ")");
    }
    Log added;
    for (std::string& call : DriverCalls()) {
      if (call.find("TTL_Add") != std::string::npos) added.push_back(call);
    }
    EXPECT_EQ(added, lines);
    EXPECT_EQ(FinalInit(), c.status == QVX_OK ? QVX_OK : QVX_FAILURE);
    if (c.channel < 0) {
      EXPECT_EQ(kestro_sim_call_count("ZQ7_GetNumOfTTLIn"), asked);
    }
  }
}

// Every slot of every scan as each read lays it out: a mixed list of analog
// inputs (each with its range), counters and byte ports in turn, read as
// volts and as raw values; 18 single lines over two groups, and counters, on
// their own lists. A list without analog entries gets input 0 at FinalInit:
// it takes the last slot of mixed reads, and the digital and counter reads
// drain it. Memory reads lay out the list of the card they name (card 1,
// while card 0, the current card, holds a byte port): analog values 20 bits
// wide, and the binary read counts the values taken from the FIFOs, analog
// codes, counter values and group words.
TEST_F(ManualCapture, ReadsLayOutEverySlot) {
  const struct {
    int32_t module;
    // a analog input, c counter, b byte port, l line, w word port, z the
    // input FinalInit adds; capitals: on the separate lists.
    const char* slots;
    // s GetScaledData, b GetBinaryData, d DIN_GetBinaryData, c CT_GetScaledData;
    // m, M: binary and scaled memory reads
    char read;
  } cases[] = {{KESTRO_SIM_STANDARD, "acbaacba", 's'},
               {KESTRO_SIM_STANDARD, "acbaacba", 'b'},
               {KESTRO_SIM_STANDARD, "cbz", 'b'},
               {KESTRO_SIM_DIGITAL, "LLLLLLLLLLLLLLLLLL", 'd'},
               {KESTRO_SIM_STANDARD, "W", 'd'},
               {KESTRO_SIM_STANDARD, "CC", 'c'},
               {KESTRO_SIM_DIGITAL, "acllllllllllllllllllac", 'm'},  // 6 values a scan
               {KESTRO_SIM_DIGITAL, "acllllllllllllllllllac", 'M'}};
  constexpr int32_t kScans = 3;
  const double factors[4] = {1.0, 0.5, 0.25, 0.125};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.slots << " " << c.read);
    const bool memory = c.read == 'm' || c.read == 'M', scaled = c.read == 's' || c.read == 'M';
    const int32_t card = memory ? 1 : 0;
    Open(card, c.module);
    const std::string slots = c.slots;
    int32_t analog = 0, counter = 0, digital = 0;
    for (const char kind : slots) {
      const int32_t status = kind == 'a'   ? Add_AD_Channel_to_ScanList(analog, 0, analog % 4, 0)
                             : kind == 'c' ? Add_CT_Channel_to_ScanList(counter)
                             : kind == 'C' ? CT_AddChannel_To_CTScanlist(counter)
                             : kind == 'b' ? Add_Dig_Channel_to_ScanList(digital, 1)
                             : kind == 'l' ? Add_Dig_Channel_to_ScanList(digital, 0)
                             : kind == 'L' ? DIN_AddChannel_To_DINScanlist(digital, 0)
                             : kind == 'W' ? DIN_AddChannel_To_DINScanlist(digital, 2)
                                           : QVX_OK;
      ASSERT_EQ(status, QVX_OK) << kind;
      analog += kind == 'a';
      counter += kind == 'c' || kind == 'C';
      digital += kind != 'a' && kind != 'z' && kind != 'c' && kind != 'C';
    }
    ASSERT_EQ(qvx_test::All({SetDINFrequency(1000), FinalInit(),
                             memory ? StartMemoryMeasurement(1, 1, 0, 5) : StartADCapture()}),
              QVX_OK);
    if (memory) {
      qvx_test::OpenInputs(0, 0, 1000, true);
      ASSERT_EQ(Add_Dig_Channel_to_ScanList(0, 1), QVX_OK);
    }
    Take(card, kScans);
    const size_t width = c.read == 'd' ? digital : c.read == 'c' ? counter : slots.size();
    std::vector<uint32_t> raw(kScans * width);
    std::vector<double> volts(kScans * width);
    int32_t count = kScans, values = -1;
    ASSERT_EQ(c.read == 's'   ? GetScaledData(0, volts.data(), &count, 0)
              : c.read == 'b' ? GetBinaryData(raw.data(), &count, 0)
              : c.read == 'd' ? DIN_GetBinaryData(raw.data(), &count, 0)
              : c.read == 'c' ? CT_GetScaledData(raw.data(), &count, 0)
              : c.read == 'm'
                  ? GetBinaryDataFromMemoryMeasurement(
                        1, 99, kScans, reinterpret_cast<int32_t*>(raw.data()), 0, &values)
                  : GetScaledDataFromMemoryMeasurement(1, 0, 1, kScans, volts.data(), 0, &values),
              QVX_OK);
    ASSERT_EQ(memory ? values : count, c.read == 'm' ? kScans * 6 : kScans);
    for (uint64_t i = 0; i < kScans; ++i) {
      analog = counter = digital = 0;
      size_t at = i * width;
      for (const char kind : slots) {
        const bool port = kind != 'a' && kind != 'z' && kind != 'c' && kind != 'C';
        uint32_t value = 0;
        double number = 0;
        if (kind == 'a' || kind == 'z') {
          value = kestro_sim_pattern_ad(i, analog);
          number = Volts(value, factors[analog++ % 4]);
          if (c.read == 'm') value = static_cast<uint32_t>(qvx_test::Wide(value));
        } else if (kind == 'c' || kind == 'C') {
          number = value = kestro_sim_pattern_ct(i, counter++);
        } else {
          const int32_t d = digital++;
          const bool line = kind == 'L' || kind == 'l';
          const uint32_t word = kestro_sim_pattern_din(i, line ? d / 16 : d / 2);
          number = value = kind == 'W' ? word
                           : line      ? (word >> (d % 16)) & 1u
                                       : (word >> (8 * (d % 2))) & 0xFFu;
        }
        // The digital and counter reads deliver only their own slots.
        if ((c.read == 'd' || c.read == 'c') && (c.read == 'd') != port) continue;
        EXPECT_EQ(scaled ? volts[at] : raw[at], scaled ? number : value) << at;
        ++at;
      }
    }
    if (c.read == 'd' || c.read == 'c') {
      EXPECT_EQ(Capture().ad_fifo, 0);  // drained
    }
  }
}

// Starts are not repeated and hand their flags over before the start; only
// flags 0 and 1 are accepted. A stop leaves nothing to read until the next
// FinalInit.
TEST_F(ManualCapture, StartsAndStops) {
  qvx_test::OpenInputs(0, 1, 1000, true);
  ASSERT_EQ(StartADCapture(), QVX_OK);
  kestro_sim_log_clear();
  EXPECT_EQ(qvx_test::All({StartADCapture(), StartADCaptureEx(1, 1, 1), StartCTforRead()}), QVX_OK);
  EXPECT_EQ(DriverCalls(), Log{});
  Take(0, 3);
  ASSERT_EQ(StopADCapture(), QVX_OK);
  kestro_sim_log_clear();
  uint32_t codes[8];
  int32_t count = 8;
  EXPECT_EQ(GetBinaryData(codes, &count, 0), QVX_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(StopADCapture(), QVX_OK);  // nothing runs
  EXPECT_EQ(DriverCalls(), Log{});
  ASSERT_EQ(FinalInit(), QVX_OK);
  count = 8;
  EXPECT_EQ(GetBinaryData(codes, &count, 0), QVX_OK);
  EXPECT_EQ(count, 3);

  EXPECT_EQ(StartADCaptureEx(0, 1, 2), QVX_ARGUMENT);
  EXPECT_EQ(StartADCapture(), QVX_FAILURE);
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  kestro_sim_log_clear();
  EXPECT_EQ(StartADCaptureEx(1, 0, 1), QVX_OK);
  EXPECT_EQ(DriverCalls(), (Log{"ZQ7_Start_Extern(0, 1, 0, 1)", "ZQ7_AD_Start(0)"}));
}

// A stop returns promptly while the worker is inside a slow driver call.
// While the call outlasts the mutex wait, a FinalInit (of another card: the
// mutex is shared) sets up nothing and returns 1 without latching; it works
// once the call has ended.
TEST_F(ManualCapture, SlowDriverCallsDelayNoStopAndNoSetUp) {
  Open(1);
  qvx_test::OpenInputs(0, 1, 1000, true);
  ASSERT_EQ(StartADCapture(), QVX_OK);
  kestro_sim_delay("ZQ7_AD_ReadData_MixedChannels", 300);
  const auto Fetches = [] { return kestro_sim_call_count("ZQ7_AD_ReadData_MixedChannels"); };
  const uint32_t before = Fetches();
  ASSERT_TRUE(WaitFor([&] { return Fetches() > before + 1; }));
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(StopADCapture(), QVX_OK);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
  int32_t waiting = 0;
  EXPECT_EQ(GetADBufferStatus(0, &waiting), QVX_OK);  // not latched

  // The counter read of the polls that follow a failed fetch holds the
  // mutex for 6 s.
  ASSERT_EQ(qvx_test::All({ClearChannelLists(), CT_AddChannel_To_CTScanlist(0),
                           SetCTFrequency(1000), FinalInit()}),
            QVX_OK);
  kestro_sim_fail("ZQ7_AD_ReadData_MixedChannels", -1, 1);
  kestro_sim_delay("ZQ7_AD_ReadData_MixedChannels", 0);
  kestro_sim_delay("ZQ7_CT_GetDataFromFifo", 6000);
  ASSERT_EQ(StartCTforRead(), QVX_OK);
  ASSERT_TRUE(WaitFor([] { return kestro_sim_call_count("ZQ7_CT_GetDataFromFifo") > 0; }));
  // The stop stops the module but leaves the staging buffers, which the
  // driver call still writes into, for a later set-up.
  kestro_sim_log_clear();
  EXPECT_EQ(StopADCapture(), QVX_OK);
  EXPECT_EQ(DriverCalls(), Log{"ZQ7_AD_Stop(0)"});
  ASSERT_EQ(SwitchCard(1), QVX_OK);
  ASSERT_EQ(Add_AD_Channel_to_ScanList(0, 0, 0, 0), QVX_OK);
  kestro_sim_log_clear();
  EXPECT_EQ(FinalInit(), QVX_FAILURE);
  EXPECT_EQ(DriverCalls(), Log{});
  kestro_sim_clear_faults();
  EXPECT_TRUE(WaitFor([] { return FinalInit() == QVX_OK; }, std::chrono::seconds(10)));
}

// Rates: the aggregate over the analog entries up to the module's limit,
// without wrapping; on strict modules also the per-input rate; 10 Hz at
// least. The first rate accepted after a clear is the one the module gets.
TEST_F(ManualCapture, AcquisitionRateLimits) {
  const struct {
    int32_t module, entries, rate, status;
  } cases[] = {{KESTRO_SIM_COUNTER, 4, 25001, QVX_ARGUMENT},  // 4 inputs, 100 kHz
               {KESTRO_SIM_COUNTER, 4, 25000, QVX_OK},
               {KESTRO_SIM_COUNTER, 4, 1073741824, QVX_ARGUMENT},  // x 4 = 2^32
               {KESTRO_SIM_COUNTER, 0, 9, QVX_ARGUMENT},
               {KESTRO_SIM_COUNTER, 0, 10, QVX_OK},
               {KESTRO_SIM_STRICT, 1, 12501, QVX_ARGUMENT},  // 8 inputs, 100 kHz
               {KESTRO_SIM_STRICT, 1, 12500, QVX_OK}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.module << " " << c.entries << " x " << c.rate);
    Open(0, c.module);
    for (int k = 0; k < c.entries; ++k) ASSERT_EQ(Add_AD_Channel_to_ScanList(k, 0, 0, 0), QVX_OK);
    EXPECT_EQ(SetADFrequency(c.rate), c.status);
    EXPECT_EQ(kestro_sim_ad_frequency(0), c.status == QVX_OK ? c.rate : 0.0);
    EXPECT_EQ(SetADFrequency(1000), c.status == QVX_OK ? QVX_OK : QVX_FAILURE);  // latched
  }
  Open(0);
  kestro_sim_log_clear();
  EXPECT_EQ(qvx_test::All({SetADFrequency(1000), SetADFrequency(2000), ClearChannelLists(),
                           SetADFrequency(4000)}),
            QVX_OK);
  EXPECT_EQ(DriverCalls(), (Log{"ZQ7_AD_SetFrequency(0, 1000)", "ZQ7_AD_ClearChannelList(0)",
                                "ZQ7_DA_ClearChannelList(0)", "ZQ7_AD_SetFrequency(0, 4000)"}));
}

// The factor of each counter by module and mode (the decade counts on the
// counter module only, modes 2 and 3 exist only there), as CT_GetScaledData
// applies it to the list entry of that number; the driver's own order of the
// arguments.
TEST_F(ManualCapture, CounterConfiguration) {
  constexpr int32_t kCtr = KESTRO_SIM_COUNTER, kStd = KESTRO_SIM_STANDARD;
  const struct {
    int32_t module, counter, mode, a3, decade, a9, status;
    uint32_t factor;
  } cases[] = {
      {kCtr, 0, 1, 0, 0, 0, QVX_OK, 1},       {kCtr, 1, 1, 0, 1, 0, QVX_OK, 10},
      {kCtr, 2, 1, 0, 2, 0, QVX_OK, 100},     {kCtr, 3, 1, 0, 3, 0, QVX_OK, 1000},
      {kCtr, 3, 2, 0, 0, 0, QVX_OK, 1},       {kCtr, 3, 3, 0, 0, 0, QVX_OK, 1},
      {kCtr, 7, 0, INT_MAX, 0, 2, QVX_OK, 1}, {kCtr, 3, 4, 0, 0, 0, QVX_ARGUMENT, 0},
      {kStd, 1, 1, 0, 3, 0, QVX_OK, 10},      {kStd, 1, 5, 0, 3, 0, QVX_OK, 1},
      {kStd, 0, 2, 0, 0, 0, QVX_ARGUMENT, 0}, {kStd, 4, 0, 0, 0, 0, QVX_ARGUMENT, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.module << ": counter " << c.counter << " mode " << c.mode);
    Open(0, c.module);
    EXPECT_EQ(ConfigureCounterInput(c.counter, c.mode, c.a3, c.decade, 0, 0, 0, 0, c.a9), c.status);
    if (c.status != QVX_OK) {
      EXPECT_EQ(CT_AddChannel_To_CTScanlist(0), QVX_FAILURE);  // latched
      continue;
    }
    // Counters 0 .. counter, so that list entry and counter agree.
    for (int32_t k = 0; k <= c.counter; ++k) ASSERT_EQ(CT_AddChannel_To_CTScanlist(k), QVX_OK);
    ASSERT_EQ(qvx_test::All({SetCTFrequency(1000), FinalInit(), StartCTCapture()}), QVX_OK);
    Take(0, 1);
    uint32_t values[8];
    int32_t count = 1;
    ASSERT_EQ(CT_GetScaledData(values, &count, 0), QVX_OK);
    EXPECT_EQ(values[c.counter], kestro_sim_pattern_ct(0, c.counter) * c.factor);
  }
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  EXPECT_EQ(CT_AddChannel_To_CTScanlist(4), QVX_ARGUMENT);  // the standard module has 4
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  // The Ex form ignores its tenth value and hands the driver card, counter,
  // mode, a5, 0, 0, a3, a4, a6, a7, a8, a9.
  ASSERT_EQ(ConfigureCounterInputEx(3, 1, 70000, 2, 1, 0, 1, 1, 2, -5), QVX_OK);
  int32_t values[10];
  ASSERT_EQ(kestro_sim_counter_config(0, 3, values), 2);
  EXPECT_EQ(std::vector<int32_t>(values, values + 10),
            (std::vector<int32_t>{1, 1, 0, 0, 70000, 2, 0, 1, 1, 2}));
  uint32_t value = 0;
  EXPECT_EQ(ReadCounterValue(16, &value), QVX_ARGUMENT);
  EXPECT_EQ(ReadCounterValue(3, &value), QVX_OK);  // not latched; nothing polled
  EXPECT_EQ(value, 0u);
}

// StartCTforRead has the worker read a poll's worth of counter scans (a
// twentieth of a second above 2 kHz) and keep each counter's newest value,
// scaled; the values stay after the stop.
TEST_F(ManualCapture, CounterPollingKeepsTheNewestScaledValues) {
  Open(3);
  ASSERT_EQ(ConfigureCounterInput(1, 1, 0, 0, 0, 0, 0, 0, 0), QVX_OK);  // factor 10
  ASSERT_EQ(qvx_test::All({CT_AddChannel_To_CTScanlist(0), CT_AddChannel_To_CTScanlist(1),
                           SetCTFrequency(4000), FinalInit(), StartCTforRead()}),
            QVX_OK);
  Take(3, 400);
  uint32_t values[2] = {};
  ASSERT_TRUE(WaitFor([&] {
    return qvx_test::All({ReadCounterValue(0, &values[0]), ReadCounterValue(1, &values[1])}) ==
               QVX_OK &&
           values[0] == kestro_sim_pattern_ct(399, 0) &&
           values[1] == kestro_sim_pattern_ct(399, 1) * 10u;
  }));
  const Log log = CallLog();
  EXPECT_NE(std::find(log.begin(), log.end(), "ZQ7_CT_GetDataFromFifo(3, 200, ptr)"), log.end());
  ASSERT_EQ(StopCTCapture(), QVX_OK);
  EXPECT_EQ(ReadCounterValue(1, &values[1]), QVX_OK);
  EXPECT_EQ(values[1], kestro_sim_pattern_ct(399, 1) * 10u);
}

// The module's lists drift from the library's: entries added after
// FinalInit, a card opened again over the module's lists, a clear that the
// module refuses. Whatever the driver then delivers, no read (nor the
// worker's counter read) writes beyond a staging buffer: AddressSanitizer
// sees any such write. Every caller buffer is exactly as large as the call's
// contract asks for the lists as the library holds them.
TEST_F(ManualCapture, ListsThatDriftFromTheModulesNeverOverrunAStagingBuffer) {
  using qvx_test::All;
  const struct {
    const char* name;
    int32_t ad, ct, dig;  // the library's lists after set_up
    bool mixed;
    bool start_counters;  // StartCTforRead, so that the worker reads counters
    int32_t (*set_up)();  // builds the lists, with the rate and FinalInit
  } cases[] = {
      {"digital entry after FinalInit", 1, 0, 1, false, false,
       [] {
         return All({Add_AD_Channel_to_ScanList(0, 0, 0, 0), SetADFrequency(100000), FinalInit(),
                     DIN_AddChannel_To_DINScanlist(0, 2)});
       }},
      {"mixed digital and counter entries after FinalInit", 2, 1, 1, true, false,
       [] {
         return All({Add_AD_Channel_to_ScanList(0, 0, 0, 0), SetADFrequency(100000), FinalInit(),
                     Add_Dig_Channel_to_ScanList(1, 2), Add_CT_Channel_to_ScanList(0),
                     Add_AD_Channel_to_ScanList(1, 0, 0, 0)});
       }},
      {"card opened again over the module's analog entry", 0, 0, 0, false, false,
       [] {
         return All({Add_AD_Channel_to_ScanList(0, 0, 0, 0), OpenCard(0), SetADFrequency(10000),
                     FinalInit()});
       }},
      {"clear refused by the module", 1, 0, 0, false, false,
       [] {
         return All({Add_AD_Channel_to_ScanList(0, 0, 0, 0),
                     kestro_sim_fail("ZQ7_AD_ClearChannelList", 0, 1), ClearChannelListsEx(0, 0, 0),
                     Add_AD_Channel_to_ScanList(1, 0, 0, 0), SetADFrequency(100000), FinalInit()});
       }},
      {"worker's counter read after a re-open", 1, 1, 0, false, true,
       [] {
         return All({CT_AddChannel_To_CTScanlist(0), OpenCard(0), CT_AddChannel_To_CTScanlist(1),
                     SetCTFrequency(200000), FinalInit()});
       }},
  };
  constexpr int32_t kScans = 25000;
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    Open(0);
    ASSERT_EQ(All({ClearChannelLists(), test.set_up()}), QVX_OK);
    ASSERT_EQ(test.start_counters ? StartCTforRead() : StartADCapture(), QVX_OK);
    qvx_test::Take(0, kScans);
    if (test.start_counters) {  // a counter read of a whole poll must have run
      ASSERT_TRUE(WaitFor([] { return Capture().ct_fifo < kScans; }));
    }
    const int32_t slots = test.mixed ? test.ad + test.ct + test.dig : test.ad;
    // Each read asks for more than a staging buffer sized by the library's
    // own lists could take.
    int32_t count = 10000;
    std::vector<double> volts(std::max(1, count * slots));
    EXPECT_EQ(GetScaledData(0, volts.data(), &count, 0), QVX_OK);
    for (const auto& [read, width] : {std::pair{Read{&GetBinaryData}, slots},
                                      {&DIN_GetBinaryData, test.dig},
                                      {&CT_GetBinaryData, test.ct}}) {
      count = 10000;
      std::vector<uint32_t> out(std::max(1, count * width));
      EXPECT_EQ(read(out.data(), &count, 0), QVX_OK);
    }
    if (test.ad > 0) {
      const int32_t inputs = test.mixed ? 1 : test.ad;
      int32_t moved = 0;
      std::vector<double> mem_volts(static_cast<size_t>(1000) * slots);
      std::vector<int32_t> mem_raw(static_cast<size_t>(1000) * slots);
      EXPECT_EQ(GetScaledDataFromMemoryMeasurement(0, 0, inputs, 1000, mem_volts.data(), 0, &moved),
                QVX_OK);
      EXPECT_EQ(GetBinaryDataFromMemoryMeasurement(0, inputs, 1000, mem_raw.data(), 0, &moved),
                QVX_OK);
    }
    ASSERT_EQ(StopADCapture(), QVX_OK);
  }
}

}  // namespace

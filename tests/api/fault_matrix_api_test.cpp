// Multi-card runs through libquorvex on the simulated module, sharing one
// mixed list (two analog inputs, a counter, a 16-line port, one output) and
// one value-by-value check of what the pattern mode put in every scan.
//
// The fault matrix: every driver entry point that the library calls fails in
// turn, once, inside one scripted run over three cards that opens, sets up,
// captures, outputs, switches digital lines, runs a memory measurement,
// reads and polls counters, clears and closes. The call that meets the
// failure must return what the interface documents and latch the card or
// not, the documented recovery (clearing the lists, or reopening for a
// failure of the open itself) must bring back a whole run, and no worker may
// outlive its card. Entry points that no row names stay uncalled.
//
// The time-out test holds driver calls longer than a mutex wait while
// workers own the mutexes: the calls that wait meanwhile give up with their
// label, and every card works again once the driver answers.
//
// The soak runs four cards at once on the real-time clock, each capturing the
// mixed list and streaming one output, drained and fed by one application
// thread that switches between them. Every value of every scan and every
// output code is checked, the module must lose no scan and miss no output
// frame, and the resident size must stay flat. QVX_SOAK_SECONDS sets its
// length (the test command leaves the default of 60 s; 20 s at lower rates
// under the sanitizers and Wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support.h"

namespace {

using qvx_test::All;
using qvx_test::ProcStatus;
using qvx_test::WaitFor;
using Clock = std::chrono::steady_clock;

#if defined(QVX_SANITIZED) || defined(_WIN32)
constexpr bool kSlow = true;
#else
constexpr bool kSlow = false;
#endif

constexpr int32_t kScans = 500;  // scans per capture step
constexpr int32_t kFrames = 64;  // output frames, two blocks of the module
const std::string kMixed = "aacd";

// Outcomes of the steps beside the status codes 0, 1 and 2.
constexpr int32_t kNothing = 4;  // a read delivered nothing
constexpr int32_t kWrong = 5;    // a read delivered other values
constexpr int32_t kNotFed = 6;   // the worker stopped feeding the output
constexpr int32_t kStuck = 7;    // the awaited scans never arrived

// The mixed list on the current card, with its rates.
int32_t MixedList(int32_t rate, int32_t da_rate) {
  return All({Add_AD_Channel_to_ScanList(0, 0, 0, 0), Add_AD_Channel_to_ScanList(1, 0, 1, 0),
              Add_CT_Channel_to_ScanList(0), Add_Dig_Channel_to_ScanList(0, 2),
              Add_DA_Channel_to_ScanList(0), SetADFrequency(rate), SetDAFrequency(da_rate)});
}

// The values of `scans` scans from scan `first` on, laid out as `slots` ('a'
// the next analog entry, 'c' the counter, 'd' the 16-line port), that differ
// from the pattern.
int64_t Wrong(const uint32_t* data, int32_t scans, uint64_t first, const std::string& slots) {
  int64_t wrong = 0;
  for (uint64_t scan = first; scan < first + static_cast<uint64_t>(std::max(scans, 0)); ++scan) {
    for (int32_t s = 0, analog = 0; s < static_cast<int32_t>(slots.size()); ++s, ++data) {
      const uint32_t expected = slots[s] == 'a'   ? kestro_sim_pattern_ad(scan, analog++)
                                : slots[s] == 'c' ? kestro_sim_pattern_ct(scan, 0)
                                                  : kestro_sim_pattern_din(scan, 0);
      wrong += *data != expected ? 1 : 0;
    }
  }
  return wrong;
}

int32_t Latch(int32_t card) {
  int32_t n = 0;
  return GetADBufferStatus(card, &n);  // answers 1 at once on a latched card
}

// Takes kScans scans on `card` and waits until `waiting` reports them all,
// or reports a latched card.
int32_t Capture(int32_t card, int32_t(QVX_CALL* waiting)(int32_t, int32_t*),
                std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  int32_t status = kestro_sim_advance(card, kScans) == 0 ? QVX_OK : kStuck;
  const bool done = WaitFor(
      [&] {
        int32_t n = 0;
        status = waiting(card, &n);
        return status != QVX_OK || n >= kScans;
      },
      limit);
  return done ? status : kStuck;
}

// Reads kScans scans laid out as `slots` and compares each value with the
// pattern.
int32_t ReadChecked(int32_t(QVX_CALL* read)(uint32_t*, int32_t*, int32_t),
                    const std::string& slots) {
  std::vector<uint32_t> data(kScans * slots.size());
  int32_t count = kScans;
  const int32_t status = read(data.data(), &count, 0);
  if (status != QVX_OK || count != kScans) return status != QVX_OK ? status : kNothing;
  return Wrong(data.data(), kScans, 0, slots) == 0 ? QVX_OK : kWrong;
}

// Cards 0 to 3 on manual clocks and in pattern mode.
class Scripted : public qvx_test::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    for (int32_t card = 0; card < 4; ++card) {
      ASSERT_EQ(All({kestro_sim_set_clock(card, KESTRO_SIM_CLOCK_MANUAL),
                     kestro_sim_set_da_clock(card, KESTRO_SIM_CLOCK_MANUAL),
                     kestro_sim_set_pattern(card, 1)}),
                0);
    }
  }
};

// A step that makes its calls in order and gives the first status that is
// not 0.
#define CALLS(...) [] { return All({__VA_ARGS__}); }

struct Step {
  const char* name;
  bool phase;  // a recovery by clearing the lists runs again from here
  int32_t card;
  int32_t (*run)();
};

// Card 0 captures a mixed list (two analog inputs, a counter, a 16-line
// port), streams one output and runs a memory measurement; card 1 captures
// through the separate counter and digital lists; card 2 polls a counter.
// All clocks are manual.
const Step kScript[] = {
    {"open", true, 0, CALLS(OpenCard(0), OpenCard(1))},
    {"switch", false, 0, [] { return SwitchCard(0); }},
    {"list", true, 0,
     CALLS(SwitchCard(0), ConfigCard(0, 0, 0), MixedList(1000, 100), SetMasterSlaveFunction(0, 0),
           SetDelay(0, 5), ConfigureCounterInputEx(0, 0, 0, 0, 0, 0, 0, 0, 0, 0))},
    {"final", false, 0, [] { return FinalInit(); }},
    {"start", false, 0, [] { return StartADCapture(); }},
    {"capture", false, 0, [] { return Capture(0, &GetADBufferStatus); }},
    {"read", false, 0, [] { return ReadChecked(&GetBinaryData, kMixed); }},
    {"stop", false, 0, [] { return StopADCapture(); }},
    {"output", false, 0,
     [] {
       const std::vector<uint16_t> codes(kFrames, 40000);
       int32_t frames = kFrames;
       const int32_t status = PutBinaryData(codes.data(), 1, &frames, 0);
       return All({status, frames == kFrames ? QVX_OK : kNothing, StartDAOutput()});
     }},
    {"feed", false, 0,
     [] {
       const bool fed = WaitFor([] {
         kestro_sim_output_status out{};
         kestro_sim_output(0, &out);
         return out.received >= kFrames || Latch(0) != QVX_OK;
       });
       return Latch(0) != QVX_OK ? QVX_FAILURE : fed ? QVX_OK : kNotFed;
     }},
    {"stopout", false, 0, [] { return StopDAOutput(); }},
    {"single", false, 0,
     [] {
       double volts = 0;
       uint32_t code = 0;
       return All({CaptureOneChannel(0, 0, 0, &volts, &code), PutOneChannel(0, 0, 1.0)});
     }},
    {"digital", false, 0,
     CALLS(SetDigitalDirection(4, 1), WriteDigitalBit(4, 1), WriteDigitalPort(0, 8, 0xA5))},
    // A second FinalInit would count the digital groups again: the lists are
    // built anew, of two analog inputs.
    {"memory", false, 0,
     [] {
       std::vector<int32_t> data(kScans * 2);
       int32_t got = 0;
       int32_t status =
           All({ClearChannelLists(), Add_AD_Channel_to_ScanList(0, 0, 0, 0),
                Add_AD_Channel_to_ScanList(1, 0, 1, 0), SetADFrequency(1000), FinalInit(),
                PrepareExtTrigger(0, 1, 0, 0), StartMemoryMeasurement(0, 1, kScans, 5)});
       if (status == QVX_OK) status = Capture(0, &GetADBufferStatus);
       if (status == QVX_OK) {
         status = GetBinaryDataFromMemoryMeasurement(0, 2, kScans, data.data(), 0, &got);
       }
       return All({status, status == QVX_OK && got != kScans * 2 ? kNothing : QVX_OK,
                   DeInitMemoryMeasurement(0)});
     }},
    {"counters", true, 1,
     CALLS(SwitchCard(1), CT_AddChannel_To_CTScanlist(0), DIN_AddChannel_To_DINScanlist(0, 2),
           SetCTFrequency(1000), FinalInit(), StartCTCapture())},
    {"ctcapture", false, 1, [] { return Capture(1, &GetCTBufferStatus); }},
    {"ctread", false, 1,
     CALLS(ReadChecked(&CT_GetBinaryData, "c"), ReadChecked(&DIN_GetBinaryData, "d"),
           StopCTCapture())},
    // Counter polling reads the counter FIFO on every pass of the worker and
    // stays on for good, so it runs on a card of its own. It is done once the
    // worker has emptied the FIFO; the value is then that of the last scan.
    {"ctpoll", true, 2,
     [] {
       const int32_t status = All({OpenCard(2), CT_AddChannel_To_CTScanlist(0),
                                   SetCTFrequency(1000), FinalInit(), StartCTforRead()});
       if (status != QVX_OK || kestro_sim_advance(2, kScans) != 0) return status;
       const bool polled = WaitFor([] {
         kestro_sim_capture_status capture{};
         kestro_sim_capture(2, &capture);
         return capture.board_scans == 0 && capture.ct_fifo == 0;
       });
       uint32_t value = 0;
       ReadCounterValue(0, &value);
       return All({polled ? QVX_OK : kStuck,
                   value == kestro_sim_pattern_ct(kScans - 1, 0) ? QVX_OK : kWrong,
                   StopCTCapture()});
     }},
    {"flash", true, 0,
     [] {
       uint8_t bytes[16] = {};
       return All({SwitchCard(0), ReadPrivateFlash(0, bytes, 16), WritePrivateFlash(0, bytes, 16),
                   ClearPrivateFlash(0), ReSynchronize()});
     }},
    {"clear", false, 0, [] { return ClearChannelLists(); }},
    {"close", false, 0, CALLS(CloseCard(2), CloseCard(1), CloseCard(0))},
};
#undef CALLS
constexpr int kSteps = static_cast<int>(std::size(kScript));

int StepIndex(const char* name) {
  int i = 0;
  while (i < kSteps && std::string(kScript[i].name) != name) ++i;
  return i;
}

// A failure of `entry` (it returns `result` instead of doing its work) just
// before step `armed`. `shows` is the first step that sees it, with outcome
// `status`; a status of 1 or 2 latches the card. nullptr: no step sees it.
struct Fault {
  const char* entry;
  int32_t result;
  const char* armed;
  const char* shows;
  int32_t status;
};

void PrintTo(const Fault& fault, std::ostream* out) {
  *out << fault.entry << " before " << fault.armed;
}

// Every entry point the library calls, in the driver's order.
constexpr Fault kFaults[] = {
    {"ZQ7_CreateSimpleHandle", 0, "open", "open", QVX_FAILURE},
    {"ZQ7_CloseSimpleHandle", -1, "close", nullptr, 0},  // result not read
    {"ZQ7_SwitchCard", -1, "switch", "switch", QVX_FAILURE},
    // A record of zeros describes a module without inputs.
    {"ZQ7_ReadNewFlash", 0, "open", "list", QVX_ARGUMENT},
    {"ZQ7_Get_ModuleIdent", -1, "open", nullptr, 0},  // result not read
    // Read only to size output blocks: 32 codes on this module either way.
    {"ZQ7_IsHiSpeed", 0, "final", nullptr, 0},
    {"ZQ7_SetDifferenz", -1, "list", nullptr, 0},    // result not read
    {"ZQ7_SetMasterSlave", -1, "list", nullptr, 0},  // result not read
    {"ZQ7_ConfigMeasure", -1, "final", nullptr, 0},  // result not read
    {"ZQ7_Start_Extern", -1, "memory", "memory", QVX_FAILURE},
    {"WriteAlteraValue", 0, "list", "list", QVX_FAILURE},
    {"ZQ7_ClearPrivateFlash", -1, "flash", nullptr, 0},  // result not read
    {"ZQ7_ReadPrivateFlash", -1, "flash", nullptr, 0},   // result not read
    {"ZQ7_WritePrivateFlash", -1, "flash", nullptr, 0},  // result not read
    {"ZQ7_AD_ClearChannelList", 0, "clear", "clear", QVX_FAILURE},
    {"ZQ7_AD_AddChannellist", -1, "list", "list", QVX_FAILURE},
    {"ZQ7_AD_SetFrequency", -1, "list", "list", QVX_FAILURE},
    {"ZQ7_AD_Start", -1, "start", "start", QVX_FAILURE},
    {"ZQ7_AD_Stop", -1, "stop", nullptr, 0},  // result not read
    {"ZQ7_AD_TriggerChannel", -1, "single", "single", QVX_FAILURE},
    {"ZQ7_AD_ReadData_MixedChannels", -1, "capture", "capture", QVX_FAILURE},
    // A FIFO failure of a read delivers nothing and latches nothing.
    {"ZQ7_AD_GetFifoStatus", -1, "read", "read", kNothing},
    {"ZQ7_AD_GetDataFromFifo", -1, "read", "read", kNothing},
    {"ZQ7_DIN_GetFifoStatus", -1, "ctread", "ctread", kNothing},
    {"ZQ7_DIN_GetDataFromFifo", -1, "read", "read", kNothing},
    {"ZQ7_CT_GetFifoStatus", -1, "ctread", "ctread", kNothing},
    {"ZQ7_CT_GetDataFromFifo", -1, "read", "read", kNothing},
    // The worker's counter poll keeps the last values and reads again.
    {"ZQ7_CT_GetDataFromFifo", -1, "ctpoll", nullptr, 0},
    {"ZQ7_CT_AddChannelList", -1, "list", "list", QVX_FAILURE},
    {"ZQ7_ConfigureCounterInputEx", -1, "list", nullptr, 0},  // result not read
    // No input line and no output line refuse the entry and the line.
    {"ZQ7_GetNumOfTTLIn", 0, "list", "list", QVX_ARGUMENT},
    {"ZQ7_GetNumOfTTLOut", -1, "digital", "digital", QVX_ARGUMENT},
    // Any port word is valid: the write merges into what it says.
    {"ZQ7_TTL_Getchannel", 0, "digital", nullptr, 0},
    {"ZQ7_TTL_PutChannel", -1, "digital", nullptr, 0},  // result not read
    {"ZQ7_TTL_SetDirection", -1, "digital", "digital", QVX_FAILURE},
    {"ZQ7_TTL_AddChannelList", -1, "list", nullptr, 0},  // result not read
    {"ZQ7_DA_ClearChannelList", 0, "clear", "clear", QVX_FAILURE},
    {"ZQ7_DA_AddChannellist", -1, "list", "list", QVX_FAILURE},
    {"ZQ7_DA_SetFrequency", -1, "list", "list", QVX_FAILURE},
    {"ZQ7_DA_Start", -1, "output", "output", QVX_FAILURE},
    {"ZQ7_DA_Stop", -1, "stopout", nullptr, 0},  // result not read
    // A status of zeros reads as output that has ended: no latch. Armed
    // before the start, which wakes the worker to feed at once.
    {"ZQ7_DA_GetStatus", 0, "output", "feed", kNotFed},
    {"ZQ7_DA_PutData", -1, "output", "feed", QVX_FAILURE},
    {"ZQ7_DA_TriggerChannel", -1, "single", nullptr, 0},  // result not read
    {"ZQ7_ReSynchronize", -1, "flash", nullptr, 0},       // result not read
};

class FaultMatrix : public Scripted, public ::testing::WithParamInterface<Fault> {
 protected:
  // Runs steps from..to-1 and returns the first whose outcome is not 0 (to
  // when none), with its outcome.
  static int Run(int from, int32_t* outcome, int to = kSteps) {
    for (int i = from; i < to; ++i) {
      if ((*outcome = kScript[i].run()) != QVX_OK) return i;
    }
    return to;
  }
};

TEST_P(FaultMatrix, CallReportsItAndCardRecovers) {
  const Fault& fault = GetParam();
  // The thread sanitizer starts a helper thread with the first thread made.
  std::thread([] {}).join();
  const int64_t threads = ProcStatus("Threads:");
  const int armed = StepIndex(fault.armed);
  int32_t outcome = 0;
  ASSERT_EQ(Run(0, &outcome, armed), armed) << "before the fault: " << outcome;

  const uint32_t calls = kestro_sim_call_count(fault.entry);
  ASSERT_EQ(kestro_sim_fail(fault.entry, fault.result, 1), 0);
  const int failed = Run(armed, &outcome);
  kestro_sim_clear_faults();
  EXPECT_GT(kestro_sim_call_count(fault.entry), calls) << "not called";
  if (fault.shows == nullptr) {
    EXPECT_EQ(failed, kSteps) << "the step " << failed << " gave " << outcome;
  } else {
    ASSERT_EQ(failed, StepIndex(fault.shows)) << "with " << outcome;
    EXPECT_EQ(outcome, fault.status);
    const int32_t card = kScript[failed].card;
    const bool latched = fault.status == QVX_FAILURE || fault.status == QVX_ARGUMENT;
    EXPECT_EQ(Latch(card), latched ? QVX_FAILURE : QVX_OK);
    int from = 0;  // a failed open is recovered by opening again
    if (armed > StepIndex("switch")) {
      StopADCapture();
      StopDAOutput();
      ASSERT_EQ(ClearChannelLists(), QVX_OK);
      EXPECT_EQ(Latch(card), QVX_OK);
      for (from = failed; !kScript[from].phase;) --from;
    }
    EXPECT_EQ(Run(from, &outcome), kSteps) << "after the recovery: " << outcome;
  }
  // The entry points no row names are bound but never called.
  for (int32_t e = 0; e < KESTRO_SIM_ENTRY_COUNT; ++e) {
    const std::string entry = kestro_sim_entry_name(e);
    const auto named = [&](const Fault& f) { return entry == f.entry; };
    if (std::none_of(std::begin(kFaults), std::end(kFaults), named)) {
      EXPECT_EQ(kestro_sim_call_count(entry.c_str()), 0u) << entry;
    }
  }
  EXPECT_EQ(ProcStatus("Threads:"), threads) << "a worker outlived its card";
}

INSTANTIATE_TEST_SUITE_P(Entries, FaultMatrix, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& info) {
                           return std::string(info.param.entry) + "_" + info.param.armed;
                         });

using TimeOuts = Scripted;

// Card 0's worker holds AdMutex in its fetch and card 1's holds DaMutex in
// its status read, each for kHold (the mutexes are shared by every card).
// Calls on cards 2 and 3 that wait meanwhile give up on their own bound with
// their label and what a time-out gives; afterwards every card works.
TEST_F(TimeOuts, WaitingCallsGiveUpAndEveryCardRecovers) {
  constexpr uint32_t kHold = 4000;  // ms, well beyond the 1000 ms wait
  for (int32_t card = 0; card < 4; ++card) {
    ASSERT_EQ(All({OpenCard(card), MixedList(1000, 100), FinalInit()}), QVX_OK);
  }
  ASSERT_EQ(All({SwitchCard(0), StartADCapture(), SwitchCard(1), StartDAOutput(), SwitchCard(2),
                 kestro_sim_delay("ZQ7_AD_ReadData_MixedChannels", kHold),
                 kestro_sim_delay("ZQ7_DA_GetStatus", kHold)}),
            QVX_OK);
  // Both workers call every few milliseconds: once neither count has grown
  // for 100 ms, each sits in a held call (maybe the one it was making when
  // the delays came), which lasts most of kHold from now.
  const auto calls = [] {
    return std::make_pair(kestro_sim_call_count("ZQ7_AD_ReadData_MixedChannels"),
                          kestro_sim_call_count("ZQ7_DA_GetStatus"));
  };
  ASSERT_TRUE(WaitFor([&] {
    const auto before = calls();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return before.first > 0 && before.second > 0 && calls() == before;
  }));

  // Each call waits with a count of `n` (on cards 2 and 3) and must give up
  // with `status` and a count of 0. The first wait of a put sends no label.
  static double volts[4 * 10];
  static const double two_volts[2] = {1.0, 2.0};
  static const uint16_t two_codes[2] = {1, 2};
  const struct {
    const char* label;
    int32_t n;
    int32_t status;
    int32_t (*call)(int32_t* n);
  } waiters[] = {
      {"GetADBufferStatus", -1, QVX_OK, [](int32_t* n) { return GetADBufferStatus(3, n); }},
      {"CtGetStatus", -1, QVX_OK, [](int32_t* n) { return GetCTBufferStatus(3, n); }},
      {"DinGetStatus", -1, QVX_OK, [](int32_t* n) { return GetDINBufferStatus(2, n); }},
      {"GetDAFreeBufferSpace", -1, QVX_OK, [](int32_t* n) { return GetDAFreeBufferSpace(3, n); }},
      {"GetScaledData_1", 10, QVX_OK, [](int32_t* n) { return GetScaledData(0, volts, n, 0); }},
      {"PutScaledData-beg", 2, QVX_FAILURE,
       [](int32_t* n) { return PutScaledData(0, two_volts, 1, n, 0); }},
      {nullptr, 2, QVX_FAILURE, [](int32_t* n) { return PutBinaryData(two_codes, 1, n, 0); }},
  };
  testing::internal::CaptureStderr();
  std::vector<std::thread> threads;
  std::vector<char> gave_up(std::size(waiters));
  for (size_t i = 0; i < std::size(waiters); ++i) {
    threads.emplace_back([&, i] {
      const auto begin = Clock::now();
      int32_t n = waiters[i].n;
      // It gives up on its own bound instead of waiting out the held call.
      gave_up[i] = waiters[i].call(&n) == waiters[i].status && n == 0 &&
                   Clock::now() - begin < std::chrono::milliseconds(kHold);
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::string messages = testing::internal::GetCapturedStderr();
  long lines = 0;
  for (size_t i = 0; i < std::size(waiters); ++i) {
    EXPECT_TRUE(gave_up[i]) << i;
    if (waiters[i].label == nullptr) continue;
#if !defined(_WIN32)  // on Windows the lines go to the debugger output
    EXPECT_NE(messages.find(std::string(waiters[i].label) + " WAIT_TIMEOUT\n"), std::string::npos)
        << waiters[i].label;
    lines += 1;
#endif
  }
  EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), lines) << messages;

  // The driver answers again; nothing was latched.
  kestro_sim_clear_faults();
  const auto recovered = std::chrono::milliseconds(kHold + 5000);
  for (int32_t card = 0; card < 4; ++card) {
    ASSERT_EQ(All({SwitchCard(card), StartADCapture()}), QVX_OK);
    EXPECT_EQ(All({Capture(card, &GetADBufferStatus, recovered),
                   ReadChecked(&GetBinaryData, kMixed), StopADCapture(), StopDAOutput()}),
              QVX_OK)
        << card;
  }
}

using Soak = qvx_test::SimTest;

TEST_F(Soak, FourCardsCaptureAndStreamWithoutLoss) {
  constexpr int32_t kCards = 4;
  // Scans and frames per second per card, far below what a worker moves.
  constexpr int32_t kRate = kSlow ? 500 : 2000;
  constexpr int32_t kDaRate = kSlow ? 200 : 500;
  const char* text = std::getenv("QVX_SOAK_SECONDS");
  const int seconds = text != nullptr ? std::atoi(text) : kSlow ? 20 : 60;
  ASSERT_GT(seconds, 0);
  kestro_sim_log_enable(0);
  for (int32_t card = 0; card < kCards; ++card) {
    // FIFOs of 16 s of scans wrap early, before the memory is measured.
    ASSERT_EQ(All({kestro_sim_set_fifo_capacity(card, 1 << 15), kestro_sim_set_pattern(card, 1),
                   OpenCard(card), MixedList(kRate, kDaRate), FinalInit(), StartADCapture(),
                   StartDAOutput()}),
              QVX_OK);
  }
  const auto code = [](int32_t card, uint64_t frame) {
    return static_cast<uint16_t>(frame * 37 + static_cast<uint64_t>(card) * 1000);
  };

  std::vector<uint32_t> scans(10000 * kMixed.size());
  std::vector<uint16_t> codes(1000);
  uint64_t next[kCards] = {};
  uint64_t frames[kCards] = {};
  int64_t wrong = 0;
  int64_t failed = 0;
  int64_t rss_settled = 0;
  int64_t rss_max = 0;
  const auto start = Clock::now();
  for (auto sample = start; Clock::now() < start + std::chrono::seconds(seconds);) {
    for (int32_t card = 0; card < kCards; ++card) {
      failed += SwitchCard(card);
      for (int32_t got = 1; got > 0;) {
        got = 10000;
        const int32_t status = GetBinaryData(scans.data(), &got, 0);
        failed += status != QVX_OK ? 1 : 0;
        got = status == QVX_OK ? got : 0;
        wrong += Wrong(scans.data(), got, next[card], kMixed);
        next[card] += static_cast<uint64_t>(got);
      }
      int32_t put = 0;
      failed += GetDAFreeBufferSpace(card, &put);
      put = std::min(put, static_cast<int32_t>(codes.size()));
      for (int32_t i = 0; i < put; ++i) codes[i] = code(card, frames[card] + i);
      if (put > 0) failed += PutBinaryData(codes.data(), 1, &put, 0);
      frames[card] += static_cast<uint64_t>(put);
    }
    if (Clock::now() >= sample) {
      // Settled after the first quarter: FIFOs wrapped, output ring filled.
      // The module's record of the codes it output grows by 2 bytes a code;
      // that is the simulator's, not the library's.
      int64_t rss = ProcStatus("VmRSS:");
      for (int32_t card = 0; card < kCards; ++card) {
        kestro_sim_output_status out{};
        kestro_sim_output(card, &out);
        rss -= static_cast<int64_t>(out.output * 2 / 1024);
      }
      if (Clock::now() - start < std::chrono::seconds(seconds / 4 + 1)) {
        rss_settled = rss;
      } else {
        rss_max = std::max(rss_max, rss);
      }
      sample += std::chrono::seconds(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  for (int32_t card = 0; card < kCards; ++card) {
    ASSERT_EQ(All({SwitchCard(card), StopDAOutput(), StopADCapture()}), QVX_OK);
    kestro_sim_capture_status in{};
    kestro_sim_output_status out{};
    ASSERT_EQ(All({kestro_sim_capture(card, &in), kestro_sim_output(card, &out)}), 0);
    EXPECT_EQ(in.board_lost + in.fifo_lost + out.underruns, 0u) << card;
    EXPECT_EQ(next[card] + in.board_scans + static_cast<uint64_t>(in.ad_fifo), in.produced);
    EXPECT_GT(next[card], static_cast<uint64_t>(kRate * seconds / 2)) << card;
    EXPECT_GT(out.output, static_cast<uint64_t>(kDaRate * seconds / 2)) << card;
    std::vector<uint16_t> sent(out.output);
    ASSERT_EQ(kestro_sim_da_record(card, 0, sent.data(), static_cast<int64_t>(sent.size())),
              static_cast<int64_t>(sent.size()));
    for (uint64_t i = 0; i < sent.size(); ++i) wrong += sent[i] != code(card, i) ? 1 : 0;
    std::printf("soak: card %d, %d s: %llu scans and %llu output codes checked\n", card, seconds,
                static_cast<unsigned long long>(next[card]),
                static_cast<unsigned long long>(out.output));
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(failed, 0);
  // Nothing is allocated per call: the rest is allocator noise.
  EXPECT_LE(rss_max - rss_settled, 1024) << "KiB gained";
  std::printf("soak: resident less the output record %lld -> %lld KiB\n",
              static_cast<long long>(rss_settled), static_cast<long long>(rss_max));
}

}  // namespace

// The fault matrix: every driver entry point that the library calls fails in
// turn, once, inside one scripted run over three cards that opens, sets up,
// captures, outputs, switches digital lines, runs a memory measurement,
// reads and polls counters, clears and closes. The call that meets the
// failure must return what the interface documents and latch the card or
// not, the documented recovery (clearing the lists, or reopening for a
// failure of the open itself) must bring back a whole run, and no worker may
// outlive its card. Entry points that no row names stay uncalled.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "support.h"

namespace {

using qvx_test::ProcStatus;
using qvx_test::WaitFor;

constexpr int32_t kScans = 500;  // scans per capture step
constexpr int32_t kFrames = 64;  // output frames, two blocks of the module

// Outcomes of the steps beside the status codes 0, 1 and 2.
constexpr int32_t kNothing = 4;  // a read delivered nothing
constexpr int32_t kWrong = 5;    // a read delivered other values
constexpr int32_t kNotFed = 6;   // the worker stopped feeding the output
constexpr int32_t kStuck = 7;    // the awaited scans never arrived

// The first status that is not 0, or 0. All calls are made.
int32_t First(std::initializer_list<int32_t> statuses) {
  for (const int32_t status : statuses) {
    if (status != QVX_OK) return status;
  }
  return QVX_OK;
}

int32_t Latch(int32_t card) {
  int32_t n = 0;
  return GetADBufferStatus(card, &n);  // answers 1 at once on a latched card
}

// Takes kScans scans on `card` and waits until `waiting` reports them all,
// or reports a latched card.
int32_t Capture(int32_t card, int32_t(QVX_CALL* waiting)(int32_t, int32_t*)) {
  int32_t status = kestro_sim_advance(card, kScans) == 0 ? QVX_OK : kStuck;
  const bool done = WaitFor([&] {
    int32_t n = 0;
    status = waiting(card, &n);
    return status != QVX_OK || n >= kScans;
  });
  return done ? status : kStuck;
}

// Reads kScans scans laid out as `slots` ('a' the next analog entry, 'c' the
// counter, 'd' the 16-line port) and compares each value with the pattern.
int32_t ReadChecked(int32_t(QVX_CALL* read)(uint32_t*, int32_t*, int32_t),
                    const std::string& slots) {
  const size_t width = slots.size();
  std::vector<uint32_t> data(kScans * width);
  int32_t count = kScans;
  const int32_t status = read(data.data(), &count, 0);
  if (status != QVX_OK || count != kScans) return status != QVX_OK ? status : kNothing;
  for (size_t i = 0, v = 0; i < static_cast<size_t>(kScans); ++i) {
    for (int32_t s = 0, analog = 0; s < static_cast<int32_t>(width); ++s, ++v) {
      const uint32_t expected = slots[s] == 'a'   ? kestro_sim_pattern_ad(i, analog++)
                                : slots[s] == 'c' ? kestro_sim_pattern_ct(i, 0)
                                                  : kestro_sim_pattern_din(i, 0);
      if (data[v] != expected) return kWrong;
    }
  }
  return QVX_OK;
}

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
    {"open", true, 0,
     [] {
       return First({OpenCard(0), OpenCard(1)});
     }},
    {"switch", false, 0, [] { return SwitchCard(0); }},
    {"list", true, 0,
     [] {
       return First({SwitchCard(0), ConfigCard(0, 0, 0), Add_AD_Channel_to_ScanList(0, 0, 0, 0),
                     Add_AD_Channel_to_ScanList(1, 0, 1, 0), Add_CT_Channel_to_ScanList(0),
                     Add_Dig_Channel_to_ScanList(0, 2), Add_DA_Channel_to_ScanList(0),
                     SetADFrequency(1000), SetDAFrequency(100), SetMasterSlaveFunction(0, 0),
                     SetDelay(0, 5), ConfigureCounterInputEx(0, 0, 0, 0, 0, 0, 0, 0, 0, 0)});
     }},
    {"final", false, 0, [] { return FinalInit(); }},
    {"start", false, 0, [] { return StartADCapture(); }},
    {"capture", false, 0, [] { return Capture(0, &GetADBufferStatus); }},
    {"read", false, 0, [] { return ReadChecked(&GetBinaryData, "aacd"); }},
    {"stop", false, 0, [] { return StopADCapture(); }},
    {"output", false, 0,
     [] {
       const std::vector<uint16_t> codes(kFrames, 40000);
       int32_t frames = kFrames;
       const int32_t status = PutBinaryData(codes.data(), 1, &frames, 0);
       return First({status, frames == kFrames ? QVX_OK : kNothing, StartDAOutput()});
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
       return First({CaptureOneChannel(0, 0, 0, &volts, &code), PutOneChannel(0, 0, 1.0)});
     }},
    {"digital", false, 0,
     [] {
       return First(
           {SetDigitalDirection(4, 1), WriteDigitalBit(4, 1), WriteDigitalPort(0, 8, 0xA5)});
     }},
    // A second FinalInit would count the digital groups again: the lists are
    // built anew, of two analog inputs.
    {"memory", false, 0,
     [] {
       std::vector<int32_t> data(kScans * 2);
       int32_t got = 0;
       int32_t status =
           First({ClearChannelLists(), Add_AD_Channel_to_ScanList(0, 0, 0, 0),
                  Add_AD_Channel_to_ScanList(1, 0, 1, 0), SetADFrequency(1000), FinalInit(),
                  PrepareExtTrigger(0, 1, 0, 0), StartMemoryMeasurement(0, 1, kScans, 5)});
       if (status == QVX_OK) status = Capture(0, &GetADBufferStatus);
       if (status == QVX_OK) {
         status = GetBinaryDataFromMemoryMeasurement(0, 2, kScans, data.data(), 0, &got);
       }
       return First({status, status == QVX_OK && got != kScans * 2 ? kNothing : QVX_OK,
                     DeInitMemoryMeasurement(0)});
     }},
    {"counters", true, 1,
     [] {
       return First({SwitchCard(1), CT_AddChannel_To_CTScanlist(0),
                     DIN_AddChannel_To_DINScanlist(0, 2), SetCTFrequency(1000), FinalInit(),
                     StartCTCapture()});
     }},
    {"ctcapture", false, 1, [] { return Capture(1, &GetCTBufferStatus); }},
    {"ctread", false, 1,
     [] {
       return First({ReadChecked(&CT_GetBinaryData, "c"), ReadChecked(&DIN_GetBinaryData, "d"),
                     StopCTCapture()});
     }},
    // Counter polling reads the counter FIFO on every pass of the worker and
    // stays on for good, so it runs on a card of its own. It is done once the
    // worker has emptied the FIFO; the value is then that of the last scan.
    {"ctpoll", true, 2,
     [] {
       const int32_t status = First({OpenCard(2), CT_AddChannel_To_CTScanlist(0),
                                     SetCTFrequency(1000), FinalInit(), StartCTforRead()});
       if (status != QVX_OK || kestro_sim_advance(2, kScans) != 0) return status;
       const bool polled = WaitFor([] {
         kestro_sim_capture_status capture{};
         kestro_sim_capture(2, &capture);
         return capture.board_scans == 0 && capture.ct_fifo == 0;
       });
       uint32_t value = 0;
       ReadCounterValue(0, &value);
       return First({polled ? QVX_OK : kStuck,
                     value == kestro_sim_pattern_ct(kScans - 1, 0) ? QVX_OK : kWrong,
                     StopCTCapture()});
     }},
    {"flash", true, 0,
     [] {
       uint8_t bytes[16] = {};
       return First({SwitchCard(0), ReadPrivateFlash(0, bytes, 16), WritePrivateFlash(0, bytes, 16),
                     ClearPrivateFlash(0), ReSynchronize()});
     }},
    {"clear", false, 0, [] { return ClearChannelLists(); }},
    {"close", false, 0,
     [] {
       return First({CloseCard(2), CloseCard(1), CloseCard(0)});
     }},
};
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

class FaultMatrix : public qvx_test::SimTest, public ::testing::WithParamInterface<Fault> {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    for (int32_t card = 0; card < 3; ++card) {
      ASSERT_EQ(kestro_sim_set_clock(card, KESTRO_SIM_CLOCK_MANUAL), 0);
      ASSERT_EQ(kestro_sim_set_da_clock(card, KESTRO_SIM_CLOCK_MANUAL), 0);
      ASSERT_EQ(kestro_sim_set_pattern(card, 1), 0);
    }
  }

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

}  // namespace

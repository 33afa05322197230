// The fault matrix: every driver entry point that the library calls fails in
// turn, once, inside one scripted run over two cards that opens, sets up,
// captures, outputs, switches digital lines, reads counters and runs a memory
// measurement. The call that meets the failure must return what the
// interface documents and latch the card or not, the documented recovery
// must bring the card back to a whole run, and no worker thread may outlive
// its card. Entry points the library binds but never calls must stay uncalled.
#include <gtest/gtest.h>

#include <dirent.h>

#include <string>
#include <vector>

#include "support.h"

namespace {

using qvx_test::WaitFor;

constexpr int32_t kScans = 500;  // scans per capture step
constexpr int32_t kFrames = 64;  // output frames, two blocks of the module

// Extra outcomes of the steps beside the status codes 0, 1 and 2.
constexpr int32_t kNothing = 4;  // a read delivered nothing
constexpr int32_t kWrong = 5;    // a read delivered other values
constexpr int32_t kNotFed = 6;   // the worker stopped feeding the output
constexpr int32_t kStuck = 7;    // the awaited scans never arrived

int32_t Threads() {
  int32_t count = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.' ? 1 : 0;
    closedir(dir);
  }
  return count;
}

// The first status that is not 0, or 0.
int32_t First(std::initializer_list<int32_t> statuses) {
  for (const int32_t status : statuses) {
    if (status != QVX_OK) return status;
  }
  return QVX_OK;
}

// Takes kScans scans on `card` and waits until `waiting` reports them all,
// or reports a latched card.
int32_t Capture(int32_t card, int32_t (*waiting)(int32_t, int32_t*)) {
  if (kestro_sim_advance(card, kScans) != 0) return kStuck;
  int32_t status = QVX_OK;
  int32_t n = 0;
  const bool done = WaitFor([&] {
    status = waiting(card, &n);
    return status != QVX_OK || n >= kScans;
  });
  return done ? status : kStuck;
}

// Reads kScans scans of `width` values each and compares every value with
// what pattern mode gives for slot `s` of scan `i`.
template <typename Read, typename Expected>
int32_t ReadChecked(int32_t width, Read read, Expected expected) {
  std::vector<uint32_t> data(static_cast<size_t>(kScans) * width);
  int32_t count = kScans;
  const int32_t status = read(data.data(), &count);
  if (status != QVX_OK) return status;
  if (count != kScans) return kNothing;
  for (int32_t i = 0; i < kScans; ++i) {
    for (int32_t s = 0; s < width; ++s) {
      if (data[static_cast<size_t>(i) * width + s] != expected(static_cast<uint64_t>(i), s)) {
        return kWrong;
      }
    }
  }
  return QVX_OK;
}

int32_t Latch(int32_t card) {
  int32_t n = 0;
  return GetADBufferStatus(card, &n);
}

struct Step {
  const char* name;
  bool phase;  // a clear of the lists restarts the run here
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
    {"read", false, 0,
     [] {
       return ReadChecked(
           4, [](uint32_t* out, int32_t* count) { return GetBinaryData(out, count, 0); },
           [](uint64_t i, int32_t s) -> uint32_t {
             return s < 2    ? kestro_sim_pattern_ad(i, s)
                    : s == 2 ? kestro_sim_pattern_ct(i, 0)
                             : kestro_sim_pattern_din(i, 0);
           });
     }},
    {"stop", false, 0, [] { return StopADCapture(); }},
    {"output", false, 0,
     [] {
       std::vector<uint16_t> codes(kFrames, 40000);
       int32_t frames = kFrames;
       const int32_t status = PutBinaryData(codes.data(), 1, &frames, 0);
       return First({status, frames == kFrames ? QVX_OK : kNothing, StartDAOutput()});
     }},
    {"feed", false, 0,
     [] {
       kestro_sim_output_status out{};
       const bool fed = WaitFor([&] {
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
    {"memory", false, 0,
     [] {
       // A second FinalInit would count the digital groups again: the lists
       // are built anew, of two analog inputs.
       int32_t status =
           First({ClearChannelLists(), Add_AD_Channel_to_ScanList(0, 0, 0, 0),
                  Add_AD_Channel_to_ScanList(1, 0, 1, 0), SetADFrequency(1000), FinalInit(),
                  PrepareExtTrigger(0, 1, 0, 0), StartMemoryMeasurement(0, 1, kScans, 5)});
       if (status == QVX_OK) {
         status = Capture(0, [](int32_t card, int32_t* n) {
           int32_t use = 0;
           return ReadMemoryMeasurementStatus(card, &use, n);
         });
       }
       std::vector<int32_t> data(static_cast<size_t>(kScans) * 2);
       int32_t got = 0;
       if (status == QVX_OK) {
         status = GetBinaryDataFromMemoryMeasurement(0, 2, kScans, data.data(), 0, &got);
       }
       if (status == QVX_OK && got != kScans * 2) status = kNothing;
       return First({status, DeInitMemoryMeasurement(0)});
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
       return First(
           {ReadChecked(
                1, [](uint32_t* out, int32_t* count) { return CT_GetBinaryData(out, count, 0); },
                [](uint64_t i, int32_t) { return kestro_sim_pattern_ct(i, 0); }),
            ReadChecked(
                1, [](uint32_t* out, int32_t* count) { return DIN_GetBinaryData(out, count, 0); },
                [](uint64_t i, int32_t) -> uint32_t { return kestro_sim_pattern_din(i, 0); }),
            StopCTCapture()});
     }},
    // Counter polling reads the counter FIFO on every pass of the worker and
    // stays on for good, so it runs on a card of its own.
    {"ctpoll", true, 2,
     [] {
       int32_t status = First({OpenCard(2), CT_AddChannel_To_CTScanlist(0), SetCTFrequency(1000),
                               FinalInit(), StartCTforRead()});
       if (status != QVX_OK || kestro_sim_advance(2, kScans) != 0) return status;
       // Polled until the worker has taken every scan out of the FIFO; the
       // value is then the one of the last scan.
       const bool polled = WaitFor([] {
         kestro_sim_capture_status capture{};
         kestro_sim_capture(2, &capture);
         return capture.board_scans == 0 && capture.ct_fifo == 0;
       });
       uint32_t value = 0;
       const bool last =
           ReadCounterValue(0, &value) == 0 && value == kestro_sim_pattern_ct(kScans - 1, 0);
       return First({polled ? QVX_OK : kStuck, last ? QVX_OK : kWrong, StopCTCapture()});
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
constexpr int kSteps = static_cast<int>(sizeof kScript / sizeof kScript[0]);

int StepIndex(const char* name) {
  for (int i = 0; i < kSteps; ++i) {
    if (std::string(kScript[i].name) == name) return i;
  }
  return -1;
}

enum class Recovery { kNone, kClear, kReopen };

struct Fault {
  const char* entry;
  int32_t result;     // what the driver returns instead of doing its work
  const char* armed;  // the step before which it fails, once
  const char* shows;  // the first step that sees it; nullptr: none does
  int32_t status;     // that step's outcome
  bool latched;
  Recovery recovery;
};

// Every entry point the library calls, in the driver's order. Those whose
// result the library does not read fail too: the run must not notice.
constexpr Fault kFaults[] = {
    {"ZQ7_CreateSimpleHandle", 0, "open", "open", QVX_FAILURE, true, Recovery::kReopen},
    {"ZQ7_CloseSimpleHandle", -1, "close", nullptr, 0, false, Recovery::kNone},
    {"ZQ7_SwitchCard", -1, "switch", "switch", QVX_FAILURE, true, Recovery::kReopen},
    // A record of zeros: a module without inputs refuses every entry.
    {"ZQ7_ReadNewFlash", 0, "open", "list", QVX_ARGUMENT, true, Recovery::kReopen},
    {"ZQ7_Get_ModuleIdent", -1, "open", nullptr, 0, false, Recovery::kNone},
    // Read only to size output blocks; on the standard module either answer
    // gives 32 codes.
    {"ZQ7_IsHiSpeed", 0, "final", nullptr, 0, false, Recovery::kNone},
    {"ZQ7_SetDifferenz", -1, "list", nullptr, 0, false, Recovery::kNone},
    {"ZQ7_SetMasterSlave", -1, "list", nullptr, 0, false, Recovery::kNone},
    {"ZQ7_ConfigMeasure", -1, "final", nullptr, 0, false, Recovery::kNone},
    {"ZQ7_Start_Extern", -1, "memory", "memory", QVX_FAILURE, true, Recovery::kClear},
    {"WriteAlteraValue", 0, "list", "list", QVX_FAILURE, true, Recovery::kClear},
    {"ZQ7_ClearPrivateFlash", -1, "flash", nullptr, 0, false, Recovery::kNone},
    {"ZQ7_ReadPrivateFlash", -1, "flash", nullptr, 0, false, Recovery::kNone},
    {"ZQ7_WritePrivateFlash", -1, "flash", nullptr, 0, false, Recovery::kNone},
    {"ZQ7_AD_ClearChannelList", 0, "clear", "clear", QVX_FAILURE, true, Recovery::kClear},
    {"ZQ7_AD_AddChannellist", -1, "list", "list", QVX_FAILURE, true, Recovery::kClear},
    {"ZQ7_AD_SetFrequency", -1, "list", "list", QVX_FAILURE, true, Recovery::kClear},
    {"ZQ7_AD_Start", -1, "start", "start", QVX_FAILURE, true, Recovery::kClear},
    {"ZQ7_AD_Stop", -1, "stop", nullptr, 0, false, Recovery::kNone},
    {"ZQ7_AD_TriggerChannel", -1, "single", "single", QVX_FAILURE, true, Recovery::kClear},
    {"ZQ7_AD_ReadData_MixedChannels", -1, "capture", "capture", QVX_FAILURE, true,
     Recovery::kClear},
    // FIFO failures of a read deliver nothing and latch nothing; the scans
    // of the other FIFOs are gone, so the capture starts afresh.
    {"ZQ7_AD_GetFifoStatus", -1, "read", "read", kNothing, false, Recovery::kClear},
    {"ZQ7_AD_GetDataFromFifo", -1, "read", "read", kNothing, false, Recovery::kClear},
    {"ZQ7_DIN_GetFifoStatus", -1, "ctread", "ctread", kNothing, false, Recovery::kClear},
    {"ZQ7_DIN_GetDataFromFifo", -1, "read", "read", kNothing, false, Recovery::kClear},
    {"ZQ7_CT_GetFifoStatus", -1, "ctread", "ctread", kNothing, false, Recovery::kClear},
    {"ZQ7_CT_GetDataFromFifo", -1, "read", "read", kNothing, false, Recovery::kClear},
    // The worker's counter poll keeps the last values and tries again.
    {"ZQ7_CT_GetDataFromFifo", -1, "ctpoll", nullptr, 0, false, Recovery::kNone},
    {"ZQ7_CT_AddChannelList", -1, "list", "list", QVX_FAILURE, true, Recovery::kClear},
    {"ZQ7_ConfigureCounterInputEx", -1, "list", nullptr, 0, false, Recovery::kNone},
    // An input count of 0 refuses the digital entry and the output line.
    {"ZQ7_GetNumOfTTLIn", 0, "list", "list", QVX_ARGUMENT, true, Recovery::kClear},
    {"ZQ7_GetNumOfTTLOut", -1, "digital", "digital", QVX_ARGUMENT, true, Recovery::kClear},
    // A port word cannot fail; the write merges into what it says.
    {"ZQ7_TTL_Getchannel", 0, "digital", nullptr, 0, false, Recovery::kNone},
    {"ZQ7_TTL_PutChannel", -1, "digital", nullptr, 0, false, Recovery::kNone},
    {"ZQ7_TTL_SetDirection", -1, "digital", "digital", QVX_FAILURE, true, Recovery::kClear},
    {"ZQ7_TTL_AddChannelList", -1, "list", nullptr, 0, false, Recovery::kNone},
    {"ZQ7_DA_ClearChannelList", 0, "clear", "clear", QVX_FAILURE, true, Recovery::kClear},
    {"ZQ7_DA_AddChannellist", -1, "list", "list", QVX_FAILURE, true, Recovery::kClear},
    {"ZQ7_DA_SetFrequency", -1, "list", "list", QVX_FAILURE, true, Recovery::kClear},
    {"ZQ7_DA_Start", -1, "output", "output", QVX_FAILURE, true, Recovery::kClear},
    {"ZQ7_DA_Stop", -1, "stopout", nullptr, 0, false, Recovery::kNone},
    // A status record of zeros reads as output that has ended: the feed
    // stops without a latch.
    {"ZQ7_DA_GetStatus", 0, "feed", "feed", kNotFed, false, Recovery::kClear},
    {"ZQ7_DA_PutData", -1, "feed", "feed", QVX_FAILURE, true, Recovery::kClear},
    {"ZQ7_DA_TriggerChannel", -1, "single", nullptr, 0, false, Recovery::kNone},
    {"ZQ7_ReSynchronize", -1, "flash", nullptr, 0, false, Recovery::kNone},
};

void PrintTo(const Fault& fault, std::ostream* out) {
  *out << fault.entry << " before " << fault.armed;
}

// Bound, and never called on any path.
constexpr const char* kNeverCalled[] = {"ZQ7_AD_GetStatus",
                                        "ZQ7_TTL_GetStatus",
                                        "ZQ7_AD_GetStatus_MixedChannels",
                                        "ZQ7_AD_GetData",
                                        "ZQ7_AD_GetData_MixedChannels",
                                        "ZQ7_TTL_GetData",
                                        "ZQ7_CT_GetData",
                                        "ZQ7_ConfigureCounterInput",
                                        "ZQ7_WriteNewFlash",
                                        "ReadAlteraValue"};

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

  // Runs the script from step `from`; returns the index of the first step
  // whose outcome is not 0 (kSteps when none), with its outcome.
  static int Run(int from, int32_t* outcome, int to = kSteps) {
    for (int i = from; i < to; ++i) {
      *outcome = kScript[i].run();
      if (*outcome != QVX_OK) return i;
    }
    return to;
  }
};

TEST_P(FaultMatrix, CallReportsItAndCardRecovers) {
  const Fault& fault = GetParam();
  const int32_t threads = Threads();
  const int armed = StepIndex(fault.armed);
  ASSERT_GE(armed, 0);
  int32_t outcome = 0;
  ASSERT_EQ(Run(0, &outcome, armed), armed) << "the run before the fault: " << outcome;

  ASSERT_EQ(kestro_sim_fail(fault.entry, fault.result, 1), 0);
  const uint32_t calls = kestro_sim_call_count(fault.entry);
  const int failed = Run(armed, &outcome);
  EXPECT_GT(kestro_sim_call_count(fault.entry), calls) << "the entry point was not called";
  kestro_sim_clear_faults();
  if (fault.shows == nullptr) {
    EXPECT_EQ(failed, kSteps) << kScript[failed < kSteps ? failed : 0].name << " gave " << outcome;
  } else {
    ASSERT_EQ(failed, StepIndex(fault.shows)) << "outcome " << outcome;
    EXPECT_EQ(outcome, fault.status);
    const int32_t card = kScript[failed].card;
    EXPECT_EQ(Latch(card), fault.latched ? QVX_FAILURE : QVX_OK);

    int from = 0;
    if (fault.recovery == Recovery::kClear) {
      StopADCapture();
      StopDAOutput();
      ASSERT_EQ(ClearChannelLists(), QVX_OK);
      EXPECT_EQ(Latch(card), QVX_OK);
      from = failed;
      while (!kScript[from].phase) --from;
    }
    EXPECT_EQ(Run(from, &outcome), kSteps) << "the run after the recovery stopped with " << outcome;
  }
  for (const char* entry : kNeverCalled) EXPECT_EQ(kestro_sim_call_count(entry), 0u) << entry;
  EXPECT_EQ(Threads(), threads) << "a worker outlived its card";
}

INSTANTIATE_TEST_SUITE_P(Entries, FaultMatrix, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& info) {
                           return std::string(info.param.entry) + "_" + info.param.armed;
                         });

}  // namespace

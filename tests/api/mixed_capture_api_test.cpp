// Mixed scans, digital-input capture and counters end to end, through
// libquorvex on the simulated module's real-time clock: pattern mode proves
// that the analog, counter and digital FIFOs stay in lockstep, scan for scan.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "support.h"

namespace {

using qvx_test::kSanitized;
using qvx_test::Volts;
using qvx_test::WaitFor;

constexpr double kRate = kSanitized ? 2000.0 : 10000.0;
constexpr auto kRun = std::chrono::seconds(kSanitized ? 1 : 5);
constexpr int32_t kChunk = 10000;

class MixedCaptureApi : public qvx_test::SimTest {
 protected:
  // Opens card 0 holding `module`, in pattern mode.
  static void Open(int32_t module) {
    ASSERT_EQ(kestro_sim_set_module(0, module), 0);
    ASSERT_EQ(kestro_sim_set_pattern(0, 1), 0);
    ASSERT_EQ(OpenCard(0), QVX_OK);
  }
  // Drains every 10 ms for kRun with `read`, which reads what waits from
  // scan `next` on, checks it and returns the scans it delivered (0 when
  // none waited). Then stops and checks that every scan the module took was
  // delivered or still waits, with nothing lost, in every FIFO that `read`
  // drains (`fifo` picks its waiting scans from the module's figures).
  static void DrainAndStop(const std::function<int32_t(uint64_t next)>& read,
                           const std::function<int64_t(const kestro_sim_capture_status&)>& fifo) {
    uint64_t next = 0;
    const auto end = std::chrono::steady_clock::now() + kRun;
    while (std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      for (int32_t got = read(next); got > 0; got = read(next)) next += got;
    }
    ASSERT_EQ(StopADCapture(), QVX_OK);
    kestro_sim_capture_status status{};
    ASSERT_EQ(kestro_sim_capture(0, &status), 0);
    EXPECT_EQ(status.board_lost, 0u);
    EXPECT_EQ(status.fifo_lost, 0u);
    EXPECT_EQ(next + status.board_scans + static_cast<uint64_t>(fifo(status)), status.produced);
    EXPECT_GT(next, static_cast<uint64_t>(kRate / 2));
  }
};

// Four analog inputs, two counters and two byte ports, interleaved; read in
// turn as volts and as raw values.
TEST_F(MixedCaptureApi, MixedListDeliversEverySlotOfEveryScan) {
  Open(KESTRO_SIM_STANDARD);
  enum Kind { kAnalog, kCounter, kPort };
  const Kind slots[8] = {kAnalog, kCounter, kPort, kAnalog, kAnalog, kCounter, kPort, kAnalog};
  int32_t entry[8];
  int32_t next_of[3] = {0, 0, 0};
  for (int s = 0; s < 8; ++s) {
    entry[s] = next_of[slots[s]]++;
    const int32_t e = entry[s];
    const int32_t status = slots[s] == kAnalog    ? Add_AD_Channel_to_ScanList(e, 0, e, 0)
                           : slots[s] == kCounter ? Add_CT_Channel_to_ScanList(e)
                                                  : Add_Dig_Channel_to_ScanList(e, 1);
    ASSERT_EQ(status, QVX_OK) << s;
  }
  ASSERT_EQ(SetDINFrequency(kRate), QVX_OK);
  ASSERT_EQ(FinalInit(), QVX_OK);
  ASSERT_EQ(StartADCapture(), QVX_OK);

  const double factors[4] = {1.0, 0.5, 0.25, 0.125};
  std::vector<double> volts(8 * kChunk);
  std::vector<uint32_t> raw(8 * kChunk);
  bool scaled = false;
  int64_t wrong = 0;
  DrainAndStop(
      [&](uint64_t next) {
        scaled = !scaled;
        int32_t count = kChunk;
        const int32_t status = scaled ? GetScaledData(0, volts.data(), &count, 0)
                                      : GetBinaryData(raw.data(), &count, 0);
        if (status != QVX_OK) return -1;
        for (int32_t i = 0; i < count; ++i) {
          const uint64_t scan = next + i;
          for (int s = 0; s < 8; ++s) {
            const size_t at = static_cast<size_t>(i) * 8 + s;
            const int32_t e = entry[s];
            if (slots[s] == kAnalog) {
              const uint16_t code = kestro_sim_pattern_ad(scan, e);
              wrong += scaled ? volts[at] != Volts(code, factors[e]) : raw[at] != code;
              continue;
            }
            const uint32_t value = slots[s] == kCounter
                                       ? kestro_sim_pattern_ct(scan, e)
                                       : (kestro_sim_pattern_din(scan, 0) >> (8 * e)) & 0xFFu;
            wrong += scaled ? volts[at] != static_cast<double>(value) : raw[at] != value;
          }
        }
        return count;
      },
      [](const kestro_sim_capture_status& status) {
        EXPECT_EQ(status.ct_fifo, status.ad_fifo);
        EXPECT_EQ(status.din_fifo, status.ad_fifo);
        return status.ad_fifo;
      });
  EXPECT_EQ(wrong, 0);
}

// Eighteen single lines over groups 0 and 1 and two counters, each on its
// own list: FinalInit adds analog input 0, which the digital and counter
// reads drain and discard while each delivers its own FIFO in full.
TEST_F(MixedCaptureApi, SeparateListsDeliverLinesAndCountersWithTheAutomaticInput) {
  Open(KESTRO_SIM_DIGITAL);
  for (int32_t line = 0; line < 18; ++line) {
    ASSERT_EQ(DIN_AddChannel_To_DINScanlist(line, 0), QVX_OK);
  }
  ASSERT_EQ(CT_AddChannel_To_CTScanlist(0), QVX_OK);
  ASSERT_EQ(CT_AddChannel_To_CTScanlist(1), QVX_OK);
  ASSERT_EQ(SetCTFrequency(kRate), QVX_OK);
  ASSERT_EQ(FinalInit(), QVX_OK);
  ASSERT_EQ(StartDINCapture(), QVX_OK);

  std::vector<uint32_t> lines(18 * kChunk);
  std::vector<uint32_t> counts(2 * kChunk);
  uint64_t next_count = 0;
  int64_t wrong = 0;
  DrainAndStop(
      [&](uint64_t next) {
        int32_t count = kChunk;
        if (DIN_GetBinaryData(lines.data(), &count, 0) != QVX_OK) return -1;
        for (int32_t i = 0; i < count; ++i) {
          for (int d = 0; d < 18; ++d) {
            const uint32_t word = kestro_sim_pattern_din(next + i, d / 16);
            wrong += lines[static_cast<size_t>(i) * 18 + d] != ((word >> (d % 16)) & 1u);
          }
        }
        int32_t counted = kChunk;
        if (CT_GetScaledData(counts.data(), &counted, 0) != QVX_OK) return -1;
        for (int32_t i = 0; i < counted; ++i, ++next_count) {
          wrong += counts[static_cast<size_t>(i) * 2] != kestro_sim_pattern_ct(next_count, 0);
          wrong += counts[static_cast<size_t>(i) * 2 + 1] != kestro_sim_pattern_ct(next_count, 1);
        }
        return count;
      },
      [&](const kestro_sim_capture_status& status) {
        EXPECT_EQ(next_count + status.board_scans + status.ct_fifo, status.produced);
        // The reads drained the automatic input up to their last one.
        EXPECT_LE(status.ad_fifo, status.din_fifo);
        return status.din_fifo;
      });
  EXPECT_EQ(wrong, 0);
}

// The module's lists drift from the library's: entries added after
// FinalInit, a card opened again over the module's lists, a clear that the
// module refuses. Whatever the driver then delivers, no read (nor the
// worker's counter read) writes beyond a staging buffer: AddressSanitizer
// sees any such write. Every caller buffer is exactly as large as the call's
// contract asks for the lists as the library holds them.
TEST_F(MixedCaptureApi, ListsThatDriftFromTheModulesNeverOverrunAStagingBuffer) {
  struct Case {
    const char* name;
    std::function<void()> set_up;  // builds the lists; FinalInit and the rate follow
    int32_t ad, ct, dig;           // the library's lists after set_up and FinalInit
    bool mixed;
    int32_t start_counters;  // 1: StartCTforRead, so the worker reads counters
  };
  const Case cases[] = {
      {"digital entry after FinalInit",
       [] {
         ASSERT_EQ(Add_AD_Channel_to_ScanList(0, 0, 0, 0), QVX_OK);
         ASSERT_EQ(SetADFrequency(100000), QVX_OK);
         ASSERT_EQ(FinalInit(), QVX_OK);
         ASSERT_EQ(DIN_AddChannel_To_DINScanlist(0, 2), QVX_OK);
       },
       1, 0, 1, false, 0},
      {"mixed digital and counter entries after FinalInit",
       [] {
         ASSERT_EQ(Add_AD_Channel_to_ScanList(0, 0, 0, 0), QVX_OK);
         ASSERT_EQ(SetADFrequency(100000), QVX_OK);
         ASSERT_EQ(FinalInit(), QVX_OK);
         ASSERT_EQ(Add_Dig_Channel_to_ScanList(1, 2), QVX_OK);
         ASSERT_EQ(Add_CT_Channel_to_ScanList(0), QVX_OK);
         ASSERT_EQ(Add_AD_Channel_to_ScanList(1, 0, 0, 0), QVX_OK);
       },
       2, 1, 1, true, 0},
      {"card opened again over the module's analog entry",
       [] {
         ASSERT_EQ(Add_AD_Channel_to_ScanList(0, 0, 0, 0), QVX_OK);
         ASSERT_EQ(OpenCard(0), QVX_OK);
         ASSERT_EQ(SetADFrequency(10000), QVX_OK);
         ASSERT_EQ(FinalInit(), QVX_OK);
       },
       0, 0, 0, false, 0},
      {"clear refused by the module",
       [] {
         ASSERT_EQ(Add_AD_Channel_to_ScanList(0, 0, 0, 0), QVX_OK);
         kestro_sim_fail("ZQ7_AD_ClearChannelList", 0, 1);
         ASSERT_EQ(ClearChannelListsEx(0, 0, 0), QVX_OK);
         ASSERT_EQ(Add_AD_Channel_to_ScanList(1, 0, 0, 0), QVX_OK);
         ASSERT_EQ(SetADFrequency(100000), QVX_OK);
         ASSERT_EQ(FinalInit(), QVX_OK);
       },
       1, 0, 0, false, 0},
      {"worker's counter read after a re-open",
       [] {
         ASSERT_EQ(CT_AddChannel_To_CTScanlist(0), QVX_OK);
         ASSERT_EQ(OpenCard(0), QVX_OK);
         ASSERT_EQ(CT_AddChannel_To_CTScanlist(1), QVX_OK);
         ASSERT_EQ(SetCTFrequency(200000), QVX_OK);
         ASSERT_EQ(FinalInit(), QVX_OK);
       },
       1, 1, 0, false, 1},
  };
  constexpr int32_t kScans = 25000;
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    kestro_sim_reset();
    ASSERT_EQ(kestro_sim_set_clock(0, KESTRO_SIM_CLOCK_MANUAL), 0);
    ASSERT_EQ(OpenCard(0), QVX_OK);
    ASSERT_EQ(ClearChannelLists(), QVX_OK);
    test.set_up();
    ASSERT_EQ(test.start_counters ? StartCTforRead() : StartADCapture(), QVX_OK);
    qvx_test::Take(0, kScans);
    if (test.start_counters) {  // a counter read of a whole poll must have run
      ASSERT_TRUE(WaitFor([] {
        kestro_sim_capture_status status{};
        kestro_sim_capture(0, &status);
        return status.ct_fifo < kScans;
      }));
    }
    const int32_t slots = test.mixed ? test.ad + test.ct + test.dig : test.ad;
    // Each read asks for more than a staging buffer sized by the library's
    // own lists could take.
    int32_t count = 10000;
    std::vector<double> volts(std::max(1, count * slots));
    EXPECT_EQ(GetScaledData(0, volts.data(), &count, 0), QVX_OK);
    count = 10000;
    std::vector<uint32_t> raw(std::max(1, count * slots));
    EXPECT_EQ(GetBinaryData(raw.data(), &count, 0), QVX_OK);
    count = 10000;
    std::vector<uint32_t> lines(std::max(1, count * test.dig));
    EXPECT_EQ(DIN_GetBinaryData(lines.data(), &count, 0), QVX_OK);
    count = 10000;
    std::vector<uint32_t> counts(std::max(1, count * test.ct));
    EXPECT_EQ(CT_GetBinaryData(counts.data(), &count, 0), QVX_OK);
    if (test.ad > 0) {
      int32_t moved = 0;
      std::vector<double> mem_volts(static_cast<size_t>(1000) * slots);
      EXPECT_EQ(GetScaledDataFromMemoryMeasurement(0, 0, test.mixed ? 1 : test.ad, 1000,
                                                   mem_volts.data(), 0, &moved),
                QVX_OK);
      std::vector<int32_t> mem_raw(static_cast<size_t>(1000) * slots);
      EXPECT_EQ(GetBinaryDataFromMemoryMeasurement(0, test.mixed ? 1 : test.ad, 1000,
                                                   mem_raw.data(), 0, &moved),
                QVX_OK);
    }
    ASSERT_EQ(StopADCapture(), QVX_OK);
    ASSERT_EQ(CloseCard(0), QVX_OK);
  }
}

}  // namespace

// White-box checks of the output list, rate and streaming calls: what lands
// in DaRing, the room figure, refusals, the bounded waits of mode 1, trace
// lines, and the worker's whole-block rule.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/conversions.h"
#include "frame/call.h"
#include "frame/card_state.h"
#include "frame/driver.h"
#include "support.h"

namespace qvx {
namespace {

using qvx_test::WaitFor;

std::string LastTrace() {
  char text[kTraceSize];
  CopyLastCallTrace(text, sizeof text);
  return text;
}

class DaStreamTest : public qvx_test::SimTest {
 protected:
  CardState& c = g_cards[0];

  // Lists `channels` outputs at `rate` and builds the ring: 3000 frames.
  void SetUpOutput(int32_t channels = 2, int32_t rate = 500) {
    ASSERT_EQ(OpenCard(0), QVX_OK);
    ASSERT_EQ(ClearChannelLists(), QVX_OK);
    for (int32_t k = 0; k < channels; ++k) ASSERT_EQ(Add_DA_Channel_to_ScanList(k), QVX_OK);
    ASSERT_EQ(SetDAFrequency(rate), QVX_OK);
    ASSERT_EQ(FinalInit(), QVX_OK);
  }
  // Fills the ring with codes 0 until `room` frames stay free.
  void LeaveRoom(int32_t room) {
    int32_t frames = 3000 - room;
    const std::vector<uint16_t> fill(static_cast<size_t>(frames) * c.DaChannelCount, 0);
    ASSERT_EQ(PutBinaryData(fill.data(), 1, &frames, 0), QVX_OK);
    ASSERT_EQ(Free(), room);
  }
  int32_t Free() {
    int32_t room = -1;
    EXPECT_EQ(GetDAFreeBufferSpace(0, &room), QVX_OK);
    return room;
  }
  // The `n` codes written last.
  std::vector<uint16_t> Newest(int32_t n) {
    const SampleRing& r = c.DaRing;
    std::vector<uint16_t> codes;
    for (int32_t i = 0; i < n; ++i) {
      codes.push_back(r.buffer[(r.write_index - n + i + r.capacity) % r.capacity]);
    }
    return codes;
  }
};

TEST_F(DaStreamTest, PutsTakeTheWholeRequestOrWhatFits) {
  SetUpOutput();
  std::vector<double> volts(300);
  std::vector<uint16_t> codes(300);
  for (size_t i = 0; i < volts.size(); ++i) {
    volts[i] = -10.0 + 0.0625 * static_cast<double>(i);  // code 204.8 * i, truncated
    codes[i] = static_cast<uint16_t>(1000 + i);
  }
  const struct {
    bool binary;
    int32_t request, mode, count_after, free_after;
  } cases[] = {
      {false, 40, 0, 40, 60}, {false, 150, 0, 100, 0}, {true, 100, 0, 100, 0},
      {true, 100, 1, 100, 0}, {false, 0, 1, 0, 100},
  };
  for (const auto& k : cases) {
    ASSERT_EQ(FinalInit(), QVX_OK);
    LeaveRoom(100);
    int32_t count = k.request;
    const int32_t status = k.binary ? PutBinaryData(codes.data(), 2, &count, k.mode)
                                    : PutScaledData(0, volts.data(), 2, &count, k.mode);
    SCOPED_TRACE(testing::Message() << (k.binary ? "binary " : "scaled ") << k.request);
    EXPECT_EQ(status, QVX_OK);
    EXPECT_EQ(count, k.count_after);
    EXPECT_EQ(Free(), k.free_after);
    const int32_t written = 2 * k.count_after;
    EXPECT_EQ(RingCount(&c.DaRing), 2 * 2900 + written);
    std::vector<uint16_t> expected(written);
    for (int32_t i = 0; i < written; ++i) {
      expected[i] = k.binary ? codes[i] : static_cast<uint16_t>(VoltsToCode(volts[i]));
    }
    EXPECT_EQ(Newest(written), expected);
  }
  // The ends and the middle of the span.
  const double span[] = {-10.0, 0.0, 10.0, 0.0};
  int32_t frames = 2;
  ASSERT_EQ(PutScaledData(0, span, 2, &frames, 0), QVX_OK);
  EXPECT_EQ(Newest(4), (std::vector<uint16_t>{0, 32768, 65535, 32768}));
}

TEST_F(DaStreamTest, RefusalsAndFailuresLatchAndLeaveTheRingAlone) {
  const double volts[4] = {};
  const uint16_t codes[4] = {};
  const struct {
    const char* what;
    std::function<int32_t(int32_t*)> call;
    int32_t request, status, count_after;
  } cases[] = {
      {"mode 2", [&](int32_t* n) { return PutScaledData(0, volts, 2, n, 2); }, 1, 2, 1},
      {"5 channels", [&](int32_t* n) { return PutBinaryData(codes, 5, n, 0); }, 1, 2, 1},
      {"null data", [&](int32_t* n) { return PutScaledData(0, nullptr, 2, n, 0); }, 1, 2, 1},
      {"negative binary", [&](int32_t* n) { return PutBinaryData(codes, 2, n, 0); }, -3, 2, -3},
      {"negative scaled", [&](int32_t* n) { return PutScaledData(0, volts, 2, n, 1); }, -3, 1, 0},
      {"beyond the ring", [&](int32_t* n) { return PutBinaryData(codes, 2, n, 1); }, 3001, 2, 3001},
  };
  for (const auto& k : cases) {
    SetUpOutput();
    int32_t count = k.request;
    EXPECT_EQ(k.call(&count), k.status) << k.what;
    EXPECT_EQ(count, k.count_after) << k.what;
    EXPECT_EQ(c.ErrorLatch.load(), 1) << k.what;
    EXPECT_EQ(RingCount(&c.DaRing), 0) << k.what;
    EXPECT_EQ(k.call(&count), QVX_FAILURE) << k.what;  // latched
  }
  // An emptied list after FinalInit leaves the ready word at 1 but no frame.
  SetUpOutput();
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  int32_t count = 1;
  EXPECT_EQ(PutBinaryData(codes, 2, &count, 0), QVX_FAILURE);
  EXPECT_EQ(c.ErrorLatch.load(), 1);

  // A card whose ring was never built: no room, and every put fails.
  ASSERT_EQ(OpenCard(5), QVX_OK);
  g_cards[5].DaStatus = KestroDaStatus{};  // as after loading
  ASSERT_EQ(Add_DA_Channel_to_ScanList(0), QVX_OK);
  int32_t room = -1;
  EXPECT_EQ(GetDAFreeBufferSpace(5, &room), QVX_OK);
  EXPECT_EQ(room, 0);
  EXPECT_EQ(PutBinaryData(codes, 1, &count, 0), QVX_FAILURE);
  EXPECT_EQ(g_cards[5].ErrorLatch.load(), 1);
  EXPECT_EQ(GetDAFreeBufferSpace(16, &room), QVX_ARGUMENT);
  ASSERT_EQ(OpenCard(5), QVX_OK);
  EXPECT_EQ(GetDAFreeBufferSpace(5, nullptr), QVX_ARGUMENT);
  EXPECT_EQ(g_cards[5].ErrorLatch.load(), 1);
}

// Both give up at once, well before the bound for a module that stops taking
// data.
TEST_F(DaStreamTest, WaitingPutGivesUpWhenNothingCanMakeRoom) {
  const std::vector<uint16_t> codes(6000, 7);
  const auto put = [&](int32_t channels, int32_t* count) {
    const auto start = std::chrono::steady_clock::now();
    const int32_t status = PutBinaryData(codes.data(), channels, count, 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    return status;
  };
  // Output stopped: the ring does not drain.
  SetUpOutput();
  LeaveRoom(100);
  int32_t count = 150;
  EXPECT_EQ(put(2, &count), QVX_FAILURE);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(c.ErrorLatch.load(), 0);
  EXPECT_EQ(Free(), 100);
  // Output running, but the ring holds less than a block: the worker never
  // sends it, so the last 20 codes' room never comes back.
  SetUpOutput(1, 1000);
  count = 20;
  ASSERT_EQ(PutBinaryData(codes.data(), 1, &count, 0), QVX_OK);
  ASSERT_EQ(StartDAOutput(), QVX_OK);
  count = 2990;
  EXPECT_EQ(put(1, &count), QVX_FAILURE);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(c.ErrorLatch.load(), 0);
  EXPECT_EQ(StopDAOutput(), QVX_OK);
}

TEST_F(DaStreamTest, ListRateAndStartChecks) {
  SetUpOutput();
  EXPECT_EQ(SetDAFrequency(501), QVX_ARGUMENT);  // 2 x 501 > 1000
  SetUpOutput();
  EXPECT_EQ(Add_DA_Channel_to_ScanListEx(4, 0, 0), QVX_ARGUMENT);  // the module has 4
  EXPECT_EQ(c.ErrorLatch.load(), 1);
  // Channel 4 passes the library's bound and reaches the driver, which
  // refuses it; the count stays.
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  kestro_sim_log_clear();
  EXPECT_EQ(Add_DA_Channel_to_ScanList(4), QVX_FAILURE);
  EXPECT_EQ(qvx_test::CallLog(), std::vector<std::string>{"ZQ7_DA_AddChannellist(0, 4)"});
  EXPECT_EQ(c.DaChannelCount.load(), 0);
  // Channels listed with the Ex call are the driver's only.
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  ASSERT_EQ(Add_DA_Channel_to_ScanListEx(3, 0, 0), QVX_OK);
  EXPECT_EQ(c.DaChannelCount.load(), 0);
  EXPECT_EQ(SetDAFrequency(100000), QVX_OK);
  EXPECT_EQ(c.DaSampleRate, 100000.0);
  kestro_sim_fail("ZQ7_DA_SetFrequency", -1, 1);
  EXPECT_EQ(SetDAFrequency(200), QVX_FAILURE);
  EXPECT_EQ(c.DaSampleRate, 100000.0);
  // Nothing to feed without a listed channel: the start is refused before
  // the driver is asked.
  ASSERT_EQ(ClearChannelLists(), QVX_OK);
  kestro_sim_log_clear();
  EXPECT_EQ(StartDAOutput(), QVX_ARGUMENT);
  EXPECT_EQ(c.ErrorLatch.load(), 1);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_DA_Start"), 0u);
}

TEST_F(DaStreamTest, TraceLinesReadTheBufferOnlyAsFarAsTheRequest) {
  SetUpOutput(1);
  int32_t one = 1;
  const auto at = [](const int32_t* p) {
    return std::to_string(static_cast<int>(reinterpret_cast<std::intptr_t>(p)));
  };
  // Exactly one code on the heap: reading a second would overrun it.
  const auto single = std::make_unique<uint16_t[]>(1);
  single[0] = 0x1234;
  EXPECT_EQ(PutBinaryData(single.get(), 1, &one, 1), QVX_OK);
  EXPECT_EQ(LastTrace(), "begin PutBinaryData (4660, 1, " + at(&one) + ", 1)");
  const uint16_t pair[2] = {0x1234, 0xABCD};
  int32_t two = 2;
  EXPECT_EQ(PutBinaryData(pair, 3, &two, 0), QVX_OK);
  EXPECT_EQ(LastTrace(), "begin PutBinaryData (-1412623820, 3, " + at(&two) + ", 0)");
  const double volts[1] = {2.5};
  EXPECT_EQ(PutScaledData(-7, volts, 1, &one, 0), QVX_OK);
  EXPECT_EQ(LastTrace(), "begin PutScaledData (-7, 2.500000, 1, " + at(&one) + ", 0)");
  EXPECT_EQ(PutScaledData(3, nullptr, 2, &one, 4), QVX_ARGUMENT);
  EXPECT_EQ(LastTrace(), "begin PutScaledData (3, 0.000000, 2, " + at(&one) + ", 4)");

  const struct {
    std::function<int32_t()> call;
    const char* line;
  } calls[] = {
      {[] { return Add_DA_Channel_to_ScanListEx(3, 8, 9); },
       "begin Add_DA_Channel_to_ScanListEx (3)"},
      {[] { return SetDAFrequency(501); }, "begin SetDAFrequency (501)"},
      {[] { return StartDAOutputEx(1, -2, 3); }, "begin StartDAOutputEx (1, -2, 3)"},
      {[] { return GetDAFreeBufferSpace(16, nullptr); },
       "begin GetDAFreeBufferSpace (16, *FreeValues)"},
  };
  for (const auto& k : calls) {
    k.call();
    EXPECT_EQ(LastTrace(), k.line);
  }
  StartDAOutput();
  StopDAOutput();
  EXPECT_EQ(LastTrace(), std::end(calls)[-1].line);  // start and stop write none
}

// The worker moves whole blocks only: when the ring holds one and the module
// has room for one.
TEST_F(DaStreamTest, WorkerSendsWholeBlocksOnly) {
  SetUpOutput();
  const std::vector<uint16_t> codes(40, 5);
  int32_t frames = 20;
  ASSERT_EQ(PutBinaryData(codes.data(), 2, &frames, 0), QVX_OK);
  const KestroDaStatus before = c.DaStatus;
  kestro_sim_set_da_queue(0, 31);
  ASSERT_EQ(StartDAOutput(), QVX_OK);
  const auto passes = [] { return kestro_sim_call_count("ZQ7_DA_GetStatus"); };
  ASSERT_TRUE(WaitFor([&] { return passes() >= 20; }));
  EXPECT_EQ(kestro_sim_call_count("ZQ7_DA_PutData"), 0u);
  {
    MutexGuard lock(c.DaMutex, nullptr);
    EXPECT_EQ(c.DaStatus.word[1], before.word[1]);
  }

  kestro_sim_set_da_queue(0, 32);
  ASSERT_TRUE(WaitFor([] { return kestro_sim_call_count("ZQ7_DA_PutData") == 1; }));
  const uint32_t seen = passes();
  ASSERT_TRUE(WaitFor([&] { return passes() >= seen + 20; }));
  EXPECT_EQ(kestro_sim_call_count("ZQ7_DA_PutData"), 1u);
  {
    MutexGuard lock(c.DaMutex, nullptr);
    EXPECT_EQ(RingCount(&c.DaRing), 8);
    EXPECT_EQ(c.DaStatus.word[1], (6000 - 8) / 2);
  }
  ASSERT_EQ(StopDAOutput(), QVX_OK);

  // With the list emptied after FinalInit the room is counted in codes, and
  // a ring of 31 codes is never sent.
  kestro_sim_set_da_queue(0, -1);
  SetUpOutput(1);
  frames = 31;
  ASSERT_EQ(PutBinaryData(codes.data(), 1, &frames, 0), QVX_OK);
  c.DaChannelCount = 0;
  // A start would refuse the empty list: the module is started by hand.
  ASSERT_EQ(drv::ZQ7_DA_Start(0), 0);
  c.DaRunState = 1;
  const uint32_t start = passes();
  ASSERT_TRUE(WaitFor([&] { return passes() >= start + 20; }));
  EXPECT_EQ(kestro_sim_call_count("ZQ7_DA_PutData"), 1u);
  {
    MutexGuard lock(c.DaMutex, nullptr);
    RingWrite16(&c.DaRing, codes.data(), 1);
  }
  ASSERT_TRUE(WaitFor([] { return kestro_sim_call_count("ZQ7_DA_PutData") == 2; }));
  ASSERT_TRUE(WaitFor([&] {
    MutexGuard lock(c.DaMutex, nullptr);
    return c.DaStatus.word[1] == 3000;
  }));
  ASSERT_EQ(StopDAOutput(), QVX_OK);
}

}  // namespace
}  // namespace qvx

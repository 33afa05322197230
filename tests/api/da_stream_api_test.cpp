// Streamed analog output through libquorvex against the simulated module's
// clocked output: what the module receives, in which order and when, and how
// start, stop and failures meet the feed.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "support.h"

namespace {

using qvx_test::CallLog;
using qvx_test::kSanitized;
using qvx_test::WaitFor;
using Clock = std::chrono::steady_clock;

kestro_sim_output_status Output() {
  kestro_sim_output_status status{};
  EXPECT_EQ(kestro_sim_output(0, &status), 0);
  return status;
}

// Codes [from, from + codes) of a stream with a code for every element: any
// lost, repeated or misplaced code shows.
std::vector<uint16_t> Stream(size_t codes, size_t from = 0) {
  std::vector<uint16_t> stream(codes);
  for (size_t i = from; i < from + codes; ++i)
    stream[i - from] = static_cast<uint16_t>(i * 40503u + (i >> 16) * 7u);
  return stream;
}

std::vector<uint16_t> Recorded(uint64_t first, int64_t count) {
  std::vector<uint16_t> codes(static_cast<size_t>(count));
  EXPECT_EQ(kestro_sim_da_record(0, first, codes.data(), count), count);
  return codes;
}

// Two outputs at 500 frames per second each, the output limit; the ring holds
// 3000 frames (6000 codes).
class DaStreamApi : public qvx_test::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_EQ(qvx_test::All({OpenCard(0), Add_DA_Channel_to_ScanList(0),
                             Add_DA_Channel_to_ScanList(1), SetDAFrequency(500), FinalInit()}),
              QVX_OK);
  }
  // Puts frames [first, first + frames) of the stream; returns the status, or
  // the frames not taken.
  static int32_t Put(size_t first, int32_t frames, int32_t mode) {
    const std::vector<uint16_t> codes = Stream(2 * static_cast<size_t>(frames), 2 * first);
    int32_t count = frames;
    const int32_t status = PutBinaryData(codes.data(), 2, &count, mode);
    return status != QVX_OK ? status : frames - count;
  }
};

// Data put while stopped waits for the start; then every code goes out once,
// in order, and the queue runs empty only once the stream has ended. What is
// put after a stop goes out after the next start.
TEST_F(DaStreamApi, StreamsEveryCodeOnceInOrderWithoutUnderrun) {
  // 10 s of output (3 s under the sanitizers), in whole blocks of 16 frames.
  const int32_t frames = (kSanitized ? 1500 : 5000) / 16 * 16;
  const int32_t prefill = 1000;
  const int32_t chunk = 208;
  ASSERT_EQ(Put(0, prefill, 0), QVX_OK);
  ASSERT_TRUE(WaitFor([] { return kestro_sim_elapsed(0) > 0.05; }));
  EXPECT_EQ(Output().received, 0u);
  ASSERT_EQ(StartDAOutput(), QVX_OK);
  for (int32_t sent = prefill; sent < frames; sent += chunk) {
    const int32_t n = std::min(chunk, frames - sent);
    ASSERT_EQ(Put(static_cast<size_t>(sent), n, 1), QVX_OK) << sent;
  }
  const uint64_t codes = 2 * static_cast<uint64_t>(frames);
  ASSERT_TRUE(WaitFor([&] { return Output().output == codes; }, std::chrono::seconds(30)));
  const kestro_sim_output_status status = Output();
  EXPECT_EQ(status.received, codes);
  EXPECT_TRUE(status.first_underrun == -1 || status.first_underrun == static_cast<int64_t>(codes))
      << status.first_underrun;
  EXPECT_EQ(Recorded(0, static_cast<int64_t>(codes)), Stream(codes));
  const auto stop = Clock::now();
  EXPECT_EQ(StopDAOutput(), QVX_OK);
  EXPECT_LT(Clock::now() - stop, std::chrono::seconds(2));
  EXPECT_EQ(Output().running, 0);
  ASSERT_EQ(Put(static_cast<size_t>(frames), 16, 0), QVX_OK);
  ASSERT_EQ(StartDAOutputEx(0, 0, 0), QVX_OK);
  ASSERT_TRUE(WaitFor([&] { return Output().output == codes + 32; }));
  EXPECT_EQ(Recorded(0, static_cast<int64_t>(codes) + 32), Stream(codes + 32));
}

// A put takes the whole request when it fits, else (mode 0) what fits, and
// the room figure follows: here the ring has 100 frames free.
TEST_F(DaStreamApi, PutsTakeTheWholeRequestOrWhatFits) {
  const std::vector<double> volts(2 * 150, 1.0);
  const std::vector<uint16_t> codes(2 * 150, 1000);
  const struct {
    bool scaled;
    int32_t request, mode, taken;
  } cases[] = {{true, 40, 0, 40},
               {true, 150, 0, 100},
               {false, 100, 0, 100},
               {false, 100, 1, 100},
               {true, 0, 1, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.scaled ? "scaled " : "binary ") << c.request);
    ASSERT_EQ(qvx_test::All({FinalInit(), Put(0, 2900, 0)}), QVX_OK);
    int32_t count = c.request, room = -1;
    EXPECT_EQ(c.scaled ? PutScaledData(0, volts.data(), 2, &count, c.mode)
                       : PutBinaryData(codes.data(), 2, &count, c.mode),
              QVX_OK);
    EXPECT_EQ(count, c.taken);
    EXPECT_EQ(GetDAFreeBufferSpace(0, &room), QVX_OK);
    EXPECT_EQ(room, 100 - c.taken);
  }
}

TEST_F(DaStreamApi, FailedTransferLatchesStopsTheFeedAndEndsAWaitingPut) {
  ASSERT_EQ(Put(0, 2000, 0), QVX_OK);
  // The first transfer takes a while and then fails; meanwhile a put waits
  // for more room than there is.
  kestro_sim_delay("ZQ7_DA_PutData", 300);
  kestro_sim_fail("ZQ7_DA_PutData", -1, 1);
  ASSERT_EQ(StartDAOutput(), QVX_OK);
  std::vector<uint16_t> codes(2 * 1500);
  int32_t count = 1500;
  EXPECT_EQ(PutBinaryData(codes.data(), 2, &count, 1), QVX_FAILURE);
  EXPECT_EQ(count, 0);
  int32_t room = 0;
  EXPECT_EQ(GetDAFreeBufferSpace(0, &room), QVX_FAILURE);  // latched
  // The worker sends nothing more.
  const uint32_t queries = kestro_sim_call_count("ZQ7_DA_GetStatus");
  const double until = kestro_sim_elapsed(0) + 0.05;
  ASSERT_TRUE(WaitFor([&] { return kestro_sim_elapsed(0) > until; }));
  EXPECT_EQ(kestro_sim_call_count("ZQ7_DA_GetStatus"), queries);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_DA_PutData"), 1u);
  // Start is refused while latched; stop still stops the module.
  kestro_sim_log_clear();
  EXPECT_EQ(StartDAOutput(), QVX_FAILURE);
  EXPECT_EQ(StopDAOutput(), QVX_OK);
  EXPECT_EQ(CallLog(), std::vector<std::string>{"ZQ7_DA_Stop(0)"});
}

// FinalInit sizes the ring by the aggregate output rate: 3000 frames up to
// 1000 codes per second, 6000 up to 5000, 12000 beyond (the rate is set
// before the channels are listed, when nothing bounds it). The worker sends
// whole blocks only, of 32 codes (256 on high-speed modules), and only when
// the module's queue has room for one: of a block and 8 codes put, while the
// queue holds a block less one code nothing goes; then one block goes, and
// the room reported grows by it.
using OutputSetUp = qvx_test::SimTest;
TEST_F(OutputSetUp, RingFollowsTheRateAndTheWorkerSendsWholeBlocks) {
  const struct {
    int32_t module, channels, frames;  // at 1000 frames per second
    int32_t block;                     // where checked
  } cases[] = {{KESTRO_SIM_STANDARD, 1, 3000, 32},
               {KESTRO_SIM_STANDARD, 2, 6000, 0},
               {KESTRO_SIM_STANDARD, 5, 6000, 0},
               {KESTRO_SIM_STANDARD, 6, 12000, 0},
               {KESTRO_SIM_HISPEED, 1, 3000, 256}};
  const auto room = [] {
    int32_t frames = -1;
    EXPECT_EQ(GetDAFreeBufferSpace(0, &frames), QVX_OK);
    return frames;
  };
  const auto passes = [] { return kestro_sim_call_count("ZQ7_DA_GetStatus"); };
  const auto sent = [] { return kestro_sim_call_count("ZQ7_DA_PutData"); };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.module << ": " << c.channels << " outputs");
    CloseCard(0);
    kestro_sim_reset();
    ASSERT_EQ(kestro_sim_set_module(0, c.module), 0);
    ASSERT_EQ(qvx_test::All({OpenCard(0), SetDAFrequency(1000)}), QVX_OK);
    for (int32_t k = 0; k < c.channels; ++k) ASSERT_EQ(Add_DA_Channel_to_ScanList(k % 4), QVX_OK);
    ASSERT_EQ(FinalInit(), QVX_OK);
    EXPECT_EQ(room(), c.frames);
    if (c.block == 0) continue;
    const std::vector<uint16_t> codes(static_cast<size_t>(c.block) + 8, 100);
    int32_t frames = c.block + 8;
    ASSERT_EQ(kestro_sim_set_da_queue(0, c.block - 1), 0);
    ASSERT_EQ(qvx_test::All({PutBinaryData(codes.data(), 1, &frames, 0), StartDAOutput()}), QVX_OK);
    ASSERT_TRUE(WaitFor([&] { return passes() >= 20; }));
    EXPECT_EQ(sent(), 0u);
    EXPECT_EQ(room(), c.frames - c.block - 8);
    ASSERT_EQ(kestro_sim_set_da_queue(0, c.block), 0);
    ASSERT_TRUE(WaitFor([&] { return sent() == 1; }));
    const uint32_t seen = passes();
    ASSERT_TRUE(WaitFor([&] { return passes() >= seen + 20; }));
    EXPECT_EQ(sent(), 1u);
    EXPECT_EQ(room(), c.frames - 8);
    EXPECT_EQ(StopDAOutput(), QVX_OK);
  }
}

}  // namespace

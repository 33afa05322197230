// White-box checks of the streaming calls: what lands in DaRing, the room
// figure, and the worker's whole-block rule.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "engine/conversions.h"
#include "frame/call.h"
#include "frame/card_state.h"
#include "frame/driver.h"
#include "support.h"

namespace qvx {
namespace {

using qvx_test::WaitFor;

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
}

// With the list emptied after FinalInit the worker counts the room in codes,
// and still sends whole blocks only: a ring of 31 codes is never sent. (The
// whole-block rule with a listed output is OutputSetUp's.)
TEST_F(DaStreamTest, AnEmptiedListStillSendsWholeBlocks) {
  const std::vector<uint16_t> codes(31, 5);
  const auto passes = [] { return kestro_sim_call_count("ZQ7_DA_GetStatus"); };
  SetUpOutput(1);
  int32_t frames = 31;
  ASSERT_EQ(PutBinaryData(codes.data(), 1, &frames, 0), QVX_OK);
  c.DaChannelCount = 0;
  // A start would refuse the empty list: the module is started by hand.
  ASSERT_EQ(drv::ZQ7_DA_Start(0), 0);
  SetRunState(c, c.DaRunState, 1);
  const uint32_t start = passes();
  ASSERT_TRUE(WaitFor([&] { return passes() >= start + 20; }));
  EXPECT_EQ(kestro_sim_call_count("ZQ7_DA_PutData"), 0u);
  {
    MutexGuard lock(c.DaMutex, nullptr);
    RingWrite16(&c.DaRing, codes.data(), 1);
  }
  ASSERT_TRUE(WaitFor([] { return kestro_sim_call_count("ZQ7_DA_PutData") == 1; }));
  ASSERT_TRUE(WaitFor([&] {
    MutexGuard lock(c.DaMutex, nullptr);
    return c.DaStatus.word[1] == 3000;
  }));
  ASSERT_EQ(StopDAOutput(), QVX_OK);
}

}  // namespace
}  // namespace qvx

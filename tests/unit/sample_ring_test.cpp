#include "engine/sample_ring.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace qvx {
namespace {

// Writes and reads of a ring of 8 in turn, with the indices, the wrap flag,
// the count and the elements read after each step.
TEST(Ring, IndicesFollowWritesAndReadsAcrossTheEnd) {
  SampleRing ring;
  EXPECT_EQ(RingFreeSpace(&ring), 0);  // no storage yet
  EXPECT_EQ(RingFree<std::uint16_t>(nullptr), 0);
  EXPECT_EQ(RingFree(&ring), 1);  // nothing to free
  ASSERT_EQ(RingInit16(&ring, 8), 1);
  std::vector<std::uint16_t> source(8);
  std::iota(source.begin(), source.end(), std::uint16_t{100});
  const struct {
    std::int32_t write, read;  // elements, one of them 0
    std::int32_t result, read_index, write_index, wrap, count;
    std::vector<std::uint16_t> out;
  } steps[] = {
      {6, 0, 6, 0, 6, 0, 6, {}},
      {0, 4, 4, 4, 6, 0, 2, {100, 101, 102, 103}},
      {5, 0, 5, 4, 3, 1, 7, {}},  // 2 at the end, 3 at the start
      {2, 0, 1, 4, 3, 1, 7, {}},  // refused: callers decide by the free space
      {0, 7, 7, 3, 3, 0, 0, {104, 105, 100, 101, 102, 103, 104}},
      {5, 0, 5, 3, 8, 0, 5, {}},  // up to the end exactly
      {0, 5, 5, 8, 8, 0, 0, {100, 101, 102, 103, 104}},
      {2, 0, 2, 8, 2, 1, 2, {}},  // from element 0 again
      {0, 2, 2, 2, 2, 0, 0, {100, 101}},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(testing::Message() << "write " << s.write << " read " << s.read);
    std::vector<std::uint16_t> out(s.read);
    EXPECT_EQ(s.write > 0 ? RingWrite16(&ring, source.data(), s.write)
                          : RingRead16(&ring, s.read, out.data()),
              s.result);
    EXPECT_EQ(ring.read_index, s.read_index);
    EXPECT_EQ(ring.write_index, s.write_index);
    EXPECT_EQ(ring.wrap, s.wrap);
    EXPECT_EQ(RingCount(&ring), s.count);
    EXPECT_EQ(RingFreeSpace(&ring), 8 - s.count);
    EXPECT_EQ(out, s.out);
  }
  EXPECT_EQ(RingWrite16(&ring, nullptr, 0), 0);
  EXPECT_EQ(RingFree(&ring), 1);
  EXPECT_EQ(ring.capacity, 0);
  EXPECT_EQ(RingFreeSpace(&ring), 0);
}

}  // namespace
}  // namespace qvx

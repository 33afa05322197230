#include "engine/sample_ring.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace qvx {
namespace {

std::vector<std::uint16_t> Sequence(int n, int first) {
  std::vector<std::uint16_t> v(n);
  std::iota(v.begin(), v.end(), static_cast<std::uint16_t>(first));
  return v;
}

class RingTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(RingInit16(&ring_, 8), 1); }
  void TearDown() override { RingFree(&ring_); }
  SampleRing ring_;
};

TEST_F(RingTest, WrappedWriteAndReadFollowTheIndices) {
  auto first = Sequence(6, 0);
  ASSERT_EQ(RingWrite16(&ring_, first.data(), 6), 6);
  std::uint16_t out[8];
  ASSERT_EQ(RingRead16(&ring_, 4, out), 4);
  EXPECT_EQ(RingFreeSpace(&ring_), 6);

  auto second = Sequence(5, 100);  // 2 at the end, 3 at the start
  ASSERT_EQ(RingWrite16(&ring_, second.data(), 5), 5);
  EXPECT_EQ(ring_.write_index, 3);
  EXPECT_EQ(ring_.wrap, 1);
  EXPECT_EQ(RingCount(&ring_), 7);

  ASSERT_EQ(RingRead16(&ring_, 7, out), 7);
  EXPECT_EQ(ring_.read_index, 3);
  EXPECT_EQ(ring_.wrap, 0);
  EXPECT_EQ(RingCount(&ring_), 0);
  const std::uint16_t expected[] = {4, 5, 100, 101, 102, 103, 104};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(out[i], expected[i]) << i;
}

TEST_F(RingTest, FullRingRefusesAndRestartsAtElementZero) {
  auto eight = Sequence(8, 1);
  ASSERT_EQ(RingWrite16(&ring_, eight.data(), 8), 8);
  EXPECT_EQ(ring_.write_index, 8);
  EXPECT_EQ(ring_.wrap, 0);
  EXPECT_EQ(RingFreeSpace(&ring_), 0);
  // A refused write and a write of one element both return 1: callers decide
  // by the free space.
  EXPECT_EQ(RingWrite16(&ring_, eight.data(), 1), 1);
  EXPECT_EQ(RingCount(&ring_), 8);

  std::uint16_t out[8];
  ASSERT_EQ(RingRead16(&ring_, 8, out), 8);
  EXPECT_EQ(ring_.read_index, 8);
  auto two = Sequence(2, 50);
  ASSERT_EQ(RingWrite16(&ring_, two.data(), 2), 2);
  EXPECT_EQ(ring_.write_index, 2);
  EXPECT_EQ(ring_.wrap, 1);
  ASSERT_EQ(RingRead16(&ring_, 2, out), 2);
  EXPECT_EQ(out[0], 50);
  EXPECT_EQ(out[1], 51);
}

TEST(RingEdges, NullSourceNullBufferAndExactFit) {
  SampleRing ring;
  EXPECT_EQ(RingFreeSpace(&ring), 0);  // no storage yet
  EXPECT_EQ(RingFree<std::uint16_t>(nullptr), 0);
  EXPECT_EQ(RingFree(&ring), 1);
  ASSERT_EQ(RingInit16(&ring, 4), 1);
  EXPECT_EQ(RingWrite16(&ring, nullptr, 0), 0);
  auto four = Sequence(4, 7);
  EXPECT_EQ(RingWrite16(&ring, four.data(), 4), 4);
  EXPECT_EQ(RingFreeSpace(&ring), 0);
  EXPECT_EQ(RingFree(&ring), 1);
  EXPECT_EQ(ring.capacity, 0);
  EXPECT_EQ(RingCount(&ring), 0);
}

}  // namespace
}  // namespace qvx

// White-box checks of the single-value analog calls with module counts the
// simulated catalogue does not offer.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "frame/call.h"
#include "frame/card_state.h"
#include "support.h"

namespace qvx {
namespace {

class SingleIoTest : public qvx_test::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_EQ(OpenCard(2), QVX_OK);
    kestro_sim_log_clear();
  }
  CardState& card() { return g_cards[2]; }
};

TEST_F(SingleIoTest, OddInputCountHalvesTowardZeroInDifferentialMode) {
  card().ModuleInfo.bytes[140] = 5;
  uint32_t b = 0;
  EXPECT_EQ(CaptureOneChannel(1, 1, 0, nullptr, &b), QVX_OK);
  EXPECT_EQ(CaptureOneChannel(2, 1, 0, nullptr, &b), QVX_ARGUMENT);
  EXPECT_EQ(card().ErrorLatch.load(), 1);
}

}  // namespace
}  // namespace qvx

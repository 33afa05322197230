// Card lifecycle through the library as an application uses it.
#include <gtest/gtest.h>

#include "support.h"

namespace {

using LifecycleApi = qvx_test::SimTest;

// One worker per open card, also when a card is opened again; closing joins
// it, and many open/close cycles leave no thread and no handle behind. The
// thread count is unknown under Wine (-1), where only the handles count.
TEST_F(LifecycleApi, WorkersEndWithTheirCards) {
#if defined(__linux__)
  const auto threads = [] { return qvx_test::ProcStatus("Threads:"); };
#else
  const auto threads = [] { return int64_t{-1}; };  // Wine's /proc does not count them
#endif
  // The sanitizers start helper threads of their own on first use.
  ASSERT_EQ(qvx_test::All({OpenCard(15), CloseCard(15)}), QVX_OK);
  const int64_t before = threads();
  ASSERT_EQ(qvx_test::All({OpenCard(0), OpenCard(1), OpenCard(1)}), QVX_OK);
  EXPECT_EQ(threads(), before < 0 ? before : before + 2);
  const uint32_t opens = kestro_sim_call_count("ZQ7_CreateSimpleHandle");
  kestro_sim_log_enable(0);
  const int cycles = qvx_test::kSanitized ? 300 : 1000;
  for (int i = 0; i < cycles; ++i) {
    ASSERT_EQ(OpenCard(i % QVX_MAX_CARDS), QVX_OK);
    ASSERT_EQ(CloseCard(i % QVX_MAX_CARDS), QVX_OK);
  }
  EXPECT_EQ(kestro_sim_call_count("ZQ7_CreateSimpleHandle"), opens + static_cast<uint32_t>(cycles));
  // A joined thread may stay listed for a moment.
  EXPECT_TRUE(qvx_test::WaitFor([&] { return threads() == before; })) << threads();
}

}  // namespace

// Card lifecycle through the library as an application uses it.
#include <gtest/gtest.h>

#include <string>

#include "support.h"

#if defined(__linux__)
#include <dirent.h>
#endif

namespace {

// Threads of this process, where the system can tell (-1 elsewhere).
int ThreadCount() {
#if defined(__linux__)
  int count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(tasks)) {
      if (entry->d_name[0] != '.') ++count;
    }
    closedir(tasks);
  }
  return count;
#else
  return -1;
#endif
}

class LifecycleApi : public qvx_test::SimTest {
 protected:
  // Threads of the process once a card has been opened and closed: the
  // sanitizers start helper threads of their own on first use.
  int SettledThreadCount() {
    OpenCard(15);
    CloseCard(15);
    return ThreadCount();
  }
};

TEST_F(LifecycleApi, WorkersEndWithTheirCards) {
  const int before = SettledThreadCount();
  if (before < 0) GTEST_SKIP() << "thread count unknown on this system";
  ASSERT_EQ(OpenCard(0), QVX_OK);
  ASSERT_EQ(OpenCard(1), QVX_OK);
  EXPECT_EQ(ThreadCount(), before + 2);
  ASSERT_EQ(OpenCard(1), QVX_OK);  // reopening keeps one worker per card
  EXPECT_EQ(ThreadCount(), before + 2);
  EXPECT_EQ(CloseCard(0), QVX_OK);
  EXPECT_EQ(CloseCard(1), QVX_OK);
  // A joined thread may stay listed for a moment.
  EXPECT_TRUE(qvx_test::WaitFor([&] { return ThreadCount() == before; })) << ThreadCount();
}

TEST_F(LifecycleApi, ManyOpenCloseCyclesLeaveNothingBehind) {
  const int before = SettledThreadCount();
  const uint32_t opens = kestro_sim_call_count("ZQ7_CreateSimpleHandle");
  kestro_sim_log_enable(0);
  const int cycles = qvx_test::kSanitized ? 300 : 1000;
  for (int i = 0; i < cycles; ++i) {
    ASSERT_EQ(OpenCard(i % QVX_MAX_CARDS), QVX_OK);
    ASSERT_EQ(CloseCard(i % QVX_MAX_CARDS), QVX_OK);
  }
  EXPECT_TRUE(qvx_test::WaitFor([&] { return ThreadCount() == before; })) << ThreadCount();
  EXPECT_EQ(kestro_sim_call_count("ZQ7_CreateSimpleHandle"), opens + static_cast<uint32_t>(cycles));
}

}  // namespace

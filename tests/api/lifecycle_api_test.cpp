// Card lifecycle through the library as an application uses it.
#include <gtest/gtest.h>

#include <string>

#include "support.h"

#if defined(__linux__)
#include <dirent.h>
#endif

namespace {

using qvx_test::CallLog;

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

TEST_F(LifecycleApi, OutOfRangeCardNumbersTouchNothing) {
  for (int32_t card : {-1, 16, 1000}) {
    EXPECT_EQ(LoadCard(card), QVX_ARGUMENT);
    EXPECT_EQ(OpenCard(card), QVX_ARGUMENT);
    EXPECT_EQ(SwitchCard(card), QVX_ARGUMENT);
    EXPECT_EQ(CloseCard(card), QVX_ARGUMENT);
  }
  EXPECT_EQ(LoadCard(0), QVX_OK);
  EXPECT_EQ(LoadCard(15), QVX_OK);
  EXPECT_EQ(kestro_sim_log_size(), 0u);
}

TEST_F(LifecycleApi, OpenAndCloseOwnTheDriverHandle) {
  ASSERT_EQ(OpenCard(0), QVX_OK);
  EXPECT_EQ(kestro_sim_is_open(0), 1);
  EXPECT_EQ(CloseCard(0), QVX_OK);
  EXPECT_EQ(kestro_sim_is_open(0), 0);
  EXPECT_EQ(CallLog().back(), "ZQ7_CloseSimpleHandle(0)");
}

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
  EXPECT_EQ(ThreadCount(), before);
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
  EXPECT_EQ(ThreadCount(), before);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_CreateSimpleHandle"), opens + static_cast<uint32_t>(cycles));
}

TEST_F(LifecycleApi, InjectedHandleFailureLatchesUntilASuccessfulOpen) {
  kestro_sim_fail("ZQ7_CreateSimpleHandle", 0, 1);
  EXPECT_EQ(OpenCard(2), QVX_FAILURE);
  EXPECT_EQ(SwitchCard(2), QVX_FAILURE);
  EXPECT_EQ(OpenCard(2), QVX_OK);
  EXPECT_EQ(SwitchCard(2), QVX_OK);
}

}  // namespace

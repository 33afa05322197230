#include "platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace qvx {
namespace {

TEST(Event, KeepsOneWakeUpUntilAWaitTakesIt) {
  platform::Event* event = platform::EventCreate();
  ASSERT_NE(event, nullptr);
  EXPECT_FALSE(platform::EventWait(event, 1));
  platform::EventSet(event);
  platform::EventSet(event);
  EXPECT_TRUE(platform::EventWait(event, 0));
  EXPECT_FALSE(platform::EventWait(event, 0));
  std::thread waiter([&] { EXPECT_TRUE(platform::EventWait(event, platform::kWaitForever)); });
  platform::SleepMs(10);
  platform::EventSet(event);
  waiter.join();
  platform::EventClose(event);
}

// An entry that runs until it is let go.
struct Held {
  std::atomic<bool> began{false};
  std::atomic<bool> let_go{false};
  std::atomic<bool> ended{false};
};

void HeldEntry(void* arg) {
  auto* held = static_cast<Held*>(arg);
  held->began = true;
  while (!held->let_go) platform::SleepMs(1);
  held->ended = true;
}

// The unload waits for workers with a bound; one that outlasts it is given
// up and releases itself when its entry returns (the sanitizers watch that).
TEST(Thread, BoundedWaitThenReleaseOrAbandon) {
  for (const bool abandon : {false, true}) {
    SCOPED_TRACE(abandon ? "abandon" : "release");
    Held held;
    platform::Thread* thread = platform::ThreadStart(&HeldEntry, &held);
    ASSERT_NE(thread, nullptr);
    while (!held.began) platform::SleepMs(1);
    EXPECT_FALSE(platform::ThreadWait(thread, 20));
    if (abandon) platform::ThreadAbandon(thread);
    held.let_go = true;
    if (abandon) {
      for (int i = 0; i < 10000 && !held.ended; ++i) platform::SleepMs(1);
    } else {
      EXPECT_TRUE(platform::ThreadWait(thread, 10000));
      platform::ThreadRelease(thread);
    }
    EXPECT_TRUE(held.ended);
  }
}

}  // namespace
}  // namespace qvx

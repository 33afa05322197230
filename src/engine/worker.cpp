#include "engine/worker.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "engine/staging.h"
#include "frame/call.h"
#include "frame/driver.h"

namespace qvx {

namespace {

// After a wait that did not get the mutex the pass starts again at once (the
// wait itself took its second), skipping the rest of the pass. A card without
// a mutex (it could not be made) pauses first instead of spinning. Returns
// false, the halves' "restart the pass".
bool RestartPass(const platform::Mutex* mutex) {
  if (mutex == nullptr) platform::SleepMs(kIdlePauseMs);
  return false;
}

void ReadCountersLocked(std::int32_t card, CardState& c, std::int32_t per_poll);

// Marks a half that was switched off (`run_state` below 1) as seen idle. Only
// the state seen is replaced: a start that lands between the load and the
// store keeps its 1 instead of being overwritten with -1. A stop waiting for
// this hears of it at once.
void Acknowledge(CardState& c, std::atomic<std::int32_t>& run_state, std::int32_t seen) {
  if (seen == -1 || !run_state.compare_exchange_strong(seen, -1)) return;
  if (c.WorkerAck != nullptr) platform::EventSet(c.WorkerAck);
}

// The worker's pauses end early when the application wakes it (at every
// change of a run state from its side, and at the request to end), so a
// pause never delays a start, a stop's acknowledgement or the end.
void Pause(const CardState& c, std::uint32_t ms) {
  if (c.WorkerWake == nullptr) {
    platform::SleepMs(ms);
  } else {
    platform::EventWait(c.WorkerWake, ms);
  }
}

void CloseWorkerEvents(CardState& c) {
  platform::EventClose(c.WorkerWake);
  platform::EventClose(c.WorkerAck);
  c.WorkerWake = nullptr;
  c.WorkerAck = nullptr;
}

// Acquisition half. Returns false when the pass must restart at once (the
// mutex could not be had).
bool AcquisitionHalf(std::int32_t card, CardState& c) {
  if (const std::int32_t state = c.AdRunState.load(); state < 1) {
    Acknowledge(c, c.AdRunState, state);
    return true;
  }
  MutexGuard lock(c.AdMutex, "AdThread", c.AdRunState);
  if (!lock.owned()) return RestartPass(c.AdMutex);
  // A stop may have had the mutex meanwhile: it switches the half off under
  // it and frees the staging buffers once it has let go, without waiting for
  // an acknowledgement when the latch is set. The next pass acknowledges.
  if (c.AdRunState.load() < 1) return true;

  const std::int32_t per_poll = c.ValuesPerPoll.load();
  std::int32_t count = per_poll;
  if (drv::ZQ7_AD_ReadData_MixedChannels(card, &count) != 0) {
    c.ErrorLatch.store(1);
    c.AdRunState.store(0);
  }
  // The counter read runs whether or not the fetch failed. Without a
  // counter buffer (before FinalInit, after a stop), or when a poll's worth
  // of the counter list as the driver may deliver it does not fit the
  // buffer, there is nowhere to put it. A poll of 0 scans (no rate set) asks
  // the driver all the same and changes no value.
  if (c.CtPollEnable.load() == 1) ReadCountersLocked(card, c, per_poll);
  lock.Release();
  if (c.DaRunState.load() < 1) Pause(c, kAcquisitionPauseMs);
  return true;
}

// The counter read of a poll. REQUIRES: the caller owns AdMutex.
void ReadCountersLocked(std::int32_t card, CardState& c, std::int32_t per_poll) {
  std::lock_guard<std::mutex> staging(c.Staging.lock);
  std::uint32_t* const buffer = c.CtBuffer;
  const std::int32_t counters = c.CtChannelCount.load();
  if (buffer != nullptr && per_poll >= 0 && per_poll <= FifoRoom(c, kCounterFifo)) {
    if (drv::ZQ7_CT_GetDataFromFifo(card, per_poll, buffer) == 0 && per_poll > 0) {
      const std::uint32_t* last = buffer + static_cast<std::size_t>(per_poll - 1) * counters;
      for (std::int32_t k = 0; k < counters && k < kCounterSlots; ++k) {
        const auto scale = static_cast<std::uint32_t>(c.CounterScale[k].load());
        c.CounterValue[k].store(last[k] * scale);
      }
    }
  }
}

// Output half. Returns false when the pass must restart at once.
bool OutputHalf(std::int32_t card, CardState& c, std::uint16_t* transfer) {
  if (const std::int32_t state = c.DaRunState.load(); state < 1) {
    Acknowledge(c, c.DaRunState, state);
    return true;
  }
  MutexGuard lock(c.DaMutex, "DaThread", c.DaRunState);
  if (!lock.owned()) return RestartPass(c.DaMutex);

  const KestroDaStatus status = drv::ZQ7_DA_GetStatus(card);
  if (status.word[0] == 0) {
    c.DaRunState.store(0);
    return false;
  }
  const std::int32_t block = c.DaBlockSize.load();
  const bool whole_block =
      block > 0 && block <= kMaxDaBlock && RingCount(&c.DaRing) >= block && status.word[1] >= block;
  if (!whole_block) {
    lock.Release();
    // Nothing to send: a short pause keeps the loop from spinning a core. The
    // start chose it so that the module outputs at most a quarter of a block
    // meanwhile.
    const std::int32_t pause = c.DaFeedPauseMs.load();
    Pause(c, static_cast<std::uint32_t>(
                 pause >= kMinFeedPauseMs && pause <= kMaxFeedPauseMs ? pause : kMinFeedPauseMs));
    return true;
  }
  RingRead16(&c.DaRing, block, transfer);
  c.DaStatus = status;
  const std::int32_t channels = c.DaChannelCount.load();
  // An output list that was emptied after FinalInit has no frame width; the
  // room is then reported in codes.
  c.DaStatus.word[1] = RingFreeSpace(&c.DaRing) / (channels > 0 ? channels : 1);
  lock.Release();
  if (drv::ZQ7_DA_PutData(card, transfer, block) != 0) {
    c.ErrorLatch.store(1);
    c.DaRunState.store(0);
  }
  return true;
}

// After a pass that found both halves off, the worker sleeps until the
// application wakes it. Where no wake-up can be had it pauses instead.
void IdleWait(const CardState& c) {
  Pause(c, c.WorkerWake == nullptr ? kIdlePauseMs : platform::kWaitForever);
}

}  // namespace

void WorkerPass(std::int32_t card, std::uint16_t* transfer) {
  CardState& c = g_cards[card];
  // A half that could not have its mutex restarts the pass at once.
  if (AcquisitionHalf(card, c)) OutputHalf(card, c, transfer);
}

void CardWorker(void* arg) {
  const auto card = static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(arg));
  const CardState& c = g_cards[card];
  std::uint16_t transfer[kMaxDaBlock];
  while (!c.WorkerStop.load()) {
    WorkerPass(card, transfer);
    // Only a pass that found both halves off and acknowledged them leads to
    // the idle wait: a half switched off while the pass ran is acknowledged
    // by the next pass at once.
    if (c.AdRunState.load() < 0 && c.DaRunState.load() < 0) IdleWait(c);
  }
}

bool AwaitAcknowledgement(const CardState& c, const std::atomic<std::int32_t>& run_state,
                          StopWait wait) {
  if (c.WorkerThread == nullptr) return false;
  // The worker signals WorkerAck as it acknowledges; waiting in slices of
  // 1 ms also sees a latch.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopAckLimitMs);
  while (run_state.load() != -1) {
    if (wait == StopWait::kAcknowledgementOrLatch && Latched(c)) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (c.WorkerAck == nullptr) {
      platform::SleepMs(1);
    } else {
      platform::EventWait(c.WorkerAck, 1);
    }
  }
  return true;
}

void StartWorker(std::int32_t card) {
  CardState& c = g_cards[card];
  c.WorkerStop.store(false);
  c.WorkerWake = platform::EventCreate();
  c.WorkerAck = platform::EventCreate();
  c.WorkerThread =
      platform::ThreadStart(&CardWorker, reinterpret_cast<void*>(static_cast<std::intptr_t>(card)));
  c.WorkerThreadId = platform::ThreadId(c.WorkerThread);
  if (c.WorkerThread == nullptr) CloseWorkerEvents(c);
}

void StopWorker(std::int32_t card) {
  CardState& c = g_cards[card];
  if (c.WorkerThread == nullptr) return;
  c.WorkerStop.store(true);
  if (c.WorkerWake != nullptr) platform::EventSet(c.WorkerWake);
  platform::ThreadJoin(c.WorkerThread);
  c.WorkerThread = nullptr;
  CloseWorkerEvents(c);
}

bool StopAllWorkers() {
  for (CardState& c : g_cards) {
    if (c.WorkerThread == nullptr) continue;
    c.WorkerStop.store(true);
    // A worker waiting for a mutex gives up at once; one between passes
    // calls the driver no more; one asleep is woken.
    SetRunState(c, c.AdRunState, 0);
    SetRunState(c, c.DaRunState, 0);
  }
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kUnloadWaitMs);
  bool all_ended = true;
  for (std::int32_t card = 0; card < kMaxCards; ++card) {
    CardState& c = g_cards[card];
    if (c.WorkerThread == nullptr) continue;
    const auto left = std::max(deadline - Clock::now(), Clock::duration::zero());
    const auto left_ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    if (platform::ThreadWait(c.WorkerThread, static_cast<std::uint32_t>(left_ms))) {
      platform::ThreadRelease(c.WorkerThread);
      CloseWorkerEvents(c);
    } else {
      // Its events stay: the worker may still wait on one.
      platform::ThreadAbandon(c.WorkerThread);
      all_ended = false;
      char message[128];
      std::snprintf(message, sizeof message,
                    "quorvex: the worker of card %d did not stop within %u ms; the driver library "
                    "stays loaded\n",
                    static_cast<int>(card), static_cast<unsigned>(kUnloadWaitMs));
      platform::DebugOutput(message);
    }
    c.WorkerThread = nullptr;
  }
  return all_ended;
}

}  // namespace qvx

// CardWorker: the background thread of an open card.
//
// Its acquisition half asks the driver, pass after pass, to fetch the
// module's mixed data into the driver's FIFOs (and reads the newest counter
// values when asked); its output half feeds the module from DaRing in whole
// blocks whenever the module has room. The run states switch the halves on
// and off: 1 on, 0 off, -1 off and seen idle by the worker.
#pragma once

#include <cstdint>

#include "frame/card_state.h"

namespace qvx {

// Largest output block a module takes (high-speed modules).
constexpr std::int32_t kMaxDaBlock = 256;
// Pauses of the worker loop: after a fetch while output is off, and between
// idle passes of a worker that has no wake-up event (it normally sleeps
// until woken while both halves are off).
constexpr std::uint32_t kAcquisitionPauseMs = 1;
constexpr std::uint32_t kIdlePauseMs = 6;
// Bounds of the pause of an output pass that sends nothing (DaFeedPauseMs).
constexpr std::int32_t kMinFeedPauseMs = 1;
constexpr std::int32_t kMaxFeedPauseMs = 5;

// Longest time a stop waits for the worker's acknowledgement. The worker's
// own mutex waits give up as soon as they see their half switched off, so the
// acknowledgement comes within a pass; the limit only guards against a
// driver call that hangs.
constexpr std::uint32_t kStopAckLimitMs = 5000;

// What ends a stop's wait for the worker besides its acknowledgement.
enum class StopWait {
  kAcknowledgementOrLatch,  // a latch the worker sets ends it too
  kAcknowledgementOnly,
};

// After a stop switched a half off (`run_state` 0): waits until the worker
// acknowledges it (-1), the wait's other end comes, or kStopAckLimitMs pass.
// Returns whether the worker acknowledged. A card without a worker
// acknowledges nothing: returns false at once.
bool AwaitAcknowledgement(const CardState& card, const std::atomic<std::int32_t>& run_state,
                          StopWait wait);

// Thread entry; `arg` carries the card number.
void CardWorker(void* arg);

// One pass of the loop, without the idle wait (exposed for tests that step
// the worker by hand).
void WorkerPass(std::int32_t card, std::uint16_t* transfer);

// Starts the card's worker thread with its wake-up events and keeps its
// handle and id.
void StartWorker(std::int32_t card);
// Asks the card's worker to stop (waking it), waits until it has ended and
// forgets its handle and events. Does nothing when the card has no worker.
void StopWorker(std::int32_t card);
// Longest wait of StopAllWorkers, in ms.
constexpr std::uint32_t kUnloadWaitMs = 2000;

// At unload: asks every card's worker to stop and switches its halves off,
// then waits for all of them together, at most kUnloadWaitMs. A worker that
// has not reached its loop yet is not waited for. A worker still running
// when the wait runs out (inside a driver call) is left to end by itself,
// and its card is reported on the debugger output. Returns true when every
// worker has ended.
bool StopAllWorkers();

}  // namespace qvx

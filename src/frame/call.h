// The pattern every export follows: trace line, card number, error latch,
// arguments, driver call, status. These helpers keep each export a few lines
// that read like its algorithm.
#pragma once

#include <atomic>
#include <cstdint>

#include "frame/card_state.h"
#include "platform/platform.h"

#if defined(__GNUC__)
#define QVX_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define QVX_PRINTF(fmt, args)
#endif

namespace qvx {

// Size of LastCallTrace, the trace line of the latest traced call.
constexpr std::size_t kTraceSize = 500;

// Formats the trace line of the call into LastCallTrace. Every traced export
// calls it first, before any check, so a refused call leaves its line too.
void Trace(const char* format, ...) QVX_PRINTF(1, 2);
// Copies LastCallTrace (for diagnostics and tests).
void CopyLastCallTrace(char* out, std::size_t size);

inline bool CardInRange(std::int32_t card) {
  return card >= 0 && card < kMaxCards;
}
inline std::int32_t CurrentCardNumber() {
  return static_cast<std::int32_t>(CurrentCard.load(std::memory_order_relaxed));
}
inline CardState& CurrentState() {
  return g_cards[CurrentCardNumber()];
}
inline bool Latched(const CardState& card) {
  return card.ErrorLatch.load() != 0;
}
// What the retrieval and buffer-status calls return on a latched card: the
// latch value itself. 0 while the latch is clear.
inline std::int32_t LatchValue(const CardState& card) {
  return card.ErrorLatch.load();
}

// Latches the card and returns the status for a refused argument (2).
inline std::int32_t Refuse(CardState& card) {
  card.ErrorLatch.store(1);
  return kArgument;
}
// Latches the card and returns the status for a driver failure (1).
inline std::int32_t Fail(CardState& card) {
  card.ErrorLatch.store(1);
  return kFailure;
}

// Time limit of every wait for a card's mutexes.
constexpr std::uint32_t kMutexWaitMs = 1000;

// Sends the wait message of a timed-out wait: the label, " WAIT_TIMEOUT" and
// a line feed.
void ReportWaitTimeout(const char* label);

// Holds one of a card's mutexes for a scope. The wait is bounded; when it
// times out its label goes to the debugger output and the guard does not own
// the mutex, so the guarded work must be skipped (see docs/behaviour.md). A
// null label sends no message. A card that has no mutex (never opened) is
// treated like a timed-out wait, without a message.
class MutexGuard {
 public:
  MutexGuard(platform::Mutex* mutex, const char* label);
  // The worker's wait: the same bound and message, but it gives up early and
  // silently once `run_state` drops below 1 (its half was switched off while
  // it waited), so that a stop never has to wait out the worker's wait.
  MutexGuard(platform::Mutex* mutex, const char* label, const std::atomic<std::int32_t>& run_state);
  ~MutexGuard();
  MutexGuard(const MutexGuard&) = delete;
  MutexGuard& operator=(const MutexGuard&) = delete;

  bool owned() const { return owned_; }
  // Releases early; the destructor then does nothing.
  void Release();

 private:
  platform::Mutex* mutex_;
  bool owned_ = false;
};

}  // namespace qvx

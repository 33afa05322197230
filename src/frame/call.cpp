#include "frame/call.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace qvx {

namespace {
char LastCallTrace[kTraceSize];
// Calls from several threads may each leave their line; the lock only keeps
// one line from being written over another half-way.
std::mutex g_trace_lock;
}  // namespace

void Trace(const char* format, ...) {
  std::lock_guard<std::mutex> guard(g_trace_lock);
  va_list args;
  va_start(args, format);
  std::vsnprintf(LastCallTrace, sizeof LastCallTrace, format, args);
  va_end(args);
}

void CopyLastCallTrace(char* out, std::size_t size) {
  if (out == nullptr || size == 0) return;
  std::lock_guard<std::mutex> guard(g_trace_lock);
  std::snprintf(out, size, "%s", LastCallTrace);
}

void ReportWaitTimeout(const char* label) {
  char message[128];
  std::snprintf(message, sizeof message, "%s WAIT_TIMEOUT\n", label);
  platform::DebugOutput(message);
}

MutexGuard::MutexGuard(platform::Mutex* mutex, const char* label) : mutex_(mutex) {
  if (mutex_ == nullptr) return;
  if (platform::MutexWait(mutex_, kMutexWaitMs) == platform::WaitResult::kOwned) {
    owned_ = true;
  } else if (label != nullptr) {
    ReportWaitTimeout(label);
  }
}

MutexGuard::MutexGuard(platform::Mutex* mutex, const char* label,
                       const std::atomic<std::int32_t>& run_state)
    : mutex_(mutex) {
  if (mutex_ == nullptr) return;
  // A stop holds the mutex the worker waits for until the worker has
  // acknowledged, so the worker looks at its half every millisecond.
  constexpr std::uint32_t kSliceMs = 1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kMutexWaitMs);
  for (;;) {
    if (platform::MutexWait(mutex_, kSliceMs) == platform::WaitResult::kOwned) {
      owned_ = true;
      return;
    }
    if (run_state.load() < 1) return;
    if (std::chrono::steady_clock::now() >= deadline) break;
  }
  if (label != nullptr) ReportWaitTimeout(label);
}

MutexGuard::~MutexGuard() {
  Release();
}

void MutexGuard::Release() {
  if (owned_) platform::MutexRelease(mutex_);
  owned_ = false;
}

}  // namespace qvx

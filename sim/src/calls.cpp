// Call accounting shared by every entry point: per-entry counters, the call
// log and injected delays and results.
//
// Counters are atomics; the log ring and the injection table share one
// mutex. A call formats its log line on its own stack and only copies it in
// under the lock, and skips the lock entirely while nothing is injected.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "entries.h"
#include "kestro_sim.h"
#include "sim_card.h"

namespace ksim {
namespace {

constexpr const char* kEntryNames[] = {
#define KSIM_NAME(required, result, name, params, args, missing) #name,
    KESTRO_ENTRIES(KSIM_NAME)
#undef KSIM_NAME
};
static_assert(sizeof kEntryNames / sizeof kEntryNames[0] == kEntryCount);
static_assert(KESTRO_SIM_ENTRY_COUNT == kEntryCount);

constexpr std::uint32_t kLogCapacity = KESTRO_SIM_LOG_CAPACITY;

struct Injection {
  std::int32_t result = 0;
  std::int32_t times = 0;  // < 0: every call
  std::uint32_t delay_ms = 0;
};

std::atomic<std::uint32_t> g_counts[kEntryCount];
std::atomic<bool> g_log_enabled{true};
// Number of entries with an injected result or delay; 0 skips the lock.
std::atomic<int> g_armed{0};

std::mutex g_mutex;
Injection g_injections[kEntryCount];
char g_log[kLogCapacity][LogLine::kSize];
std::uint16_t g_log_length[kLogCapacity];
std::uint32_t g_log_next = 0;  // slot the next line goes to
std::uint32_t g_log_size = 0;

// Call with g_mutex held.
void UpdateArmed() {
  int armed = 0;
  for (const Injection& injection : g_injections) {
    if (injection.times != 0 || injection.delay_ms != 0) ++armed;
  }
  g_armed.store(armed, std::memory_order_release);
}

}  // namespace

const char* EntryName(Entry entry) {
  return kEntryNames[static_cast<int>(entry)];
}

int EntryIndex(const char* name) {
  if (name == nullptr) return -1;
  for (int i = 0; i < kEntryCount; ++i) {
    if (std::strcmp(kEntryNames[i], name) == 0) return i;
  }
  return -1;
}

void LogLine::Begin(const char* name) {
  const std::size_t length = std::strlen(name);
  length_ = length < kSize - 2 ? length : kSize - 2;
  std::memcpy(text_, name, length_);
  text_[length_++] = '(';
  text_[length_] = '\0';
  first_ = true;
}

void LogLine::Put(const char* text) {
  const char* separator = first_ ? "" : ", ";
  first_ = false;
  while (*separator != '\0' && length_ + 1 < kSize) text_[length_++] = *separator++;
  while (*text != '\0' && length_ + 1 < kSize) text_[length_++] = *text++;
  text_[length_] = '\0';
}

void LogLine::Arg(std::int32_t value) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%d", static_cast<int>(value));
  Put(digits);
}

void LogLine::Arg(std::uint32_t value) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(value));
  Put(digits);
}

void LogLine::Arg(double value) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%g", value);
  Put(digits);
}

void LogLine::End() {
  if (length_ + 1 < kSize) text_[length_++] = ')';
  text_[length_] = '\0';
}

void CountCall(Entry entry) {
  g_counts[static_cast<int>(entry)].fetch_add(1, std::memory_order_relaxed);
}

bool LogEnabled() {
  return g_log_enabled.load(std::memory_order_relaxed);
}

void LogAppend(const LogLine& line) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::memcpy(g_log[g_log_next], line.text(), line.length() + 1);
  g_log_length[g_log_next] = static_cast<std::uint16_t>(line.length());
  g_log_next = (g_log_next + 1) % kLogCapacity;
  if (g_log_size < kLogCapacity) ++g_log_size;
}

bool Inject(Entry entry, std::int32_t& result) {
  if (g_armed.load(std::memory_order_acquire) == 0) return false;
  std::uint32_t delay_ms = 0;
  bool fail = false;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    Injection& injection = g_injections[static_cast<int>(entry)];
    delay_ms = injection.delay_ms;
    if (injection.times != 0) {
      fail = true;
      result = injection.result;
      if (injection.times > 0 && --injection.times == 0) UpdateArmed();
    }
  }
  if (delay_ms != 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
  return fail;
}

void ResetCalls() {
  for (auto& count : g_counts) count.store(0, std::memory_order_relaxed);
  g_log_enabled.store(true, std::memory_order_relaxed);
  std::lock_guard<std::mutex> lock(g_mutex);
  for (Injection& injection : g_injections) injection = Injection{};
  UpdateArmed();
  g_log_next = 0;
  g_log_size = 0;
}

}  // namespace ksim

using ksim::g_mutex;

extern "C" {

KESTRO_SIM_API int32_t kestro_sim_fail(const char* entry, int32_t result, int32_t times) {
  const int index = ksim::EntryIndex(entry);
  if (index < 0) return -1;
  std::lock_guard<std::mutex> lock(g_mutex);
  ksim::g_injections[index].result = result;
  ksim::g_injections[index].times = times;
  ksim::UpdateArmed();
  return 0;
}

KESTRO_SIM_API int32_t kestro_sim_delay(const char* entry, uint32_t ms) {
  const int index = ksim::EntryIndex(entry);
  if (index < 0) return -1;
  std::lock_guard<std::mutex> lock(g_mutex);
  ksim::g_injections[index].delay_ms = ms;
  ksim::UpdateArmed();
  return 0;
}

KESTRO_SIM_API void kestro_sim_clear_faults(void) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (auto& injection : ksim::g_injections) injection = ksim::Injection{};
  ksim::UpdateArmed();
}

KESTRO_SIM_API uint32_t kestro_sim_call_count(const char* entry) {
  const int index = ksim::EntryIndex(entry);
  return index < 0 ? 0 : ksim::g_counts[index].load(std::memory_order_relaxed);
}

KESTRO_SIM_API uint32_t kestro_sim_log_size(void) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return ksim::g_log_size;
}

KESTRO_SIM_API int32_t kestro_sim_log_entry(uint32_t index, char* text, uint32_t size) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (index >= ksim::g_log_size) return -1;
  const std::uint32_t slot =
      (ksim::g_log_next + ksim::kLogCapacity - ksim::g_log_size + index) % ksim::kLogCapacity;
  const std::uint32_t length = ksim::g_log_length[slot];
  if (text != nullptr && size > 0) {
    const std::uint32_t copied = length < size - 1 ? length : size - 1;
    std::memcpy(text, ksim::g_log[slot], copied);
    text[copied] = '\0';
  }
  return static_cast<int32_t>(length);
}

KESTRO_SIM_API void kestro_sim_log_clear(void) {
  std::lock_guard<std::mutex> lock(g_mutex);
  ksim::g_log_next = 0;
  ksim::g_log_size = 0;
}

KESTRO_SIM_API void kestro_sim_log_enable(int32_t enabled) {
  ksim::g_log_enabled.store(enabled != 0, std::memory_order_relaxed);
}

KESTRO_SIM_API const char* kestro_sim_entry_name(int32_t index) {
  return index >= 0 && index < ksim::kEntryCount ? ksim::kEntryNames[index] : nullptr;
}

}  // extern "C"

// The simulated module's side of the driver interface: one enumerator, one
// implementation and one failure value per entry point of KESTRO_ENTRIES,
// and the prologue every exported entry point runs before its work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "kestrolib.h"

#if defined(_WIN32)
#define KSIM_EXPORT __declspec(dllexport)
#else
#define KSIM_EXPORT __attribute__((visibility("default")))
#endif

namespace ksim {

enum class Entry : int {
#define KSIM_ENUMERATOR(required, result, name, params, args, missing) name,
  KESTRO_ENTRIES(KSIM_ENUMERATOR)
#undef KSIM_ENUMERATOR
};

inline constexpr int kEntryCount = 0
#define KSIM_ONE(required, result, name, params, args, missing) +1
    KESTRO_ENTRIES(KSIM_ONE)
#undef KSIM_ONE
    ;
static_assert(kEntryCount == 54, "the driver has 54 entry points");

const char* EntryName(Entry entry);
// Index of an entry point by its export name, or -1.
int EntryIndex(const char* name);

// What a caller reads as failure, per entry point (the list's last column).
namespace failure {
#define KSIM_FAILURE(required, result, name, params, args, missing) \
  inline constexpr result name = missing;
KESTRO_ENTRIES(KSIM_FAILURE)
#undef KSIM_FAILURE
}  // namespace failure

// The work of each entry point, after the prologue.
namespace drv {
#define KSIM_DECLARE(required, result, name, params, args, missing) result name params;
KESTRO_ENTRIES(KSIM_DECLARE)
#undef KSIM_DECLARE
}  // namespace drv

// One line of the call log, formatted in place.
class LogLine {
 public:
  static constexpr std::size_t kSize = 256;

  void Begin(const char* name);
  void Arg(std::int32_t value);
  void Arg(std::uint32_t value);
  void Arg(double value);
  template <class T>
  void Arg(T* pointer) {
    Put(pointer != nullptr ? "ptr" : "null");
  }
  void End();

  const char* text() const { return text_; }
  std::size_t length() const { return length_; }

 private:
  // Appends `text` after a separator (none before the first argument).
  void Put(const char* text);

  char text_[kSize];
  std::size_t length_ = 0;
  bool first_ = true;
};

void CountCall(Entry entry);
bool LogEnabled();
void LogAppend(const LogLine& line);
// Applies the entry's injected delay, then its injected result: true when the
// call must return `result` instead of doing its work.
bool Inject(Entry entry, std::int32_t& result);

// The common prologue: counts the call, logs it with its arguments, applies
// the injected delay and result.
class Prologue {
 public:
  Prologue(Entry entry, std::int32_t& injected) : entry_(entry), injected_(injected) {}

  template <class... A>
  bool Run(const A&... args) {
    CountCall(entry_);
    if (LogEnabled()) {
      LogLine line;
      line.Begin(EntryName(entry_));
      (line.Arg(args), ...);
      line.End();
      LogAppend(line);
    }
    return Inject(entry_, injected_);
  }

 private:
  Entry entry_;
  std::int32_t& injected_;
};

// An injected result as the entry's result type: records fail as all zeros.
template <class R>
R InjectedResult(std::int32_t value) {
  if constexpr (std::is_integral_v<R>) {
    return static_cast<R>(value);
  } else {
    return R{};
  }
}

}  // namespace ksim

// Streamed output: PutScaledData and PutBinaryData write frames into the
// card's DaRing, GetDAFreeBufferSpace tells the room in frames. The worker
// drains the ring into the module (engine/worker.cpp).
//
// Flow control runs on DaStatus word 1, the ring's free room in frames, which
// the worker refreshes after every block and the puts after every write. The
// ring and the status are touched only under DaMutex; conversion runs outside
// it.
#include <chrono>
#include <cstdint>
#include <memory>
#include <new>

#include "engine/conversions.h"
#include "frame/call.h"
#include "quorvex.h"

namespace qvx {
namespace {

// The labels of a put's mutex waits: the first status read (null: silent),
// the writes of cases A, B and C, and the status polls of case C.
struct PutLabels {
  const char* first;
  const char* write_a;
  const char* write_b;
  const char* poll;
  const char* write_c;
};
constexpr PutLabels kScaledLabels = {"PutScaledData-beg", "PutScaledData-alg", "PutScaledData-any",
                                     "PutScaledData-wait1", "PutScaledData-wait2"};
constexpr PutLabels kBinaryLabels = {nullptr, "PutBinaryData-beg", "PutBinaryData-alg",
                                     "PutScaledData-wait1", "PutBinaryData-any"};

// Pause between the status polls of a put that waits for room: half the
// time the module needs to output the missing frames, at least 1 ms and at
// most 10 ms (1 ms while the output rate is unknown).
constexpr double kMinPollPauseMs = 1.0;
constexpr double kMaxPollPauseMs = 10.0;
// A waiting put gives up when the room has not grown for this long plus four
// blocks' time at the output rate: the module has stopped taking data.
constexpr std::chrono::milliseconds kStallFloor{5000};

// The codes a put's request covers in the caller's buffer, for the trace line:
// the frame count times the frame width, 0 when either is unknown.
std::int64_t RequestedCodes(const CardState& c, const std::int32_t* count) {
  if (count == nullptr || *count <= 0) return 0;
  return static_cast<std::int64_t>(*count) * c.DaChannelCount.load();
}

int PointerAsInt(const void* pointer) {
  return static_cast<int>(reinterpret_cast<std::intptr_t>(pointer));
}

// One put, after the trace line and the argument checks. `codes(frames,
// channels)` yields the codes of the first `frames` frames of `channels`
// codes each (null when they cannot be had: the temporary buffer of the
// scaled put); it is called outside the mutex.
class Put {
 public:
  Put(std::int32_t* count, std::int32_t mode, const PutLabels& labels, bool binary)
      : c_(CurrentState()), count_(count), mode_(mode), labels_(labels), binary_(binary) {}

  template <typename Codes>
  std::int32_t Run(Codes&& codes);

 private:
  // Nothing was put: the count says so, the card is not latched, and the
  // call can be repeated.
  std::int32_t NothingPut() {
    *count_ = 0;
    return kFailure;
  }
  // Writes `frames` frames under DaMutex and refreshes the room figure.
  template <typename Codes>
  std::int32_t Write(Codes& codes, std::int32_t frames, const char* label);
  // Case C: polls the status until the room reaches the request. False when
  // the put gives up (the status is then set).
  bool WaitForRoom(std::int32_t requested, std::int32_t* status);

  CardState& c_;
  std::int32_t* count_;
  std::int32_t mode_;
  const PutLabels& labels_;
  bool binary_;
  std::int32_t channels_ = 0;
  std::int32_t capacity_ = 0;  // the ring's, in codes
};

template <typename Codes>
std::int32_t Put::Run(Codes&& codes) {
  KestroDaStatus status{};
  {
    MutexGuard lock(c_.DaMutex, labels_.first);
    if (!lock.owned()) return NothingPut();
    status = c_.DaStatus;
    capacity_ = c_.DaRing.capacity;
  }
  if (status.word[14] != 1) return Fail(c_);
  // No frame width (the output list was emptied or built with the Ex call
  // only after a FinalInit): nothing can be put.
  channels_ = c_.DaChannelCount.load();
  if (channels_ <= 0) return Fail(c_);

  const std::int32_t requested = *count_;
  if (requested < 0) {
    if (binary_) return Refuse(c_);
    *count_ = 0;  // the temporary buffer of a negative size cannot be had
    return Fail(c_);
  }
  const std::int32_t room = status.word[1];
  if (binary_ ? room > requested : room >= requested) {
    return Write(codes, requested, labels_.write_a);
  }
  if (mode_ == 0) {
    const std::int32_t taken = room > 0 ? room : 0;
    const std::int32_t result = Write(codes, taken, labels_.write_b);
    if (result == kOk) *count_ = taken;
    return result;
  }
  // More than the ring can ever hold is refused at once.
  if (requested > capacity_ / channels_) return Refuse(c_);
  std::int32_t result = kOk;
  if (!WaitForRoom(requested, &result)) return result;
  return Write(codes, requested, labels_.write_c);
}

template <typename Codes>
std::int32_t Put::Write(Codes& codes, std::int32_t frames, const char* label) {
  const std::int64_t n = static_cast<std::int64_t>(frames) * channels_;
  // A room figure beyond the ring means the list changed after FinalInit.
  if (n > capacity_) {
    *count_ = 0;
    return Fail(c_);
  }
  const std::uint16_t* source = codes(frames, channels_);
  if (source == nullptr) {
    *count_ = 0;
    return Fail(c_);
  }
  MutexGuard lock(c_.DaMutex, label);
  if (!lock.owned()) return NothingPut();
  const auto length = static_cast<std::int32_t>(n);
  if (RingFreeSpace(&c_.DaRing) < length) {
    // The ring was made for another list (see above): nothing is written.
    *count_ = 0;
    return Fail(c_);
  }
  if (length > 0) RingWrite16(&c_.DaRing, source, length);
  c_.DaStatus.word[1] = RingFreeSpace(&c_.DaRing) / channels_;
  return kOk;
}

bool Put::WaitForRoom(std::int32_t requested, std::int32_t* status) {
  using Clock = std::chrono::steady_clock;
  // Time of four blocks at the output rate, on top of the floor.
  std::chrono::milliseconds stall_limit = kStallFloor;
  const double frames_per_second = c_.DaSampleRate;
  const double codes_per_second = frames_per_second * channels_;
  if (codes_per_second > 0.0) {
    const double block_ms = 1000.0 * c_.DaBlockSize.load() / codes_per_second;
    if (block_ms < 3.6e6) stall_limit += std::chrono::milliseconds(static_cast<long>(4 * block_ms));
  }
  std::int32_t best_room = -1;
  Clock::time_point grew = Clock::now();
  for (;;) {
    std::int32_t room = 0;
    std::int32_t queued = 0;
    bool seen = false;
    {
      MutexGuard lock(c_.DaMutex, labels_.poll);
      if (lock.owned()) {
        seen = true;
        room = c_.DaStatus.word[1];
        queued = RingCount(&c_.DaRing);
      }
    }
    if (seen && room >= requested) return true;
    // The worker met a failure: no more room will come.
    if (Latched(c_)) {
      *status = NothingPut();
      return false;
    }
    // Room only comes from blocks the worker sends: not while the feed is
    // off, and not while the ring holds less than a block.
    if (seen && (c_.DaRunState.load() < 1 || queued < c_.DaBlockSize.load())) {
      *status = NothingPut();
      return false;
    }
    const Clock::time_point now = Clock::now();
    if (seen && room > best_room) {
      best_room = room;
      grew = now;
    } else if (now - grew > stall_limit) {
      *status = NothingPut();
      return false;
    }
    double pause_ms = kMinPollPauseMs;
    if (seen && frames_per_second > 0.0) {
      pause_ms = 500.0 * (requested - room) / frames_per_second;
      pause_ms = pause_ms < kMinPollPauseMs   ? kMinPollPauseMs
                 : pause_ms > kMaxPollPauseMs ? kMaxPollPauseMs
                                              : pause_ms;
    }
    platform::SleepMs(static_cast<std::uint32_t>(pause_ms));
  }
}

// The checks both puts make before their status read. Returns -1 when they
// pass, else the status to return.
std::int32_t CheckPut(CardState& c, const void* data, const std::int32_t* count,
                      std::int32_t channels, std::int32_t mode) {
  if (Latched(c)) return kFailure;
  if (data == nullptr || count == nullptr) return Refuse(c);
  if (channels < 1 || channels > c.ModuleInfo.NumDaChannels()) return Refuse(c);
  if (mode < 0 || mode > 1) return Refuse(c);
  return -1;
}

}  // namespace
}  // namespace qvx

using namespace qvx;

int32_t QVX_CALL PutScaledData(int32_t p1, const double* volts, int32_t channels, int32_t* frames,
                               int32_t mode) {
  CardState& c = CurrentState();
  // The buffer is read only as far as the request covers it.
  const double first = volts != nullptr && RequestedCodes(c, frames) >= 1 ? volts[0] : 0.0;
  Trace("begin PutScaledData (%d, %f, %d, %d, %d)", p1, first, channels, PointerAsInt(frames),
        mode);
  if (const std::int32_t refused = CheckPut(c, volts, frames, channels, mode); refused >= 0) {
    return refused;
  }
  // The one allocation of the data path: the codes of this call.
  std::unique_ptr<std::uint16_t[]> buffer;
  auto convert = [&](std::int32_t n, std::int32_t width) -> const std::uint16_t* {
    const std::size_t values = static_cast<std::size_t>(n) * static_cast<std::size_t>(width);
    buffer.reset(new (std::nothrow) std::uint16_t[values > 0 ? values : 1]);
    if (!buffer) return nullptr;
    for (std::size_t i = 0; i < values; ++i) {
      buffer[i] = static_cast<std::uint16_t>(VoltsToCode(volts[i]));
    }
    return buffer.get();
  };
  return Put(frames, mode, kScaledLabels, false).Run(convert);
}

int32_t QVX_CALL PutBinaryData(const uint16_t* codes, int32_t channels, int32_t* frames,
                               int32_t mode) {
  CardState& c = CurrentState();
  // The first two codes, first in the low half; only those the request covers.
  const std::int64_t covered = codes != nullptr ? RequestedCodes(c, frames) : 0;
  std::uint32_t first = 0;
  if (covered >= 1) first = codes[0];
  if (covered >= 2) first |= static_cast<std::uint32_t>(codes[1]) << 16;
  Trace("begin PutBinaryData (%d, %d, %d, %d)", static_cast<int>(first), channels,
        PointerAsInt(frames), mode);
  if (const std::int32_t refused = CheckPut(c, codes, frames, channels, mode); refused >= 0) {
    return refused;
  }
  return Put(frames, mode, kBinaryLabels, true).Run([codes](std::int32_t, std::int32_t) {
    return codes;
  });
}

int32_t QVX_CALL GetDAFreeBufferSpace(int32_t card, int32_t* free_frames) {
  Trace("begin GetDAFreeBufferSpace (%d, *FreeValues)", card);
  if (!CardInRange(card)) return kArgument;
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  if (free_frames == nullptr) return Refuse(c);
  MutexGuard lock(c.DaMutex, "GetDAFreeBufferSpace");
  // Without the mutex the status is not read: no room is reported.
  *free_frames = lock.owned() ? c.DaStatus.word[1] : 0;
  return kOk;
}

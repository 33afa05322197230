// Streamed output: PutScaledData and PutBinaryData write frames into the
// card's DaRing, GetDAFreeBufferSpace tells the room in frames. The worker
// drains the ring into the module (engine/worker.cpp).
//
// Flow control runs on DaStatus word 1, the ring's free room in frames, which
// the worker refreshes after every block and the puts after every write. The
// ring and the status are touched only under DaMutex; conversion runs outside
// it.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <new>

#include "engine/conversions.h"
#include "frame/call.h"
#include "quorvex.h"

namespace qvx {
namespace {

// What tells the two puts apart, by meaning.
struct PutRules {
  // Labels of the mutex waits: the first status read (null: it sends no
  // message), the write of a request that fits, the write of what fits now
  // (mode 0), the status polls of a put that waits for room (mode 1), and
  // the write after that wait.
  const char* status_label;
  const char* fits_label;
  const char* what_fits_label;
  const char* poll_label;
  const char* waited_label;
  // A request "fits" when the room reaches it, or only when the room exceeds
  // it; a request equal to the room then takes the what-fits or the waiting
  // path, which take the whole request all the same.
  bool fits_only_above;
  // A negative request is an argument error (2, latched), or fails like a
  // temporary buffer that cannot be had (count 0, 1, latched).
  bool negative_is_argument_error;
};
constexpr PutRules kScaledPut = {"PutScaledData-beg",
                                 "PutScaledData-alg",
                                 "PutScaledData-any",
                                 "PutScaledData-wait1",
                                 "PutScaledData-wait2",
                                 /*fits_only_above=*/false,
                                 /*negative_is_argument_error=*/false};
constexpr PutRules kBinaryPut = {nullptr,
                                 "PutBinaryData-beg",
                                 "PutBinaryData-alg",
                                 "PutScaledData-wait1",
                                 "PutBinaryData-any",
                                 /*fits_only_above=*/true,
                                 /*negative_is_argument_error=*/true};

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

// One status poll of a waiting put.
struct RoomPoll {
  bool seen = false;        // the mutex was had and the status read
  std::int32_t room = 0;    // DaStatus word 1: free frames of the ring
  std::int32_t queued = 0;  // codes waiting in the ring
};

// Watches the room of a waiting put grow; stalled once it has not grown for
// the limit.
class StallWatch {
 public:
  using Clock = std::chrono::steady_clock;
  explicit StallWatch(std::chrono::milliseconds limit) : limit_(limit) {}
  bool Stalled(const RoomPoll& poll) {
    const Clock::time_point now = Clock::now();
    if (poll.seen && poll.room > best_room_) {
      best_room_ = poll.room;
      grew_ = now;
      return false;
    }
    return now - grew_ > limit_;
  }

 private:
  std::chrono::milliseconds limit_;
  std::int32_t best_room_ = -1;
  Clock::time_point grew_ = Clock::now();
};

// One put, after the trace line and the argument checks. `codes(frames,
// channels)` yields the codes of the first `frames` frames of `channels`
// codes each (null when they cannot be had: the temporary buffer of the
// scaled put); it is called outside the mutex.
class Put {
 public:
  Put(std::int32_t* count, std::int32_t mode, const PutRules& rules)
      : c_(CurrentState()), count_(count), mode_(mode), rules_(rules) {}

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
  // Mode 1: polls the status until the room reaches the request. False when
  // the put gives up.
  bool WaitForRoom(std::int32_t requested);
  RoomPoll PollRoom();
  // Room comes only from blocks the worker sends: none while the worker
  // met a failure, while the feed is off, or while the ring holds less than
  // a block.
  bool NoMoreRoomCanCome(const RoomPoll& poll) const;
  std::chrono::milliseconds StallLimit() const;
  std::uint32_t PollPauseMs(std::int32_t requested, const RoomPoll& poll) const;

  CardState& c_;
  std::int32_t* count_;
  std::int32_t mode_;
  const PutRules& rules_;
  std::int32_t channels_ = 0;
  std::int32_t capacity_ = 0;  // the ring's, in codes
};

template <typename Codes>
std::int32_t Put::Run(Codes&& codes) {
  KestroDaStatus status{};
  {
    MutexGuard lock(c_.DaMutex, rules_.status_label);
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
    if (rules_.negative_is_argument_error) return Refuse(c_);
    *count_ = 0;
    return Fail(c_);
  }
  const std::int32_t room = status.word[1];
  if (rules_.fits_only_above ? room > requested : room >= requested) {
    return Write(codes, requested, rules_.fits_label);
  }
  if (mode_ == 0) {
    const std::int32_t taken = room > 0 ? room : 0;
    const std::int32_t result = Write(codes, taken, rules_.what_fits_label);
    if (result == kOk) *count_ = taken;
    return result;
  }
  // More than the ring can ever hold is refused at once.
  if (requested > capacity_ / channels_) return Refuse(c_);
  if (!WaitForRoom(requested)) return NothingPut();
  return Write(codes, requested, rules_.waited_label);
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

bool Put::WaitForRoom(std::int32_t requested) {
  StallWatch watch(StallLimit());
  for (;;) {
    const RoomPoll poll = PollRoom();
    if (poll.seen && poll.room >= requested) return true;
    if (NoMoreRoomCanCome(poll) || watch.Stalled(poll)) return false;
    platform::SleepMs(PollPauseMs(requested, poll));
  }
}

RoomPoll Put::PollRoom() {
  RoomPoll poll;
  MutexGuard lock(c_.DaMutex, rules_.poll_label);
  if (lock.owned()) {
    poll.seen = true;
    poll.room = c_.DaStatus.word[1];
    poll.queued = RingCount(&c_.DaRing);
  }
  return poll;
}

bool Put::NoMoreRoomCanCome(const RoomPoll& poll) const {
  if (Latched(c_)) return true;
  return poll.seen && (c_.DaRunState.load() < 1 || poll.queued < c_.DaBlockSize.load());
}

std::chrono::milliseconds Put::StallLimit() const {
  std::chrono::milliseconds limit = kStallFloor;
  const double codes_per_second = c_.DaSampleRate * channels_;
  if (codes_per_second > 0.0) {
    const double block_ms = 1000.0 * c_.DaBlockSize.load() / codes_per_second;
    if (block_ms < 3.6e6) limit += std::chrono::milliseconds(static_cast<long>(4 * block_ms));
  }
  return limit;
}

std::uint32_t Put::PollPauseMs(std::int32_t requested, const RoomPoll& poll) const {
  const double frames_per_second = c_.DaSampleRate;
  if (!poll.seen || !(frames_per_second > 0.0)) return static_cast<std::uint32_t>(kMinPollPauseMs);
  const double pause_ms = 500.0 * (requested - poll.room) / frames_per_second;
  return static_cast<std::uint32_t>(std::clamp(pause_ms, kMinPollPauseMs, kMaxPollPauseMs));
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
  return Put(frames, mode, kScaledPut).Run(convert);
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
  return Put(frames, mode, kBinaryPut).Run([codes](std::int32_t, std::int32_t) { return codes; });
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

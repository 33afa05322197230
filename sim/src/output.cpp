// Clocked analog output: the output channel list, rate, start and stop, the
// on-board queue that ZQ7_DA_PutData fills, and the output clock that empties
// it.
//
// There is no thread: every driver or control call on the card first brings
// the output up to its clock (AdvanceOutput), so the queue, the outputs' codes
// and the record always show what the module has done by the moment of the
// call.
#include <algorithm>
#include <cmath>
#include <new>

#include "entries.h"
#include "sim_card.h"

namespace ksim {
namespace {

constexpr int kStatusRunning = 0;
constexpr int kStatusRoom = 1;
constexpr int kStatusReady = 14;

std::int32_t QueueSize(const SimCard& card) {
  const std::int32_t size =
      card.da_out.queue_size >= 0 ? card.da_out.queue_size : card.model->da_queue_codes;
  return std::min(size, kDaQueueLimit);
}

std::int32_t Room(const SimCard& card) {
  return std::max(QueueSize(card) - card.da_out.level, 0);
}

// The clock (re)starts now, with no frame output yet.
void StartClock(Output& out) {
  out.ticking = true;
  out.origin = Clock::now();
  out.frames_since_origin = 0;
  out.manual_due = 0;
}

// Outputs up to `frames` whole frames from the queue, the first at `first_at`
// (seconds of the card's time base) and each next one `step` later; returns
// the number output.
std::uint64_t OutputFrames(SimCard& card, std::uint64_t frames, double first_at, double step) {
  Output& out = card.da_out;
  const std::int32_t width = card.da_list.length;
  const std::uint64_t available = static_cast<std::uint64_t>(out.level / width);
  const std::uint64_t n = std::min(frames, available);
  if (n > 0 && !out.record) out.record.reset(new (std::nothrow) std::uint16_t[kDaRecordCodes]);
  for (std::uint64_t frame = 0; frame < n; ++frame) {
    const double at = first_at + static_cast<double>(frame) * step;
    for (std::int32_t entry = 0; entry < width; ++entry) {
      const std::uint16_t code = out.queue[out.head];
      out.head = (out.head + 1) % kDaQueueLimit;
      --out.level;
      if (out.record) out.record[out.output % kDaRecordCodes] = code;
      ++out.output;
      const std::int32_t channel = card.da_list.entries[entry];
      if (channel >= 0 && channel < kMaxOutputs) SetOutputCode(card, channel, code, at);
    }
  }
  return n;
}

bool ValidClock(std::int32_t clock) {
  return clock == KESTRO_SIM_CLOCK_REAL_TIME || clock == KESTRO_SIM_CLOCK_MANUAL;
}

}  // namespace

void SetOutputCode(SimCard& card, int channel, std::uint16_t code, double at) {
  card.da_codes[channel] = code;
  OutputHistory& history = card.da_out.history[channel];
  const std::uint64_t slot = history.count % kOutputHistory;
  history.at[slot] = at;
  history.code[slot] = code;
  ++history.count;
}

std::uint16_t OutputCodeAt(const SimCard& card, int channel, double seconds) {
  const OutputHistory& history = card.da_out.history[channel];
  if (history.count == 0) return card.da_codes[channel];
  // Moments are kept in order: find the last one at or before `seconds`.
  const std::uint64_t kept = std::min<std::uint64_t>(history.count, kOutputHistory);
  std::uint64_t low = history.count - kept, high = history.count;  // [low, high)
  if (history.at[low % kOutputHistory] > seconds) return history.code[low % kOutputHistory];
  while (high - low > 1) {
    const std::uint64_t mid = low + (high - low) / 2;
    if (history.at[mid % kOutputHistory] <= seconds) {
      low = mid;
    } else {
      high = mid;
    }
  }
  return history.code[low % kOutputHistory];
}

void AdvanceOutput(SimCard& card) {
  Output& out = card.da_out;
  // An empty list has no frame and a rate of 0 no tick: the clock stands.
  if (!card.da_running || !out.ticking || card.da_list.length <= 0) return;
  std::uint64_t due = 0;
  if (out.clock == KESTRO_SIM_CLOCK_MANUAL) {
    due = out.manual_due;
    out.manual_due = 0;
  } else {
    if (!(card.da_frequency > 0.0)) return;
    const double seconds = std::chrono::duration<double>(Clock::now() - out.origin).count();
    const double total = std::floor(seconds * card.da_frequency);
    const double done = static_cast<double>(out.frames_since_origin);
    if (total > done) due = static_cast<std::uint64_t>(total - done);
  }
  if (due == 0) return;
  // Frame k after the clock's origin leaves at (k + 1) / rate; granted frames
  // of the manual clock leave now.
  double first_at = Elapsed(card);
  double step = 0.0;
  if (out.clock != KESTRO_SIM_CLOCK_MANUAL) {
    step = 1.0 / card.da_frequency;
    const double origin = std::chrono::duration<double>(out.origin - card.epoch).count();
    first_at = origin + static_cast<double>(out.frames_since_origin + 1) * step;
  }
  const std::uint64_t output = OutputFrames(card, due, first_at, step);
  out.frames_since_origin += output;
  if (output < due) {
    // Frames fell due on an empty queue: the module had nothing to output.
    ++out.underruns;
    if (out.first_underrun < 0) out.first_underrun = static_cast<std::int64_t>(out.output);
    out.ticking = false;
  }
}

void StopOutput(SimCard& card) {
  AdvanceOutput(card);
  card.da_running = false;
  card.da_out.ticking = false;
}

namespace drv {

std::int32_t ZQ7_DA_ClearChannelList(std::int32_t card) {
  CardAccess access(card);
  if (!access) return failure::ZQ7_DA_ClearChannelList;
  AdvanceOutput(*access);
  access->da_list.length = 0;
  return 1;
}

std::int32_t ZQ7_DA_AddChannellist(std::int32_t card, std::int32_t channel) {
  CardAccess access(card);
  if (!access || channel < 0 || channel >= access.model().da_outputs) {
    return failure::ZQ7_DA_AddChannellist;
  }
  AdvanceOutput(*access);
  return access->da_list.Add(channel) ? 0 : failure::ZQ7_DA_AddChannellist;
}

std::int32_t ZQ7_DA_SetFrequency(std::int32_t card, double rate) {
  CardAccess access(card);
  if (!access || !(rate > 0.0)) return failure::ZQ7_DA_SetFrequency;
  AdvanceOutput(*access);
  access->da_frequency = rate;
  // A running clock goes on at the new rate from here.
  if (access->da_out.ticking) StartClock(access->da_out);
  return 0;
}

std::int32_t ZQ7_DA_Start(std::int32_t card) {
  CardAccess access(card);
  if (!access) return failure::ZQ7_DA_Start;
  if (!access->da_running) {
    access->da_running = true;
    access->da_out.ticking = false;
    if (access->da_out.level > 0) StartClock(access->da_out);
  }
  return 0;
}

std::int32_t ZQ7_DA_Stop(std::int32_t card) {
  CardAccess access(card);
  if (!access) return failure::ZQ7_DA_Stop;
  StopOutput(*access);
  return 0;
}

KestroDaStatus ZQ7_DA_GetStatus(std::int32_t card) {
  CardAccess access(card);
  if (!access) return failure::ZQ7_DA_GetStatus;
  AdvanceOutput(*access);
  KestroDaStatus status{};
  status.word[kStatusRunning] = access->da_running ? 1 : 0;
  status.word[kStatusRoom] = Room(*access);
  status.word[kStatusReady] = 1;
  return status;
}

std::int32_t ZQ7_DA_PutData(std::int32_t card, const std::uint16_t* codes, std::int32_t count) {
  CardAccess access(card);
  if (!access || count < 0 || (count > 0 && codes == nullptr)) return failure::ZQ7_DA_PutData;
  AdvanceOutput(*access);
  if (count > Room(*access)) return failure::ZQ7_DA_PutData;
  Output& out = access->da_out;
  for (std::int32_t i = 0; i < count; ++i) {
    out.queue[(out.head + out.level) % kDaQueueLimit] = codes[i];
    ++out.level;
  }
  access->da_codes_received += static_cast<std::uint64_t>(count);
  if (access->da_running && !out.ticking && count > 0) StartClock(out);
  return 0;
}

}  // namespace drv
}  // namespace ksim

using ksim::CardAccess;

extern "C" {

KESTRO_SIM_API int32_t kestro_sim_set_da_clock(int32_t card, int32_t clock) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!access || !ksim::ValidClock(clock)) return -1;
  ksim::AdvanceOutput(*access);
  ksim::Output& out = access->da_out;
  out.clock = clock;
  if (out.ticking) ksim::StartClock(out);
  return 0;
}

KESTRO_SIM_API int32_t kestro_sim_da_advance(int32_t card, int64_t frames) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!access || frames < 0 || access->da_out.clock != KESTRO_SIM_CLOCK_MANUAL ||
      !access->da_running) {
    return -1;
  }
  ksim::Output& out = access->da_out;
  if (!out.ticking) return 0;
  out.manual_due += static_cast<std::uint64_t>(frames);
  ksim::AdvanceOutput(*access);
  return 0;
}

KESTRO_SIM_API int32_t kestro_sim_set_da_queue(int32_t card, int32_t codes) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!access || codes < -1 || codes > ksim::kDaQueueLimit) return -1;
  ksim::AdvanceOutput(*access);
  access->da_out.queue_size = codes;
  return 0;
}

KESTRO_SIM_API int32_t kestro_sim_output(int32_t card, kestro_sim_output_status* status) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!access || status == nullptr) return -1;
  ksim::AdvanceOutput(*access);
  const ksim::Output& out = access->da_out;
  *status = kestro_sim_output_status{};
  status->running = access->da_running ? 1 : 0;
  status->width = access->da_list.length;
  status->queue_size = ksim::QueueSize(*access);
  status->queued = out.level;
  status->received = access->da_codes_received;
  status->output = out.output;
  status->underruns = out.underruns;
  status->first_underrun = out.first_underrun;
  return 0;
}

KESTRO_SIM_API int64_t kestro_sim_da_record(int32_t card, uint64_t first, uint16_t* codes,
                                            int64_t count) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!access || count < 0 || (count > 0 && codes == nullptr)) return -1;
  ksim::AdvanceOutput(*access);
  const ksim::Output& out = access->da_out;
  const std::uint64_t oldest =
      out.output > ksim::kDaRecordCodes ? out.output - ksim::kDaRecordCodes : 0;
  if (first < oldest) return -1;
  if (first >= out.output) return 0;
  if (!out.record) return -1;  // the record could not be allocated
  const std::uint64_t n = std::min(static_cast<std::uint64_t>(count), out.output - first);
  for (std::uint64_t i = 0; i < n; ++i) codes[i] = out.record[(first + i) % ksim::kDaRecordCodes];
  return static_cast<int64_t>(n);
}

}  // extern "C"

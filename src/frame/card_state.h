// The table of per-card state and the few process-wide values.
//
// Every export finds its card's record by number; there is no object per card
// and no allocation per call. Words shared between the application's thread
// and the card's worker thread are atomic; everything else belongs to the
// application's thread (set-up calls are made while the worker is idle).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "engine/sample_ring.h"
#include "kestrolib.h"
#include "platform/platform.h"

namespace qvx {

constexpr std::int32_t kMaxCards = 16;
constexpr int kScanSlots = 50;
constexpr int kAdRanges = 16;
constexpr int kCounterSlots = 16;
constexpr int kDinGroups = 3;
// Scans that the staging buffers hold per entry.
constexpr std::int32_t kStagingScans = 10000;

// Status codes of the exports.
constexpr std::int32_t kOk = 0;
constexpr std::int32_t kFailure = 1;
constexpr std::int32_t kArgument = 2;

// The identification record read from a module's flash, with the fields the
// library interprets.
struct ModuleInfoRecord : KestroModuleInfo {
  std::int8_t NumAdChannels() const { return static_cast<std::int8_t>(bytes[140]); }
  std::int8_t IdentByte141() const { return static_cast<std::int8_t>(bytes[141]); }
  std::uint16_t MaxAdRateKHz() const {
    return static_cast<std::uint16_t>(bytes[142] | (bytes[143] << 8));
  }
  std::int8_t NumDaChannels() const { return static_cast<std::int8_t>(bytes[144]); }
  std::int8_t IdentByte145() const { return static_cast<std::int8_t>(bytes[145]); }
  std::int8_t NumDigitalLines() const { return static_cast<std::int8_t>(bytes[148]); }
  std::int8_t NumCounters() const { return static_cast<std::int8_t>(bytes[156]); }
  static constexpr int kIdentText1 = 264;
  static constexpr int kIdentText2 = 297;
  static constexpr int kCustomerName = 318;
};
static_assert(sizeof(ModuleInfoRecord) == 8360, "identification record is 8360 bytes");

// The three driver FIFOs and their staging buffers.
enum Fifo : int { kAnalogFifo = 0, kCounterFifo = 1, kDigitalFifo = 2, kFifoKinds = 3 };

// What the staging buffers hold and what the driver may write into them
// (engine/staging.h keeps it). Every field is guarded by `lock`, which is
// taken after AdMutex where both are held.
struct StagingBook {
  std::mutex lock;
  // Elements allocated for AdBuffer, CtBuffer and DinBuffer.
  std::size_t capacity[kFifoKinds]{};
  // Width of each of the driver's input lists, in elements per scan, as the
  // library gave them since the driver's last successful clear: analog and
  // counter entries, and 16-line digital groups.
  std::int32_t listed[kFifoKinds]{};
  // The widths of the lists at the driver's last start: its FIFOs deliver
  // scans of these widths until the next start.
  std::int32_t started[kFifoKinds]{};
  // The digital groups 0..63 that lines given to the driver belong to, and
  // the lines given beyond them (each counted as a group of its own).
  std::uint64_t line_groups = 0;
  std::int32_t far_lines = 0;
};

struct CardState {
  // ---- Shared with the worker thread ----
  std::atomic<std::int32_t> ErrorLatch{0};
  std::atomic<std::int32_t> AdRunState{0};
  std::atomic<std::int32_t> DaRunState{0};
  std::atomic<std::int32_t> ValuesPerPoll{0};
  std::atomic<std::int32_t> CtChannelCount{0};
  std::atomic<std::int32_t> DaChannelCount{0};
  std::atomic<std::int32_t> DaBlockSize{0};
  // Pause of an output pass that sends nothing, in ms; set by the output start.
  std::atomic<std::int32_t> DaFeedPauseMs{1};
  std::atomic<std::int32_t> CounterScale[kCounterSlots]{};
  std::atomic<std::uint32_t> CounterValue[kCounterSlots]{};
  std::atomic<std::uint8_t> CtPollEnable{0};
  // Asks the worker to end its loop (cooperative stop).
  std::atomic<bool> WorkerStop{false};

  // ---- Identification (written by OpenCard) ----
  ModuleInfoRecord ModuleInfo{};
  std::uint32_t ModuleIdent = 0;
  std::int32_t StrictRateLimit = 0;

  // ---- System objects ----
  platform::Mutex* AdMutex = nullptr;
  platform::Mutex* DaMutex = nullptr;
  platform::Thread* WorkerThread = nullptr;
  std::uint32_t WorkerThreadId = 0;
  // While the worker runs: what wakes it from its idle wait, and what it
  // signals when it acknowledges a half switched off (engine/worker.h).
  platform::Event* WorkerWake = nullptr;
  platform::Event* WorkerAck = nullptr;

  // ---- Lists and settings (reset by ResetCardState) ----
  std::int32_t AdChannelCount = 0;
  std::uint32_t AdRange[kAdRanges]{};
  std::int32_t DigChannelCount = 0;
  std::uint32_t DigitalWidthCode = 0;
  std::int32_t DinGroupEnabled[kDinGroups]{};
  std::int32_t DinGroupCount = 0;
  std::int32_t ScanSlotIsCounter[kScanSlots]{};
  std::int32_t ScanSlotIsDigital[kScanSlots]{};
  std::int32_t MixedScanMode = 0;
  std::int32_t AutoAdChannel = 0;
  double SampleRate = 0.0;
  double DaSampleRate = 0.0;
  std::uint32_t ConfigMode = 0;
  std::int32_t ExtTriggerA = 0;
  std::int32_t ExtTriggerB = 0;
  std::int32_t MemTargetValues = 0;
  std::int32_t MemValuesFetched = 0;

  // ---- Staging buffers (engine/staging.h; kept by ResetCardState) ----
  std::uint16_t* AdBuffer = nullptr;
  std::uint16_t* DinBuffer = nullptr;
  std::uint32_t* CtBuffer = nullptr;
  StagingBook Staging;
  // Guarded by DaMutex.
  SampleRing DaRing{};
  KestroDaStatus DaStatus{};
};

// The table of 16 records and the process-wide values.
extern CardState g_cards[kMaxCards];
extern std::atomic<std::uint32_t> CurrentCard;

// Sets one of the card's run states (AdRunState or DaRunState) from the
// application's side and wakes the card's worker, which sleeps while both
// halves are off. Every change the application makes to a run state while
// the card has a worker goes through here.
inline void SetRunState(CardState& card, std::atomic<std::int32_t>& run_state, std::int32_t value) {
  run_state.store(value);
  if (card.WorkerWake != nullptr) platform::EventSet(card.WorkerWake);
}

// Empties one card's lists and settings; leaves the driver, the mutexes, the
// worker, the identification, the buffers, the ring, DaBlockSize, DaStatus,
// CounterValue and CtPollEnable alone. Returns 0.
int ResetCardState(std::int32_t card);

}  // namespace qvx

// Clocked capture: the input channel lists, the acquisition clock, the
// on-board memory and the three driver FIFOs the library drains.
//
// Production is lazy. Every entry point that touches capture first brings the
// card up to its clock (Advance): on the real-time clock the scans due by now
// are counted into on-board memory, which only counts scans, so an hour of
// capture costs no more than a millisecond. A scan's values are computed when
// ZQ7_AD_ReadData_MixedChannels moves it into the FIFOs, from its number and
// the moment it was taken. Everything runs under the card's lock, so the
// library's worker thread and its application thread may call in at once.
#include <algorithm>
#include <cstring>
#include <new>

#include "entries.h"
#include "sim_card.h"

namespace ksim {

std::int32_t DeliverNothing(const CardAccess& access, std::int32_t* count, std::int32_t failed) {
  if (!access || count == nullptr) return failed;
  *count = 0;
  return 0;
}

namespace {

// splitmix64's finaliser: a well-mixed value of `x`.
std::uint64_t Mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Pattern values: a linear part that separates neighbouring scans and the
// entries of a scan, plus a mixed part that changes with the high bits of the
// scan number.
std::uint16_t PatternAd(std::uint64_t scan, std::uint32_t entry) {
  return static_cast<std::uint16_t>(scan * 0x9E37u + entry * 0x3C6Fu + Mix(scan >> 16));
}
std::uint32_t PatternCt(std::uint64_t scan, std::uint32_t entry) {
  return static_cast<std::uint32_t>(scan * 0x9E3779B1u + entry * 0x3C6EF35Fu + Mix(scan >> 32));
}
std::uint16_t PatternDin(std::uint64_t scan, std::uint32_t word) {
  return static_cast<std::uint16_t>(scan * 0x3C6Fu + word * 0x9E37u + (Mix(scan >> 16) >> 32));
}

double ScanSeconds(const Capture& c, std::uint64_t scan) {
  if (!(c.rate > 0.0)) return c.start_seconds;
  return c.start_seconds + static_cast<double>(scan) / c.rate;
}

// Counts `scans` new scans into on-board memory; when it is full the oldest
// are overwritten.
void Produce(Capture& c, std::uint64_t scans) {
  c.produced += scans;
  const std::uint64_t waiting = c.produced - c.fetched;
  const auto capacity = static_cast<std::uint64_t>(c.board_scans);
  if (waiting > capacity) {
    const std::uint64_t lost = waiting - capacity;
    c.board_lost += lost;
    c.fetched += lost;
    c.loss_pending = true;
  }
}

// Brings a running capture on the real-time clock up to now.
void Advance(SimCard& card) {
  Capture& c = card.capture;
  if (!card.ad_running || c.clock != KESTRO_SIM_CLOCK_REAL_TIME || !(c.rate > 0.0)) return;
  const double seconds = std::chrono::duration<double>(Clock::now() - c.start).count();
  const auto due = static_cast<std::uint64_t>(seconds * c.rate);
  if (due > c.produced) Produce(c, due - c.produced);
}

// ---- FIFOs ----------------------------------------------------------------

// Sizes a FIFO for a run; storage grows but is never given back before
// power-on. False when the storage cannot be had.
template <typename T>
bool Prepare(ScanFifo<T>& fifo, std::int32_t width, std::int64_t scans) {
  fifo.width = width;
  fifo.head = 0;
  fifo.level = 0;
  fifo.capacity = width > 0 ? std::min(scans, kFifoValueLimit / width) : 0;
  const std::int64_t needed = fifo.capacity * width;
  if (needed > fifo.allocated) {
    fifo.storage.reset(new (std::nothrow) T[static_cast<std::size_t>(needed)]);
    fifo.allocated = fifo.storage != nullptr ? needed : 0;
    if (fifo.storage == nullptr) {
      fifo.width = 0;
      fifo.capacity = 0;
      return false;
    }
  }
  return true;
}

template <typename T>
void Empty(ScanFifo<T>& fifo) {
  fifo.head = 0;
  fifo.level = 0;
}

// Appends scans first .. first+count-1, written by fill(out, first, n) in at
// most two runs. Returns the scans that did not fit and were dropped.
template <typename T, typename Fill>
std::int64_t Push(ScanFifo<T>& fifo, std::uint64_t first, std::int64_t count, Fill fill) {
  if (fifo.width == 0) return 0;
  const std::int64_t kept = std::min(count, fifo.capacity - fifo.level);
  std::int64_t slot = (fifo.head + fifo.level) % fifo.capacity;
  for (std::int64_t done = 0; done < kept;) {
    const std::int64_t run = std::min(kept - done, fifo.capacity - slot);
    fill(fifo.storage.get() + slot * fifo.width, first + static_cast<std::uint64_t>(done), run);
    done += run;
    slot = 0;
  }
  fifo.level += kept;
  return count - kept;
}

// Moves `count` waiting scans out into `dest`.
template <typename T>
void Pop(ScanFifo<T>& fifo, std::int64_t count, T* dest) {
  while (count > 0) {
    const std::int64_t run = std::min(count, fifo.capacity - fifo.head);
    const std::size_t elements = static_cast<std::size_t>(run) * fifo.width;
    std::memcpy(dest, fifo.storage.get() + fifo.head * fifo.width, elements * sizeof(T));
    dest += elements;
    fifo.head = (fifo.head + run) % fifo.capacity;
    fifo.level -= run;
    count -= run;
  }
  // An emptied FIFO starts again at the front of its storage, so a reader
  // that keeps up works in the same few pages instead of touching them all.
  if (fifo.level == 0) fifo.head = 0;
}

template <typename T>
std::int32_t FifoStatus(SimCard& card, ScanFifo<T> Capture::*fifo) {
  Advance(card);
  return static_cast<std::int32_t>((card.capture.*fifo).level);
}

// n scans out of a FIFO: 0 without moving anything for n <= 0; a failure
// without moving anything when fewer than n wait or dest is null.
template <typename T>
std::int32_t FifoRead(const CardAccess& access, ScanFifo<T> Capture::*fifo, std::int32_t n, T* dest,
                      std::int32_t failed) {
  if (!access) return failed;
  SimCard& card = *access;
  Advance(card);
  if (n <= 0) return 0;
  ScanFifo<T>& f = card.capture.*fifo;
  if (dest == nullptr || n > f.level) return failed;
  Pop(f, n, dest);
  return 0;
}

// ---- Scan contents ------------------------------------------------------------

void FillAnalog(SimCard& card, std::uint16_t* out, std::uint64_t first, std::int64_t scans) {
  const Capture& c = card.capture;
  const std::int32_t width = c.ad.width;
  if (c.pattern) {
    std::uint64_t block = ~std::uint64_t{0};
    std::uint64_t mixed = 0;
    for (std::int64_t i = 0; i < scans; ++i, out += width) {
      const std::uint64_t scan = first + static_cast<std::uint64_t>(i);
      if ((scan >> 16) != block) {
        block = scan >> 16;
        mixed = Mix(block);
      }
      const auto base = static_cast<std::uint16_t>(scan * 0x9E37u + mixed);
      for (std::int32_t k = 0; k < width; ++k) {
        out[k] = static_cast<std::uint16_t>(base + static_cast<std::uint32_t>(k) * 0x3C6Fu);
      }
    }
    return;
  }
  // Steady channels convert once for the whole block; the others at the
  // moment of each scan. A channel the input mode lacks reads 0 V.
  std::int32_t steady[kAdListCapacity];
  std::uint16_t first_scan[kAdListCapacity];
  bool all_steady = true;
  const int channels = ChannelCount(card);
  for (std::int32_t k = 0; k < width; ++k) {
    const int channel = card.ad_list[k].channel;
    if (channel >= channels) {
      steady[k] = 32768;
    } else {
      steady[k] = ChannelIsSteady(card, channel) ? ChannelCode(card, channel, Elapsed(card)) : -1;
    }
    all_steady = all_steady && steady[k] >= 0;
    first_scan[k] = static_cast<std::uint16_t>(steady[k]);
  }
  if (all_steady) {
    for (std::int64_t i = 0; i < scans; ++i, out += width) {
      std::memcpy(out, first_scan, static_cast<std::size_t>(width) * sizeof *out);
    }
    return;
  }
  for (std::int64_t i = 0; i < scans; ++i, out += width) {
    const double seconds = ScanSeconds(c, first + static_cast<std::uint64_t>(i));
    for (std::int32_t k = 0; k < width; ++k) {
      out[k] = steady[k] >= 0 ? static_cast<std::uint16_t>(steady[k])
                              : ChannelCode(card, card.ad_list[k].channel, seconds);
    }
  }
}

void FillCounters(const SimCard& card, std::uint32_t* out, std::uint64_t first,
                  std::int64_t scans) {
  const Capture& c = card.capture;
  const std::int32_t width = c.ct.width;
  for (std::int64_t i = 0; i < scans; ++i, out += width) {
    const std::uint64_t scan = first + static_cast<std::uint64_t>(i);
    if (c.pattern) {
      for (std::int32_t e = 0; e < width; ++e)
        out[e] = PatternCt(scan, static_cast<std::uint32_t>(e));
    } else {
      for (std::int32_t e = 0; e < width; ++e) {
        out[e] = CounterCaptureValue(c.counters[card.ct_list.entries[e]], scan, c.rate);
      }
    }
  }
}

// Each scan shows the lines as they stood when it was taken: the newest
// epoch begun by then.
void FillDigital(const SimCard& card, std::uint16_t* out, std::uint64_t first, std::int64_t scans) {
  const Capture& c = card.capture;
  const std::int32_t width = c.din.width;
  std::int32_t e = 0;
  for (std::int64_t i = 0; i < scans; ++i, out += width) {
    const std::uint64_t scan = first + static_cast<std::uint64_t>(i);
    if (c.pattern) {
      for (std::int32_t w = 0; w < width; ++w) {
        out[w] = PatternDin(scan, static_cast<std::uint32_t>(w));
      }
      continue;
    }
    while (e + 1 < c.din_epoch_count && c.din_epochs[e + 1].from <= scan) ++e;
    const DinEpoch& epoch = c.din_epochs[e];
    const std::uint64_t count =
        static_cast<std::uint32_t>(epoch.start + static_cast<std::uint32_t>(scan) * epoch.step);
    for (std::int32_t w = 0; w < width; ++w) {
      const std::int32_t g = c.din_groups[w];
      out[w] =
          static_cast<std::uint16_t>(epoch.fixed[g] | ((count >> (16 * g)) & epoch.counted[g]));
    }
  }
}

// Forgets the line states that no scan still to be fetched needs.
void DropPastEpochs(Capture& c) {
  std::int32_t past = 0;
  while (past + 1 < c.din_epoch_count && c.din_epochs[past + 1].from <= c.fetched) ++past;
  if (past == 0) return;
  std::copy(c.din_epochs + past, c.din_epochs + c.din_epoch_count, c.din_epochs);
  c.din_epoch_count -= past;
}

// Moves `count` scans from on-board memory into the three FIFOs.
void Fetch(SimCard& card, std::int64_t count) {
  Capture& c = card.capture;
  const std::uint64_t first = c.fetched;
  c.fetched += static_cast<std::uint64_t>(count);
  std::int64_t dropped =
      Push(c.ad, first, count, [&card](std::uint16_t* out, std::uint64_t scan, std::int64_t n) {
        FillAnalog(card, out, scan, n);
      });
  dropped = std::max(dropped, Push(c.ct, first, count,
                                   [&card](std::uint32_t* out, std::uint64_t scan, std::int64_t n) {
                                     FillCounters(card, out, scan, n);
                                   }));
  dropped = std::max(dropped, Push(c.din, first, count,
                                   [&card](std::uint16_t* out, std::uint64_t scan, std::int64_t n) {
                                     FillDigital(card, out, scan, n);
                                   }));
  if (dropped > 0) {
    c.fifo_lost += static_cast<std::uint64_t>(dropped);
    c.loss_pending = true;
  }
  DropPastEpochs(c);
}

// Empties on-board memory and the FIFOs.
void Discard(Capture& c) {
  c.fetched = c.produced;
  c.loss_pending = false;
  Empty(c.ad);
  Empty(c.ct);
  Empty(c.din);
}

// The digital groups the TTL list uses, ascending.
std::int32_t ListedGroups(const SimCard& card, std::int32_t groups[kDinGroupLimit]) {
  bool used[kDinGroupLimit] = {};
  for (std::int32_t i = 0; i < card.ttl_list.length; ++i)
    used[card.ttl_list.entries[i] / 16] = true;
  std::int32_t count = 0;
  for (std::int32_t g = 0; g < kDinGroupLimit; ++g) {
    if (used[g]) groups[count++] = g;
  }
  return count;
}

bool ListFitsInputMode(const SimCard& card) {
  const int channels = ChannelCount(card);
  for (std::int32_t k = 0; k < card.ad_list_length; ++k) {
    if (card.ad_list[k].channel >= channels) return false;
  }
  return true;
}

}  // namespace

// A change of the lines applies from the next scan on: the scans due by now
// keep the state they were taken with. Before the first start there is no
// run to record it for; the start takes the lines as they stand.
void NoteDigitalChange(SimCard& card) {
  Capture& c = card.capture;
  if (c.din_epoch_count == 0) return;
  Advance(card);
  DinEpoch epoch = DigitalEpoch(card);
  epoch.from = c.produced;
  DinEpoch& newest = c.din_epochs[c.din_epoch_count - 1];
  if (newest.from == epoch.from) {
    newest = epoch;  // no scan was taken with the state it replaces
    return;
  }
  DropPastEpochs(c);
  if (c.din_epoch_count == kDinEpochs) {
    // Full: the oldest state goes, and its scans take the next one.
    std::copy(c.din_epochs + 1, c.din_epochs + kDinEpochs, c.din_epochs);
    --c.din_epoch_count;
  }
  c.din_epochs[c.din_epoch_count++] = epoch;
}

namespace drv {

// Clearing the analog list clears every input list of the module (analog,
// counter and digital: the driver has no other clear for them), stops a
// running capture and empties on-board memory and the FIFOs.
std::int32_t ZQ7_AD_ClearChannelList(std::int32_t card) {
  CardAccess access(card);
  if (!access) return failure::ZQ7_AD_ClearChannelList;
  access->ad_list_length = 0;
  access->ct_list.length = 0;
  access->ttl_list.length = 0;
  access->ad_running = false;
  Discard(access->capture);
  return 1;
}

// Channels are checked against the module's inputs, not the input mode: the
// list may be built before ZQ7_SetDifferenz.
std::int32_t ZQ7_AD_AddChannellist(std::int32_t card, std::int32_t channel, std::int32_t range,
                                   std::int32_t zero) {
  CardAccess access(card);
  if (!access || channel < 0 || channel >= access.model().ad_inputs ||
      access->ad_list_length >= kAdListCapacity) {
    return failure::ZQ7_AD_AddChannellist;
  }
  access->ad_list[access->ad_list_length++] = AdListEntry{channel, range, zero};
  return 0;
}

// No rate above the module's aggregate rate can be right for any list. A
// running capture keeps the rate it started with.
std::int32_t ZQ7_AD_SetFrequency(std::int32_t card, double rate) {
  CardAccess access(card);
  if (!access || !(rate > 0.0) || rate > access.model().ad_rate_khz * 1000.0) {
    return failure::ZQ7_AD_SetFrequency;
  }
  access->ad_frequency = rate;
  return 0;
}

// Starts a new run with the lists and the rate as they stand: scan 0 is
// taken now. A list naming a channel the input mode lacks is refused, and so
// is a start whose FIFOs cannot get their storage.
std::int32_t ZQ7_AD_Start(std::int32_t card) {
  CardAccess access(card);
  if (!access || !ListFitsInputMode(*access)) return failure::ZQ7_AD_Start;
  SimCard& s = *access;
  Capture& c = s.capture;
  c.start = Clock::now();
  c.start_seconds = c.clock == KESTRO_SIM_CLOCK_REAL_TIME ? Elapsed(s) : 0.0;
  c.rate = s.ad_frequency;
  c.produced = 0;
  c.fetched = 0;
  c.board_lost = 0;
  c.fifo_lost = 0;
  c.loss_pending = false;
  c.last_fetch = c.start;
  c.longest_fetch_gap = 0.0;
  const std::int32_t groups = ListedGroups(s, c.din_groups);
  for (int counter = 0; counter < kMaxCounters; ++counter) {
    c.counters[counter] = CounterForRun(s, counter);
  }
  c.din_epochs[0] = DigitalEpoch(s);
  c.din_epoch_count = 1;
  const bool analog = Prepare(c.ad, s.ad_list_length, c.fifo_scans);
  const bool counters = Prepare(c.ct, s.ct_list.length, c.fifo_scans);
  const bool digital = Prepare(c.din, groups, c.fifo_scans);
  s.ad_running = analog && counters && digital;
  return s.ad_running ? 0 : failure::ZQ7_AD_Start;
}

// Stops taking scans; what on-board memory and the FIFOs hold stays there
// for the library to fetch and read.
std::int32_t ZQ7_AD_Stop(std::int32_t card) {
  CardAccess access(card);
  if (!access) return failure::ZQ7_AD_Stop;
  Advance(*access);
  access->ad_running = false;
  return 0;
}

// The older polled interface is not modelled: its status words are 0 and
// its reads deliver nothing, on any card.
KestroDaStatus ZQ7_AD_GetStatus(std::int32_t) {
  return KestroDaStatus{};
}

KestroDaStatus ZQ7_AD_GetStatus_MixedChannels(std::int32_t) {
  return KestroDaStatus{};
}

std::int32_t ZQ7_AD_GetData(std::int32_t card, std::int32_t* count, std::uint16_t*) {
  return DeliverNothing(CardAccess(card), count, failure::ZQ7_AD_GetData);
}

std::int32_t ZQ7_AD_GetData_MixedChannels(std::int32_t card, std::int32_t* count, std::uint16_t*) {
  return DeliverNothing(CardAccess(card), count, failure::ZQ7_AD_GetData_MixedChannels);
}

// Moves up to *count scans from on-board memory into the FIFOs and stores
// the number moved. After a loss the next call fails without moving anything.
std::int32_t ZQ7_AD_ReadData_MixedChannels(std::int32_t card, std::int32_t* count) {
  CardAccess access(card);
  if (!access || count == nullptr || *count < 0) return failure::ZQ7_AD_ReadData_MixedChannels;
  SimCard& s = *access;
  Capture& c = s.capture;
  Advance(s);
  if (s.ad_running && c.clock == KESTRO_SIM_CLOCK_REAL_TIME) {
    const Clock::time_point now = Clock::now();
    c.longest_fetch_gap =
        std::max(c.longest_fetch_gap, std::chrono::duration<double>(now - c.last_fetch).count());
    c.last_fetch = now;
  }
  AdvanceOutput(s);  // looped-back inputs read what the outputs showed by now
  if (c.loss_pending) {
    c.loss_pending = false;
    *count = 0;
    return failure::ZQ7_AD_ReadData_MixedChannels;
  }
  const auto waiting = static_cast<std::int64_t>(c.produced - c.fetched);
  const std::int64_t moved = std::min<std::int64_t>(*count, waiting);
  Fetch(s, moved);
  *count = static_cast<std::int32_t>(moved);
  return 0;
}

std::int32_t ZQ7_AD_GetFifoStatus(std::int32_t card) {
  CardAccess access(card);
  return access ? FifoStatus(*access, &Capture::ad) : failure::ZQ7_AD_GetFifoStatus;
}

std::int32_t ZQ7_AD_GetDataFromFifo(std::int32_t card, std::int32_t count, std::uint16_t* dest) {
  return FifoRead(CardAccess(card), &Capture::ad, count, dest, failure::ZQ7_AD_GetDataFromFifo);
}

std::int32_t ZQ7_CT_GetFifoStatus(std::int32_t card) {
  CardAccess access(card);
  return access ? FifoStatus(*access, &Capture::ct) : failure::ZQ7_CT_GetFifoStatus;
}

std::int32_t ZQ7_CT_GetDataFromFifo(std::int32_t card, std::int32_t count, std::uint32_t* dest) {
  return FifoRead(CardAccess(card), &Capture::ct, count, dest, failure::ZQ7_CT_GetDataFromFifo);
}

std::int32_t ZQ7_DIN_GetFifoStatus(std::int32_t card) {
  CardAccess access(card);
  return access ? FifoStatus(*access, &Capture::din) : failure::ZQ7_DIN_GetFifoStatus;
}

std::int32_t ZQ7_DIN_GetDataFromFifo(std::int32_t card, std::int32_t count, std::uint16_t* dest) {
  return FifoRead(CardAccess(card), &Capture::din, count, dest, failure::ZQ7_DIN_GetDataFromFifo);
}

std::int32_t ZQ7_TTL_AddChannelList(std::int32_t card, std::int32_t line) {
  CardAccess access(card);
  if (!access || line < 0 || line >= access.model().lines || !access->ttl_list.Add(line)) {
    return failure::ZQ7_TTL_AddChannelList;
  }
  return 0;
}

KestroDaStatus ZQ7_TTL_GetStatus(std::int32_t) {
  return KestroDaStatus{};
}

std::int32_t ZQ7_TTL_GetData(std::int32_t card, std::int32_t* count, std::uint16_t*) {
  return DeliverNothing(CardAccess(card), count, failure::ZQ7_TTL_GetData);
}

// Arms capture on an external start; the flags are recorded.
std::int32_t ZQ7_Start_Extern(std::int32_t card, std::int32_t a, std::int32_t b, std::int32_t c) {
  CardAccess access(card);
  if (!access) return failure::ZQ7_Start_Extern;
  access->start_extern_called = true;
  access->start_extern[0] = a;
  access->start_extern[1] = b;
  access->start_extern[2] = c;
  return 0;
}

}  // namespace drv
}  // namespace ksim

using ksim::CardAccess;

extern "C" {

KESTRO_SIM_API int32_t kestro_sim_ad_list_length(int32_t card) {
  CardAccess access(card, CardAccess::kAnyModule);
  return access ? access->ad_list_length : -1;
}

KESTRO_SIM_API int32_t kestro_sim_ad_list_entry(int32_t card, int32_t index, int32_t* channel,
                                                int32_t* range, int32_t* zero) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!access || index < 0 || index >= access->ad_list_length) return -1;
  const ksim::AdListEntry& entry = access->ad_list[index];
  if (channel != nullptr) *channel = entry.channel;
  if (range != nullptr) *range = entry.range;
  if (zero != nullptr) *zero = entry.zero;
  return 0;
}

KESTRO_SIM_API double kestro_sim_ad_frequency(int32_t card) {
  CardAccess access(card, CardAccess::kAnyModule);
  return access ? access->ad_frequency : -1.0;
}

KESTRO_SIM_API double kestro_sim_da_frequency(int32_t card) {
  CardAccess access(card, CardAccess::kAnyModule);
  return access ? access->da_frequency : -1.0;
}

KESTRO_SIM_API int32_t kestro_sim_list_entries(int32_t card, int32_t list, int32_t* entries,
                                               int32_t capacity) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!access || (capacity > 0 && entries == nullptr)) return -1;
  const ksim::ShortList* source = nullptr;
  switch (list) {
    case KESTRO_SIM_LIST_DA:
      source = &access->da_list;
      break;
    case KESTRO_SIM_LIST_CT:
      source = &access->ct_list;
      break;
    case KESTRO_SIM_LIST_TTL:
      source = &access->ttl_list;
      break;
    default:
      return -1;
  }
  for (int32_t i = 0; i < source->length && i < capacity; ++i) entries[i] = source->entries[i];
  return source->length;
}

KESTRO_SIM_API int32_t kestro_sim_start_extern(int32_t card, int32_t flags[3]) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!access) return -1;
  if (flags != nullptr) {
    for (int i = 0; i < 3; ++i) flags[i] = access->start_extern[i];
  }
  return access->start_extern_called ? 1 : 0;
}

KESTRO_SIM_API int32_t kestro_sim_set_clock(int32_t card, int32_t clock) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!access || (clock != KESTRO_SIM_CLOCK_REAL_TIME && clock != KESTRO_SIM_CLOCK_MANUAL)) {
    return -1;
  }
  ksim::Capture& c = access->capture;
  ksim::Advance(*access);
  if (clock == KESTRO_SIM_CLOCK_REAL_TIME && c.clock != clock && c.rate > 0.0) {
    // Go on from the scans taken so far: the clock restarts its count at the
    // moment the last of them was due.
    c.start = ksim::Clock::now() - std::chrono::duration_cast<ksim::Clock::duration>(
                                       std::chrono::duration<double>(c.produced / c.rate));
  }
  c.clock = clock;
  return 0;
}

KESTRO_SIM_API int32_t kestro_sim_advance(int32_t card, int64_t scans) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!access || scans < 0 || !access->ad_running ||
      access->capture.clock != KESTRO_SIM_CLOCK_MANUAL) {
    return -1;
  }
  ksim::Produce(access->capture, static_cast<std::uint64_t>(scans));
  return 0;
}

KESTRO_SIM_API int32_t kestro_sim_set_pattern(int32_t card, int32_t enabled) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!access) return -1;
  access->capture.pattern = enabled != 0;
  return 0;
}

KESTRO_SIM_API int32_t kestro_sim_set_board_memory(int32_t card, int64_t scans) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!access || scans < 1) return -1;
  ksim::Advance(*access);
  access->capture.board_scans = scans;
  return 0;
}

KESTRO_SIM_API int32_t kestro_sim_set_fifo_capacity(int32_t card, int64_t scans) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!access || scans < 1) return -1;
  access->capture.fifo_scans = scans;
  return 0;
}

KESTRO_SIM_API int32_t kestro_sim_capture(int32_t card, kestro_sim_capture_status* status) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!access || status == nullptr) return -1;
  ksim::Advance(*access);
  const ksim::Capture& c = access->capture;
  status->running = access->ad_running ? 1 : 0;
  status->ad_width = c.ad.width;
  status->ct_width = c.ct.width;
  status->din_width = c.din.width;
  status->produced = c.produced;
  status->board_scans = c.produced - c.fetched;
  status->board_lost = c.board_lost;
  status->fifo_lost = c.fifo_lost;
  status->ad_fifo = c.ad.level;
  status->ct_fifo = c.ct.level;
  status->din_fifo = c.din.level;
  status->fifo_capacity = c.ad.capacity;
  status->longest_fetch_gap = c.longest_fetch_gap;
  return 0;
}

KESTRO_SIM_API int32_t kestro_sim_restart_fetch_gap(int32_t card) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!access) return -1;
  access->capture.last_fetch = ksim::Clock::now();
  access->capture.longest_fetch_gap = 0.0;
  return 0;
}

KESTRO_SIM_API double kestro_sim_scan_time(int32_t card, uint64_t scan) {
  CardAccess access(card, CardAccess::kAnyModule);
  return access ? ksim::ScanSeconds(access->capture, scan) : -1.0;
}

KESTRO_SIM_API uint16_t kestro_sim_pattern_ad(uint64_t scan, int32_t entry) {
  return ksim::PatternAd(scan, static_cast<std::uint32_t>(entry));
}

KESTRO_SIM_API uint32_t kestro_sim_pattern_ct(uint64_t scan, int32_t entry) {
  return ksim::PatternCt(scan, static_cast<std::uint32_t>(entry));
}

KESTRO_SIM_API uint16_t kestro_sim_pattern_din(uint64_t scan, int32_t word) {
  return ksim::PatternDin(scan, static_cast<std::uint32_t>(word));
}

}  // extern "C"

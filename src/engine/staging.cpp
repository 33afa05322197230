#include "engine/staging.h"

#include <algorithm>
#include <bit>
#include <new>

#include "frame/driver.h"

namespace qvx {
namespace {

constexpr std::int32_t kLinesPerGroup = 16;
constexpr std::int32_t kNotedGroups = 64;

std::int32_t LibraryWidth(const CardState& c, Fifo fifo) {
  switch (fifo) {
    case kAnalogFifo:
      return c.AdChannelCount;
    case kCounterFifo:
      return c.CtChannelCount.load();
    case kDigitalFifo:
      return c.DinGroupCount;
    default:
      return 0;
  }
}

template <typename T>
void Replace(T*& buffer, std::size_t& capacity, std::int32_t width) {
  delete[] buffer;
  const std::size_t values =
      width > 0 ? static_cast<std::size_t>(std::min(width, kMaxStagingWidth)) * kStagingScans
                : std::size_t{1};
  buffer = new (std::nothrow) T[values];
  capacity = buffer != nullptr ? values : 0;
}

}  // namespace

std::int32_t DriverAddAnalogEntry(std::int32_t card, std::int32_t channel, std::int32_t range) {
  StagingBook& book = g_cards[card].Staging;
  std::lock_guard<std::mutex> guard(book.lock);
  // Noted before the call: a driver that fails may have added all the same.
  book.listed[kAnalogFifo] += 1;
  return drv::ZQ7_AD_AddChannellist(card, channel, range, 0);
}

std::int32_t DriverAddCounterEntry(std::int32_t card, std::int32_t counter) {
  StagingBook& book = g_cards[card].Staging;
  std::lock_guard<std::mutex> guard(book.lock);
  book.listed[kCounterFifo] += 1;
  return drv::ZQ7_CT_AddChannelList(card, counter);
}

void DriverAddLine(std::int32_t card, std::int32_t line) {
  StagingBook& book = g_cards[card].Staging;
  std::lock_guard<std::mutex> guard(book.lock);
  if (line >= 0 && line < kNotedGroups * kLinesPerGroup) {
    book.line_groups |= std::uint64_t{1} << (line / kLinesPerGroup);
  } else {
    book.far_lines += 1;
  }
  book.listed[kDigitalFifo] = std::popcount(book.line_groups) + book.far_lines;
  drv::ZQ7_TTL_AddChannelList(card, line);
}

std::int32_t DriverClearInputLists(std::int32_t card) {
  StagingBook& book = g_cards[card].Staging;
  std::lock_guard<std::mutex> guard(book.lock);
  const std::int32_t result = drv::ZQ7_AD_ClearChannelList(card);
  if (result == 1) {
    for (auto& width : book.listed) width = 0;
    book.line_groups = 0;
    book.far_lines = 0;
  }
  return result;
}

std::int32_t DriverStartCapture(std::int32_t card) {
  StagingBook& book = g_cards[card].Staging;
  std::lock_guard<std::mutex> guard(book.lock);
  // A start that fails may have replaced the FIFOs or not: either width may
  // arrive until the next start succeeds.
  for (int f = 0; f < kFifoKinds; ++f) book.started[f] = std::max(book.started[f], book.listed[f]);
  const std::int32_t result = drv::ZQ7_AD_Start(card);
  if (result >= 0) {
    for (int f = 0; f < kFifoKinds; ++f) book.started[f] = book.listed[f];
  }
  return result;
}

std::int32_t FifoWidth(const CardState& c, Fifo fifo) {
  const std::int32_t width =
      std::max({LibraryWidth(c, fifo), c.Staging.listed[fifo], c.Staging.started[fifo]});
  return std::max(width, 0);
}

std::int32_t FifoRoom(const CardState& c, Fifo fifo) {
  const void* buffer = fifo == kAnalogFifo    ? static_cast<const void*>(c.AdBuffer)
                       : fifo == kCounterFifo ? static_cast<const void*>(c.CtBuffer)
                                              : static_cast<const void*>(c.DinBuffer);
  if (buffer == nullptr) return 0;
  const std::int32_t width = FifoWidth(c, fifo);
  if (width == 0) return kStagingScans;
  const std::size_t scans = c.Staging.capacity[fifo] / static_cast<std::size_t>(width);
  return static_cast<std::int32_t>(std::min<std::size_t>(scans, kStagingScans));
}

std::int32_t StagingScans(const CardState& c) {
  std::int32_t scans = FifoRoom(c, kAnalogFifo);
  if (c.MixedScanMode != 1) return scans;
  if (c.CtChannelCount > 0) scans = std::min(scans, FifoRoom(c, kCounterFifo));
  if (c.DigChannelCount > 0) scans = std::min(scans, FifoRoom(c, kDigitalFifo));
  return scans;
}

void AllocateStaging(CardState& c) {
  std::lock_guard<std::mutex> guard(c.Staging.lock);
  std::size_t* capacity = c.Staging.capacity;
  Replace(c.AdBuffer, capacity[kAnalogFifo], FifoWidth(c, kAnalogFifo));
  Replace(c.CtBuffer, capacity[kCounterFifo], FifoWidth(c, kCounterFifo));
  Replace(c.DinBuffer, capacity[kDigitalFifo], FifoWidth(c, kDigitalFifo));
}

void FreeStaging(CardState& c) {
  std::lock_guard<std::mutex> guard(c.Staging.lock);
  delete[] c.AdBuffer;
  delete[] c.CtBuffer;
  delete[] c.DinBuffer;
  c.AdBuffer = nullptr;
  c.CtBuffer = nullptr;
  c.DinBuffer = nullptr;
  for (auto& capacity : c.Staging.capacity) capacity = 0;
}

}  // namespace qvx

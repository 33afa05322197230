// Clocked capture of analog inputs and digital lines: channel lists, rates,
// start and stop, and the FIFOs the library drains.
//
// The settings are recorded and checked; the clocked acquisition itself is
// not modelled yet, so nothing ever waits in a FIFO and every read delivers
// zero scans.
#include "entries.h"
#include "sim_card.h"

namespace ksim {

std::int32_t DeliverNothing(const CardAccess& access, std::int32_t* count, std::int32_t failed) {
  if (!access || count == nullptr) return failed;
  *count = 0;
  return 0;
}

std::int32_t ReadEmptyFifo(const CardAccess& access, std::int32_t count, const void* dest,
                           std::int32_t failed) {
  if (!access) return failed;
  if (count <= 0) return 0;
  return dest != nullptr ? 0 : failed;
}

namespace drv {

std::int32_t ZQ7_AD_ClearChannelList(std::int32_t card) {
  CardAccess access(card);
  if (!access) return failure::ZQ7_AD_ClearChannelList;
  access->ad_list_length = 0;
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

// No rate above the module's aggregate rate can be right for any list.
std::int32_t ZQ7_AD_SetFrequency(std::int32_t card, double rate) {
  CardAccess access(card);
  if (!access || !(rate > 0.0) || rate > access.model().ad_rate_khz * 1000.0) {
    return failure::ZQ7_AD_SetFrequency;
  }
  access->ad_frequency = rate;
  return 0;
}

std::int32_t ZQ7_AD_Start(std::int32_t card) {
  CardAccess access(card);
  if (!access) return failure::ZQ7_AD_Start;
  access->ad_running = true;
  return 0;
}

std::int32_t ZQ7_AD_Stop(std::int32_t card) {
  CardAccess access(card);
  if (!access) return failure::ZQ7_AD_Stop;
  access->ad_running = false;
  return 0;
}

// Until capture is clocked, every status word and FIFO level is 0, on any
// card.
qvx::KestroDaStatus ZQ7_AD_GetStatus(std::int32_t) {
  return qvx::KestroDaStatus{};
}

qvx::KestroDaStatus ZQ7_AD_GetStatus_MixedChannels(std::int32_t) {
  return qvx::KestroDaStatus{};
}

std::int32_t ZQ7_AD_GetData(std::int32_t card, std::int32_t* count, std::uint16_t*) {
  return DeliverNothing(CardAccess(card), count, failure::ZQ7_AD_GetData);
}

std::int32_t ZQ7_AD_GetData_MixedChannels(std::int32_t card, std::int32_t* count, std::uint16_t*) {
  return DeliverNothing(CardAccess(card), count, failure::ZQ7_AD_GetData_MixedChannels);
}

std::int32_t ZQ7_AD_ReadData_MixedChannels(std::int32_t card, std::int32_t* count) {
  return DeliverNothing(CardAccess(card), count, failure::ZQ7_AD_ReadData_MixedChannels);
}

std::int32_t ZQ7_AD_GetFifoStatus(std::int32_t) {
  return 0;
}

std::int32_t ZQ7_AD_GetDataFromFifo(std::int32_t card, std::int32_t count, std::uint16_t* dest) {
  return ReadEmptyFifo(CardAccess(card), count, dest, failure::ZQ7_AD_GetDataFromFifo);
}

std::int32_t ZQ7_DIN_GetFifoStatus(std::int32_t) {
  return 0;
}

std::int32_t ZQ7_DIN_GetDataFromFifo(std::int32_t card, std::int32_t count, std::uint16_t* dest) {
  return ReadEmptyFifo(CardAccess(card), count, dest, failure::ZQ7_DIN_GetDataFromFifo);
}

std::int32_t ZQ7_TTL_AddChannelList(std::int32_t card, std::int32_t line) {
  CardAccess access(card);
  if (!access || line < 0 || line >= access.model().lines || !access->ttl_list.Add(line)) {
    return failure::ZQ7_TTL_AddChannelList;
  }
  return 0;
}

qvx::KestroDaStatus ZQ7_TTL_GetStatus(std::int32_t) {
  return qvx::KestroDaStatus{};
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

}  // extern "C"

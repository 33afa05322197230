// Clocked analog output: the output channel list, rate, start and stop, the
// output queue and its status.
//
// Settings are recorded and checked. The output engine is not modelled yet:
// codes handed over are counted and dropped, so the queue always has its full
// room and output never shows as running.
#include "entries.h"
#include "sim_card.h"

namespace ksim {
namespace {

constexpr int kStatusRunning = 0;
constexpr int kStatusRoom = 1;
constexpr int kStatusReady = 14;

}  // namespace

namespace drv {

std::int32_t ZQ7_DA_ClearChannelList(std::int32_t card) {
  CardAccess access(card);
  if (!access) return failure::ZQ7_DA_ClearChannelList;
  access->da_list.length = 0;
  return 1;
}

std::int32_t ZQ7_DA_AddChannellist(std::int32_t card, std::int32_t channel) {
  CardAccess access(card);
  if (!access || channel < 0 || channel >= access.model().da_outputs ||
      !access->da_list.Add(channel)) {
    return failure::ZQ7_DA_AddChannellist;
  }
  return 0;
}

std::int32_t ZQ7_DA_SetFrequency(std::int32_t card, double rate) {
  CardAccess access(card);
  if (!access || !(rate > 0.0)) return failure::ZQ7_DA_SetFrequency;
  access->da_frequency = rate;
  return 0;
}

std::int32_t ZQ7_DA_Start(std::int32_t card) {
  CardAccess access(card);
  if (!access) return failure::ZQ7_DA_Start;
  access->da_running = true;
  return 0;
}

std::int32_t ZQ7_DA_Stop(std::int32_t card) {
  CardAccess access(card);
  if (!access) return failure::ZQ7_DA_Stop;
  access->da_running = false;
  return 0;
}

qvx::KestroDaStatus ZQ7_DA_GetStatus(std::int32_t card) {
  CardAccess access(card);
  if (!access) return failure::ZQ7_DA_GetStatus;
  qvx::KestroDaStatus status{};
  status.word[kStatusRunning] = 0;
  status.word[kStatusRoom] = access.model().da_queue_codes;
  status.word[kStatusReady] = 1;
  return status;
}

std::int32_t ZQ7_DA_PutData(std::int32_t card, const std::uint16_t* codes, std::int32_t count) {
  CardAccess access(card);
  if (!access || count < 0 || (count > 0 && codes == nullptr) ||
      count > access.model().da_queue_codes) {
    return failure::ZQ7_DA_PutData;
  }
  access->da_codes_received += static_cast<std::uint64_t>(count);
  return 0;
}

}  // namespace drv
}  // namespace ksim

#include "engine/block_read.h"

#include <algorithm>

#include "engine/staging.h"
#include "frame/call.h"
#include "frame/driver.h"

namespace qvx {

std::int32_t DecideScans(std::int32_t available, std::int32_t* count, std::int32_t mode,
                         std::int32_t room) {
  const std::int32_t wanted = *count;
  std::int32_t n = wanted;
  if (available <= wanted) {
    if (mode == 1 || available < 0) {
      *count = 0;
      return 0;
    }
    n = available;
    *count = n;
  }
  if (n <= 0) {
    *count = 0;
    return 0;
  }
  if (n > room) {
    n = room;
    *count = n;
  }
  return n;
}

std::int32_t ScansOfSideFifo(std::int32_t card, std::int32_t (*status)(std::int32_t),
                             const char* status_label, const char* drain_label, std::int32_t* count,
                             std::int32_t mode, std::int32_t room) {
  std::int32_t available = -1;
  {
    MutexGuard lock(g_cards[card].AdMutex, status_label);
    if (lock.owned()) available = status(card);
  }
  DrainAutoAnalog(card, drain_label);
  return DecideScans(available, count, mode, room);
}

void DrainAutoAnalog(std::int32_t card, const char* label) {
  CardState& c = g_cards[card];
  if (c.AutoAdChannel != 1 || FifoRoom(c, kAnalogFifo) == 0) return;
  MutexGuard lock(c.AdMutex, label);
  if (!lock.owned()) return;
  std::int32_t waiting = drv::ZQ7_AD_GetFifoStatus(card);
  if (waiting <= 0) return;
  std::lock_guard<std::mutex> staging(c.Staging.lock);
  waiting = std::min(waiting, FifoRoom(c, kAnalogFifo));
  if (waiting > 0) drv::ZQ7_AD_GetDataFromFifo(card, waiting, c.AdBuffer);
}

}  // namespace qvx

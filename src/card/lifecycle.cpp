// Opening, selecting and closing cards.
#include "engine/worker.h"
#include "frame/call.h"
#include "frame/driver.h"
#include "quorvex.h"

namespace qvx {
namespace {

constexpr const char* kAdMutexName = "___ad__";
constexpr const char* kDaMutexName = "___da__";

// Module types whose per-channel rate is bounded by the aggregate rate.
bool HasStrictRateLimit(std::uint32_t ident) {
  switch (ident) {
    case 6:
    case 7:
    case 8:
    case 12:
    case 13:
    case 14:
      return true;
    default:
      return false;
  }
}

// Ends the card's worker and releases its mutex handles.
void ReleaseCard(std::int32_t card) {
  CardState& c = g_cards[card];
  StopWorker(card);
  platform::MutexClose(c.AdMutex);
  platform::MutexClose(c.DaMutex);
  c.AdMutex = nullptr;
  c.DaMutex = nullptr;
}

}  // namespace
}  // namespace qvx

using namespace qvx;

int32_t QVX_CALL LoadCard(int32_t card) {
  Trace("begin LoadCard (%d)", card);
  return CardInRange(card) ? kOk : kArgument;
}

int32_t QVX_CALL OpenCard(int32_t card) {
  Trace("begin OpenCard (%d)", card);
  if (!CardInRange(card)) return kArgument;
  CardState& c = g_cards[card];
  if (drv::ZQ7_CreateSimpleHandle(card) != 1) return Fail(c);
  // Opening an open card starts it afresh: its old worker ends first, so one
  // worker at most runs per card.
  ReleaseCard(card);
  ResetCardState(card);
  drv::ZQ7_SwitchCard(card);
  CurrentCard.store(static_cast<std::uint32_t>(card));
  static_cast<KestroModuleInfo&>(c.ModuleInfo) = drv::ZQ7_ReadNewFlash(card);
  drv::ZQ7_Get_ModuleIdent(card, &c.ModuleIdent);
  c.StrictRateLimit = HasStrictRateLimit(c.ModuleIdent) ? 1 : 0;
  c.AdMutex = platform::MutexOpen(kAdMutexName);
  c.DaMutex = platform::MutexOpen(kDaMutexName);
  c.AdRunState = 0;
  c.DaRunState = 0;
  StartWorker(card);
  return kOk;
}

int32_t QVX_CALL SwitchCard(int32_t card) {
  Trace("begin SwitchCard (%d)", card);
  if (!CardInRange(card)) return kArgument;
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  if (card == CurrentCardNumber()) return kOk;
  if (drv::ZQ7_SwitchCard(card) != 0) return Fail(c);
  CurrentCard.store(static_cast<std::uint32_t>(card));
  return kOk;
}

int32_t QVX_CALL CloseCard(int32_t card) {
  Trace("begin CloseCard (%d)", card);
  if (!CardInRange(card)) return kArgument;
  // The worker has ended before the driver releases the card, so no driver
  // call for the card follows ZQ7_CloseSimpleHandle.
  ReleaseCard(card);
  drv::ZQ7_CloseSimpleHandle(card);
  return kOk;
}

#include "frame/card_state.h"

namespace qvx {

CardState g_cards[kMaxCards];
std::atomic<std::uint32_t> CurrentCard{0};

int ResetCardState(std::int32_t card) {
  CardState& c = g_cards[card];
  c.AdChannelCount = 0;
  c.DaChannelCount = 0;
  c.DigChannelCount = 0;
  c.CtChannelCount = 0;
  c.AutoAdChannel = 0;
  c.DinGroupCount = 0;
  c.DigitalWidthCode = 0;
  c.ExtTriggerA = 0;
  c.ExtTriggerB = 0;
  c.ConfigMode = 0;
  c.ValuesPerPoll = 0;
  SetRunState(c, c.AdRunState, 0);
  SetRunState(c, c.DaRunState, 0);
  c.MixedScanMode = 0;
  c.MemTargetValues = 0;
  c.MemValuesFetched = 0;
  c.ErrorLatch = 0;
  c.SampleRate = 0.0;
  c.DaSampleRate = 0.0;
  for (int s = 0; s < kScanSlots; ++s) {
    c.ScanSlotIsDigital[s] = 0;
    c.ScanSlotIsCounter[s] = 0;
  }
  for (auto& range : c.AdRange) range = 0;
  for (auto& enabled : c.DinGroupEnabled) enabled = 0;
  for (auto& scale : c.CounterScale) scale = 1;
  return 0;
}

}  // namespace qvx

// Counter inputs: configuration and the counter channel list. The counter
// FIFO belongs to clocked capture (acquisition.cpp).
//
// Configurations and the list are recorded and checked; counting itself is
// not modelled yet, so captured counter values are 0.
#include "entries.h"
#include "sim_card.h"

namespace ksim {
namespace {

bool ValidCounter(const CardAccess& access, std::int32_t counter) {
  return access && counter >= 0 && counter < access.model().counters;
}

}  // namespace

// Counting is not modelled yet: every counter holds 0. This is where the
// count of a configured counter up to `seconds` will come from.
std::uint32_t CounterCaptureValue(const SimCard&, int, std::uint64_t, double) {
  return 0;
}

namespace drv {

std::int32_t ZQ7_ConfigureCounterInput(std::int32_t card, std::int32_t counter, std::int32_t mode,
                                       std::int32_t a, std::int32_t b, std::int32_t c,
                                       std::int32_t d, std::int32_t e, std::int32_t f,
                                       std::int32_t g) {
  CardAccess access(card);
  if (!ValidCounter(access, counter)) return failure::ZQ7_ConfigureCounterInput;
  access->counters[counter] = CounterConfig{1, {mode, a, b, c, d, e, f, g}};
  return 0;
}

std::int32_t ZQ7_ConfigureCounterInputEx(std::int32_t card, std::int32_t counter, std::int32_t mode,
                                         std::int32_t a5, std::int32_t zero1, std::int32_t zero2,
                                         std::int32_t a3, std::int32_t a4, std::int32_t a6,
                                         std::int32_t a7, std::int32_t a8, std::int32_t a9) {
  CardAccess access(card);
  if (!ValidCounter(access, counter)) return failure::ZQ7_ConfigureCounterInputEx;
  access->counters[counter] = CounterConfig{2, {mode, a5, zero1, zero2, a3, a4, a6, a7, a8, a9}};
  return 0;
}

std::int32_t ZQ7_CT_AddChannelList(std::int32_t card, std::int32_t counter) {
  CardAccess access(card);
  if (!ValidCounter(access, counter) || !access->ct_list.Add(counter)) {
    return failure::ZQ7_CT_AddChannelList;
  }
  return 0;
}

std::int32_t ZQ7_CT_GetData(std::int32_t card, std::int32_t* count, std::uint32_t*) {
  return DeliverNothing(CardAccess(card), count, failure::ZQ7_CT_GetData);
}

}  // namespace drv
}  // namespace ksim

extern "C" {

KESTRO_SIM_API int32_t kestro_sim_counter_config(int32_t card, int32_t counter,
                                                 int32_t values[10]) {
  ksim::CardAccess access(card, ksim::CardAccess::kAnyModule);
  if (!ksim::ValidCounter(access, counter)) return -1;
  const ksim::CounterConfig& config = access->counters[counter];
  if (values != nullptr) {
    for (int i = 0; i < 10; ++i) values[i] = config.values[i];
  }
  return config.source;
}

}  // extern "C"

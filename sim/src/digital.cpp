// Digital lines: directions, output latches, input levels and loop-back, seen
// through 16-line port words.
#include "entries.h"
#include "sim_card.h"

namespace ksim {
namespace {

constexpr int kGroupLines = 16;

std::uint32_t Bit(int line) {
  return std::uint32_t{1} << line;
}

bool ValidLine(const CardAccess& access, std::int32_t line) {
  return access && line >= 0 && line < access.model().lines;
}

bool ValidGroup(const CardAccess& access, std::int32_t group) {
  // Compared as a group count: a group number near the integer limit times 16
  // would overflow.
  return access && group >= 0 && group < (access.model().lines + kGroupLines - 1) / kGroupLines;
}

// Bits of group `group` that belong to lines the module has.
std::uint32_t GroupMask(const SimCard& card, int group) {
  const int lines = card.model->lines - group * kGroupLines;
  return lines >= kGroupLines ? 0xFFFFu : (std::uint32_t{1} << lines) - 1;
}

std::uint32_t DedicatedMask(const SimCard& card) {
  return (std::uint32_t{1} << card.model->dedicated_inputs) - 1;
}

}  // namespace

std::uint32_t LineLevel(const SimCard& card, int line) {
  if ((card.outputs & Bit(line)) != 0) return (card.latches >> line) & 1u;
  const int source = card.loop_source[line];
  if (source >= 0) return (card.latches >> source) & 1u;
  return (card.input_levels >> line) & 1u;
}

// Captured lines show the levels a port read would show, without the
// dedicated input bits, except that input lines without loop-back follow
// the count while counting is on; lines the module lacks read 0.
DinEpoch DigitalEpoch(const SimCard& card) {
  DinEpoch epoch;
  epoch.start = card.din_count_start;
  epoch.step = card.din_count_step;
  for (int line = 0; line < card.model->lines; ++line) {
    const int group = line / kGroupLines;
    const auto bit = static_cast<std::uint16_t>(1u << (line % kGroupLines));
    const bool counted =
        card.din_count && (card.outputs & Bit(line)) == 0 && card.loop_source[line] < 0;
    if (counted) {
      epoch.counted[group] |= bit;
    } else if (LineLevel(card, line) != 0) {
      epoch.fixed[group] |= bit;
    }
  }
  return epoch;
}

namespace drv {

std::int32_t ZQ7_GetNumOfTTLIn(std::int32_t card) {
  CardAccess access(card);
  return access ? access.model().ttl_in : failure::ZQ7_GetNumOfTTLIn;
}

std::int32_t ZQ7_GetNumOfTTLOut(std::int32_t card) {
  CardAccess access(card);
  return access ? access.model().ttl_out : failure::ZQ7_GetNumOfTTLOut;
}

std::int32_t ZQ7_TTL_SetDirection(std::int32_t card, std::int32_t line, std::int32_t direction) {
  CardAccess access(card);
  if (!ValidLine(access, line) || (direction != 0 && direction != 1)) {
    return failure::ZQ7_TTL_SetDirection;
  }
  if (direction == 1) {
    access->outputs |= Bit(line);
  } else {
    access->outputs &= ~Bit(line);
  }
  NoteDigitalChange(*access);
  return 0;
}

// The port word of the group holding `line`; modules with dedicated inputs
// put those bits below it.
std::uint32_t ZQ7_TTL_Getchannel(std::int32_t card, std::int32_t line) {
  CardAccess access(card);
  if (!ValidLine(access, line)) return failure::ZQ7_TTL_Getchannel;
  const int group = line / kGroupLines;
  std::uint32_t word = 0;
  for (int bit = 0; bit < kGroupLines; ++bit) {
    const int at = group * kGroupLines + bit;
    if (at < access.model().lines) word |= LineLevel(*access, at) << bit;
  }
  const int dedicated = access.model().dedicated_inputs;
  if (dedicated == 0) return word;
  return (word << dedicated) | (access->dedicated & DedicatedMask(*access));
}

// Stores `word` (without dedicated input bits) into the output latches of
// the group holding `line`, whatever the lines' directions.
std::int32_t ZQ7_TTL_PutChannel(std::int32_t card, std::int32_t line, std::uint32_t word) {
  CardAccess access(card);
  if (!ValidLine(access, line)) return failure::ZQ7_TTL_PutChannel;
  const int group = line / kGroupLines;
  const int shift = group * kGroupLines;
  const std::uint32_t mask = GroupMask(*access, group) << shift;
  access->latches = (access->latches & ~mask) | ((word << shift) & mask);
  NoteDigitalChange(*access);
  return 0;
}

}  // namespace drv
}  // namespace ksim

using ksim::CardAccess;

extern "C" {

KESTRO_SIM_API int32_t kestro_sim_digital_direction(int32_t card, int32_t line) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!ksim::ValidLine(access, line)) return -1;
  return (access->outputs & ksim::Bit(line)) != 0 ? 1 : 0;
}

KESTRO_SIM_API int32_t kestro_sim_digital_output_word(int32_t card, int32_t group) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!ksim::ValidGroup(access, group)) return -1;
  return static_cast<int32_t>((access->latches >> (group * ksim::kGroupLines)) &
                              ksim::GroupMask(*access, group));
}

KESTRO_SIM_API int32_t kestro_sim_set_digital_input(int32_t card, int32_t line, int32_t level) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!ksim::ValidLine(access, line)) return -1;
  if (level != 0) {
    access->input_levels |= ksim::Bit(line);
  } else {
    access->input_levels &= ~ksim::Bit(line);
  }
  ksim::NoteDigitalChange(*access);
  return 0;
}

KESTRO_SIM_API int32_t kestro_sim_set_digital_input_word(int32_t card, int32_t group,
                                                         uint32_t word) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!ksim::ValidGroup(access, group)) return -1;
  const int shift = group * ksim::kGroupLines;
  const std::uint32_t mask = ksim::GroupMask(*access, group) << shift;
  access->input_levels = (access->input_levels & ~mask) | ((word << shift) & mask);
  ksim::NoteDigitalChange(*access);
  return 0;
}

KESTRO_SIM_API int32_t kestro_sim_set_digital_loopback(int32_t card, int32_t line, int32_t source) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!ksim::ValidLine(access, line) || (source != -1 && !ksim::ValidLine(access, source))) {
    return -1;
  }
  access->loop_source[line] = static_cast<std::int8_t>(source);
  ksim::NoteDigitalChange(*access);
  return 0;
}

KESTRO_SIM_API int32_t kestro_sim_set_digital_count(int32_t card, int32_t enabled, uint32_t start,
                                                    uint32_t step) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!access) return -1;
  access->din_count = enabled != 0;
  access->din_count_start = start;
  access->din_count_step = step;
  ksim::NoteDigitalChange(*access);
  return 0;
}

KESTRO_SIM_API int32_t kestro_sim_set_dedicated_inputs(int32_t card, uint32_t bits) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!access) return -1;
  access->dedicated = bits & ksim::DedicatedMask(*access);
  return 0;
}

}  // extern "C"

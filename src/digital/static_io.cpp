// Static access to the digital lines: directions, single lines and runs of
// lines, written as a read-modify-write of the port word.
//
// Modules whose driver reports 4 or 8 dedicated inputs number their lines
// after those inputs: direction calls address driver line L + nIn, and a port
// word read back carries the dedicated inputs in its low nIn bits, which are
// dropped before the word is modified and written back. The driver's counts
// are asked anew on every call, once, at the first step that needs them.
#include "frame/call.h"
#include "frame/driver.h"
#include "quorvex.h"

namespace qvx {
namespace {

constexpr std::int32_t kLinesPerGroup = 16;

bool HasDedicatedInputs(std::int32_t inputs) {
  return inputs == 4 || inputs == 8;
}

std::uint32_t DropDedicatedInputs(std::uint32_t word, std::int32_t inputs) {
  return HasDedicatedInputs(inputs) ? word >> (static_cast<std::uint32_t>(inputs) % 32u) : word;
}

bool IsDirection(std::int32_t direction) {
  return direction == 0 || direction == 1;
}

// A run of `count` lines from `first` that does not fit the module's
// `lines` digital lines.
bool RunOutside(std::int64_t first, std::int32_t count, std::int32_t lines) {
  return first < 0 || first >= lines || count < 0 || count > lines || first + count > lines;
}

// Bits pos .. pos+count-1 of a port word, each position taken mod 32.
std::uint32_t RunMask(std::int32_t pos, std::int32_t count) {
  if (count >= 32) return ~0u;
  std::uint32_t mask = 0;
  for (std::int32_t i = 0; i < count; ++i) mask |= 1u << ((pos + i) % 32);
  return mask;
}

}  // namespace
}  // namespace qvx

using namespace qvx;

int32_t QVX_CALL ReadDigitalBit(int32_t line, uint32_t* /*value*/) {
  Trace("begin ReadDigitalBit (%d, *Val)", line);
  return kOk;
}

int32_t QVX_CALL ReadDigitalPort(int32_t first_line, int32_t p2, uint32_t* /*value*/) {
  Trace("begin ReadDigitalPort (%d, %d, *Val)", first_line, p2);
  return kOk;
}

int32_t QVX_CALL WriteDigitalBit(int32_t line, int32_t value) {
  Trace("begin WriteDigitalBit (%d, %d)", line, value);
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  // Lines 0 to the reported output count inclusive are accepted.
  if (line < 0 || line > drv::ZQ7_GetNumOfTTLOut(card)) return Refuse(c);
  std::uint32_t word = drv::ZQ7_TTL_Getchannel(card, line);
  word = DropDedicatedInputs(word, drv::ZQ7_GetNumOfTTLIn(card));
  const std::uint32_t bit = 1u << (line % kLinesPerGroup);
  word = value > 0 ? word | bit : word & ~bit;
  drv::ZQ7_TTL_PutChannel(card, line, word);
  return kOk;
}

int32_t QVX_CALL WriteDigitalPort(int32_t first_line, int32_t count, uint32_t value) {
  Trace("begin WriteDigitalPort (%d, %d, %d)", first_line, count, static_cast<int32_t>(value));
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  if (RunOutside(first_line, count, c.ModuleInfo.NumDigitalLines())) return Refuse(c);
  std::uint32_t word = drv::ZQ7_TTL_Getchannel(card, first_line);
  word = DropDedicatedInputs(word, drv::ZQ7_GetNumOfTTLIn(card));
  const std::int32_t pos = first_line % kLinesPerGroup;
  const std::uint32_t mask = RunMask(pos, count);
  word = (word & ~mask) | ((value << pos) & mask);
  drv::ZQ7_TTL_PutChannel(card, first_line, word);
  return kOk;
}

int32_t QVX_CALL SetDigitalDirection(int32_t line, int32_t direction) {
  Trace("begin SetDigitalDirection (%d, %d)", line, direction);
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  if (!IsDirection(direction)) return Refuse(c);
  // An input line is bounded by the reported input count (inclusive); an
  // output line is passed on without a bound.
  if (direction == 0 && line < 0) return Refuse(c);
  const std::int32_t inputs = drv::ZQ7_GetNumOfTTLIn(card);
  if (direction == 0 && line > inputs) return Refuse(c);
  // Wraps like the driver's 32-bit line number rather than overflowing.
  if (HasDedicatedInputs(inputs)) {
    line = static_cast<std::int32_t>(static_cast<std::uint32_t>(line) +
                                     static_cast<std::uint32_t>(inputs));
  }
  if (drv::ZQ7_TTL_SetDirection(card, line, direction) < 0) return Fail(c);
  return kOk;
}

int32_t QVX_CALL SetDigitalPortDirection(int32_t first_line, int32_t count, int32_t direction) {
  Trace("begin SetDigitalPortDirection (%d, %d, %d)", first_line, count, direction);
  const std::int32_t card = CurrentCardNumber();
  CardState& c = g_cards[card];
  if (Latched(c)) return kFailure;
  if (!IsDirection(direction)) return Refuse(c);
  const std::int32_t inputs = drv::ZQ7_GetNumOfTTLIn(card);
  std::int64_t first = first_line;
  if (HasDedicatedInputs(inputs)) first += inputs;
  // The bounds apply to the driver's line numbers, offset included.
  if (RunOutside(first, count, c.ModuleInfo.NumDigitalLines())) return Refuse(c);
  // Each line in turn; a failing line does not stop the run.
  for (std::int64_t line = first; line < first + count; ++line) {
    drv::ZQ7_TTL_SetDirection(card, static_cast<std::int32_t>(line), direction);
  }
  return kOk;
}

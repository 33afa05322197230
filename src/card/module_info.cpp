// Module identification, the library version and the private flash area.
#include <algorithm>
#include <cstring>

#include "frame/call.h"
#include "frame/driver.h"
#include "quorvex.h"

namespace qvx {
namespace {

static_assert(sizeof(QvxFlashInfo) == 84, "FlashInfo is 84 bytes");
static_assert(sizeof(QvxFlashInfoEx) == 288, "FlashInfoEx is 288 bytes");

constexpr std::int32_t kPrivateFlashMax = 256;
constexpr char kVersionText[20] = "QUORVEX GEN V61127";  // two zero bytes follow
constexpr std::int32_t kVersion[3] = {6, 11, 27};

// Length of a text that may lack its terminator within `room` bytes.
std::size_t TextLength(const char* text, std::size_t room) {
  return static_cast<std::size_t>(std::find(text, text + room, '\0') - text);
}

// Copies a zero-terminated text of the record into a field of `size` bytes:
// with its terminator when shorter, without when it fills the field, and
// never beyond the field.
void CopyText(char* field, std::size_t size, const ModuleInfoRecord& record, int offset) {
  const auto* text = reinterpret_cast<const char*>(record.bytes + offset);
  const std::size_t room = sizeof record.bytes - static_cast<std::size_t>(offset);
  const std::size_t length = TextLength(text, room);
  std::memcpy(field, text, length < size ? length + (length < room ? 1 : 0) : size);
}

void FillFlashInfo(QvxFlashInfo* info, const ModuleInfoRecord& record) {
  CopyText(info->IdentText1, sizeof info->IdentText1, record, ModuleInfoRecord::kIdentText1);
  CopyText(info->IdentText2, sizeof info->IdentText2, record, ModuleInfoRecord::kIdentText2);
  info->NumAdChannels = record.NumAdChannels();
  info->IdentByte141 = record.IdentByte141();
  info->NumDaChannels = record.NumDaChannels();
  info->IdentByte145 = record.IdentByte145();
  info->NumCounters = record.NumCounters();
  info->NumDigitalLines = record.NumDigitalLines();
  info->Reserved76 = 1;
  info->Reserved80 = 0;
}

// Card range, then latch: the common opening of the calls below. Returns
// -1 when the call may go on.
std::int32_t CheckCard(std::int32_t card) {
  if (!CardInRange(card)) return kArgument;
  if (Latched(g_cards[card])) return kFailure;
  return -1;
}

}  // namespace
}  // namespace qvx

using namespace qvx;

int32_t QVX_CALL ReadFlashData(int32_t card, QvxFlashInfo* info) {
  Trace("begin ReadFlashData (%d)", card);
  if (const std::int32_t status = CheckCard(card); status >= 0) return status;
  if (info == nullptr) return Refuse(g_cards[card]);
  FillFlashInfo(info, g_cards[card].ModuleInfo);
  return kOk;
}

int32_t QVX_CALL ReadFlashDataEx(int32_t card, QvxFlashInfoEx* info) {
  Trace("begin ReadFlashDataEx (%d)", card);
  if (const std::int32_t status = CheckCard(card); status >= 0) return status;
  if (info == nullptr) return Refuse(g_cards[card]);
  const ModuleInfoRecord& record = g_cards[card].ModuleInfo;
  FillFlashInfo(&info->Info, record);
  const std::int32_t rate_hz = record.MaxAdRateKHz() * 1000;
  info->Value84 = 1;
  info->MaxAdRateHz = rate_hz;
  info->Value92 = 1;
  info->MaxAdRateHz2 = rate_hz;
  info->Value100 = 2;
  const std::int32_t tail[6] = {4, 1, 2, 4, 8, 0};
  std::memcpy(info->Values264, tail, sizeof tail);
  return kOk;
}

int32_t QVX_CALL GetCustomerName(int32_t card, char* text) {
  Trace("begin GetCustomerName (%d)", card);
  if (const std::int32_t status = CheckCard(card); status >= 0) return status;
  if (text == nullptr) return Refuse(g_cards[card]);
  const ModuleInfoRecord& record = g_cards[card].ModuleInfo;
  const auto* name = reinterpret_cast<const char*>(record.bytes + ModuleInfoRecord::kCustomerName);
  const std::size_t room = sizeof record.bytes - ModuleInfoRecord::kCustomerName;
  const std::size_t length = TextLength(name, room);
  std::memcpy(text, name, length);
  text[length] = '\0';
  return kOk;
}

int32_t QVX_CALL GetEnhancedInformations(int32_t card, void* /*destination*/) {
  Trace("begin GetEnhancedInformations (%d, *Destianation)", card);
  return kOk;
}

int32_t QVX_CALL GetDLLVersion(char* text20, int32_t* major, int32_t* minor, int32_t* build) {
  if (text20 != nullptr) std::memcpy(text20, kVersionText, sizeof kVersionText);
  if (major != nullptr) *major = kVersion[0];
  if (minor != nullptr) *minor = kVersion[1];
  if (build != nullptr) *build = kVersion[2];
  return kOk;
}

int32_t QVX_CALL ClearPrivateFlash(int32_t card) {
  Trace("begin ClearPrivateFlash (%d)", card);
  if (const std::int32_t status = CheckCard(card); status >= 0) return status;
  drv::ZQ7_ClearPrivateFlash(card);
  return kOk;
}

int32_t QVX_CALL ReadPrivateFlash(int32_t card, void* buffer, int32_t count) {
  Trace("begin ReadPrivateFlash (%d)", card);
  if (const std::int32_t status = CheckCard(card); status >= 0) return status;
  if (count <= 0 || buffer == nullptr) return Refuse(g_cards[card]);
  drv::ZQ7_ReadPrivateFlash(card, buffer, count > kPrivateFlashMax ? kPrivateFlashMax : count);
  return kOk;
}

int32_t QVX_CALL WritePrivateFlash(int32_t card, const void* buffer, int32_t count) {
  Trace("begin WritePrivateFlash (%d)", card);
  if (const std::int32_t status = CheckCard(card); status >= 0) return status;
  if (count <= 0 || count > kPrivateFlashMax || buffer == nullptr) return Refuse(g_cards[card]);
  drv::ZQ7_WritePrivateFlash(card, buffer, count);
  return kOk;
}

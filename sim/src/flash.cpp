// The identification record and the 256-byte private flash of each card.
#include <cstring>

#include "entries.h"
#include "sim_card.h"

namespace ksim {
namespace {

// Bytes a private-flash transfer of `count` moves, or -1 when refused.
int FlashBytes(const void* buffer, std::int32_t count) {
  if (buffer == nullptr || count < 1) return -1;
  return count < kPrivateFlashBytes ? count : kPrivateFlashBytes;
}

}  // namespace

namespace drv {

KestroModuleInfo ZQ7_ReadNewFlash(std::int32_t card) {
  CardAccess access(card);
  if (!access) return failure::ZQ7_ReadNewFlash;
  return access->ident;
}

// The record is kept and read back until the module is powered on again; it
// does not change what the module does.
std::int32_t ZQ7_WriteNewFlash(std::int32_t card, const KestroModuleInfo* info) {
  CardAccess access(card);
  if (!access || info == nullptr) return failure::ZQ7_WriteNewFlash;
  access->ident = *info;
  return 0;
}

std::int32_t ZQ7_ClearPrivateFlash(std::int32_t card) {
  CardAccess access(card);
  if (!access) return failure::ZQ7_ClearPrivateFlash;
  std::memset(access.private_flash(), 0xFF, kPrivateFlashBytes);
  return 0;
}

std::int32_t ZQ7_ReadPrivateFlash(std::int32_t card, void* buffer, std::int32_t count) {
  CardAccess access(card);
  const int bytes = FlashBytes(buffer, count);
  if (!access || bytes < 0) return failure::ZQ7_ReadPrivateFlash;
  std::memcpy(buffer, access.private_flash(), static_cast<std::size_t>(bytes));
  return 0;
}

std::int32_t ZQ7_WritePrivateFlash(std::int32_t card, const void* buffer, std::int32_t count) {
  CardAccess access(card);
  const int bytes = FlashBytes(buffer, count);
  if (!access || bytes < 0) return failure::ZQ7_WritePrivateFlash;
  std::memcpy(access.private_flash(), buffer, static_cast<std::size_t>(bytes));
  return 0;
}

}  // namespace drv
}  // namespace ksim

extern "C" {

KESTRO_SIM_API int32_t kestro_sim_read_private_flash(int32_t card, void* buffer, int32_t count) {
  ksim::CardAccess access(card, ksim::CardAccess::kAnyModule);
  const int bytes = ksim::FlashBytes(buffer, count);
  if (!access || bytes < 0) return -1;
  std::memcpy(buffer, access.private_flash(), static_cast<std::size_t>(bytes));
  return bytes;
}

KESTRO_SIM_API int32_t kestro_sim_write_private_flash(int32_t card, const void* buffer,
                                                      int32_t count) {
  ksim::CardAccess access(card, ksim::CardAccess::kAnyModule);
  const int bytes = ksim::FlashBytes(buffer, count);
  if (!access || bytes < 0) return -1;
  std::memcpy(access.private_flash(), buffer, static_cast<std::size_t>(bytes));
  return bytes;
}

}  // extern "C"

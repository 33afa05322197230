// Card handles, power-on state, module choice and the module-wide settings
// (master/slave mode, registers).
#include <cstdlib>
#include <cstring>

#include "entries.h"
#include "sim_card.h"

namespace ksim {
namespace {

struct CardSlot {
  std::mutex lock;
  SimCard card;
  // Outlives module changes and handles; only kestro_sim_reset erases it.
  std::uint8_t private_flash[kPrivateFlashBytes];
};

CardSlot g_slots[kCards];
// Module of each card after load and after kestro_sim_reset. Written once,
// while the library loads, before any other thread can call in.
std::int32_t g_initial_module[kCards];

void ResetCards() {
  for (std::int32_t number = 0; number < kCards; ++number) {
    CardSlot& slot = g_slots[number];
    std::lock_guard<std::mutex> lock(slot.lock);
    PowerOn(slot.card, number, g_initial_module[number]);
    std::memset(slot.private_flash, 0xFF, sizeof slot.private_flash);
  }
}

struct Loader {
  Loader() {
    for (std::int32_t& module : g_initial_module) module = KESTRO_SIM_STANDARD;
    ParseModuleChoice(std::getenv("KESTRO_SIM_MODULES"), g_initial_module);
    ResetCards();
  }
};
const Loader g_loader;

}  // namespace

CardAccess::CardAccess(std::int32_t card, Need need) {
  if (card < 0 || card >= kCards) return;
  CardSlot& slot = g_slots[card];
  lock_ = std::unique_lock<std::mutex>(slot.lock);
  if (need == kModule && !slot.card.model->present) {
    lock_.unlock();
    return;
  }
  card_ = &slot.card;
  flash_ = slot.private_flash;
}

void PowerOn(SimCard& card, std::int32_t number, std::int32_t module) {
  card = SimCard{};
  card.number = number;
  card.module = module;
  card.model = &Model(module);
  card.epoch = Clock::now();
  BuildIdentRecord(module, card.ident);
  for (std::uint16_t& code : card.da_codes) code = 32768;
  for (int input = 0; input < kMaxInputs; ++input) {
    if (input < card.model->da_outputs) {
      card.inputs[input].kind = KESTRO_SIM_SIGNAL_LOOPBACK;
      card.inputs[input].source_output = input;
    }
  }
  for (std::int8_t& source : card.loop_source) source = -1;
}

double Elapsed(const SimCard& card) {
  return std::chrono::duration<double>(Clock::now() - card.epoch).count();
}

namespace drv {

std::int32_t ZQ7_CreateSimpleHandle(std::int32_t card) {
  CardAccess access(card);
  if (!access) return failure::ZQ7_CreateSimpleHandle;
  access->open = true;
  access->epoch = Clock::now();
  return 1;
}

std::int32_t ZQ7_CloseSimpleHandle(std::int32_t card) {
  CardAccess access(card);
  if (!access) return failure::ZQ7_CloseSimpleHandle;
  access->open = false;
  access->ad_running = false;
  StopOutput(*access);
  access->din_running = false;
  access->ct_running = false;
  return 1;
}

std::int32_t ZQ7_SwitchCard(std::int32_t card) {
  return card >= 0 && card < kCards ? 0 : failure::ZQ7_SwitchCard;
}

std::int32_t ZQ7_SetMasterSlave(std::int32_t card, std::int32_t mode) {
  CardAccess access(card);
  if (!access || mode < 0 || mode > 2) return failure::ZQ7_SetMasterSlave;
  access->master_slave = mode;
  return 0;
}

std::int32_t ZQ7_ConfigMeasure(std::int32_t card) {
  CardAccess access(card);
  return access ? 0 : failure::ZQ7_ConfigMeasure;
}

std::int32_t WriteAlteraValue(std::int32_t card, std::int32_t reg, std::int32_t value) {
  CardAccess access(card);
  if (!access) return failure::WriteAlteraValue;
  for (int i = 0; i < access->register_count; ++i) {
    if (access->registers[i].reg == reg) {
      access->registers[i].value = value;
      return 1;
    }
  }
  if (access->register_count >= kRegisterSlots) return failure::WriteAlteraValue;
  access->registers[access->register_count++] = RegisterSlot{reg, value};
  return 1;
}

std::int32_t ReadAlteraValue(std::int32_t card, std::int32_t reg) {
  CardAccess access(card);
  if (!access) return failure::ReadAlteraValue;
  for (int i = 0; i < access->register_count; ++i) {
    if (access->registers[i].reg == reg) return access->registers[i].value;
  }
  return 0;  // power-on value of every register
}

std::int32_t ZQ7_ReSynchronize() {
  return 0;
}

}  // namespace drv
}  // namespace ksim

using ksim::CardAccess;

extern "C" {

KESTRO_SIM_API void kestro_sim_reset(void) {
  ksim::ResetCalls();
  ksim::ResetCards();
}

KESTRO_SIM_API int32_t kestro_sim_set_module(int32_t card, int32_t module) {
  if (module < 0 || module >= KESTRO_SIM_MODULE_COUNT) return -1;
  CardAccess access(card, CardAccess::kAnyModule);
  if (!access) return -1;
  ksim::PowerOn(*access, card, module);
  return 0;
}

KESTRO_SIM_API int32_t kestro_sim_get_module(int32_t card) {
  CardAccess access(card, CardAccess::kAnyModule);
  return access ? access->module : -1;
}

KESTRO_SIM_API int32_t kestro_sim_is_open(int32_t card) {
  CardAccess access(card, CardAccess::kAnyModule);
  return access && access->open ? 1 : 0;
}

KESTRO_SIM_API double kestro_sim_elapsed(int32_t card) {
  CardAccess access(card, CardAccess::kAnyModule);
  return access ? ksim::Elapsed(*access) : -1.0;
}

KESTRO_SIM_API int32_t kestro_sim_master_slave(int32_t card) {
  CardAccess access(card, CardAccess::kAnyModule);
  return access ? access->master_slave : -1;
}

KESTRO_SIM_API int32_t kestro_sim_register(int32_t card, int32_t reg, int32_t* value) {
  CardAccess access(card, CardAccess::kAnyModule);
  if (!access) return -1;
  for (int i = 0; i < access->register_count; ++i) {
    if (access->registers[i].reg == reg) {
      if (value != nullptr) *value = access->registers[i].value;
      return 0;
    }
  }
  return -1;
}

}  // extern "C"

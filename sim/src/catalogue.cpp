// The module catalogue: what each simulated module reports about itself.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "entries.h"
#include "sim_card.h"

namespace ksim {
namespace {

// Byte offsets in the identification record.
constexpr int kOffsetType = 0;    // uint32, module type (informative)
constexpr int kOffsetSerial = 4;  // uint32, serial number (informative)
constexpr int kOffsetAdChannels = 140;
constexpr int kOffsetIdent141 = 141;
constexpr int kOffsetAdRate = 142;
constexpr int kOffsetDaChannels = 144;
constexpr int kOffsetIdent145 = 145;
constexpr int kOffsetLines = 148;
constexpr int kOffsetCounters = 156;
constexpr int kOffsetText1 = 264;
constexpr int kText1Field = 33;
constexpr int kOffsetText2 = 297;
constexpr int kText2Field = 21;
constexpr int kOffsetCustomer = 318;
constexpr int kCustomerField = 128;

// clang-format off
constexpr ModuleModel kCatalogue[KESTRO_SIM_MODULE_COUNT] = {
  // name       type present hi   AI  kHz   AO lines CT in  out ded  queue  141   145
  {"standard",  2,  true,  false, 16, 500,  4, 24,   4, 12, 12, 0,  1024,  0x02, 0x01,
   "KESTRO USB-AD16f", "SN 02-004711", "Quorvex Simulation Laboratory", 4711},
  {"counter",   9,  true,  false, 4,  100,  2, 16,   8, 16, 16, 0,  1024,  0x03, 0x02,
   "KESTRO USB-CT8 Counter", "SN 09-000815",
   "Institut fuer Messtechnik und Regelung - Pruefstand Nord 3/B", 815},
  {"strict",    12, true,  false, 8,  100,  2, 16,   2, 16, 16, 0,  1024,  0xFF, 0x01,
   "KESTRO USB-AD8 Precision", "SN 12-031415", "Precision Metrology Group", 31415},
  {"hispeed",   15, true,  true,  16, 4000, 4, 24,   4, 12, 12, 0,  4096,  0x04, 0x03,
   "KESTRO USB-AD16-HS 4MS/s HIGH SPEED UNIT", "SN 0F-002718", "High Speed Test Bench", 2718},
  {"ttl4",      2,  true,  false, 16, 500,  4, 24,   4, 4,  20, 4,  1024,  0x02, 0x04,
   "KESTRO USB-AD16f DI4", "SN 02-004712", "Quorvex Simulation Laboratory", 4712},
  {"ttl8",      2,  true,  false, 16, 500,  4, 24,   4, 8,  16, 8,  1024,  0x02, 0x08,
   "KESTRO USB-AD16f DI8", "SN 02-004713", "Quorvex Simulation Laboratory", 4713},
  {"absent",    0,  false, false, 0,  0,    0, 0,    0, 0,  0,  0,  0,     0x00, 0x00,
   "", "", "", 0},
  {"digital",   2,  true,  false, 8,  200,  2, 32,   4, 32, 32, 0,  1024,  0x02, 0x01,
   "KESTRO USB-DIO32", "SN 02-007321", "Quorvex Simulation Laboratory", 7321},
};
// clang-format on

// The card state is sized for the largest module.
constexpr bool FitsCardState() {
  for (const ModuleModel& model : kCatalogue) {
    if (model.ad_inputs > kMaxInputs || model.ad_inputs % 2 != 0 ||
        model.da_outputs > kMaxOutputs || model.lines > kMaxLines ||
        model.counters > kMaxCounters || model.dedicated_inputs + 16 > 32 ||
        model.da_queue_codes > kDaQueueLimit) {
      return false;
    }
  }
  return true;
}
static_assert(FitsCardState());

void PutU32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Copies `text` into a field: zero-terminated when shorter than the field,
// filling it without terminator when not (the rest is cut off).
void PutText(std::uint8_t* field, int field_size, const char* text) {
  const std::size_t length = std::strlen(text);
  const std::size_t copied = length < static_cast<std::size_t>(field_size) ? length : field_size;
  std::memcpy(field, text, copied);
  if (copied < static_cast<std::size_t>(field_size)) field[copied] = 0;
}

}  // namespace

const ModuleModel& Model(int module) {
  return kCatalogue[module >= 0 && module < KESTRO_SIM_MODULE_COUNT ? module : KESTRO_SIM_ABSENT];
}

void BuildIdentRecord(int module, KestroModuleInfo& record) {
  record = KestroModuleInfo{};
  const ModuleModel& model = Model(module);
  if (!model.present) return;
  std::uint8_t* bytes = record.bytes;
  PutU32(bytes + kOffsetType, model.type);
  PutU32(bytes + kOffsetSerial, model.serial);
  bytes[kOffsetAdChannels] = static_cast<std::uint8_t>(model.ad_inputs);
  bytes[kOffsetIdent141] = model.ident141;
  bytes[kOffsetAdRate] = static_cast<std::uint8_t>(model.ad_rate_khz & 0xFF);
  bytes[kOffsetAdRate + 1] = static_cast<std::uint8_t>(model.ad_rate_khz >> 8);
  bytes[kOffsetDaChannels] = static_cast<std::uint8_t>(model.da_outputs);
  bytes[kOffsetIdent145] = model.ident145;
  bytes[kOffsetLines] = static_cast<std::uint8_t>(model.lines);
  bytes[kOffsetCounters] = static_cast<std::uint8_t>(model.counters);
  PutText(bytes + kOffsetText1, kText1Field, model.ident_text1);
  PutText(bytes + kOffsetText2, kText2Field, model.ident_text2);
  PutText(bytes + kOffsetCustomer, kCustomerField, model.customer);
}

void ParseModuleChoice(const char* text, std::int32_t modules[kCards]) {
  if (text == nullptr) return;
  const char* item = text;
  while (*item != '\0') {
    const char* end = std::strchr(item, ',');
    const std::size_t length =
        end != nullptr ? static_cast<std::size_t>(end - item) : std::strlen(item);
    char buffer[64] = "";
    if (length < sizeof buffer) std::memcpy(buffer, item, length);
    buffer[length < sizeof buffer ? length : 0] = '\0';

    // "<card>=<name>", spaces around either part allowed.
    char* equals = std::strchr(buffer, '=');
    bool good = false;
    if (equals != nullptr) {
      *equals = '\0';
      char* rest = nullptr;
      const long card = std::strtol(buffer, &rest, 10);
      while (*rest == ' ') ++rest;
      char* name = equals + 1;
      while (*name == ' ') ++name;
      std::size_t name_length = std::strlen(name);
      while (name_length > 0 && name[name_length - 1] == ' ') name[--name_length] = '\0';
      const int module = kestro_sim_module_from_name(name);
      if (rest != buffer && *rest == '\0' && card >= 0 && card < kCards && module >= 0) {
        modules[card] = module;
        good = true;
      }
    }
    if (!good && length > 0) {
      std::fprintf(stderr, "kestrolib (simulated): KESTRO_SIM_MODULES: ignoring \"%.*s\"\n",
                   static_cast<int>(length), item);
    }
    item = end != nullptr ? end + 1 : item + length;
  }
}

namespace drv {

std::int32_t ZQ7_Get_ModuleIdent(std::int32_t card, std::uint32_t* ident) {
  CardAccess access(card);
  if (!access || ident == nullptr) return failure::ZQ7_Get_ModuleIdent;
  *ident = access.model().type;
  return 0;
}

std::int32_t ZQ7_IsHiSpeed(std::int32_t card) {
  CardAccess access(card);
  if (!access) return failure::ZQ7_IsHiSpeed;
  return access.model().hi_speed ? 1 : 0;
}

}  // namespace drv
}  // namespace ksim

extern "C" {

KESTRO_SIM_API const char* kestro_sim_module_name(int32_t module) {
  return module >= 0 && module < KESTRO_SIM_MODULE_COUNT ? ksim::kCatalogue[module].name : "";
}

KESTRO_SIM_API int32_t kestro_sim_module_from_name(const char* name) {
  if (name == nullptr) return -1;
  for (int32_t module = 0; module < KESTRO_SIM_MODULE_COUNT; ++module) {
    if (std::strcmp(ksim::kCatalogue[module].name, name) == 0) return module;
  }
  return -1;
}

}  // extern "C"

// The exported driver entry points, one per line of KESTRO_ENTRIES.
//
// Each runs the common prologue (count, log, delay, injected result) and then
// its implementation in ksim::drv.
#include "entries.h"

// What an export needs of the model, under names that the variants' lists
// below leave alone: its entry and its implementation.
namespace ksim::link {
#define KSIM_LINK(required, result, name, params, args, missing) \
  inline constexpr Entry name##_entry = Entry::name;             \
  inline constexpr auto* name##_work = &drv::name;
KESTRO_ENTRIES(KSIM_LINK)
#undef KSIM_LINK
}  // namespace ksim::link

// The entry points each test variant of the simulated driver leaves out, for
// the library's binding tests: a variant names each of them away, so that it
// is not exported under its own name. The complete driver leaves out none.
#if defined(KESTRO_SIM_WITHOUT_MASTER_SLAVE)  // lacks one required entry point
#define ZQ7_SetMasterSlave left_out_ZQ7_SetMasterSlave
#elif defined(KESTRO_SIM_WITHOUT_OPTIONAL)  // lacks the eleven optional ones
#define ZQ7_AD_GetData left_out_ZQ7_AD_GetData
#define ZQ7_AD_GetData_MixedChannels left_out_ZQ7_AD_GetData_MixedChannels
#define ZQ7_DA_ClearChannelList left_out_ZQ7_DA_ClearChannelList
#define ZQ7_DA_AddChannellist left_out_ZQ7_DA_AddChannellist
#define ZQ7_DA_SetFrequency left_out_ZQ7_DA_SetFrequency
#define ZQ7_DA_Start left_out_ZQ7_DA_Start
#define ZQ7_DA_Stop left_out_ZQ7_DA_Stop
#define ZQ7_DA_GetStatus left_out_ZQ7_DA_GetStatus
#define ZQ7_DA_PutData left_out_ZQ7_DA_PutData
#define ZQ7_DA_TriggerChannel left_out_ZQ7_DA_TriggerChannel
#define ZQ7_ReSynchronize left_out_ZQ7_ReSynchronize
#endif

// `name` alone is the exported name (named away by a variant's list above);
// pasted, it reaches the model under the name it has there.
#define KSIM_DEFINE(required, result, name, params, args, missing)     \
  extern "C" KSIM_EXPORT result KESTRO_CALL name params {              \
    std::int32_t injected = 0;                                         \
    if (ksim::Prologue(ksim::link::name##_entry, injected).Run args) { \
      return ksim::InjectedResult<result>(injected);                   \
    }                                                                  \
    return ksim::link::name##_work args;                               \
  }
KESTRO_ENTRIES(KSIM_DEFINE)

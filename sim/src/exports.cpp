// The exported driver entry points, one per line of KESTRO_ENTRIES.
//
// Each runs the common prologue (count, log, delay, injected result) and then
// its implementation in ksim::drv. Test builds that must lack some entry
// points compile this file with one of:
//   KESTRO_SIM_WITHOUT_MASTER_SLAVE  no ZQ7_SetMasterSlave (a required one)
//   KESTRO_SIM_WITHOUT_OPTIONAL      none of the entries marked optional
#include "entries.h"

// KSIM_OMITTED(KSIM_OMIT_x) is 1 when KSIM_OMIT_x is defined as KSIM_PROBE,
// else 0.
#define KSIM_PROBE ~, 1
#define KSIM_SECOND(a, b, ...) b
#define KSIM_IS_PROBE(...) KSIM_SECOND(__VA_ARGS__, 0, 0)
#define KSIM_OMITTED(token) KSIM_IS_PROBE(token)

#if defined(KESTRO_SIM_WITHOUT_MASTER_SLAVE)
#define KSIM_OMIT_ZQ7_SetMasterSlave KSIM_PROBE
#endif
#if defined(KESTRO_SIM_WITHOUT_OPTIONAL)
#define KSIM_OMIT_REQUIRED_0 KSIM_PROBE
#endif

// KSIM_DEFINE_<omitted by name><omitted as optional>
#define KSIM_SELECT(by_name, as_optional) KSIM_SELECT_I(by_name, as_optional)
#define KSIM_SELECT_I(by_name, as_optional) KSIM_DEFINE_##by_name##as_optional
#define KSIM_DEFINE_01(result, name, params, args)
#define KSIM_DEFINE_10(result, name, params, args)
#define KSIM_DEFINE_11(result, name, params, args)
#define KSIM_DEFINE_00(result, name, params, args)              \
  extern "C" KSIM_EXPORT result KESTRO_CALL name params {       \
    std::int32_t injected = 0;                                  \
    if (ksim::Prologue(ksim::Entry::name, injected).Run args) { \
      return ksim::InjectedResult<result>(injected);            \
    }                                                           \
    return ksim::drv::name args;                                \
  }

#define KSIM_ENTRY(required, result, name, params, args, missing)                          \
  KSIM_SELECT(KSIM_OMITTED(KSIM_OMIT_##name), KSIM_OMITTED(KSIM_OMIT_REQUIRED_##required)) \
  (result, name, params, args)

KESTRO_ENTRIES(KSIM_ENTRY)

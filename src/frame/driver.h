// The driver entry table and its typed wrappers.
//
// Every call into the maker's driver goes through the wrappers in namespace
// qvx::drv. A wrapper calls the bound entry point, or, when that entry point
// is missing (an optional one, or no driver bound at all), returns the value
// that its callers read as failure, so that no call ever goes through an
// empty slot.
#pragma once

#include "kestrolib.h"
#include "platform/platform.h"

namespace qvx {

struct DriverTable {
#define QVX_DRIVER_SLOT(required, result, name, params, args, missing) \
  result(KESTRO_CALL* name) params = nullptr;
  KESTRO_ENTRIES(QVX_DRIVER_SLOT)
#undef QVX_DRIVER_SLOT
};

// Written only while the library is being attached, read afterwards.
extern DriverTable g_driver;
// The loaded driver library; null while none is bound.
extern platform::Library* DriverModule;

// Loads the driver from the folder of this library's own file and binds its
// entry points. Returns the library, or null when the file cannot be loaded or
// lacks a required entry point (it is then released again and every slot is
// left empty). On failure `problem` receives a one-line description.
platform::Library* LoadDriverLibrary(char* problem, std::size_t problem_size);
// Returns 0 for a null module; otherwise releases it and returns 1.
int UnloadDriverLibrary(platform::Library* module);

// Process attach and detach, called by the system-specific entry point.
// ProcessAttach returns true when the driver is bound.
bool ProcessAttach();
void ProcessDetach();

namespace drv {
#define QVX_DRIVER_WRAPPER(required, result, name, params, args, missing) \
  inline result name params {                                             \
    auto* entry = g_driver.name;                                          \
    if (entry == nullptr) return missing;                                 \
    return entry args;                                                    \
  }
KESTRO_ENTRIES(QVX_DRIVER_WRAPPER)
#undef QVX_DRIVER_WRAPPER
}  // namespace drv

}  // namespace qvx

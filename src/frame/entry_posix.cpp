// Library entry on systems without DllMain: a constructor binds the driver
// when the library is loaded and a destructor releases it at unload. Such a
// system cannot refuse the load, so a failed binding is reported on standard
// error and every call that needs the driver then fails.
#include "frame/driver.h"

namespace {

__attribute__((constructor)) void QuorvexAttach() {
  qvx::ProcessAttach();
}

__attribute__((destructor)) void QuorvexDetach() {
  qvx::ProcessDetach();
}

}  // namespace

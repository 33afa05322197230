#include "frame/driver.h"

#include <cstdio>
#include <cstring>

#include "engine/worker.h"

namespace qvx {

DriverTable g_driver;
platform::Library* DriverModule = nullptr;

namespace {

struct EntryInfo {
  const char* name;
  bool required;
};

constexpr EntryInfo kEntries[] = {
#define QVX_DRIVER_INFO(required, result, name, params, args, missing) {#name, (required) != 0},
    KESTRO_ENTRIES(QVX_DRIVER_INFO)
#undef QVX_DRIVER_INFO
};
static_assert(sizeof kEntries / sizeof kEntries[0] == 54, "the driver has 54 entry points");

// Looks every entry point up by name; returns the first required one that is
// missing, or null when all are there.
const char* BindEntries(platform::Library* library) {
  const char* missing = nullptr;
#define QVX_DRIVER_BIND(required, result, name, params, args, absent)                     \
  g_driver.name =                                                                         \
      reinterpret_cast<decltype(g_driver.name)>(platform::LibrarySymbol(library, #name)); \
  if ((required) != 0 && g_driver.name == nullptr && missing == nullptr) missing = #name;
  KESTRO_ENTRIES(QVX_DRIVER_BIND)
#undef QVX_DRIVER_BIND
  return missing;
}

}  // namespace

platform::Library* LoadDriverLibrary(char* problem, std::size_t problem_size) {
  // The path of this library's own file, cut back to its folder, names the
  // driver beside it. Without a usable path the system's search finds it.
  char path[1000];
  std::size_t length = platform::OwnModulePath(path, sizeof path);
  const char separator = platform::PathSeparator();
  const char* file = platform::DriverFileName();
  const bool has_folder = length > 0 && std::memchr(path, separator, length) != nullptr;
  if (has_folder) {
    while (path[length - 1] != separator) --length;
    if (length + std::strlen(file) + 1 > sizeof path) {
      std::snprintf(problem, problem_size, "quorvex: the path of the driver library is too long");
      return nullptr;
    }
    std::memcpy(path + length, file, std::strlen(file) + 1);
  } else {
    std::snprintf(path, sizeof path, "%s", file);
  }

  platform::Library* library = platform::LibraryLoad(path);
  if (library == nullptr) {
    std::snprintf(problem, problem_size, "quorvex: cannot load the driver library %s: %s", path,
                  platform::LibraryError());
    return nullptr;
  }
  if (const char* missing = BindEntries(library)) {
    std::snprintf(problem, problem_size, "quorvex: the driver library %s lacks the entry point %s",
                  path, missing);
    platform::LibraryFree(library);
    g_driver = DriverTable{};
    return nullptr;
  }
  return library;
}

int UnloadDriverLibrary(platform::Library* module) {
  if (module == nullptr) return 0;
  platform::LibraryFree(module);
  return 1;
}

bool ProcessAttach() {
  char problem[1200] = "";
  DriverModule = LoadDriverLibrary(problem, sizeof problem);
  if (DriverModule == nullptr) platform::ReportProblem(problem);
  return DriverModule != nullptr;
}

void ProcessDetach() {
  if (DriverModule == nullptr) return;
  // Worker threads of cards the application left open would otherwise keep
  // calling into a driver that is about to go away. One still inside a
  // driver call when the wait runs out keeps the driver, and where the
  // system allows it this library's code, which the call returns to.
  if (StopAllWorkers()) {
    UnloadDriverLibrary(DriverModule);
  } else {
    platform::KeepOwnCodeLoaded();
  }
}

}  // namespace qvx

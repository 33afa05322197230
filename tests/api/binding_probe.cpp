// Loads the libquorvex.so named on the command line in this fresh process,
// opens card 0 and reports what happened on standard output:
//   open=<status of OpenCard(0)>
//   driver_mapped=<1 when a libkestrolib.so is still mapped, else 0>
// The library's own diagnostics go to standard error.
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s path/to/libquorvex.so\n", argv[0]);
    return 2;
  }
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::printf("load_failed\n");
    return 1;
  }
  using OpenCardFn = std::int32_t (*)(std::int32_t);
  auto open_card = reinterpret_cast<OpenCardFn>(dlsym(library, "OpenCard"));
  auto close_card = reinterpret_cast<OpenCardFn>(dlsym(library, "CloseCard"));
  if (open_card == nullptr || close_card == nullptr) {
    std::printf("no_export\n");
    return 1;
  }
  std::printf("open=%d\n", open_card(0));
  close_card(0);

  bool mapped = false;
  if (std::FILE* maps = std::fopen("/proc/self/maps", "r")) {
    char line[4096];
    while (std::fgets(line, sizeof line, maps) != nullptr) {
      if (std::strstr(line, "libkestrolib.so") != nullptr) mapped = true;
    }
    std::fclose(maps);
  }
  std::printf("driver_mapped=%d\n", mapped ? 1 : 0);
  std::fflush(stdout);
  return 0;
}

// Loads the libquorvex.so named on the command line in this fresh process,
// opens card 0 and reports what happened on standard output:
//   open=<status of OpenCard(0)>
//   driver_mapped=<1 when a libkestrolib.so is still mapped, else 0>
// The library's own diagnostics go to standard error.
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
  void* library = argc == 2 ? dlopen(argv[1], RTLD_NOW | RTLD_LOCAL) : nullptr;
  using CardFn = std::int32_t (*)(std::int32_t);
  auto open_card = reinterpret_cast<CardFn>(library ? dlsym(library, "OpenCard") : nullptr);
  auto close_card = reinterpret_cast<CardFn>(library ? dlsym(library, "CloseCard") : nullptr);
  if (open_card == nullptr || close_card == nullptr) {
    std::printf("usage: %s path/to/libquorvex.so (which must load and export OpenCard)\n", argv[0]);
    return 1;
  }
  std::printf("open=%d\n", open_card(0));
  close_card(0);
  std::ifstream maps("/proc/self/maps");
  const std::string mapped{std::istreambuf_iterator<char>(maps), std::istreambuf_iterator<char>()};
  std::printf("driver_mapped=%d\n", mapped.find("libkestrolib.so") != std::string::npos ? 1 : 0);
  std::fflush(stdout);
  return 0;
}

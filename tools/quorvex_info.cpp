// quorvex_info: opens a card, prints its identification and the library
// version, and closes the card again.
//
//   quorvex_info [card]
//
// With the simulated module, KESTRO_SIM_MODULES chooses the module of each
// card, for example KESTRO_SIM_MODULES=0=hispeed.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "quorvex.h"

namespace {

// Prints a text field that may fill its field without a terminator.
void PrintField(const char* label, const char* field, std::size_t size) {
  const void* end = std::memchr(field, '\0', size);
  const int length = static_cast<int>(end ? static_cast<const char*>(end) - field : size);
  std::printf("%-22s %.*s\n", label, length, field);
}

}  // namespace

int main(int argc, char** argv) {
  const int32_t card = argc > 1 ? static_cast<int32_t>(std::strtol(argv[1], nullptr, 10)) : 0;
  char version[20];
  int32_t major = 0, minor = 0, build = 0;
  GetDLLVersion(version, &major, &minor, &build);
  std::printf("%-22s %s (%d.%d.%d)\n", "library", version, major, minor, build);

  const int32_t opened = OpenCard(card);
  if (opened != QVX_OK) {
    std::fprintf(stderr, "OpenCard(%d) failed with status %d\n", card, opened);
    return 1;
  }
  QvxFlashInfoEx info;
  std::memset(&info, 0, sizeof info);
  char customer[8360];
  if (ReadFlashDataEx(card, &info) != QVX_OK || GetCustomerName(card, customer) != QVX_OK) {
    std::fprintf(stderr, "reading the identification of card %d failed\n", card);
    CloseCard(card);
    return 1;
  }
  std::printf("%-22s %d\n", "card", card);
  PrintField("identification", info.Info.IdentText1, sizeof info.Info.IdentText1);
  PrintField("identification 2", info.Info.IdentText2, sizeof info.Info.IdentText2);
  std::printf("%-22s %s\n", "customer", customer);
  std::printf("%-22s %d\n", "analog inputs", info.Info.NumAdChannels);
  std::printf("%-22s %d Hz\n", "max aggregate rate", info.MaxAdRateHz);
  std::printf("%-22s %d\n", "analog outputs", info.Info.NumDaChannels);
  std::printf("%-22s %d\n", "digital lines", info.Info.NumDigitalLines);
  std::printf("%-22s %d\n", "counters", info.Info.NumCounters);
  CloseCard(card);
  return 0;
}

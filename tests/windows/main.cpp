// The Windows-only tests. The same program is also the debugged side of the
// debug-output and unload tests (debug_output_test.cpp, loading_test.cpp).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace qvx_win {
int QueryAdStatus();
int UnloadWithOpenCards(const std::string& mode);
}  // namespace qvx_win

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--query-ad-status") == 0) {
    return qvx_win::QueryAdStatus();
  }
  if (argc == 3 && std::strcmp(argv[1], "--unload") == 0) {
    return qvx_win::UnloadWithOpenCards(argv[2]);
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

// The Windows-only tests. The same program is also the debugged side of the
// debug-output tests (debug_output_test.cpp).
#include <gtest/gtest.h>

#include <cstring>

namespace qvx_win {
int QueryAdStatus();
}

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--query-ad-status") == 0) {
    return qvx_win::QueryAdStatus();
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

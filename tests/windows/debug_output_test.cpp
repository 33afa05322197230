// A wait for a card's mutex that times out sends its label to the debugger
// output. Named mutexes are shared by every process of the session, so this
// test holds the library's analog mutex itself while a copy of this program,
// running under the test's debugger, asks for the analog buffer status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quorvex.h"
#include "support.h"

namespace qvx_win {

// The debugged side (started with --query-ad-status): loads the library
// from this program's folder, opens card 0 and asks for the status. The exit
// code is 100 * OpenCard status + 10 * GetADBufferStatus status + (values
// reported != 0).
int QueryAdStatus() {
  HMODULE library = LoadLibraryA((ProgramFolder() / "QUORVEX.dll").string().c_str());
  if (library == nullptr) return 255;
  auto open_card = reinterpret_cast<decltype(&OpenCard)>(
      reinterpret_cast<void*>(GetProcAddress(library, "OpenCard")));
  auto status = reinterpret_cast<decltype(&GetADBufferStatus)>(
      reinterpret_cast<void*>(GetProcAddress(library, "GetADBufferStatus")));
  auto close_card = reinterpret_cast<decltype(&CloseCard)>(
      reinterpret_cast<void*>(GetProcAddress(library, "CloseCard")));
  if (open_card == nullptr || status == nullptr || close_card == nullptr) return 254;
  const int32_t opened = open_card(0);
  int32_t values = -1;
  const int32_t result = status(0, &values);
  close_card(0);
  FreeLibrary(library);
  return 100 * opened + 10 * result + (values != 0 ? 1 : 0);
}

namespace {

// With the mutex held here the wait times out: its label goes to the
// debugger once and the call reports nothing; a wait that gets the mutex
// sends nothing.
TEST(DebugOutput, OnlyATimedOutWaitSendsItsLabel) {
  for (const bool hold : {true, false}) {
    SCOPED_TRACE(hold ? "held" : "free");
    HANDLE held = hold ? CreateMutexA(nullptr, TRUE, "___ad__") : nullptr;
    const DebuggedRun run = DebugProgram("--query-ad-status", 30000);
    if (held != nullptr) {
      ReleaseMutex(held);
      CloseHandle(held);
    }
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exit_code, 0u);  // opened, status 0, no values
    EXPECT_EQ(run.debug_output, hold ? std::vector<std::string>{"GetADBufferStatus WAIT_TIMEOUT\n"}
                                     : std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace qvx_win

// What copies of this program send to the debugger output. A wait for a
// card's mutex that times out sends its label there. Named mutexes are shared
// by every process of the session, so the test holds the library's analog
// mutex itself while a copy of this program asks for the analog buffer
// status.
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
  auto open_card = Export<decltype(OpenCard)>(library, "OpenCard");
  auto status = Export<decltype(GetADBufferStatus)>(library, "GetADBufferStatus");
  auto close_card = Export<decltype(CloseCard)>(library, "CloseCard");
  if (open_card == nullptr || status == nullptr || close_card == nullptr) return 254;
  const int32_t opened = open_card(0);
  int32_t values = -1;
  const int32_t result = status(0, &values);
  close_card(0);
  FreeLibrary(library);
  return 100 * opened + 10 * result + (values != 0 ? 1 : 0);
}

namespace {

// Copies of this program run under this test's debugger, each ending with
// exit code 0 and sending exactly the texts given to the debugger output.
// With the library's analog mutex held here, the wait for it times out: its
// label goes to the debugger once and the call reports nothing; a wait that
// gets the mutex sends nothing. Unloading with cards left open returns,
// whatever the workers are doing (loading_test.cpp); only a worker stuck in
// a driver call is reported.
TEST(DebuggedCopy, OnlyATimedOutWaitOrAStuckWorkerIsReported) {
  const std::vector<std::string> none, timed_out = {"GetADBufferStatus WAIT_TIMEOUT\n"},
                                       stuck = {
                                           "quorvex: the worker of card 0 did not stop within "
                                           "2000 ms; the driver library stays loaded\n"};
  const struct {
    const char* arguments;
    bool hold;
    const std::vector<std::string>& output;
  } cases[] = {{"--query-ad-status", true, timed_out},
               {"--query-ad-status", false, none},
               {"--unload at-once", false, none},
               {"--unload stuck", false, stuck}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.arguments) + (c.hold ? ", mutex held" : ""));
    HANDLE held = c.hold ? CreateMutexA(nullptr, TRUE, "___ad__") : nullptr;
    const DebuggedRun run = DebugProgram(c.arguments, 60000);
    if (held != nullptr) {
      ReleaseMutex(held);
      CloseHandle(held);
    }
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exit_code, 0u);  // --query-ad-status: opened, status 0, no values
    EXPECT_EQ(run.debug_output, c.output);
  }
}

}  // namespace
}  // namespace qvx_win

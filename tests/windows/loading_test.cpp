// Loading QUORVEX.dll as applications do: by full path, with the driver
// beside it, missing, or incomplete. A DLL whose driver cannot be bound
// refuses to load; this program's own folder holds a complete driver, which
// the library must never take instead of the one beside it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kestro_sim.h"
#include "quorvex.h"
#include "support.h"

namespace {

using qvx_win::ProgramFolder;
using qvx_win::TempFolder;
using qvx_win::VariantFolder;
using qvx_win::fs::path;

bool DriverLoaded() {
  return GetModuleHandleA("kestrolib.dll") != nullptr;
}

// The library's export `name`, as the function type of its declaration.
template <typename F>
F* Export(HMODULE library, F*, const char* name) {
  return reinterpret_cast<F*>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}
// The same for a function that this program does not import.
template <typename F>
F* Export(HMODULE library, const char* name) {
  return Export(library, static_cast<F*>(nullptr), name);
}

class Loading : public ::testing::Test {
 protected:
  void SetUp() override {
    // Nothing of the library's is in this process between the tests.
    ASSERT_FALSE(DriverLoaded());
    ASSERT_EQ(GetModuleHandleA("QUORVEX.dll"), nullptr);
    folder_.Add(ProgramFolder() / "QUORVEX.dll");
  }

  HMODULE Load() { return LoadLibraryA((folder_.path() / "QUORVEX.dll").string().c_str()); }

  TempFolder folder_;
};

TEST_F(Loading, RefusedWhenTheDriverIsNotBesideIt) {
  SetLastError(0);
  HMODULE library = Load();
  EXPECT_EQ(library, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
  EXPECT_FALSE(DriverLoaded());  // not the one in the program's folder either
  if (library != nullptr) FreeLibrary(library);
}

TEST_F(Loading, RefusedWhenTheDriverLacksARequiredEntryAndTheDriverIsReleased) {
  folder_.Add(VariantFolder("no_required") / "kestrolib.dll");
  SetLastError(0);
  HMODULE library = Load();
  EXPECT_EQ(library, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
  EXPECT_FALSE(DriverLoaded());
  if (library != nullptr) FreeLibrary(library);
}

TEST_F(Loading, LoadsWhenOnlyOptionalEntriesAreMissing) {
  folder_.Add(VariantFolder("no_optional") / "kestrolib.dll");
  HMODULE library = Load();
  ASSERT_NE(library, nullptr);
  auto open_card = Export(library, &OpenCard, "OpenCard");
  auto close_card = Export(library, &CloseCard, "CloseCard");
  ASSERT_NE(open_card, nullptr);
  ASSERT_NE(close_card, nullptr);
  EXPECT_EQ(open_card(0), QVX_OK);
  EXPECT_EQ(close_card(0), QVX_OK);
  FreeLibrary(library);
  EXPECT_FALSE(DriverLoaded());
}

TEST_F(Loading, FindsTheDriverBesideItWhenItsFolderIsNotSearched) {
  folder_.Add(ProgramFolder() / "kestrolib.dll");
  // Neither the current folder nor the program's folder is the library's.
  TempFolder elsewhere;
  char previous[MAX_PATH];
  GetCurrentDirectoryA(sizeof previous, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(elsewhere.path().string().c_str()));

  HMODULE library = Load();
  SetCurrentDirectoryA(previous);
  ASSERT_NE(library, nullptr);
  char driver[MAX_PATH] = "";
  GetModuleFileNameA(GetModuleHandleA("kestrolib.dll"), driver, sizeof driver);
  EXPECT_TRUE(qvx_win::fs::equivalent(path(driver), folder_.path() / "kestrolib.dll")) << driver;
  EXPECT_NE(Export(library, &ReSynchronize, "_ReSynchronize@0"), nullptr);
  FreeLibrary(library);
  EXPECT_FALSE(DriverLoaded());
}

// Unloading with cards left open, in a copy of this program (the library may
// stay loaded there): FreeLibrary returns, whatever the workers are doing.
TEST(Unload, WithOpenCardsReturnsAndReleasesWhatNoWorkerStillUses) {
  const struct {
    const char* mode;
    bool stuck;
  } cases[] = {{"at-once", false}, {"stuck", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    const qvx_win::DebuggedRun run =
        qvx_win::DebugProgram(std::string("--unload ") + c.mode, 60000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exit_code, 0u);
    const std::vector<std::string> expected_output = {
        "quorvex: the worker of card 0 did not stop within 2000 ms; the driver library stays "
        "loaded\n"};
    EXPECT_EQ(run.debug_output, c.stuck ? expected_output : std::vector<std::string>{});
  }
}

}  // namespace

namespace qvx_win {

// The unloading side (started with --unload at-once|stuck): loads the library
// from this program's folder, opens cards 7 and 0 and frees the library at
// once. "stuck" first holds card 0's worker inside a slow driver call. Exit
// code 0 when every check held, else the line of the first that failed.
int UnloadWithOpenCards(const std::string& mode) {
#define QVX_CHECK(condition)                          \
  if (!(condition)) {                                 \
    std::fprintf(stderr, "failed: %s\n", #condition); \
    return __LINE__;                                  \
  }
  const bool stuck = mode == "stuck";
  constexpr ULONGLONG kSlowCallMs = 6000;
  const int threads_before = ThreadCount();
  HMODULE library = LoadLibraryA((ProgramFolder() / "QUORVEX.dll").string().c_str());
  QVX_CHECK(library != nullptr);
  QVX_CHECK(Export(library, &OpenCard, "OpenCard")(7) == QVX_OK);
  QVX_CHECK(Export(library, &OpenCard, "OpenCard")(0) == QVX_OK);
  if (stuck) {
    QVX_CHECK(Export(library, &Add_AD_Channel_to_ScanList, "Add_AD_Channel_to_ScanList")(
                  0, 0, 0, 0) == QVX_OK);
    QVX_CHECK(Export(library, &SetADFrequency, "SetADFrequency")(1000) == QVX_OK);
    QVX_CHECK(Export(library, &FinalInit, "FinalInit")() == QVX_OK);
    QVX_CHECK(Export(library, &StartADCapture, "StartADCapture")() == QVX_OK);
    HMODULE driver = GetModuleHandleA("kestrolib.dll");
    auto delay = Export<decltype(kestro_sim_delay)>(driver, "kestro_sim_delay");
    auto calls = Export<decltype(kestro_sim_call_count)>(driver, "kestro_sim_call_count");
    const char* fetch = "ZQ7_AD_ReadData_MixedChannels";
    QVX_CHECK(delay(fetch, static_cast<uint32_t>(kSlowCallMs)) == 0);
    // A fetch counted after the delay was set is slowed down.
    const uint32_t before = calls(fetch);
    for (int i = 0; i < 10000 && calls(fetch) == before; ++i) Sleep(1);
    QVX_CHECK(calls(fetch) > before);
  }

  const ULONGLONG start = GetTickCount64();
  FreeLibrary(library);
  if (!stuck) {
    QVX_CHECK(!DriverLoaded());
    QVX_CHECK(GetModuleHandleA("QUORVEX.dll") == nullptr);
    QVX_CHECK(ThreadCount() <= threads_before);
    return 0;
  }
  // The unload gave up before the call ended; the driver and the library,
  // which the call returns to, stay, and the worker ends after the call.
  QVX_CHECK(GetTickCount64() - start < kSlowCallMs - 1000);
  QVX_CHECK(DriverLoaded());
  for (int i = 0; i < 400 && ThreadCount() > threads_before; ++i) Sleep(50);
  QVX_CHECK(ThreadCount() <= threads_before);
  return 0;
#undef QVX_CHECK
}

}  // namespace qvx_win

// Loading QUORVEX.dll as applications do: by full path, with the driver
// beside it, missing, or incomplete. A DLL whose driver cannot be bound
// refuses to load; this program's own folder holds a complete driver, which
// the library must never take instead of the one beside it, nor one of the
// current folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kestro_sim.h"
#include "quorvex.h"
#include "support.h"

namespace {

using qvx_win::Export;
using qvx_win::ProgramFolder;
using qvx_win::TempFolder;
using qvx_win::VariantFolder;
using qvx_win::fs::path;

bool DriverLoaded() {
  return GetModuleHandleA("kestrolib.dll") != nullptr;
}

// Each case loads the library from a folder of its own holding the driver
// named (none, or a variant), from another current folder.
TEST(Loading, TheDriverBesideTheLibraryDecides) {
  const struct {
    const char* driver;  // nullptr: none; "": the complete one
    bool loads;
  } cases[] = {{nullptr, false}, {"no_required", false}, {"no_optional", true}, {"", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.driver == nullptr ? "none" : c.driver);
    // Nothing of the library's is in this process between the cases.
    ASSERT_FALSE(DriverLoaded());
    ASSERT_EQ(GetModuleHandleA("QUORVEX.dll"), nullptr);
    TempFolder folder, elsewhere;
    folder.Add(ProgramFolder() / "QUORVEX.dll");
    if (c.driver != nullptr) {
      folder.Add((*c.driver ? VariantFolder(c.driver) : ProgramFolder()) / "kestrolib.dll");
    }
    const path previous = qvx_win::fs::current_path();
    qvx_win::fs::current_path(elsewhere.path);
    SetLastError(0);
    HMODULE library = LoadLibraryA((folder.path / "QUORVEX.dll").string().c_str());
    const DWORD error = GetLastError();
    qvx_win::fs::current_path(previous);
    if (!c.loads) {
      EXPECT_EQ(library, nullptr);
      EXPECT_EQ(error, static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
      EXPECT_FALSE(DriverLoaded());  // released, and not the one of the program's folder
      if (library != nullptr) FreeLibrary(library);
      continue;
    }
    ASSERT_NE(library, nullptr);
    const path driver = qvx_win::ModulePath(GetModuleHandleA("kestrolib.dll"));
    EXPECT_TRUE(qvx_win::fs::equivalent(driver, folder.path / "kestrolib.dll")) << driver;
    EXPECT_EQ(Export<decltype(OpenCard)>(library, "OpenCard")(0), QVX_OK);
    EXPECT_EQ(Export<decltype(CloseCard)>(library, "CloseCard")(0), QVX_OK);
    EXPECT_NE(Export<decltype(ReSynchronize)>(library, "_ReSynchronize@0"), nullptr);
    FreeLibrary(library);
    EXPECT_FALSE(DriverLoaded());
  }
}

}  // namespace

namespace qvx_win {

// Unloading with cards left open, in a copy of this program run by
// DebuggedCopy (debug_output_test.cpp); the library may stay loaded there.
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
  QVX_CHECK(Export<decltype(OpenCard)>(library, "OpenCard")(7) == QVX_OK);
  QVX_CHECK(Export<decltype(OpenCard)>(library, "OpenCard")(0) == QVX_OK);
  if (stuck) {
    QVX_CHECK(Export<decltype(Add_AD_Channel_to_ScanList)>(library, "Add_AD_Channel_to_ScanList")(
                  0, 0, 0, 0) == QVX_OK);
    QVX_CHECK(Export<decltype(SetADFrequency)>(library, "SetADFrequency")(1000) == QVX_OK);
    QVX_CHECK(Export<decltype(FinalInit)>(library, "FinalInit")() == QVX_OK);
    QVX_CHECK(Export<decltype(StartADCapture)>(library, "StartADCapture")() == QVX_OK);
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

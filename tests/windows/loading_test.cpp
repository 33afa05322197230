// Loading QUORVEX.dll as applications do: by full path, with the driver
// beside it, missing, or incomplete. A DLL whose driver cannot be bound
// refuses to load; this program's own folder holds a complete driver, which
// the library must never take instead of the one beside it.
#include <gtest/gtest.h>

#include <atomic>

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

struct Unload {
  HMODULE library;
  std::atomic<bool> done{false};
};

DWORD WINAPI UnloadThread(LPVOID arg) {
  auto* unload = static_cast<Unload*>(arg);
  FreeLibrary(unload->library);
  unload->done = true;
  return 0;
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

TEST_F(Loading, UnloadWithOpenCardsEndsTheirWorkersAndReleasesTheDriver) {
  folder_.Add(ProgramFolder() / "kestrolib.dll");
  const int threads_before = qvx_win::ThreadCount();
  HMODULE library = Load();
  ASSERT_NE(library, nullptr);
  auto open_card = Export(library, &OpenCard, "OpenCard");
  ASSERT_NE(open_card, nullptr);
  ASSERT_EQ(open_card(0), QVX_OK);
  ASSERT_EQ(open_card(7), QVX_OK);
  EXPECT_GE(qvx_win::ThreadCount(), threads_before + 2);

  // The application unloads without closing its cards. The unload must not
  // hang, whatever the workers are doing.
  Unload unload{library};
  HANDLE thread = CreateThread(nullptr, 0, &UnloadThread, &unload, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  if (WaitForSingleObject(thread, 20000) == WAIT_TIMEOUT) {
    // Stuck under the loader's lock: this process cannot end normally.
    std::fprintf(stderr, "FreeLibrary of QUORVEX.dll with open cards did not return\n");
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
  }
  CloseHandle(thread);
  EXPECT_TRUE(unload.done);
  EXPECT_FALSE(DriverLoaded());
  EXPECT_EQ(GetModuleHandleA("QUORVEX.dll"), nullptr);
  EXPECT_LE(qvx_win::ThreadCount(), threads_before);
}

}  // namespace

// Helpers of the Windows-only tests: files and folders, threads of this
// process, and a small debugger that runs a program and collects what it
// sends to the debugger output.
#pragma once

#include <windows.h>

#include <tlhelp32.h>  // after windows.h

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

namespace qvx_win {

namespace fs = std::filesystem;

// The file of a loaded module, this program's own by default, and this
// program's folder (build/<preset>/bin, where the build puts QUORVEX.dll and
// the simulated kestrolib.dll).
inline fs::path ModulePath(HMODULE module = nullptr) {
  char path[MAX_PATH];
  return fs::path(std::string(path, GetModuleFileNameA(module, path, sizeof path)));
}
inline fs::path ProgramFolder() {
  return ModulePath().parent_path();
}
// The folder of a simulated driver variant ("no_required", "no_optional").
inline fs::path VariantFolder(const char* variant) {
  return ProgramFolder().parent_path() / "variants" / variant;
}

// The export `name` of `library`, as the function type F of its declaration.
template <typename F>
F* Export(HMODULE library, const char* name) {
  return reinterpret_cast<F*>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// A new empty folder under the system's temporary folder, removed again
// with everything in it.
struct TempFolder {
  static inline std::atomic<int> serial{0};
  const fs::path path =
      fs::temp_directory_path() / ("quorvex-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                                   std::to_string(serial.fetch_add(1)));
  TempFolder() {
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  // Copies `file` into the folder.
  void Add(const fs::path& file) const {
    fs::copy_file(file, path / file.filename(), fs::copy_options::overwrite_existing);
  }
};

// Threads of this process now.
inline int ThreadCount() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  int count = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    count += entry.th32OwnerProcessID == GetCurrentProcessId();
  }
  CloseHandle(snapshot);
  return count;
}

// What a program run under DebugProgram did.
struct DebuggedRun {
  bool finished = false;  // false: it did not end in time and was stopped
  DWORD exit_code = 0;
  std::vector<std::string> debug_output;  // each OutputDebugString text
};

// Starts this program with `arguments` as a process under debug and answers
// its debug events until it ends (at most `limit_ms`).
inline DebuggedRun DebugProgram(const std::string& arguments, DWORD limit_ms) {
  DebuggedRun run;
  std::string command = "\"" + ModulePath().string() + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                      nullptr, nullptr, &startup, &process)) {
    return run;
  }
  const ULONGLONG end = GetTickCount64() + limit_ms;
  DEBUG_EVENT event{};
  for (ULONGLONG now = GetTickCount64(); !run.finished && now < end; now = GetTickCount64()) {
    if (!WaitForDebugEvent(&event, static_cast<DWORD>(end - now))) break;
    DWORD answer = DBG_CONTINUE;
    HANDLE file = nullptr;  // of the program or a DLL, for the debugger to close
    if (event.dwDebugEventCode == OUTPUT_DEBUG_STRING_EVENT && !event.u.DebugString.fUnicode) {
      const OUTPUT_DEBUG_STRING_INFO& info = event.u.DebugString;
      std::string text(info.nDebugStringLength, '\0');
      SIZE_T read = 0;
      ReadProcessMemory(process.hProcess, info.lpDebugStringData, text.data(), text.size(), &read);
      text.resize(read);
      if (!text.empty() && text.back() == '\0') text.pop_back();
      run.debug_output.push_back(text);
    } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
      // The system's first breakpoint is expected; anything else is the
      // program's own business.
      const DWORD code = event.u.Exception.ExceptionRecord.ExceptionCode;
      if (code != EXCEPTION_BREAKPOINT) answer = DBG_EXCEPTION_NOT_HANDLED;
    } else if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
      file = event.u.CreateProcessInfo.hFile;
    } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
      file = event.u.LoadDll.hFile;
    } else if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
      run.finished = true;
      run.exit_code = event.u.ExitProcess.dwExitCode;
    }
    if (file != nullptr) CloseHandle(file);
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, answer);
  }
  if (!run.finished) TerminateProcess(process.hProcess, 99);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}

}  // namespace qvx_win

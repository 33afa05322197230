#include "support.h"

#include <tlhelp32.h>

#include <atomic>
#include <cstdio>

namespace qvx_win {

fs::path ProgramPath() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  return fs::path(std::string(path, length));
}

fs::path ProgramFolder() {
  return ProgramPath().parent_path();
}

fs::path VariantFolder(const char* variant) {
  return ProgramFolder().parent_path() / "variants" / variant;
}

TempFolder::TempFolder() {
  static std::atomic<int> serial{0};
  char name[64];
  std::snprintf(name, sizeof name, "quorvex-test-%lu-%d",
                static_cast<unsigned long>(GetCurrentProcessId()), serial.fetch_add(1));
  path_ = fs::temp_directory_path() / name;
  fs::remove_all(path_);
  fs::create_directories(path_);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void TempFolder::Add(const fs::path& file, const std::string& name) const {
  fs::copy_file(file, path_ / (name.empty() ? file.filename() : fs::path(name)),
                fs::copy_options::overwrite_existing);
}

int ThreadCount() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  int count = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

namespace {

void CloseIfOpen(HANDLE handle) {
  if (handle != nullptr) CloseHandle(handle);
}

}  // namespace

DebuggedRun DebugProgram(const std::string& arguments, DWORD limit_ms) {
  DebuggedRun run;
  std::string command = "\"" + ProgramPath().string() + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                      nullptr, nullptr, &startup, &process)) {
    return run;
  }
  const ULONGLONG end = GetTickCount64() + limit_ms;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    DEBUG_EVENT event{};
    if (now >= end || !WaitForDebugEvent(&event, static_cast<DWORD>(end - now))) break;
    DWORD answer = DBG_CONTINUE;
    switch (event.dwDebugEventCode) {
      case OUTPUT_DEBUG_STRING_EVENT: {
        const OUTPUT_DEBUG_STRING_INFO& info = event.u.DebugString;
        std::string text(info.nDebugStringLength, '\0');
        SIZE_T read = 0;
        ReadProcessMemory(process.hProcess, info.lpDebugStringData, text.data(), text.size(),
                          &read);
        text.resize(read);
        if (!text.empty() && text.back() == '\0') text.pop_back();
        if (!info.fUnicode) run.debug_output.push_back(text);
        break;
      }
      case EXCEPTION_DEBUG_EVENT:
        // The system's first breakpoint is expected; anything else is the
        // program's own business.
        if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
          answer = DBG_EXCEPTION_NOT_HANDLED;
        }
        break;
      case CREATE_PROCESS_DEBUG_EVENT:
        CloseIfOpen(event.u.CreateProcessInfo.hFile);
        break;
      case LOAD_DLL_DEBUG_EVENT:
        CloseIfOpen(event.u.LoadDll.hFile);
        break;
      case EXIT_PROCESS_DEBUG_EVENT:
        run.finished = true;
        run.exit_code = event.u.ExitProcess.dwExitCode;
        break;
      default:
        break;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, answer);
    if (run.finished) break;
  }
  if (!run.finished) TerminateProcess(process.hProcess, 99);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}

}  // namespace qvx_win

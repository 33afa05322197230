// Helpers of the Windows-only tests: files and folders, threads of this
// process, and a small debugger that runs a program and collects what it
// sends to the debugger output.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

namespace qvx_win {

namespace fs = std::filesystem;

// This program's own file and its folder (build/<preset>/bin, where the
// build puts QUORVEX.dll and the simulated kestrolib.dll).
fs::path ProgramPath();
fs::path ProgramFolder();
// The folder of a simulated driver variant ("no_required", "no_optional").
fs::path VariantFolder(const char* variant);

// A new empty folder under the system's temporary folder, removed again
// with everything in it.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const fs::path& path() const { return path_; }
  // Copies `file` into the folder as `name` (its own name when empty).
  void Add(const fs::path& file, const std::string& name = "") const;

 private:
  fs::path path_;
};

// Threads of this process now.
int ThreadCount();

// What a program run under DebugProgram did.
struct DebuggedRun {
  bool finished = false;  // false: it did not end in time and was stopped
  DWORD exit_code = 0;
  std::vector<std::string> debug_output;  // each OutputDebugString text
};

// Starts this program with `arguments` as a process under debug and answers
// its debug events until it ends (at most `limit_ms`).
DebuggedRun DebugProgram(const std::string& arguments, DWORD limit_ms);

}  // namespace qvx_win

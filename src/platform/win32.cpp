// Windows implementation of the platform layer, and the entry point of
// QUORVEX.dll.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "frame/driver.h"
#include "platform/platform.h"

// The start of the file this code was linked into (the linker defines it).
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace qvx::platform {

// ---- Threads -------------------------------------------------------------
//
// A thread ends in two steps: when its entry has returned it signals
// `finished`, then it waits for `proceed` before it leaves. ThreadRelease
// normally sets `proceed` and waits until the thread has ended. While
// QUORVEX.dll is being unloaded (DllMain, under the loader's lock) no thread
// can start or end, as both take that lock: ThreadRelease then ends the
// thread itself where it waits, holding nothing, before the library's code
// goes away under it. A thread that has not reached its entry yet (it waits
// for the loader's lock to start) never runs it once ThreadWait has seen it
// so, and holds nothing either. The state word says which side releases the
// record: ThreadRelease, or the thread itself once abandoned.

namespace {
enum RunState : int { kNew, kRunning, kEnded, kSkipped, kAbandoned };
}  // namespace

struct Thread {
  HANDLE handle = nullptr;
  HANDLE finished = nullptr;
  HANDLE proceed = nullptr;
  DWORD id = 0;
  ThreadEntry entry = nullptr;
  void* arg = nullptr;
  std::atomic<int> state{kNew};
};

namespace {

// Set by DllMain while the library is being unloaded.
bool g_joining_under_loader_lock = false;

void ReleaseThread(Thread* thread) {
  if (thread->handle != nullptr) CloseHandle(thread->handle);
  if (thread->finished != nullptr) CloseHandle(thread->finished);
  if (thread->proceed != nullptr) CloseHandle(thread->proceed);
  delete thread;
}

DWORD WINAPI ThreadMain(LPVOID param) {
  auto* thread = static_cast<Thread*>(param);
  const HANDLE proceed = thread->proceed;
  int state = kNew;
  if (thread->state.compare_exchange_strong(state, kRunning)) {
    thread->entry(thread->arg);
    if (thread->state.exchange(kEnded) == kAbandoned) {
      ReleaseThread(thread);  // nobody waits for this thread any more
      return 0;
    }
  }
  SetEvent(thread->finished);
  // `thread` may be gone from here on.
  WaitForSingleObject(proceed, INFINITE);
  return 0;
}

}  // namespace

Thread* ThreadStart(ThreadEntry entry, void* arg) {
  auto* thread = new (std::nothrow) Thread{};
  if (thread == nullptr) return nullptr;
  thread->entry = entry;
  thread->arg = arg;
  thread->finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  thread->proceed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (thread->finished != nullptr && thread->proceed != nullptr) {
    thread->handle = CreateThread(nullptr, 0, &ThreadMain, thread, 0, &thread->id);
  }
  if (thread->handle == nullptr) {
    ReleaseThread(thread);
    return nullptr;
  }
  SetThreadPriority(thread->handle, THREAD_PRIORITY_NORMAL);
  return thread;
}

bool ThreadWait(Thread* thread, std::uint32_t timeout_ms) {
  int state = kNew;
  if (thread->state.compare_exchange_strong(state, kSkipped)) return true;
  return WaitForSingleObject(thread->finished, timeout_ms) == WAIT_OBJECT_0;
}

void ThreadRelease(Thread* thread) {
  if (g_joining_under_loader_lock) {
    TerminateThread(thread->handle, 0);
  } else {
    SetEvent(thread->proceed);
  }
  WaitForSingleObject(thread->handle, INFINITE);
  ReleaseThread(thread);
}

void ThreadAbandon(Thread* thread) {
  int state = kRunning;
  if (!thread->state.compare_exchange_strong(state, kAbandoned)) ThreadRelease(thread);
}

void ThreadJoin(Thread* thread) {
  if (thread == nullptr) return;
  ThreadWait(thread, INFINITE);
  ThreadRelease(thread);
}

std::uint32_t ThreadId(const Thread* thread) {
  return thread == nullptr ? 0 : thread->id;
}

// ---- Named mutexes ---------------------------------------------------------
// Windows mutexes are named kernel objects and already recursive.

struct Mutex {
  HANDLE handle;
};

Mutex* MutexOpen(const char* name) {
  HANDLE handle = CreateMutexA(nullptr, FALSE, name);
  if (handle == nullptr) return nullptr;
  auto* mutex = new (std::nothrow) Mutex{handle};
  if (mutex == nullptr) CloseHandle(handle);
  return mutex;
}

WaitResult MutexWait(Mutex* mutex, std::uint32_t timeout_ms) {
  // An abandoned mutex is owned by the caller now; a failed wait is treated
  // the same way, as only a timeout makes the caller skip its work.
  return WaitForSingleObject(mutex->handle, timeout_ms) == WAIT_TIMEOUT ? WaitResult::kTimedOut
                                                                        : WaitResult::kOwned;
}

void MutexRelease(Mutex* mutex) {
  ReleaseMutex(mutex->handle);
}

void MutexClose(Mutex* mutex) {
  if (mutex == nullptr) return;
  CloseHandle(mutex->handle);
  delete mutex;
}

// ---- Events ------------------------------------------------------------------
// An auto-reset event: a wait that succeeds consumes the signal.

struct Event {
  HANDLE handle;
};

Event* EventCreate() {
  HANDLE handle = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (handle == nullptr) return nullptr;
  auto* event = new (std::nothrow) Event{handle};
  if (event == nullptr) CloseHandle(handle);
  return event;
}

void EventSet(Event* event) {
  SetEvent(event->handle);
}

bool EventWait(Event* event, std::uint32_t timeout_ms) {
  static_assert(kWaitForever == INFINITE, "an unbounded wait is INFINITE");
  return WaitForSingleObject(event->handle, timeout_ms) == WAIT_OBJECT_0;
}

void EventClose(Event* event) {
  if (event == nullptr) return;
  CloseHandle(event->handle);
  delete event;
}

// ---- Time --------------------------------------------------------------------

void SleepMs(std::uint32_t ms) {
  Sleep(ms);
}

// ---- Dynamic libraries ----------------------------------------------------------

struct Library {
  HMODULE module;
};

namespace {
char g_library_error[512];
}

Library* LibraryLoad(const char* path_or_name) {
  HMODULE module = LoadLibraryA(path_or_name);
  if (module == nullptr) {
    const DWORD error = GetLastError();
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, g_library_error, sizeof g_library_error, nullptr);
    if (length == 0) {
      std::snprintf(g_library_error, sizeof g_library_error, "error %lu",
                    static_cast<unsigned long>(error));
    }
    // The system's text ends in a line break; the report adds its own.
    std::size_t end = std::strlen(g_library_error);
    while (end > 0 && (g_library_error[end - 1] == '\n' || g_library_error[end - 1] == '\r' ||
                       g_library_error[end - 1] == ' ')) {
      g_library_error[--end] = '\0';
    }
    return nullptr;
  }
  auto* library = new (std::nothrow) Library{module};
  if (library == nullptr) FreeLibrary(module);
  return library;
}

void* LibrarySymbol(Library* library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(library->module, name));
}

void LibraryFree(Library* library) {
  if (library == nullptr) return;
  FreeLibrary(library->module);
  delete library;
}

const char* LibraryError() {
  return g_library_error;
}

bool KeepOwnCodeLoaded() {
  HMODULE self = nullptr;
  return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            reinterpret_cast<LPCSTR>(&__ImageBase), &self) != 0;
}

std::size_t OwnModulePath(char* buffer, std::size_t size) {
  if (size == 0) return 0;
  // Outside QUORVEX.dll (the library's objects linked into a program) the
  // handle is null and names the program's own file, beside which the
  // driver is then looked for.
  HMODULE module = GetModuleHandleA("quorvex.dll");
  const DWORD capacity = size < 1000 ? static_cast<DWORD>(size) : 1000;
  const DWORD length = GetModuleFileNameA(module, buffer, capacity);
  // A path cut short counts as no path at all.
  if (length == 0 || length >= capacity) {
    buffer[0] = '\0';
    return 0;
  }
  return length;
}

char PathSeparator() {
  return '\\';
}

const char* DriverFileName() {
  return "kestrolib.dll";
}

// ---- Diagnostics ------------------------------------------------------------------

void DebugOutput(const char* text) {
  OutputDebugStringA(text);
}

// Windows refuses to load the library when the driver cannot be bound; that
// refusal is the report.
void ReportProblem(const char*) {}

}  // namespace qvx::platform

// ---- Entry points ----------------------------------------------------------------

namespace {

// True when the library's objects are linked straight into a program (the
// white-box tests) rather than into QUORVEX.dll.
bool LinkedIntoProgram() {
  return reinterpret_cast<HMODULE>(&__ImageBase) == GetModuleHandleA(nullptr);
}

// A program gets no DllMain call: like the Linux build, it binds the driver
// beside its own file when it starts and releases it when it ends.
__attribute__((constructor)) void ProgramAttach() {
  if (LinkedIntoProgram()) qvx::ProcessAttach();
}

__attribute__((destructor)) void ProgramDetach() {
  if (LinkedIntoProgram()) qvx::ProcessDetach();
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      qvx::ProcessAttach();
      break;
    case DLL_PROCESS_DETACH:
      if (reserved == nullptr) {
        // FreeLibrary: the application's threads live on, so the workers of
        // cards left open are stopped before the driver goes.
        qvx::platform::g_joining_under_loader_lock = true;
        qvx::ProcessDetach();
        qvx::platform::g_joining_under_loader_lock = false;
      } else {
        // The process ends: every other thread is gone already.
        qvx::UnloadDriverLibrary(qvx::DriverModule);
      }
      break;
    default:
      break;
  }
  return qvx::DriverModule != nullptr ? TRUE : FALSE;
}

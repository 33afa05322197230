// What the library needs of the operating system. One implementation per
// system (posix.cpp, win32.cpp), chosen by the build; nothing else in the
// library calls the system directly.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qvx::platform {

// ---- Threads -------------------------------------------------------------
// A thread runs `entry(arg)` at normal priority until the entry returns.
// Threads are stopped cooperatively: the entry watches a flag of its owner.
struct Thread;
using ThreadEntry = void (*)(void* arg);

// REQUIRES: entry != nullptr. Returns nullptr when no thread could be made.
Thread* ThreadStart(ThreadEntry entry, void* arg);
// Waits at most timeout_ms until the thread's entry has returned. A thread
// that has not begun its entry yet never runs it: it counts as ended at once.
// Returns true when the entry has returned or will never run.
bool ThreadWait(Thread* thread, std::uint32_t timeout_ms);
// Releases a thread for which ThreadWait returned true; it is gone when this
// returns.
void ThreadRelease(Thread* thread);
// Gives up a thread whose entry still runs: the thread ends by itself when
// the entry returns and releases what it holds. The caller forgets it.
void ThreadAbandon(Thread* thread);
// ThreadWait without a bound, then ThreadRelease. A null thread is ignored.
void ThreadJoin(Thread* thread);
// A number that identifies the thread while it lives (0 for null).
std::uint32_t ThreadId(const Thread* thread);

// ---- Named mutexes ---------------------------------------------------------
// One mutex object per name in the process; every open of the same name
// yields a handle to that object. Mutexes are recursive: the owning thread
// may wait again and must release as often as it waited.
struct Mutex;

enum class WaitResult { kOwned, kTimedOut };

// REQUIRES: name != nullptr. Returns nullptr when the mutex cannot be made.
Mutex* MutexOpen(const char* name);
// Waits at most timeout_ms for ownership.
WaitResult MutexWait(Mutex* mutex, std::uint32_t timeout_ms);
// REQUIRES: the calling thread owns the mutex.
void MutexRelease(Mutex* mutex);
// Releases this handle; the object lives while other handles remain.
void MutexClose(Mutex* mutex);

// ---- Events ------------------------------------------------------------------
// A wake-up call between threads. EventSet leaves the event signalled until
// one wait consumes it, so a wake-up given before the wait begins is not
// lost; several sets before a wait count as one.
struct Event;

// A wait without a time limit.
constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;

// Returns nullptr when the event cannot be made.
Event* EventCreate();
// REQUIRES: event != nullptr.
void EventSet(Event* event);
// Waits at most timeout_ms (kWaitForever: without limit) for the event to be
// signalled and consumes the signal. Returns whether it was signalled.
// REQUIRES: event != nullptr.
bool EventWait(Event* event, std::uint32_t timeout_ms);
// A null event is ignored. REQUIRES: no thread waits on it any more.
void EventClose(Event* event);

// ---- Time --------------------------------------------------------------------
void SleepMs(std::uint32_t ms);

// ---- Dynamic libraries ----------------------------------------------------------
struct Library;

// Loads a library by path or plain file name; nullptr on failure.
Library* LibraryLoad(const char* path_or_name);
// nullptr when the library lacks the symbol.
void* LibrarySymbol(Library* library, const char* name);
void LibraryFree(Library* library);
// Text of the last loading error, for diagnostics ("" when none is known).
const char* LibraryError();

// Keeps this library's code in memory until the process ends, for threads
// that are left running in it while it is being unloaded. Returns false
// where the system cannot do that: dlclose unmaps a library whatever the
// library asks while it is being closed.
bool KeepOwnCodeLoaded();

// Full path of the file that holds this library's code, zero-terminated in
// `buffer`. Returns the length, or 0 when the path cannot be had.
std::size_t OwnModulePath(char* buffer, std::size_t size);
// The separator of folders in a path ('/' or '\\').
char PathSeparator();
// File name of the driver library on this system.
const char* DriverFileName();

// ---- Diagnostics ------------------------------------------------------------------
// Sends text to the debugger output (standard error where there is none),
// exactly as given.
void DebugOutput(const char* text);
// Writes one line about the library's own state where an administrator sees
// it (standard error); used only where the system cannot refuse a load.
void ReportProblem(const char* text);

}  // namespace qvx::platform

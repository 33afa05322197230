// POSIX implementation of the platform layer.
#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "platform/platform.h"

namespace qvx::platform {

// ---- Threads -------------------------------------------------------------
//
// The thread runs ThreadMain, which runs the entry unless the thread was
// given up before it began. The state word, under `lock`, says which side
// releases the record: ThreadRelease, or the thread itself once abandoned.

namespace {
enum class RunState { kNew, kRunning, kEnded, kSkipped, kAbandoned };
std::atomic<std::uint32_t> g_next_thread_id{1};
}  // namespace

struct Thread {
  std::thread thread;
  std::uint32_t id = 0;
  ThreadEntry entry = nullptr;
  void* arg = nullptr;
  std::mutex lock;
  std::condition_variable changed;
  RunState state = RunState::kNew;
};

namespace {

void ThreadMain(Thread* t) {
  {
    std::lock_guard<std::mutex> guard(t->lock);
    if (t->state != RunState::kNew) return;
    t->state = RunState::kRunning;
  }
  t->entry(t->arg);
  std::unique_lock<std::mutex> guard(t->lock);
  if (t->state == RunState::kAbandoned) {
    guard.unlock();
    delete t;
    return;
  }
  t->state = RunState::kEnded;
  t->changed.notify_all();
}

// Under t->lock: true once the entry has returned or will never run.
bool Settled(Thread* t) {
  if (t->state == RunState::kNew) t->state = RunState::kSkipped;
  return t->state == RunState::kEnded || t->state == RunState::kSkipped;
}

}  // namespace

Thread* ThreadStart(ThreadEntry entry, void* arg) {
  auto* t = new (std::nothrow) Thread{};
  if (t == nullptr) return nullptr;
  t->id = g_next_thread_id.fetch_add(1);
  t->entry = entry;
  t->arg = arg;
  try {
    t->thread = std::thread(&ThreadMain, t);
  } catch (...) {
    delete t;
    return nullptr;
  }
  return t;
}

bool ThreadWait(Thread* thread, std::uint32_t timeout_ms) {
  std::unique_lock<std::mutex> guard(thread->lock);
  return thread->changed.wait_for(guard, std::chrono::milliseconds(timeout_ms),
                                  [&] { return Settled(thread); });
}

void ThreadRelease(Thread* thread) {
  thread->thread.join();
  delete thread;
}

void ThreadAbandon(Thread* thread) {
  {
    std::lock_guard<std::mutex> guard(thread->lock);
    if (thread->state == RunState::kRunning) {
      thread->state = RunState::kAbandoned;
      thread->thread.detach();
      return;
    }
  }
  ThreadRelease(thread);  // it ended meanwhile
}

void ThreadJoin(Thread* thread) {
  if (thread == nullptr) return;
  {
    std::unique_lock<std::mutex> guard(thread->lock);
    thread->changed.wait(guard, [&] { return Settled(thread); });
  }
  ThreadRelease(thread);
}

std::uint32_t ThreadId(const Thread* thread) {
  return thread == nullptr ? 0 : thread->id;
}

// ---- Named mutexes ---------------------------------------------------------
// A recursive mutex with a bounded wait, built on a plain mutex and a
// condition variable so that the thread sanitizer understands every step.

namespace {

struct MutexObject {
  std::mutex lock;
  std::condition_variable released;
  std::thread::id owner;
  std::uint32_t depth = 0;
  std::uint32_t handles = 0;
  std::string name;
};

std::mutex& RegistryLock() {
  static std::mutex* lock = new std::mutex;  // never destroyed: used at exit
  return *lock;
}

std::map<std::string, MutexObject*>& Registry() {
  static auto* registry = new std::map<std::string, MutexObject*>;
  return *registry;
}

}  // namespace

struct Mutex {
  MutexObject* object;
};

Mutex* MutexOpen(const char* name) {
  std::lock_guard<std::mutex> guard(RegistryLock());
  try {
    MutexObject*& object = Registry()[name];
    if (object == nullptr) {
      object = new MutexObject;
      object->name = name;
    }
    auto* handle = new Mutex{object};
    ++object->handles;
    return handle;
  } catch (...) {
    return nullptr;
  }
}

WaitResult MutexWait(Mutex* mutex, std::uint32_t timeout_ms) {
  MutexObject& m = *mutex->object;
  const auto self = std::this_thread::get_id();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::unique_lock<std::mutex> guard(m.lock);
  if (m.depth > 0 && m.owner == self) {
    ++m.depth;
    return WaitResult::kOwned;
  }
  if (!m.released.wait_until(guard, deadline, [&] { return m.depth == 0; })) {
    return WaitResult::kTimedOut;
  }
  m.owner = self;
  m.depth = 1;
  return WaitResult::kOwned;
}

void MutexRelease(Mutex* mutex) {
  MutexObject& m = *mutex->object;
  bool free_now = false;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    if (m.depth == 0 || m.owner != std::this_thread::get_id()) {
      std::fputs("quorvex: mutex released by a thread that does not own it\n", stderr);
      std::abort();
    }
    free_now = --m.depth == 0;
    if (free_now) m.owner = std::thread::id();
  }
  if (free_now) m.released.notify_one();
}

void MutexClose(Mutex* mutex) {
  if (mutex == nullptr) return;
  std::lock_guard<std::mutex> guard(RegistryLock());
  MutexObject* object = mutex->object;
  delete mutex;
  if (--object->handles == 0) {
    Registry().erase(object->name);
    delete object;
  }
}

// ---- Events ------------------------------------------------------------------

struct Event {
  std::mutex lock;
  std::condition_variable signalled_changed;
  bool signalled = false;
};

Event* EventCreate() {
  return new (std::nothrow) Event;
}

void EventSet(Event* event) {
  {
    std::lock_guard<std::mutex> guard(event->lock);
    event->signalled = true;
  }
  event->signalled_changed.notify_one();
}

bool EventWait(Event* event, std::uint32_t timeout_ms) {
  std::unique_lock<std::mutex> guard(event->lock);
  const auto signalled = [event] { return event->signalled; };
  if (timeout_ms == kWaitForever) {
    event->signalled_changed.wait(guard, signalled);
  } else if (!event->signalled_changed.wait_for(guard, std::chrono::milliseconds(timeout_ms),
                                                signalled)) {
    return false;
  }
  event->signalled = false;
  return true;
}

void EventClose(Event* event) {
  delete event;
}

// ---- Time --------------------------------------------------------------------

void SleepMs(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// ---- Dynamic libraries ----------------------------------------------------------

struct Library {
  void* handle;
};

namespace {
char g_library_error[512];
}

Library* LibraryLoad(const char* path_or_name) {
  void* handle = dlopen(path_or_name, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* error = dlerror();
    std::snprintf(g_library_error, sizeof g_library_error, "%s", error ? error : "");
    return nullptr;
  }
  auto* library = new (std::nothrow) Library{handle};
  if (library == nullptr) dlclose(handle);
  return library;
}

void* LibrarySymbol(Library* library, const char* name) {
  if (library == nullptr) return nullptr;
  return dlsym(library->handle, name);
}

void LibraryFree(Library* library) {
  if (library == nullptr) return;
  dlclose(library->handle);
  delete library;
}

const char* LibraryError() {
  return g_library_error;
}

bool KeepOwnCodeLoaded() {
  return false;
}

std::size_t OwnModulePath(char* buffer, std::size_t size) {
  Dl_info info{};
  if (size == 0 || dladdr(reinterpret_cast<void*>(&OwnModulePath), &info) == 0 ||
      info.dli_fname == nullptr) {
    return 0;
  }
  const std::size_t length = std::strlen(info.dli_fname);
  if (length + 1 > size) return 0;
  std::memcpy(buffer, info.dli_fname, length + 1);
  return length;
}

char PathSeparator() {
  return '/';
}

const char* DriverFileName() {
  return "libkestrolib.so";
}

// ---- Diagnostics ------------------------------------------------------------------

void DebugOutput(const char* text) {
  std::fputs(text, stderr);
  std::fflush(stderr);
}

void ReportProblem(const char* text) {
  std::fprintf(stderr, "%s\n", text);
  std::fflush(stderr);
}

}  // namespace qvx::platform

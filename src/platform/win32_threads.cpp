// The Win32 threads, the monitor they wait on and the count of processors
// they may run on, and the resources that work running side by side
// shares: buffers, handles, and which failures tell of a shortage.
#include "platform/platform.h"

#include <cstdlib>
#include <windows.h>

namespace morvidex {

struct platform_thread {
  HANDLE handle;
  void (*body)(void *);
  void *arg;
};

struct platform_monitor {
  CRITICAL_SECTION lock;
  CONDITION_VARIABLE condition;
};

namespace {

// A worker's stack: the conversion needs little.
constexpr SIZE_T THREAD_STACK_SIZE = 256 * 1024;

DWORD WINAPI run_thread(LPVOID thread) {
  auto *t = static_cast<platform_thread *>(thread);
  t->body(t->arg);
  return 0;
}

} // namespace

unsigned platform_processors() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
    return 1;
  unsigned count = 0;
  for (; process != 0; process &= process - 1)
    count++;
  return count > 0 ? count : 1;
}

platform_thread *platform_thread_start(void (*body)(void *), void *arg) {
  auto *thread =
      static_cast<platform_thread *>(std::malloc(sizeof(platform_thread)));
  if (thread == nullptr)
    return nullptr;
  thread->body = body;
  thread->arg = arg;
  thread->handle = CreateThread(nullptr, THREAD_STACK_SIZE, run_thread, thread,
                                STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread->handle != nullptr)
    return thread;
  std::free(thread);
  return nullptr;
}

void platform_thread_join(platform_thread *thread) {
  WaitForSingleObject(thread->handle, INFINITE);
  CloseHandle(thread->handle);
  std::free(thread);
}

platform_monitor *platform_monitor_make() {
  auto *monitor =
      static_cast<platform_monitor *>(std::malloc(sizeof(platform_monitor)));
  if (monitor == nullptr)
    return nullptr;
  InitializeCriticalSection(&monitor->lock);
  InitializeConditionVariable(&monitor->condition);
  return monitor;
}

void platform_monitor_free(platform_monitor *monitor) {
  DeleteCriticalSection(&monitor->lock);
  std::free(monitor);
}

void platform_monitor_enter(platform_monitor *monitor) {
  EnterCriticalSection(&monitor->lock);
}

void platform_monitor_leave(platform_monitor *monitor) {
  LeaveCriticalSection(&monitor->lock);
}

void platform_monitor_wait(platform_monitor *monitor) {
  SleepConditionVariableCS(&monitor->condition, &monitor->lock, INFINITE);
}

void platform_monitor_wake_all(platform_monitor *monitor) {
  WakeAllConditionVariable(&monitor->condition);
}

bool platform_is_shortage(int code) {
  switch (code) {
  case CODE_NO_MEMORY:
  case ERROR_NOT_ENOUGH_MEMORY:
  case ERROR_OUTOFMEMORY:
  case ERROR_TOO_MANY_OPEN_FILES:
  case ERROR_DISK_FULL:
  case ERROR_HANDLE_DISK_FULL:
    return true;
  default:
    return false;
  }
}

// Handles are not counted against a limit of the process.
unsigned long platform_descriptor_limit() { return ~0UL; }

void *platform_buffer(std::size_t size) { return _aligned_malloc(size, 4096); }

void platform_free_buffer(void *buffer) { _aligned_free(buffer); }

} // namespace morvidex

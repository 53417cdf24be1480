// The Win32 threads, their locks and conditions (slim reader/writer locks
// and condition variables), the count of processors they may run on, and the
// resources that work running side by side shares: buffers, handles, and which
// failures tell of a shortage.
#include "platform/platform.h"

#include <cstdlib>
#include <windows.h>

namespace morvidex {

struct platform_thread {
  HANDLE handle;
  void (*body)(void *);
  void *arg;
};

static_assert(sizeof(SRWLOCK) <= PLATFORM_SYNC_SIZE &&
                  sizeof(CONDITION_VARIABLE) <= PLATFORM_SYNC_SIZE,
              "the system's lock and condition fit their storage");

namespace {

// A worker's stack: the conversion needs little.
constexpr SIZE_T THREAD_STACK_SIZE = 256 * 1024;

DWORD WINAPI run_thread(LPVOID thread) {
  auto *t = static_cast<platform_thread *>(thread);
  t->body(t->arg);
  return 0;
}

SRWLOCK *srw_of(platform_lock *lock) {
  return reinterpret_cast<SRWLOCK *>(lock->storage);
}

CONDITION_VARIABLE *cond_of(platform_cond *cond) {
  return reinterpret_cast<CONDITION_VARIABLE *>(cond->storage);
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

void platform_lock_init(platform_lock *lock) {
  InitializeSRWLock(srw_of(lock));
}

// A slim lock holds nothing to release.
void platform_lock_destroy(platform_lock * /*lock*/) {}

void platform_lock_take(platform_lock *lock) {
  AcquireSRWLockExclusive(srw_of(lock));
}

void platform_lock_release(platform_lock *lock) {
  ReleaseSRWLockExclusive(srw_of(lock));
}

void platform_cond_init(platform_cond *cond) {
  InitializeConditionVariable(cond_of(cond));
}

// A condition variable holds nothing to release.
void platform_cond_destroy(platform_cond * /*cond*/) {}

void platform_cond_wait(platform_cond *cond, platform_lock *lock) {
  SleepConditionVariableSRW(cond_of(cond), srw_of(lock), INFINITE, 0);
}

void platform_cond_signal(platform_cond *cond) {
  WakeConditionVariable(cond_of(cond));
}

void platform_cond_broadcast(platform_cond *cond) {
  WakeAllConditionVariable(cond_of(cond));
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

// The Linux threads, the monitor they wait on and the count of processors
// they may run on (futexes, the affinity mask and the CPU quota of the
// process's control group), and the resources that work running side by
// side shares: buffers, descriptors, and which failures tell of a shortage.
#include "platform/platform.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/futex.h>
#include <new>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace morvidex {

// A thread says when its work is done through a futex of its own, and the
// monitor is a lock and a wake count on futexes: the C library's own waits
// end the process when the system call fails in a way they do not expect,
// while here every failed wait counts as an early wake-up, after which the
// waiter looks again.  A thread runs on a stack the program allocates and
// frees once the thread is gone, so that no address space stays taken by
// the library's cache of stacks after the work is done.
struct platform_thread {
  std::atomic<int> done;
  pthread_t id;
  void *stack;
  void (*body)(void *);
  void *arg;
};

struct platform_monitor {
  std::atomic<int> lock; // 0 free, 1 held, 2 held with waiters
  std::atomic<int> wakes;
  int sleepers; // threads in platform_monitor_wait; under the lock
};

namespace {

// Where the process's control group is named, and where the CPU quota of a
// control group (version 2) is kept: "max PERIOD" or "QUOTA PERIOD".
const char OWN_GROUPS[] = "/proc/self/cgroup";
const char UNIFIED_GROUP[] = "0::";
const char GROUP_ROOT[] = "/sys/fs/cgroup";
const char CPU_QUOTA_FILE[] = "/cpu.max";
constexpr std::size_t GROUP_TEXT_SIZE = 4096;

// A worker's stack: the conversion needs little, but a thread sanitizer
// asks for close to a megabyte.  Pages never touched cost no memory.
constexpr std::size_t THREAD_STACK_SIZE = 1024 * 1024;

// The longest a thread sleeps before it looks again at what it waits for.
constexpr long WAIT_NANOSECONDS = 10 * 1000 * 1000;

// Reads a small file whole into buffer, terminated; false when it cannot.
bool read_small(const char *name, char *buffer, std::size_t size) {
  int fd = open(name, O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd == -1)
    return false;
  std::size_t total = 0;
  ssize_t n = 0;
  while (total < size - 1 &&
         (n = read(fd, buffer + total, size - 1 - total)) > 0)
    total += static_cast<std::size_t>(n);
  close(fd);
  buffer[total] = '\0';
  return n >= 0;
}

// The processors a CPU quota of the process's control group allows, or
// count when there is none or it cannot be read.
unsigned quota_limit(unsigned count) {
  char text[GROUP_TEXT_SIZE];
  if (!read_small(OWN_GROUPS, text, sizeof text))
    return count;
  const char *line = std::strstr(text, UNIFIED_GROUP);
  if (line == nullptr || (line != text && line[-1] != '\n'))
    return count;
  const char *group = line + sizeof UNIFIED_GROUP - 1;
  std::size_t length = std::strcspn(group, "\n");
  char path[GROUP_TEXT_SIZE];
  if (sizeof GROUP_ROOT + length + sizeof CPU_QUOTA_FILE > sizeof path)
    return count;
  std::memcpy(path, GROUP_ROOT, sizeof GROUP_ROOT - 1);
  std::memcpy(path + sizeof GROUP_ROOT - 1, group, length);
  std::memcpy(path + sizeof GROUP_ROOT - 1 + length, CPU_QUOTA_FILE,
              sizeof CPU_QUOTA_FILE);
  if (!read_small(path, text, sizeof text))
    return count;
  char *end = nullptr;
  unsigned long long quota = std::strtoull(text, &end, 10);
  if (end == text)
    return count; // "max": no quota
  unsigned long long period = std::strtoull(end, nullptr, 10);
  if (quota == 0 || period == 0)
    return count;
  unsigned long long allowed = (quota + period - 1) / period;
  return allowed < count ? static_cast<unsigned>(allowed) : count;
}

static_assert(sizeof(std::atomic<int>) == sizeof(int),
              "a futex word is a plain int");

// Sleeps while *word holds expected; returns early on any failure, and
// after a short while in any case, so that a wake whose system call failed
// delays a waiter but never leaves it asleep.
void futex_wait(std::atomic<int> *word, int expected) {
  struct timespec most = {0, WAIT_NANOSECONDS};
  syscall(SYS_futex, reinterpret_cast<int *>(word), FUTEX_WAIT_PRIVATE,
          expected, &most, nullptr, 0);
}

void futex_wake(std::atomic<int> *word, int count) {
  syscall(SYS_futex, reinterpret_cast<int *>(word), FUTEX_WAKE_PRIVATE, count,
          nullptr, nullptr, 0);
}

void *run_thread(void *thread) {
  auto *t = static_cast<platform_thread *>(thread);
  t->body(t->arg);
  t->done.store(1, std::memory_order_release);
  futex_wake(&t->done, INT_MAX);
  return nullptr;
}

} // namespace

unsigned platform_processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0)
    return 1;
  int count = CPU_COUNT(&set);
  return count > 1 ? quota_limit(static_cast<unsigned>(count)) : 1;
}

platform_thread *platform_thread_start(void (*body)(void *), void *arg) {
  auto *thread =
      static_cast<platform_thread *>(std::malloc(sizeof(platform_thread)));
  void *stack = std::malloc(THREAD_STACK_SIZE);
  pthread_attr_t attributes;
  bool started = false;
  if (thread != nullptr && stack != nullptr &&
      pthread_attr_init(&attributes) == 0) {
    new (&thread->done) std::atomic<int>(0);
    thread->stack = stack;
    thread->body = body;
    thread->arg = arg;
    started =
        pthread_attr_setstack(&attributes, stack, THREAD_STACK_SIZE) == 0 &&
        pthread_create(&thread->id, &attributes, run_thread, thread) == 0;
    pthread_attr_destroy(&attributes);
  }
  if (started)
    return thread;
  std::free(stack);
  std::free(thread);
  return nullptr;
}

// The wait for the thread's end is the program's own; the library is only
// asked whether the thread is gone, never made to wait for it.
void platform_thread_join(platform_thread *thread) {
  while (thread->done.load(std::memory_order_acquire) == 0)
    futex_wait(&thread->done, 0);
  while (pthread_tryjoin_np(thread->id, nullptr) == EBUSY)
    sched_yield();
  thread->done.~atomic();
  std::free(thread->stack);
  std::free(thread);
}

platform_monitor *platform_monitor_make() {
  auto *monitor =
      static_cast<platform_monitor *>(std::malloc(sizeof(platform_monitor)));
  if (monitor == nullptr)
    return nullptr;
  new (&monitor->lock) std::atomic<int>(0);
  new (&monitor->wakes) std::atomic<int>(0);
  monitor->sleepers = 0;
  return monitor;
}

void platform_monitor_free(platform_monitor *monitor) {
  monitor->wakes.~atomic();
  monitor->lock.~atomic();
  std::free(monitor);
}

void platform_monitor_enter(platform_monitor *monitor) {
  int state = 0;
  if (monitor->lock.compare_exchange_strong(state, 1,
                                            std::memory_order_acquire))
    return;
  if (state != 2)
    state = monitor->lock.exchange(2, std::memory_order_acquire);
  while (state != 0) {
    futex_wait(&monitor->lock, 2);
    state = monitor->lock.exchange(2, std::memory_order_acquire);
  }
}

void platform_monitor_leave(platform_monitor *monitor) {
  if (monitor->lock.exchange(0, std::memory_order_release) == 2)
    futex_wake(&monitor->lock, 1);
}

// Every wake happens with the lock held, so a wake between leaving the
// lock and sleeping has changed the count and the sleep ends at once.
void platform_monitor_wait(platform_monitor *monitor) {
  int seen = monitor->wakes.load(std::memory_order_relaxed);
  monitor->sleepers++;
  platform_monitor_leave(monitor);
  futex_wait(&monitor->wakes, seen);
  platform_monitor_enter(monitor);
  monitor->sleepers--;
}

// Only a wake that someone waits for costs a system call.
void platform_monitor_wake_all(platform_monitor *monitor) {
  monitor->wakes.fetch_add(1, std::memory_order_relaxed);
  if (monitor->sleepers > 0)
    futex_wake(&monitor->wakes, INT_MAX);
}

bool platform_is_shortage(int code) {
  switch (code) {
  case CODE_NO_MEMORY:
  case ENOMEM:
  case EMFILE:
  case ENFILE:
  case ENOSPC:
  case EDQUOT:
  case EAGAIN:
    return true;
  default:
    return false;
  }
}

unsigned long platform_descriptor_limit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
    return 0;
  return static_cast<unsigned long>(limit.rlim_cur);
}

void *platform_buffer(std::size_t size) {
  constexpr std::size_t PAGE = 4096;
  return std::aligned_alloc(PAGE, (size + PAGE - 1) & ~(PAGE - 1));
}

void platform_free_buffer(void *buffer) { std::free(buffer); }

} // namespace morvidex

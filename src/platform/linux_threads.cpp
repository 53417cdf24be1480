// The Linux threads, their locks and conditions (the C library's own), the
// count of processors they may run on (the affinity mask and the CPU quota
// of the process's control group), and the resources that work running
// side by side shares: buffers, descriptors, and which failures tell of a
// shortage.
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace morvidex {

// A thread runs on a stack the program allocates and frees once the thread
// is joined, so that no address space stays taken by the library's cache
// of stacks after the work is done.
struct platform_thread {
  pthread_t id;
  void *stack;
  void (*body)(void *);
  void *arg;
};

static_assert(sizeof(pthread_mutex_t) <= PLATFORM_SYNC_SIZE &&
                  sizeof(pthread_cond_t) <= PLATFORM_SYNC_SIZE,
              "the system's lock and condition fit their storage");

namespace {

// Where the process's control group is named, and where the CPU quota of a
// control group (version 2) is kept: "max PERIOD" or "QUOTA PERIOD".
const char OWN_GROUPS[] = "/proc/self/cgroup";
const char UNIFIED_GROUP[] = "0::";
const char CPU_QUOTA_FILE[] = "/sys/fs/cgroup%.*s/cpu.max";
constexpr std::size_t GROUP_TEXT_SIZE = 4096;

// A worker's stack: the conversion needs little, but a thread sanitizer
// asks for close to a megabyte.  Pages never touched cost no memory.
constexpr std::size_t THREAD_STACK_SIZE = 1024 * 1024;

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
  int length = static_cast<int>(std::strcspn(group, "\n"));
  char path[GROUP_TEXT_SIZE];
  int size = std::snprintf(path, sizeof path, CPU_QUOTA_FILE, length, group);
  if (size < 0 || static_cast<std::size_t>(size) >= sizeof path ||
      !read_small(path, text, sizeof text))
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

void *run_thread(void *thread) {
  auto *t = static_cast<platform_thread *>(thread);
  t->body(t->arg);
  return nullptr;
}

pthread_mutex_t *mutex_of(platform_lock *lock) {
  return reinterpret_cast<pthread_mutex_t *>(lock->storage);
}

pthread_cond_t *cond_of(platform_cond *cond) {
  return reinterpret_cast<pthread_cond_t *>(cond->storage);
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

void platform_thread_join(platform_thread *thread) {
  pthread_join(thread->id, nullptr);
  std::free(thread->stack);
  std::free(thread);
}

void platform_lock_init(platform_lock *lock) {
  pthread_mutex_init(mutex_of(lock), nullptr);
}

void platform_lock_destroy(platform_lock *lock) {
  pthread_mutex_destroy(mutex_of(lock));
}

void platform_lock_take(platform_lock *lock) {
  pthread_mutex_lock(mutex_of(lock));
}

void platform_lock_release(platform_lock *lock) {
  pthread_mutex_unlock(mutex_of(lock));
}

void platform_cond_init(platform_cond *cond) {
  pthread_cond_init(cond_of(cond), nullptr);
}

void platform_cond_destroy(platform_cond *cond) {
  pthread_cond_destroy(cond_of(cond));
}

void platform_cond_wait(platform_cond *cond, platform_lock *lock) {
  pthread_cond_wait(cond_of(cond), mutex_of(lock));
}

void platform_cond_signal(platform_cond *cond) {
  pthread_cond_signal(cond_of(cond));
}

void platform_cond_broadcast(platform_cond *cond) {
  pthread_cond_broadcast(cond_of(cond));
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

#include "textio/pool.h"

#include "platform/platform.h"
#include "textio/stream.h"

namespace morvidex {

namespace {

// Workers, at most.
constexpr unsigned MAX_WORKERS = 64;

// A worker thread and the streams it converts with, made for it by the
// thread that starts the pool, so that a worker never allocates to begin.
struct worker {
  platform_thread *thread;
  spare_streams streams;
};

struct pool_state {
  platform_monitor *monitor; // made once, kept for the run
  worker workers[MAX_WORKERS];
  unsigned count; // workers running; changed only with none of them
  // In the monitor:
  pool_task *tasks; // offered, first served first
  bool stopping;    // workers take no further work
};

pool_state pool;

void work(void *slot) {
  auto *w = static_cast<worker *>(slot);
  keep_spare_streams(&w->streams);
  platform_monitor_enter(pool.monitor);
  while (!pool.stopping) {
    if (!pool_serve())
      platform_monitor_wait(pool.monitor);
  }
  platform_monitor_leave(pool.monitor);
  give_back_spare_streams(&w->streams);
}

} // namespace

unsigned pool_start() {
  if (pool.count > 0)
    return pool.count;
  if (pool.monitor == nullptr)
    pool.monitor = platform_monitor_make();
  if (pool.monitor == nullptr)
    return 0;
  pool.stopping = false;
  // The workers wait in the monitor until every one is started and
  // counted, so that count never changes while one of them runs.
  platform_monitor_enter(pool.monitor);
  unsigned want = platform_processors() - 1;
  while (pool.count < want && pool.count < MAX_WORKERS) {
    worker *w = &pool.workers[pool.count];
    if (!make_spare_streams(&w->streams))
      break;
    w->thread = platform_thread_start(work, w);
    if (w->thread == nullptr) {
      free_spare_streams(&w->streams);
      break;
    }
    pool.count++;
  }
  platform_monitor_leave(pool.monitor);
  return pool.count;
}

void pool_stop() {
  if (pool.count == 0)
    return;
  platform_monitor_enter(pool.monitor);
  pool.stopping = true;
  platform_monitor_wake_all(pool.monitor);
  platform_monitor_leave(pool.monitor);
  for (unsigned i = 0; i < pool.count; i++) {
    platform_thread_join(pool.workers[i].thread);
    free_spare_streams(&pool.workers[i].streams);
  }
  pool.count = 0;
}

unsigned pool_workers() { return pool.count; }

void pool_enter() {
  if (pool.count > 0)
    platform_monitor_enter(pool.monitor);
}

void pool_leave() {
  if (pool.count > 0)
    platform_monitor_leave(pool.monitor);
}

void pool_wait() { platform_monitor_wait(pool.monitor); }

void pool_wake_all() {
  if (pool.count > 0)
    platform_monitor_wake_all(pool.monitor);
}

void pool_offer(pool_task *task, bool first) {
  pool_task **at = &pool.tasks;
  while (!first && *at != nullptr)
    at = &(*at)->next;
  task->next = *at;
  *at = task;
  pool_wake_all();
}

void pool_withdraw(pool_task *task) {
  for (pool_task **at = &pool.tasks; *at != nullptr; at = &(*at)->next) {
    if (*at == task) {
      *at = task->next;
      return;
    }
  }
}

bool pool_serve() {
  for (pool_task *task = pool.tasks; task != nullptr; task = task->next) {
    if (task->serve(task))
      return true;
  }
  return false;
}

} // namespace morvidex

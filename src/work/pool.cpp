#include "work/pool.h"

#include <cstdlib>

#include "platform/platform.h"

namespace morvidex {

namespace {

// Jobs queued at once, at most.
constexpr unsigned QUEUE_SIZE = 2 * POOL_MAX_WORKERS;

struct job {
  void (*fn)(void *, unsigned);
  void *arg;
};

// A worker, and what it needs to know of itself.
struct worker {
  work_pool *pool;
  unsigned index;
  platform_thread *thread;
};

} // namespace

// Written before the first worker starts and after the last is joined:
// threads, workers.  Under lock: the queue and ending.  Workers wait on
// queued for a job or the end; nothing else waits.
struct work_pool {
  platform_lock lock;
  platform_cond queued; // a job was queued, or the pool ends
  job queue[QUEUE_SIZE];
  unsigned head;  // the oldest queued job's place
  unsigned count; // jobs queued
  bool ending;    // no job will be queued any more
  unsigned workers;
  worker crew[POOL_MAX_WORKERS];
};

namespace {

// Takes the oldest queued job; under the lock, with one queued.
job take_oldest(work_pool *pool) {
  job j = pool->queue[pool->head];
  pool->head = (pool->head + 1) % QUEUE_SIZE;
  pool->count--;
  return j;
}

// A worker: runs jobs as they come until the pool ends with none queued.
void work(void *arg) {
  auto *self = static_cast<worker *>(arg);
  work_pool *pool = self->pool;
  platform_lock_take(&pool->lock);
  for (;;) {
    while (pool->count == 0 && !pool->ending)
      platform_cond_wait(&pool->queued, &pool->lock);
    if (pool->count == 0)
      break;
    job j = take_oldest(pool);
    platform_lock_release(&pool->lock);
    j.fn(j.arg, self->index);
    platform_lock_take(&pool->lock);
  }
  platform_lock_release(&pool->lock);
}

} // namespace

work_pool *pool_create(unsigned workers) {
  if (workers == 0)
    return nullptr;
  auto *pool = static_cast<work_pool *>(std::calloc(1, sizeof(work_pool)));
  if (pool == nullptr)
    return nullptr;
  platform_lock_init(&pool->lock);
  platform_cond_init(&pool->queued);
  // The workers find nothing queued until the caller adds a job, so the
  // count may grow while the first of them already wait.
  while (pool->workers < workers && pool->workers < POOL_MAX_WORKERS) {
    worker *w = &pool->crew[pool->workers];
    *w = worker{pool, pool->workers, nullptr};
    if ((w->thread = platform_thread_start(work, w)) == nullptr)
      break;
    pool->workers++;
  }
  if (pool->workers > 0)
    return pool;
  pool_free(pool);
  return nullptr;
}

void pool_free(work_pool *pool) {
  if (pool == nullptr)
    return;
  platform_lock_take(&pool->lock);
  pool->ending = true;
  platform_cond_broadcast(&pool->queued);
  platform_lock_release(&pool->lock);
  for (unsigned i = 0; i < pool->workers; i++)
    platform_thread_join(pool->crew[i].thread);
  platform_cond_destroy(&pool->queued);
  platform_lock_destroy(&pool->lock);
  std::free(pool);
}

unsigned pool_workers(const work_pool *pool) {
  return pool != nullptr ? pool->workers : 0;
}

bool pool_try_add(work_pool *pool, void (*fn)(void *, unsigned), void *arg) {
  if (pool == nullptr) {
    fn(arg, 0);
    return true;
  }
  platform_lock_take(&pool->lock);
  bool room = pool->count < QUEUE_SIZE;
  if (room) {
    pool->queue[(pool->head + pool->count++) % QUEUE_SIZE] = job{fn, arg};
    platform_cond_signal(&pool->queued);
  }
  platform_lock_release(&pool->lock);
  return room;
}

unsigned pool_withdraw(work_pool *pool, const void *arg) {
  if (pool == nullptr)
    return 0;
  platform_lock_take(&pool->lock);
  // The jobs kept close up behind the oldest, in their order.
  unsigned kept = 0;
  for (unsigned i = 0; i < pool->count; i++) {
    job j = pool->queue[(pool->head + i) % QUEUE_SIZE];
    if (j.arg != arg)
      pool->queue[(pool->head + kept++) % QUEUE_SIZE] = j;
  }
  unsigned taken = pool->count - kept;
  pool->count = kept;
  platform_lock_release(&pool->lock);
  return taken;
}

} // namespace morvidex

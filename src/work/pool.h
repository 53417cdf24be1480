// A pool of worker threads that run jobs: a job is a function and an
// argument, and the pool knows nothing of what they do.  Jobs are taken
// first in, first out, and each is told which worker runs it, 0 to
// workers - 1, so that what a worker needs can be made for it ahead.  A
// pool of no workers runs each job in the caller, as worker 0.
#ifndef MORVIDEX_WORK_POOL_H
#define MORVIDEX_WORK_POOL_H

namespace morvidex {

struct work_pool;

// Workers one pool may have, at most.
constexpr unsigned POOL_MAX_WORKERS = 64;

// Starts up to workers threads.  Memory or a thread that cannot be had
// means fewer; nullptr when not one starts, which is a pool of none.
work_pool *pool_create(unsigned workers);

// Runs the jobs still queued, lets every worker end, and frees the pool;
// afterwards no thread of it runs.  A null pool is ignored.
void pool_free(work_pool *pool);

// How many workers the pool has; 0 for none.
unsigned pool_workers(const work_pool *pool);

// Queues fn(arg) for the next idle worker; with no pool, runs it at once.
// False, with nothing queued, when the queue is full.
bool pool_try_add(work_pool *pool, void (*fn)(void *, unsigned), void *arg);

// Takes back the queued jobs whose argument is arg, none of them started;
// returns how many.
unsigned pool_withdraw(work_pool *pool, const void *arg);

} // namespace morvidex

#endif

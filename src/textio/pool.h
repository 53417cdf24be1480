// The workers of a run: one set of threads, one per processor the process
// may use but the caller's, serving every kind of work that is offered to
// them, whole files and the blocks of one large file alike.
#ifndef MORVIDEX_TEXTIO_POOL_H
#define MORVIDEX_TEXTIO_POOL_H

namespace morvidex {

// A kind of work offered to the workers while it lasts.  serve is called
// in the pool's monitor by a thread that looks for work: it does a piece
// of the work, leaving the monitor while it works and entering it again,
// and returns true; or returns false at once when it has nothing for now.
// Whoever changes what serve would find wakes the pool.
struct pool_task {
  bool (*serve)(pool_task *task);
  pool_task *next; // the pool's list; in the monitor
};

// Starts the workers once: up to one per processor but the caller's.
// Memory or a thread that cannot be had means fewer, never a failure.
// Returns how many run.
unsigned pool_start();

// Lets every worker end, once its piece of work is done; afterwards no
// thread but the caller's runs, until the pool is started again.
void pool_stop();

// How many workers run; 0 when the pool is not started.
unsigned pool_workers();

// The pool's monitor; without workers, entering and leaving do nothing.
void pool_enter();
void pool_leave();
void pool_wait();
void pool_wake_all();

// Offers task to the workers, ahead of those offered before it when first
// is true, and takes it back; in the monitor.  A task taken back is
// served no more, but a piece of it may still be running.
void pool_offer(pool_task *task, bool first);
void pool_withdraw(pool_task *task);

// Does a piece of the first offered task that has one; in the monitor.
// False when none has.
bool pool_serve();

} // namespace morvidex

#endif

// The workers of a run and what each brings to its work: a pool, and for
// every worker a kit made ahead by the thread that starts the pool (a pair of
// streams and the buffers of one block), so that a worker never allocates:
// memory taken on a worker's behalf would stay with its own allocator and
// change where memory runs short for the rest of the run.
#ifndef MORVIDEX_TRANSLATE_CREW_H
#define MORVIDEX_TRANSLATE_CREW_H

#include "platform/platform.h"
#include "textio/stream.h"
#include "work/pool.h"

namespace morvidex {

// A thread's means to convert: streams for whole files, whose buffers
// hold a raw block and the block converted when it helps with blocks.
struct kit {
  spare_streams streams;
  kit *next; // on the shelf
};

// Kits, at most: one per worker.  A worker holds one while it converts
// whole files or helps with blocks; the walking thread converts with its
// own streams, and a large file's own thread with its streams' buffers.
constexpr unsigned MAX_KITS = POOL_MAX_WORKERS;

// The pool and the kits.  pool, kits and kit_count are written by the
// walking thread alone, with no worker running; shelf under lock.
struct crew {
  work_pool *pool;     // nullptr: no worker runs
  unsigned processors; // the most threads that may work at once
  platform_lock lock;
  kit *shelf; // kits not in use
  kit kits[MAX_KITS];
  unsigned kit_count;
};

// A crew of no workers, for up to processors threads once started.
void crew_init(crew *c, unsigned processors);

// Starts the workers, one per processor but the caller's, each with its
// kit, unless they run already; fewer where memory or threads run short.
// Returns how many run.
unsigned crew_start(crew *c);

// Lets every worker end, once its job is done, and frees the kits; the
// crew may start again.
void crew_stop(crew *c);

// Stops the crew for good.
void crew_end(crew *c);

// A kit off the shelf, or nullptr when every one is in use; and back.
kit *crew_take_kit(crew *c);
void crew_give_kit(crew *c, kit *k);

} // namespace morvidex

#endif

// The workers of a run and what each brings to its work: a pool, and for
// every worker a kit made ahead by the thread that starts the pool, so that
// a worker never allocates: memory taken on a worker's behalf would stay
// with its own allocator and change where memory runs short for the rest
// of the run.
#ifndef MORVIDEX_TRANSLATE_CREW_H
#define MORVIDEX_TRANSLATE_CREW_H

#include "textio/stream.h"
#include "work/pool.h"

namespace morvidex {

// The pool and the kits: kits[i] is worker i's pair of streams, made its
// own while it converts whole files, whose buffers hold a raw block and
// the block converted while it helps with the blocks of a large file.
// The walking thread converts with its own streams, and a large file's
// own thread with its streams' buffers.  Written by the walking thread
// alone, with no worker running.
// A crew of no workers, for up to processors threads once started, is
// crew{nullptr, processors, {}, 0}.
struct crew {
  work_pool *pool;     // nullptr: no worker runs
  unsigned processors; // the most threads that may work at once
  spare_streams kits[POOL_MAX_WORKERS];
  unsigned kit_count;
};

// Starts the workers, one per processor but the caller's, each with its
// kit, unless they run already; fewer where memory or threads run short.
// Returns how many run.
unsigned crew_start(crew *c);

// Lets every worker end, once its job is done, and frees the kits; the
// crew may start again.
void crew_stop(crew *c);

} // namespace morvidex

#endif

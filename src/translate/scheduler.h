// The state that the parts of the scheduler share: the ring of items, the
// name table, the directories held for conversions, and what the workers
// and the walking thread tell each other.  Only the scheduler's own files
// include it; the walk sees schedule.h.
#ifndef MORVIDEX_TRANSLATE_SCHEDULER_H
#define MORVIDEX_TRANSLATE_SCHEDULER_H

#include "textio/pool.h"
#include "translate/name_table.h"
#include "translate/ring.h"

namespace morvidex {

// A directory held open for the conversions scheduled in it.  Written by
// the walking thread alone; the workers read handle once a job in it is
// published, and the walking thread closes it only once no job in it is
// left.
struct conversion_dir {
  file_handle handle; // NO_HANDLE once released: conversions run alone
  file_id id;
  unsigned jobs; // conversions scheduled in it, not yet reported
  bool walked;   // the walk may still schedule in it
};

// Directories held open for conversions, at most.
constexpr unsigned MAX_DIRS = 16;

// The size of a cache line, for fields that different threads change.
constexpr unsigned CACHE_LINE = 64;

struct scheduler {
  ring items;
  name_table names; // the walking thread's own
  conversion_dir *dirs[MAX_DIRS];
  unsigned dir_count;
  pool_task files; // the conversions, offered to the pool's workers
  bool offered;    // files is offered; the walking thread's own

  // In the pool's monitor, on a cache line of their own: the walking
  // thread's fields change with every item.
  alignas(CACHE_LINE) unsigned long long waiting_from; // none before waits
  unsigned running;                                    // jobs converting now
  bool holding;    // set by the walking thread: no job is taken for now
  bool taken_seen; // set by whoever finds a target's name taken

  // The walking thread's own.
  alignas(CACHE_LINE) bool taken_known; // taken_seen as it last read it
  unsigned processors;                  // 0 until asked
  bool may_run_ahead;                   // processors and descriptors enough
};

extern scheduler sched;

// Whether names differ only as bytes do on this platform's file systems.
bool names_fold();

// The key that the name table counts a name with key key in dir under.
unsigned long long key_in(const conversion_dir *dir, unsigned long long key);

// Whether the conversion of path into name, in dir, may run ahead of the
// conversions before it.
bool may_run_ahead(const conversion_dir *dir, const char *path,
                   const char *name, bool known_plain);

// Offers the conversions to the pool's workers, started when they are
// not yet: once enough wait.
void start_workers();

// Takes the conversions back from the workers and lets them end.
void stop_workers();

// Lets the workers see every item scheduled; in the pool's monitor.
void publish();

// Waits for the oldest conversion, converting what waits meanwhile, and
// converts it once more in turn when what ran beside it may be why it
// failed or found its target taken.
void finish_oldest(item *oldest);

} // namespace morvidex

#endif

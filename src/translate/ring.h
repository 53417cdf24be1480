// The items a walk schedules (conversions and the lines between them), in
// program order in a ring of fixed size: the oldest is reported first,
// and an item leaves the ring only once it and all before it are reported.
#ifndef MORVIDEX_TRANSLATE_RING_H
#define MORVIDEX_TRANSLATE_RING_H

#include <cstddef>

#include "translate/convert.h"

namespace morvidex {

// Items scheduled and not yet reported, at most: enough to reach past a
// directory of some hundred files into the next.
constexpr unsigned WINDOW = 1024;

// Room in the ring for a conversion's path and name side by side, or a
// line's argument; a conversion whose names do not fit runs alone, and a
// line that does not fit is printed once all before it is reported.
constexpr std::size_t NAMES_ROOM = 256;

enum item_kind { ITEM_JOB, ITEM_LINE, ITEM_FAILURE };
enum job_state { JOB_WAITING, JOB_RUNNING, JOB_DONE };

struct conversion_dir;

// One scheduled conversion or line; path and name are its own copies, in
// the ring's room for them.  Fixed once scheduled, but
// for state, outcome and beside_others, which the thread that takes a
// published job writes under the scheduler's lock.
struct item {
  item_kind kind;
  job_state state;  // lines and failures are done from the start
  char *path;       // a conversion's source, a line's argument
  char *name;       // a conversion's target
  const char *text; // a line's format, a failure's label
  int case_mode;
  conversion_dir *dir;
  bool beside_others;                    // converted while other work ran
  conversion_outcome outcome;            // a failure's code is outcome.code
  unsigned long long path_key, name_key; // keys of path and name
};

// Positions count items in program order from the first of the run; an
// item's place in the ring is its position modulo WINDOW.  The items not
// yet reported are those from reported to reported + count; of them the
// first published the workers may see, and published <= count.
struct ring {
  item items[WINDOW];
  unsigned long long keys[WINDOW][2]; // by place: a job's path_key and
                                      // name_key, side by side to be scanned
  char rooms[WINDOW][NAMES_ROOM];     // by place: see NAMES_ROOM
  // Written by the walking thread alone: reported and published under
  // the scheduler's lock, which the workers read them under; count
  // without it, since no worker reads it.
  unsigned long long reported; // the position of the oldest
  unsigned count;
  unsigned published;
};

// The item at a position not yet retired.
item &ring_at(ring *r, unsigned long long position);

// The position of an item of the ring.
unsigned long long ring_position(const ring *r, const item *it);

// The place of the next item; the ring must not be full.
unsigned ring_next_place(const ring *r);

// Counts in the item just put at the next place; its keys go beside it.
void ring_push(ring *r);

// How many items from the oldest on are done, one after another; the
// oldest is counted as done.
unsigned ring_done_run(ring *r);

// Takes the n oldest items, reported, out of the ring.
void ring_retire(ring *r, unsigned n);

} // namespace morvidex

#endif

// Running ahead: which conversions may run beside those before them, how
// the workers and the waiting walker take them, and how a conversion that
// ran ahead is undone when the one before it needs the tree as one
// conversion after another leaves it.
#include <cstring>

#include "translate/scheduler.h"

namespace morvidex {

namespace {

// Workers are offered the conversions once this many items wait: fewer
// are done sooner one after another by the walking thread.
constexpr unsigned START_BATCH = 8;

// Conversions a thread takes at once, at most: each taking and each
// return passes the lock between processors.
constexpr unsigned TAKE_AT_ONCE = 8;

bool is_waiting(const item &it) {
  return it.kind == ITEM_JOB && it.state == JOB_WAITING;
}

// The oldest waiting conversion the workers may see, or nullptr.
item *oldest_waiting() {
  if (sched.holding)
    return nullptr;
  ring *r = &sched.items;
  unsigned long long end = r->reported + r->published;
  if (sched.waiting_from < r->reported)
    sched.waiting_from = r->reported;
  while (sched.waiting_from < end &&
         !is_waiting(ring_at(r, sched.waiting_from)))
    sched.waiting_from++;
  return sched.waiting_from < end ? &ring_at(r, sched.waiting_from) : nullptr;
}

// Takes the oldest waiting conversion and those waiting right after it,
// up to TAKE_AT_ONCE, converts them beside the other work and records
// what they came to; false when none waits.  In the monitor, left while
// converting.
bool serve_files(pool_task *) {
  item *first = oldest_waiting();
  if (first == nullptr)
    return false;
  ring *r = &sched.items;
  unsigned long long p = ring_position(r, first);
  unsigned long long end = r->reported + r->published;
  item *taken[TAKE_AT_ONCE];
  unsigned n = 0;
  for (; n < TAKE_AT_ONCE && p < end && is_waiting(ring_at(r, p)); p++) {
    taken[n] = &ring_at(r, p);
    taken[n++]->state = JOB_RUNNING;
  }
  sched.running += n;
  pool_leave();
  conversion_outcome outcomes[TAKE_AT_ONCE];
  for (unsigned i = 0; i < n; i++)
    outcomes[i] =
        convert_file(taken[i]->path, taken[i]->name, taken[i]->case_mode, true,
                     taken[i]->dir->handle, true);
  pool_enter();
  for (unsigned i = 0; i < n; i++) {
    taken[i]->outcome = outcomes[i];
    taken[i]->beside_others = true;
    taken[i]->state = JOB_DONE;
    sched.taken_seen = sched.taken_seen || outcomes[i].result == TARGET_EXISTS;
  }
  sched.running -= n;
  pool_wake_all();
  return true;
}

// Undoes the conversions after the oldest, with none running: each only
// created a target that did not exist before, and waits again.  A target
// found taken stays taken whatever the oldest does, since no other
// conversion not yet reported creates that entry: that finding stands.
void undo_later(const item *oldest) {
  ring *r = &sched.items;
  unsigned long long end = r->reported + r->count;
  for (unsigned long long p = ring_position(r, oldest) + 1; p < end; p++) {
    item &later = ring_at(r, p);
    if (later.kind != ITEM_JOB ||
        (later.state == JOB_DONE && later.outcome.result == TARGET_EXISTS))
      continue;
    if (later.state == JOB_DONE && later.outcome.result == CONVERTED)
      platform_remove(later.name, later.dir->handle);
    later.state = JOB_WAITING;
  }
  sched.waiting_from = r->reported;
}

// Converts the oldest as the conversion in turn, with nothing before it
// left to convert.
void convert_in_turn(item *oldest, bool side_by_side) {
  oldest->outcome = convert_file(oldest->path, oldest->name, oldest->case_mode,
                                 side_by_side, oldest->dir->handle);
  oldest->beside_others = false;
}

// The oldest conversion failed for want of space, descriptors or memory
// while other work ran, which may be why: with every worker ended, the
// later conversions are undone and the oldest is converted once more,
// alone.  Only a second failure is reported.
void convert_again_alone(item *oldest) {
  stop_workers();
  undo_later(oldest);
  convert_in_turn(oldest, false);
}

// The oldest conversion found its target's name taken: whatever is there
// (a link to a later source, say) may change what later conversions read
// or write, so with the workers held once their conversions end, the
// later ones are undone, the oldest is converted as one conversion after
// another would, and the workers go on.
void convert_again_held(item *oldest) {
  pool_enter();
  sched.holding = true;
  while (sched.running > 0)
    pool_wait();
  undo_later(oldest);
  pool_leave();
  convert_in_turn(oldest, true);
  pool_enter();
  sched.holding = false;
  pool_wake_all();
  pool_leave();
}

// Whether name is the source or target, or path the target, of a
// conversion in the same directory not yet reported.  Only a key the name
// table counts is looked for through the ring.
bool shares_a_name(const conversion_dir *dir, const char *path,
                   unsigned long long path_key, const char *name,
                   unsigned long long name_key) {
  if (name_table_count(&sched.names, key_in(dir, name_key)) == 0 &&
      name_table_count(&sched.names, key_in(dir, path_key)) == 0)
    return false;
  bool fold = names_fold();
  const ring *r = &sched.items;
  for (unsigned i = 0; i < r->count; i++) {
    const unsigned long long *keys = r->keys[(r->reported + i) % WINDOW];
    if (keys[0] != name_key && keys[1] != name_key && keys[1] != path_key)
      continue;
    const item &j = r->items[(r->reported + i) % WINDOW];
    if (j.kind != ITEM_JOB ||
        (j.dir != dir && (j.dir->id.device != dir->id.device ||
                          j.dir->id.index != dir->id.index)))
      continue;
    if ((name_key == j.name_key && same_name(name, j.name, fold)) ||
        (name_key == j.path_key && same_name(name, j.path, fold)) ||
        (path_key == j.name_key && same_name(path, j.name, fold)))
      return true;
  }
  return false;
}

} // namespace

bool names_fold() { return !PLATFORM_EXACT_NAMES; }

unsigned long long key_in(const conversion_dir *dir, unsigned long long key) {
  return (key ^ (dir->id.device * 0x9E3779B97F4A7C15ULL) ^
          (dir->id.index * 0xC2B2AE3D27D4EB4FULL)) *
         0xFF51AFD7ED558CCDULL;
}

void publish() {
  ring *r = &sched.items;
  if (r->published == r->count)
    return;
  r->published = r->count;
  sched.taken_known = sched.taken_seen;
  pool_wake_all();
}

void start_workers() {
  if (sched.offered || sched.items.count < START_BATCH ||
      sched.processors < 2 || pool_start() == 0)
    return;
  sched.files.serve = serve_files;
  pool_enter();
  sched.items.published = sched.items.count;
  pool_offer(&sched.files, false);
  pool_leave();
  sched.offered = true;
}

void stop_workers() {
  if (sched.offered) {
    pool_enter();
    pool_withdraw(&sched.files);
    pool_leave();
    sched.offered = false;
  }
  pool_stop();
}

void finish_oldest(item *oldest) {
  start_workers();
  if (!sched.offered) {
    convert_in_turn(oldest, true);
    oldest->state = JOB_DONE;
    return;
  }
  pool_enter();
  publish();
  while (oldest->state != JOB_DONE) {
    if (!pool_serve())
      pool_wait();
  }
  pool_leave();
  if (oldest->outcome.result == TARGET_EXISTS)
    convert_again_held(oldest);
  if (oldest->outcome.result != CONVERTED && oldest->beside_others &&
      platform_is_shortage(oldest->outcome.code))
    convert_again_alone(oldest);
}

bool may_run_ahead(const conversion_dir *dir, const char *path,
                   const char *name, bool known_plain) {
  // A bare name with a stem: the target is neither the source nor a name
  // the walk converts (".lo").  Where the file system folds case, only
  // ASCII letters are known to fold alike, "\\" and ":" are separators
  // too, and a name with a "~" may be the short form of another.
  bool fold = names_fold();
  if (path[0] == '.' || std::strpbrk(path, fold ? "/\\:~" : "/") != nullptr ||
      same_name(path, name, fold) || (fold && has_wide_bytes(path)) ||
      dir->handle == NO_HANDLE ||
      shares_a_name(dir, path, name_key(path, fold), name,
                    name_key(name, fold)))
    return false;
  if (!known_plain) {
    file_status status{};
    if (platform_entry_status(path, KIND_UNKNOWN, false, &status) != 0 ||
        status.kind != KIND_REGULAR || status.is_link)
      return false;
  }
  // Once a target's name was found taken (a run over a tree converted
  // before, say), names are looked up first, so that not every conversion
  // is tried ahead only to be converted again in turn.
  return !sched.taken_known || platform_is_missing(name, dir->handle);
}

} // namespace morvidex

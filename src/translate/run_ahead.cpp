// The workers' side of the scheduler (see scheduler.h): which conversions
// may run beside those before them, how the workers and the waiting
// walking thread take them, and how a conversion that ran ahead is undone
// when the one before it needs the tree as one conversion after another
// leaves it.
#include <cassert>
#include <cstring>

#include "translate/scheduler.h"

namespace morvidex {

namespace {

// Conversions a thread takes at once, at most: each taking and each
// return passes the lock between processors.
constexpr unsigned TAKE_AT_ONCE = 8;

bool is_waiting(const item &it) {
  return it.kind == ITEM_JOB && it.state == JOB_WAITING;
}

// The oldest waiting conversion the workers may see, or nullptr; under
// lock.
item *oldest_waiting(scheduler *s) {
  ring *r = &s->items;
  unsigned long long end = r->reported + r->published;
  assert(r->reported <= s->waiting_from && s->waiting_from <= end);
  if (s->holding)
    return nullptr;
  while (s->waiting_from < end && !is_waiting(ring_at(r, s->waiting_from)))
    s->waiting_from++;
  return s->waiting_from < end ? &ring_at(r, s->waiting_from) : nullptr;
}

// Takes up to TAKE_AT_ONCE waiting conversions into taken, from the oldest
// on, or with newest from the newest published back: the walking thread's
// share while it waits for the oldest, so that it and the workers tend to
// convert in different directories (creates in one directory take turns
// on its lock).  Returns how many, 0 when none waits.  Under lock.
unsigned take_jobs(scheduler *s, item **taken, bool newest) {
  if (oldest_waiting(s) == nullptr)
    return 0;
  ring *r = &s->items;
  unsigned long long from = s->waiting_from, end = r->reported + r->published;
  unsigned n = 0;
  for (unsigned long long i = 0; n < TAKE_AT_ONCE && i < end - from; i++) {
    item &it = ring_at(r, newest ? end - 1 - i : from + i);
    if (is_waiting(it)) {
      it.state = JOB_RUNNING;
      taken[n++] = &it;
    }
  }
  s->running += n;
  return n;
}

// Converts the n jobs taken beside the other work, with the lock left
// meanwhile, and records what they came to.
void convert_taken(scheduler *s, item **taken, unsigned n) {
  platform_lock_release(&s->lock);
  conversion_outcome outcomes[TAKE_AT_ONCE];
  for (unsigned i = 0; i < n; i++)
    outcomes[i] = s->ops->convert(*taken[i], true, &s->workers);
  platform_lock_take(&s->lock);
  for (unsigned i = 0; i < n; i++) {
    taken[i]->outcome = outcomes[i];
    taken[i]->beside_others = true;
    taken[i]->state = JOB_DONE;
    s->taken_seen = s->taken_seen || outcomes[i].result == TARGET_EXISTS;
  }
  s->running -= n;
  platform_cond_broadcast(&s->done);
}

// A worker's job: converts waiting conversions, with its kit's streams,
// for as long as any waits.
void serve(void *arg, unsigned worker) {
  auto *s = static_cast<scheduler *>(arg);
  swap_spare_streams(&s->workers.kits[worker]);
  platform_lock_take(&s->lock);
  item *taken[TAKE_AT_ONCE];
  unsigned n = 0;
  while ((n = take_jobs(s, taken, false)) > 0)
    convert_taken(s, taken, n);
  s->serving--;
  platform_lock_release(&s->lock);
  swap_spare_streams(&s->workers.kits[worker]);
}

// Gives the pool a serve job for each worker that has none; under lock.
void offer(scheduler *s) {
  unsigned workers = pool_workers(s->workers.pool);
  while (s->offered && s->serving < workers &&
         pool_try_add(s->workers.pool, serve, s))
    s->serving++;
}

// Undoes the conversions after the oldest, with none running: each only
// created a target that did not exist before, and waits again.  A target
// found taken stays taken whatever the oldest does, since no other
// conversion not yet reported creates that entry: that finding stands.
void undo_later(scheduler *s, const item *oldest) {
  assert(s->running == 0);
  ring *r = &s->items;
  unsigned long long end = r->reported + r->count;
  for (unsigned long long p = ring_position(r, oldest) + 1; p < end; p++) {
    item &later = ring_at(r, p);
    if (later.kind != ITEM_JOB ||
        (later.state == JOB_DONE && later.outcome.result == TARGET_EXISTS))
      continue;
    if (later.state == JOB_DONE && later.outcome.result == CONVERTED)
      s->ops->undo(later);
    later.state = JOB_WAITING;
  }
  s->waiting_from = r->reported;
}

// Converts the oldest as the conversion in turn, with nothing before it
// left to convert.
void convert_oldest(scheduler *s, item *oldest, crew *helpers) {
  oldest->outcome = s->ops->convert(*oldest, false, helpers);
  oldest->beside_others = false;
}

// The oldest conversion found its target's name taken (whatever is there,
// a link to a later source say, may change what later conversions read or
// write), or failed for want of space, descriptors or memory while other
// work ran, which may be why.  With every worker ended, the later
// conversions are undone and the oldest is converted once more as one
// conversion after another would: after a shortage, without helpers.
// Only a second failure is reported.
void convert_again(scheduler *s, item *oldest, crew *helpers) {
  stop_workers(s);
  undo_later(s, oldest);
  convert_oldest(s, oldest, helpers);
}

// Whether name is the source or target, or path the target, of a
// conversion in the same directory not yet reported.  Only a name whose
// mark is counted is looked for through the ring.
bool shares_a_name(const scheduler *s, const conversion_dir *dir,
                   const char *path, unsigned long long path_key,
                   const char *name, unsigned long long name_key) {
  if (s->name_marks[name_mark(dir, name_key)] == 0 &&
      s->name_marks[name_mark(dir, path_key)] == 0)
    return false;
  bool fold = !PLATFORM_EXACT_NAMES;
  const ring *r = &s->items;
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

unsigned name_mark(const conversion_dir *dir, unsigned long long key) {
  return static_cast<unsigned>(
      ((key ^ (dir->id.device * 0x9E3779B97F4A7C15ULL) ^
        (dir->id.index * 0xC2B2AE3D27D4EB4FULL)) *
       0xFF51AFD7ED558CCDULL) >>
      (64 - NAME_MARK_BITS));
}

void publish(scheduler *s) {
  ring *r = &s->items;
  if (r->published == r->count)
    return;
  r->published = r->count;
  s->taken_known = s->taken_seen;
  offer(s);
}

void start_workers(scheduler *s) {
  if (s->offered || s->items.count < START_BATCH ||
      crew_start(&s->workers) == 0)
    return;
  platform_lock_take(&s->lock);
  s->offered = true;
  s->items.published = s->items.count;
  offer(s);
  platform_lock_release(&s->lock);
}

void stop_workers(scheduler *s) {
  if (s->workers.pool == nullptr)
    return;
  // Serve jobs not yet begun are taken back, and those running take no
  // further conversion; the pool ends once they are done.
  platform_lock_take(&s->lock);
  s->holding = true;
  s->serving -= pool_withdraw(s->workers.pool, s);
  platform_lock_release(&s->lock);
  crew_stop(&s->workers);
  s->offered = false;
  s->holding = false;
}

void finish_oldest(scheduler *s, item *oldest) {
  start_workers(s);
  if (!s->offered) {
    convert_oldest(s, oldest, &s->workers);
    oldest->state = JOB_DONE;
    return;
  }
  platform_lock_take(&s->lock);
  publish(s);
  item *taken[TAKE_AT_ONCE];
  while (oldest->state != JOB_DONE) {
    unsigned n = take_jobs(s, taken, true);
    if (n > 0)
      convert_taken(s, taken, n);
    else
      platform_cond_wait(&s->done, &s->lock);
  }
  platform_lock_release(&s->lock);
  if (oldest->outcome.result == TARGET_EXISTS)
    convert_again(s, oldest, &s->workers);
  if (oldest->outcome.result != CONVERTED && oldest->beside_others &&
      platform_is_shortage(oldest->outcome.code))
    convert_again(s, oldest, nullptr);
}

bool may_run_ahead(scheduler *s, const conversion_dir *dir, const char *path,
                   const char *name, const unsigned long long *keys,
                   bool known_plain) {
  // A bare name with a stem: the target is neither the source nor a name
  // the walk converts (".lo").  Where the file system folds case, only
  // ASCII letters are known to fold alike, "\\" and ":" are separators
  // too, and a name with a "~" may be the short form of another.
  bool fold = !PLATFORM_EXACT_NAMES;
  if (path[0] == '.' || std::strpbrk(path, fold ? "/\\:~" : "/") != nullptr ||
      same_name(path, name, fold) || (fold && has_wide_bytes(path)) ||
      dir->handle == NO_HANDLE ||
      shares_a_name(s, dir, path, keys[0], name, keys[1]))
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
  return !s->taken_known || platform_is_missing(name, dir->handle);
}

} // namespace morvidex

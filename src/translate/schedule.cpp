// The walking thread's side of the scheduler (see scheduler.h): items put
// in the ring in program order, directories held for them, and the
// reports, always of the oldest.
#include "translate/scheduler.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

#include "report/console.h"
#include "report/diagnostics.h"
#include "translate/translate.h"

namespace morvidex {

namespace {

// The least limit of open descriptors under which directories are held
// for conversions: below it, the descriptors they take could change which
// opens fail.
constexpr unsigned long LEAST_DESCRIPTOR_LIMIT = 256;

// Items the walking thread schedules before the workers are shown them,
// at most; it shows them at once before it waits.
constexpr unsigned SHOW_AT_ONCE = 8;

static_assert(2 * WINDOW <= 0xFFFF, "a name mark counts every name");

// Closes dir once the walk is done with it and its conversions are
// reported.
void free_if_unused(scheduler *s, conversion_dir *dir) {
  if (dir->walked || dir->jobs > 0)
    return;
  if (dir->handle != NO_HANDLE)
    platform_close(dir->handle);
  for (unsigned i = 0; i < s->dir_count; i++) {
    if (s->dirs[i] == dir) {
      s->dirs[i] = s->dirs[--s->dir_count];
      break;
    }
  }
  std::free(dir);
}

// Counts the names of a job in (by 1), or out once it is reported (by -1).
void mark_names(scheduler *s, const item &j, int by) {
  s->name_marks[name_mark(j.dir, j.path_key)] += by;
  s->name_marks[name_mark(j.dir, j.name_key)] += by;
}

// Prints what the item at position p came to, once it is done, and lets
// go of what it holds; it stays in the ring until retired.
void report_at(scheduler *s, unsigned long long p) {
  item *it = &ring_at(&s->items, p);
  if (it->kind == ITEM_JOB)
    finish_oldest(s, it);
  s->ops->report(*it);
  if (it->kind == ITEM_JOB) {
    mark_names(s, *it, -1);
    it->dir->jobs--;
    free_if_unused(s, it->dir);
  }
}

// Reports the oldest item, and every one after it already done.
void report_done(scheduler *s) {
  ring *r = &s->items;
  report_at(s, r->reported);
  platform_lock_take(&s->lock);
  unsigned n = ring_done_run(r);
  platform_lock_release(&s->lock);
  for (unsigned i = 1; i < n; i++)
    report_at(s, r->reported + i);
  platform_lock_take(&s->lock);
  ring_retire(r, n);
  if (s->waiting_from < r->reported)
    s->waiting_from = r->reported;
  platform_lock_release(&s->lock);
}

// The ring's place for one more item, made by reporting the oldest items
// when it is full.
unsigned free_place(scheduler *s) {
  if (s->items.count == WINDOW)
    report_done(s);
  return ring_next_place(&s->items);
}

// Counts in the item just put at the ring's free place, and shows the
// workers what waits once enough does.
void push_item(scheduler *s) {
  ring *r = &s->items;
  ring_push(r);
  if (s->offered && r->count - r->published >= SHOW_AT_ONCE) {
    platform_lock_take(&s->lock);
    publish(s);
    platform_lock_release(&s->lock);
  }
  start_workers(s);
}

// The current directory, held open for conversions; nullptr when it
// cannot be.
conversion_dir *open_current_dir(scheduler *s) {
  if (s->dir_count == MAX_DIRS)
    report_scheduled(s);
  if (s->dir_count == MAX_DIRS)
    return nullptr;
  auto *dir =
      static_cast<conversion_dir *>(std::malloc(sizeof(conversion_dir)));
  if (dir == nullptr)
    return nullptr;
  *dir = conversion_dir{NO_HANDLE, {0, 0}, 0, true};
  if (platform_open_directory(".", &dir->handle, &dir->id) != 0) {
    std::free(dir);
    return nullptr;
  }
  s->dirs[s->dir_count++] = dir;
  return dir;
}

// Schedules the conversion of path into name (path_size + name_size bytes
// with their ends, at most NAMES_ROOM) in *slot, opened when it is not yet;
// false when it must run alone.
bool schedule_ahead(scheduler *s, conversion_dir **slot, const char *path,
                    std::size_t path_size, const char *name,
                    std::size_t name_size, int case_mode, bool known_plain) {
  if (*slot == nullptr)
    *slot = open_current_dir(s);
  conversion_dir *dir = *slot;
  bool fold = !PLATFORM_EXACT_NAMES;
  unsigned long long keys[2] = {name_key(path, fold), name_key(name, fold)};
  if (dir == nullptr || !may_run_ahead(s, dir, path, name, keys, known_plain))
    return false;
  unsigned place = free_place(s);
  char *room = s->items.rooms[place];
  item &it = s->items.items[place];
  it = item{ITEM_JOB,       JOB_WAITING, room,   room + path_size,
            nullptr,        case_mode,   dir,    false,
            {CONVERTED, 0}, keys[0],     keys[1]};
  std::memcpy(it.path, path, path_size);
  std::memcpy(it.name, name, name_size);
  mark_names(s, it, 1);
  dir->jobs++;
  push_item(s);
  return true;
}

// Adds a line with its argument arg (or none) or a failure, reporting the
// oldest items first when the ring is full; false, with nothing added,
// when nothing is scheduled or arg does not fit its room.
bool add_line(scheduler *s, item_kind kind, const char *text, const char *arg,
              int code) {
  std::size_t size = arg != nullptr ? std::strlen(arg) + 1 : 0;
  if (s->items.count == 0 || size > NAMES_ROOM)
    return false;
  unsigned place = free_place(s);
  char *room = s->items.rooms[place];
  s->items.items[place] =
      item{kind,    JOB_DONE, arg != nullptr ? room : nullptr,
           nullptr, text,     0,
           nullptr, false,    {CONVERTED, code},
           0,       0};
  if (arg != nullptr)
    std::memcpy(room, arg, size);
  push_item(s);
  return true;
}

// Whether a conversion not yet reported converts in the directory called
// id.
bool scheduled_in(const scheduler *s, const file_id &id) {
  const ring *r = &s->items;
  for (unsigned i = 0; i < r->count; i++) {
    const item &j = r->items[(r->reported + i) % WINDOW];
    if (j.kind == ITEM_JOB && j.dir->id.device == id.device &&
        j.dir->id.index == id.index)
      return true;
  }
  return false;
}

conversion_outcome convert_job(const item &job, bool new_only, crew *helpers) {
  return convert_file(job.path, job.name, job.case_mode, helpers,
                      job.dir->handle, new_only);
}

void undo_job(const item &job) { platform_remove(job.name, job.dir->handle); }

void report_item(const item &it) {
  if (it.kind == ITEM_JOB)
    report_conversion(it.path, it.name, it.outcome);
  else if (it.kind == ITEM_LINE)
    printf(it.text, it.path);
  else
    report_failure(it.text, it.outcome.code);
}

} // namespace

const scheduler_ops FILE_CONVERSIONS = {convert_job, undo_job, report_item,
                                        convert_and_report};

void scheduler_init(scheduler *s, const scheduler_ops *ops,
                    unsigned processors) {
  // Nothing scheduled, no directory held, no worker.  Every name mark is
  // 0 already: every name counted in is counted out at its report.
  s->ops = ops;
  s->workers = crew{nullptr, processors, {}, 0};
  s->may_run_ahead =
      processors > 1 && platform_descriptor_limit() >= LEAST_DESCRIPTOR_LIMIT;
  s->offered = false;
  s->items.reported = s->items.count = s->items.published = 0;
  s->dir_count = 0;
  platform_lock_init(&s->lock);
  platform_cond_init(&s->done);
  s->waiting_from = 0;
  s->running = s->serving = 0;
  s->holding = s->taken_seen = s->taken_known = false;
}

void scheduler_end(scheduler *s) {
  release_scheduled(s);
  for (unsigned i = 0; i < s->dir_count; i++)
    std::free(s->dirs[i]);
  s->dir_count = 0;
  crew_stop(&s->workers);
  platform_cond_destroy(&s->done);
  platform_lock_destroy(&s->lock);
}

void schedule_conversion(scheduler *s, conversion_dir **dir, const char *path,
                         int case_mode, bool known_plain) {
  std::size_t path_size = 0, name_size = 0;
  if (s->may_run_ahead && dir != nullptr &&
      (path_size = std::strlen(path) + 1) +
              (name_size = output_name_size(path)) <=
          NAMES_ROOM) {
    char name[NAMES_ROOM];
    output_name(path, case_mode, name);
    if (schedule_ahead(s, dir, path, path_size, name, name_size, case_mode,
                       known_plain))
      return;
  }
  report_scheduled(s);
  // One processor has no helpers for the blocks of a large file.
  s->ops->convert_alone(path, case_mode,
                        s->workers.processors > 1 ? &s->workers : nullptr);
}

void close_conversion_dir(scheduler *s, conversion_dir *dir) {
  if (dir == nullptr)
    return;
  dir->walked = false;
  free_if_unused(s, dir);
}

void schedule_line(scheduler *s, const char *format, const char *dir) {
  if (add_line(s, ITEM_LINE, format, dir, 0))
    return;
  report_scheduled(s);
  printf(format, dir);
}

void schedule_failure(scheduler *s, const char *label, int code) {
  if (add_line(s, ITEM_FAILURE, label, nullptr, code))
    return;
  report_scheduled(s);
  report_failure(label, code);
}

void schedule_directory_change(scheduler *s) {
  if (!PLATFORM_NAMES_IN_HANDLES)
    report_scheduled(s);
}

int open_listing(scheduler *s, listing_opener *o) {
  int code = o->open(o);
  if (s->items.count == 0)
    return code;
  if (code != 0) {
    if (s->workers.pool == nullptr || !platform_is_shortage(code))
      return code;
    release_scheduled(s);
    return o->open(o);
  }
  if (o->id_known && !scheduled_in(s, o->id))
    return 0;
  o->close(o);
  report_scheduled(s);
  return o->open(o);
}

void report_scheduled(scheduler *s) {
  while (s->items.count > 0)
    report_done(s);
  stop_workers(s);
  assert(s->running == 0 && s->serving == 0);
}

void release_scheduled(scheduler *s) {
  report_scheduled(s);
  for (unsigned i = 0; i < s->dir_count; i++) {
    conversion_dir *dir = s->dirs[i];
    if (dir->handle != NO_HANDLE)
      platform_close(dir->handle);
    dir->handle = NO_HANDLE;
  }
}

} // namespace morvidex

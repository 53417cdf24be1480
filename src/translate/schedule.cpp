// The scheduler: conversions run ahead of the walk on the pool's workers,
// and everything is reported by the walking thread in program order.
//
// An item is a conversion (a job) or a line the walk prints between them.
// The walking thread puts every item at the end of the ring, at position
// reported + count.  A job is WAITING until a thread takes it (RUNNING)
// and DONE once its outcome is recorded; a line is DONE from the start.
// Only the walking thread reports, always the oldest item (position
// reported): it waits for it to be done, prints what it came to, prints
// every done item after it, and retires them all.  So the ring holds, in
// order: the oldest, items done, running or waiting in any mix, and past
// reported + published the items the workers may not see yet.  No item
// before waiting_from waits; reported <= waiting_from, and published <=
// count.  The walking thread shows items a few at a time (publish) and
// always before it waits.
//
// A job runs ahead only where nothing can tell: a bare name with a plain
// file behind it, in a directory held open, whose names no job not yet
// reported uses (the name table counts them) and whose target is only
// ever created, never opened when it exists.  Creates in one directory
// may run side by side: the copy of the content scales, and a create
// waits only inside the file system.  Everything else waits until all
// before it is reported (report_scheduled) and is then converted alone.
//
// The walk waits there too: before a listing of a directory in which a
// job is pending (the listing must show what one conversion after another
// leaves), before a fatal exit, and when a descriptor or memory runs
// short while workers hold some.  Once nothing is pending the workers end,
// so that what comes next meets the resources one processor leaves.
//
// An undo is safe because a job that ran ahead did one thing to the tree:
// it created a target that did not exist and that no earlier job names.
// When the oldest finds its target taken (a link to a later source, say),
// or fails for want of a resource that work beside it may hold, the jobs
// after it are undone with none running (their targets removed through
// their directory's handle) and wait again, and the oldest is converted
// in turn.  A later job that found its target taken keeps that finding:
// no earlier job creates that name.
#include "translate/schedule.h"

#include <cstdlib>
#include <cstring>

#include "report/console.h"
#include "report/diagnostics.h"
#include "translate/scheduler.h"
#include "translate/translate.h"

namespace morvidex {

scheduler sched;

namespace {

// The least limit of open descriptors under which directories are held
// for conversions: below it, the descriptors they take could change which
// opens fail.
constexpr unsigned long LEAST_DESCRIPTOR_LIMIT = 256;

// Items the walking thread schedules before the workers are shown them,
// at most; it shows them at once before it waits.
constexpr unsigned SHOW_AT_ONCE = 8;

static_assert(NAME_SLOTS > 2 * WINDOW + 1, "the name table may fill");

// Closes dir once the walk is done with it and its conversions are
// reported.
void free_if_unused(conversion_dir *dir) {
  if (dir->walked || dir->jobs > 0)
    return;
  if (dir->handle != NO_HANDLE)
    platform_close(dir->handle);
  for (unsigned i = 0; i < sched.dir_count; i++) {
    if (sched.dirs[i] == dir) {
      sched.dirs[i] = sched.dirs[--sched.dir_count];
      break;
    }
  }
  std::free(dir);
}

// Counts the names of a job out, once it is reported.
void uncount_names(const item &j) {
  name_table_remove(&sched.names, key_in(j.dir, j.path_key));
  name_table_remove(&sched.names, key_in(j.dir, j.name_key));
}

// Counts the names of a job in; false, with none counted, when the table
// has no room for them.
bool count_names(const item &j) {
  if (!name_table_add(&sched.names, key_in(j.dir, j.path_key)))
    return false;
  if (name_table_add(&sched.names, key_in(j.dir, j.name_key)))
    return true;
  name_table_remove(&sched.names, key_in(j.dir, j.path_key));
  return false;
}

// Prints what the item at position p came to, once it is done, and lets
// go of what it holds; it stays in the ring until retired.
void report_at(unsigned long long p) {
  item *it = &ring_at(&sched.items, p);
  if (it->kind == ITEM_JOB) {
    finish_oldest(it);
    report_conversion(it->path, it->name, it->outcome);
  } else if (it->kind == ITEM_LINE) {
    printf(it->text, it->path);
  } else {
    report_failure(it->text, it->outcome.code);
  }
  if (it->on_heap) {
    std::free(it->path);
    std::free(it->name);
  }
  if (it->kind == ITEM_JOB) {
    uncount_names(*it);
    it->dir->jobs--;
    free_if_unused(it->dir);
  }
}

// Reports the oldest item, and every one after it already done.
void report_done() {
  ring *r = &sched.items;
  report_at(r->reported);
  pool_enter();
  unsigned n = ring_done_run(r);
  pool_leave();
  for (unsigned i = 1; i < n; i++)
    report_at(r->reported + i);
  pool_enter();
  ring_retire(r, n);
  pool_leave();
}

// The ring's place for one more item, made by reporting the oldest items
// when it is full.
unsigned free_place() {
  if (sched.items.count == WINDOW)
    report_done();
  return ring_next_place(&sched.items);
}

// Counts in the item just put at the ring's free place, and shows the
// workers what waits once enough does.
void push_item() {
  ring *r = &sched.items;
  ring_push(r);
  if (sched.offered && r->count - r->published >= SHOW_AT_ONCE) {
    pool_enter();
    publish();
    pool_leave();
  }
  start_workers();
}

// A copy of s, or nullptr when there is no memory for it.
char *copy_of(const char *s) {
  std::size_t size = std::strlen(s) + 1;
  auto *copy = static_cast<char *>(std::malloc(size));
  if (copy != nullptr)
    std::memcpy(copy, s, size);
  return copy;
}

// The current directory, held open for conversions; nullptr when it
// cannot be.
conversion_dir *open_current_dir() {
  if (sched.dir_count == MAX_DIRS)
    report_scheduled();
  if (sched.dir_count == MAX_DIRS)
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
  sched.dirs[sched.dir_count++] = dir;
  return dir;
}

// Gives a job its own copies of path and name: in room when both fit,
// else on the heap.  False when there is no memory for them.
bool copy_names(item *it, char *room, const char *path, const char *name) {
  std::size_t path_size = std::strlen(path) + 1;
  std::size_t name_size = std::strlen(name) + 1;
  if (path_size + name_size <= NAMES_ROOM) {
    it->path = static_cast<char *>(std::memcpy(room, path, path_size));
    it->name =
        static_cast<char *>(std::memcpy(room + path_size, name, name_size));
    return true;
  }
  it->path = copy_of(path);
  it->name = copy_of(name);
  it->on_heap = true;
  if (it->path != nullptr && it->name != nullptr)
    return true;
  std::free(it->path);
  std::free(it->name);
  return false;
}

// Schedules the conversion of path into name in *slot, opened when it is
// not yet; false when it must run alone.
bool schedule_ahead(conversion_dir **slot, const char *path, const char *name,
                    int case_mode, bool known_plain) {
  if (*slot == nullptr)
    *slot = open_current_dir();
  conversion_dir *dir = *slot;
  if (dir == nullptr || !may_run_ahead(dir, path, name, known_plain))
    return false;
  unsigned place = free_place();
  item &it = sched.items.items[place];
  bool fold = names_fold();
  it = item{ITEM_JOB,
            JOB_WAITING,
            nullptr,
            nullptr,
            nullptr,
            case_mode,
            dir,
            false,
            {CONVERTED, 0},
            name_key(path, fold),
            name_key(name, fold),
            false};
  if (!copy_names(&it, sched.items.rooms[place], path, name))
    return false;
  if (!count_names(it)) {
    if (it.on_heap) {
      std::free(it.path);
      std::free(it.name);
    }
    return false;
  }
  dir->jobs++;
  push_item();
  return true;
}

// Adds a line or a failure, reporting the oldest items first when the
// ring is full.
void add_line(const item &it) {
  unsigned place = free_place();
  sched.items.items[place] = it;
  push_item();
}

} // namespace

void schedule_conversion(conversion_dir **dir, const char *path, int case_mode,
                         bool known_plain) {
  if (sched.processors == 0) {
    sched.processors = platform_processors();
    sched.may_run_ahead = sched.processors > 1 &&
                          platform_descriptor_limit() >= LEAST_DESCRIPTOR_LIMIT;
  }
  if (sched.may_run_ahead && dir != nullptr) {
    char here[NAMES_ROOM];
    std::size_t size = output_name_size(path);
    char *name =
        size <= sizeof here ? here : static_cast<char *>(std::malloc(size));
    if (name != nullptr) {
      output_name(path, case_mode, name);
      bool ahead = schedule_ahead(dir, path, name, case_mode, known_plain);
      if (name != here)
        std::free(name);
      if (ahead)
        return;
    }
  }
  report_scheduled();
  convert_and_report(path, case_mode);
}

void close_conversion_dir(conversion_dir *dir) {
  if (dir == nullptr)
    return;
  dir->walked = false;
  free_if_unused(dir);
}

void schedule_line(const char *format, const char *dir) {
  char *copy = sched.items.count > 0 ? copy_of(dir) : nullptr;
  if (copy == nullptr) {
    report_scheduled();
    printf(format, dir);
    return;
  }
  add_line(item{ITEM_LINE,
                JOB_DONE,
                copy,
                nullptr,
                format,
                0,
                nullptr,
                false,
                {CONVERTED, 0},
                0,
                0,
                true});
}

void schedule_failure(const char *label, int code) {
  if (sched.items.count == 0) {
    report_failure(label, code);
    return;
  }
  add_line(item{ITEM_FAILURE,
                JOB_DONE,
                nullptr,
                nullptr,
                label,
                0,
                nullptr,
                false,
                {CONVERTED, code},
                0,
                0,
                true});
}

void schedule_directory_change() {
  if (!PLATFORM_NAMES_IN_HANDLES)
    report_scheduled();
}

bool have_scheduled() { return sched.items.count > 0; }

bool have_run_ahead() { return pool_workers() > 0; }

bool have_scheduled_in(const file_id &id) {
  ring *r = &sched.items;
  for (unsigned i = 0; i < r->count; i++) {
    const item &j = ring_at(r, r->reported + i);
    if (j.kind == ITEM_JOB && j.dir->id.device == id.device &&
        j.dir->id.index == id.index)
      return true;
  }
  return false;
}

void report_scheduled() {
  while (sched.items.count > 0)
    report_done();
  stop_workers();
}

void release_scheduled() {
  report_scheduled();
  for (unsigned i = 0; i < sched.dir_count; i++) {
    conversion_dir *dir = sched.dirs[i];
    if (dir->handle != NO_HANDLE)
      platform_close(dir->handle);
    dir->handle = NO_HANDLE;
  }
}

} // namespace morvidex

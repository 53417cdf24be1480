#include "translate/schedule.h"

#include <cstdlib>
#include <cstring>

#include "report/console.h"
#include "report/diagnostics.h"
#include "textio/stream.h"
#include "translate/translate.h"

namespace morvidex {

// A directory held open for the conversions scheduled in it.
struct conversion_dir {
  file_handle handle; // NO_HANDLE once released: conversions run alone
  file_id id;
  unsigned jobs;    // conversions scheduled in it, not yet reported
  unsigned running; // of them, being converted now; in the monitor
  bool walked;      // the walk may still schedule in it
};

namespace {

// Items (conversions and lines) scheduled and not yet reported, at most:
// enough to reach past a directory of some hundred files into the next.
constexpr unsigned WINDOW = 1024;

// Directories held open for conversions, at most, and the least limit of
// open descriptors under which any is: below it, the descriptors they take
// could change which opens fail.
constexpr unsigned MAX_DIRS = 16;
constexpr unsigned long LEAST_DESCRIPTOR_LIMIT = 256;

// Workers, at most; one per processor the process may use but the one the
// walking thread converts on while it waits.
constexpr unsigned MAX_WORKERS = 64;

// Workers start once this many items wait: fewer are done sooner one after
// another by the walking thread than by starting threads.
constexpr unsigned START_BATCH = 8;

enum item_kind { ITEM_JOB, ITEM_LINE, ITEM_FAILURE };
enum job_state { JOB_WAITING, JOB_RUNNING, JOB_DONE };

// One scheduled conversion or line; path and name are its own copies.
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
  unsigned long long path_key, name_key; // hashes of path and name
};

// A worker thread and the streams it converts with, made for it by the
// walking thread, so that a worker never allocates.
struct worker {
  platform_thread *thread;
  spare_streams streams;
};

// What the walking thread schedules and the workers take, oldest first in
// a ring.  While workers run, the states, the running counts and the ring's
// bounds are read and written in the monitor.
struct scheduler {
  platform_monitor *monitor;
  item items[WINDOW];
  unsigned first; // the oldest item not yet reported
  unsigned count;
  worker workers[MAX_WORKERS];
  unsigned worker_count;
  bool stopping; // workers take no further job
  conversion_dir *dirs[MAX_DIRS];
  unsigned dir_count;
  unsigned processors; // 0 until asked
  bool may_run_ahead;  // processors and descriptors enough; with processors
};

scheduler pool;

item &nth(unsigned i) { return pool.items[(pool.first + i) % WINDOW]; }

void enter() {
  if (pool.worker_count > 0)
    platform_monitor_enter(pool.monitor);
}

void leave() {
  if (pool.worker_count > 0)
    platform_monitor_leave(pool.monitor);
}

// The oldest waiting conversion in a directory where none runs (creates
// in one directory wait for each other), or nullptr; in the monitor.
item *next_waiting() {
  for (unsigned i = 0; i < pool.count; i++) {
    item &it = nth(i);
    if (it.kind == ITEM_JOB && it.state == JOB_WAITING && it.dir->running == 0)
      return &it;
  }
  return nullptr;
}

// Converts j beside the other work; in the monitor, left meanwhile.
void convert_taken(item *j) {
  j->state = JOB_RUNNING;
  j->dir->running++;
  platform_monitor_leave(pool.monitor);
  conversion_outcome outcome =
      convert_file(j->path, j->name, j->case_mode, false, j->dir->handle);
  platform_monitor_enter(pool.monitor);
  j->outcome = outcome;
  j->beside_others = true;
  j->dir->running--;
  j->state = JOB_DONE;
  platform_monitor_wake_all(pool.monitor);
}

// Converts the oldest job that can be taken, or waits for a change when
// there is none; in the monitor.
void take_or_wait() {
  item *j = next_waiting();
  if (j == nullptr)
    platform_monitor_wait(pool.monitor);
  else
    convert_taken(j);
}

void work(void *slot) {
  auto *w = static_cast<worker *>(slot);
  keep_spare_streams(&w->streams);
  platform_monitor_enter(pool.monitor);
  while (!pool.stopping)
    take_or_wait();
  platform_monitor_leave(pool.monitor);
  give_back_spare_streams(&w->streams);
}

// Starts the workers; memory or a thread that cannot be had means fewer,
// never a failure.
void start_workers() {
  if (pool.monitor == nullptr)
    pool.monitor = platform_monitor_make();
  if (pool.monitor == nullptr)
    return;
  pool.stopping = false;
  unsigned want = pool.processors - 1;
  while (pool.worker_count < want && pool.worker_count < MAX_WORKERS) {
    worker *w = &pool.workers[pool.worker_count];
    if (!make_spare_streams(&w->streams))
      break;
    w->thread = platform_thread_start(work, w);
    if (w->thread == nullptr) {
      free_spare_streams(&w->streams);
      break;
    }
    pool.worker_count++;
  }
}

// Lets every worker finish its conversion and end, and frees its streams.
void stop_workers() {
  if (pool.worker_count == 0)
    return;
  platform_monitor_enter(pool.monitor);
  pool.stopping = true;
  platform_monitor_wake_all(pool.monitor);
  platform_monitor_leave(pool.monitor);
  for (unsigned i = 0; i < pool.worker_count; i++) {
    platform_thread_join(pool.workers[i].thread);
    free_spare_streams(&pool.workers[i].streams);
  }
  pool.worker_count = 0;
}

// Closes dir once the walk is done with it and its conversions are
// reported.
void free_if_unused(conversion_dir *dir) {
  if (dir->walked || dir->jobs > 0)
    return;
  if (dir->handle != NO_HANDLE)
    platform_close(dir->handle);
  for (unsigned i = 0; i < pool.dir_count; i++) {
    if (pool.dirs[i] == dir) {
      pool.dirs[i] = pool.dirs[--pool.dir_count];
      break;
    }
  }
  std::free(dir);
}

// The oldest conversion failed for want of space, descriptors or memory
// while other work ran, which may be why: with every
// worker ended, the later conversions are undone (each wrote only a target
// that did not exist before) and wait again, and the oldest is converted
// once more, alone.  Only a second failure is reported.
void convert_again_alone(item *oldest) {
  stop_workers();
  for (unsigned i = 1; i < pool.count; i++) {
    item &later = nth(i);
    if (later.kind != ITEM_JOB)
      continue;
    if (later.state == JOB_DONE && later.outcome.result == CONVERTED)
      platform_remove(later.name, later.dir->handle);
    later.state = JOB_WAITING;
  }
  oldest->outcome = convert_file(oldest->path, oldest->name, oldest->case_mode,
                                 true, oldest->dir->handle);
  oldest->beside_others = false;
}

// Waits for the oldest conversion, converting what waits meanwhile (the
// oldest itself when no worker runs).
void finish_oldest(item *oldest) {
  if (pool.worker_count == 0 && pool.count >= START_BATCH &&
      pool.processors > 1)
    start_workers();
  if (pool.worker_count == 0) {
    oldest->outcome =
        convert_file(oldest->path, oldest->name, oldest->case_mode, true,
                     oldest->dir->handle);
    oldest->state = JOB_DONE;
    return;
  }
  platform_monitor_enter(pool.monitor);
  while (oldest->state != JOB_DONE)
    take_or_wait();
  platform_monitor_leave(pool.monitor);
  if (oldest->outcome.result != CONVERTED && oldest->beside_others &&
      platform_is_shortage(oldest->outcome.code))
    convert_again_alone(oldest);
}

// Reports the oldest item, once it is done.
void report_oldest() {
  item *oldest = &nth(0);
  if (oldest->kind == ITEM_JOB) {
    finish_oldest(oldest);
    report_conversion(oldest->path, oldest->name, oldest->outcome);
  } else if (oldest->kind == ITEM_LINE) {
    printf(oldest->text, oldest->path);
  } else {
    report_failure(oldest->text, oldest->outcome.code);
  }
  std::free(oldest->path);
  std::free(oldest->name);
  conversion_dir *dir = oldest->kind == ITEM_JOB ? oldest->dir : nullptr;
  enter();
  pool.first = (pool.first + 1) % WINDOW;
  pool.count--;
  leave();
  if (dir != nullptr) {
    dir->jobs--;
    free_if_unused(dir);
  }
}

bool is_done(const item &it) {
  enter();
  bool done = it.state == JOB_DONE;
  leave();
  return done;
}

// Adds it to the ring, reporting the oldest items first when it is full.
void add_item(const item &it) {
  if (pool.count == WINDOW) {
    report_oldest();
    while (pool.count > 0 && is_done(nth(0)))
      report_oldest();
  }
  pool.items[(pool.first + pool.count) % WINDOW] = it;
  if (it.kind == ITEM_JOB)
    it.dir->jobs++;
  enter();
  pool.count++;
  if (pool.worker_count > 0)
    platform_monitor_wake_all(pool.monitor);
  leave();
  if (pool.worker_count == 0 && pool.count >= START_BATCH &&
      pool.processors > 1 && it.kind == ITEM_JOB)
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

// A hash of a name, compared before the name itself.
unsigned long long key_of(const char *s) {
  unsigned long long h = 14695981039346656037ULL;
  for (; *s != '\0'; s++)
    h = (h ^ static_cast<unsigned char>(*s)) * 1099511628211ULL;
  return h;
}

bool same_dir(const conversion_dir *a, const conversion_dir *b) {
  return a == b || (a->id.device == b->id.device && a->id.index == b->id.index);
}

// Whether name is the source or target, or path the target, of a
// conversion in the same directory not yet reported.
bool shares_a_name(const conversion_dir *dir, const char *path,
                   unsigned long long path_key, const char *name,
                   unsigned long long name_key) {
  for (unsigned i = 0; i < pool.count; i++) {
    const item &j = nth(i);
    if (j.kind != ITEM_JOB || !same_dir(dir, j.dir))
      continue;
    if ((name_key == j.name_key && std::strcmp(name, j.name) == 0) ||
        (name_key == j.path_key && std::strcmp(name, j.path) == 0) ||
        (path_key == j.name_key && std::strcmp(path, j.name) == 0))
      return true;
  }
  return false;
}

// Whether the conversion of path into name may run ahead (see
// schedule_conversion).  A bare name with a stem: the target is neither
// the source nor a name the walk converts (".lo").
bool may_run_ahead(const conversion_dir *dir, const char *path,
                   const char *name, bool known_plain) {
  if (path[0] == '.' || std::strchr(path, '/') != nullptr ||
      std::strcmp(path, name) == 0 || dir->handle == NO_HANDLE ||
      shares_a_name(dir, path, key_of(path), name, key_of(name)))
    return false;
  if (!known_plain) {
    file_status status{};
    if (platform_entry_status(path, KIND_UNKNOWN, false, &status) != 0 ||
        status.kind != KIND_REGULAR || status.is_link)
      return false;
  }
  return platform_is_missing(name, dir->handle);
}

// The current directory, held open for conversions; nullptr when it
// cannot be.
conversion_dir *open_current_dir() {
  if (pool.dir_count == MAX_DIRS)
    report_scheduled();
  if (pool.dir_count == MAX_DIRS)
    return nullptr;
  auto *dir =
      static_cast<conversion_dir *>(std::malloc(sizeof(conversion_dir)));
  if (dir == nullptr)
    return nullptr;
  *dir = conversion_dir{NO_HANDLE, {0, 0}, 0, 0, true};
  if (platform_open_directory(".", &dir->handle, &dir->id) != 0) {
    std::free(dir);
    return nullptr;
  }
  pool.dirs[pool.dir_count++] = dir;
  return dir;
}

// Schedules the conversion of path into name in *slot, opened when it is
// not yet; false when it must run alone.
bool schedule_ahead(conversion_dir **slot, const char *path, char *name,
                    int case_mode, bool known_plain) {
  if (*slot == nullptr)
    *slot = open_current_dir();
  conversion_dir *dir = *slot;
  if (dir == nullptr || !may_run_ahead(dir, path, name, known_plain))
    return false;
  char *copy = copy_of(path);
  if (copy == nullptr)
    return false;
  add_item(item{ITEM_JOB,
                JOB_WAITING,
                copy,
                name,
                nullptr,
                case_mode,
                dir,
                false,
                {CONVERTED, 0},
                key_of(path),
                key_of(name)});
  return true;
}

} // namespace

void schedule_conversion(conversion_dir **dir, const char *path, int case_mode,
                         bool known_plain) {
  if (pool.processors == 0) {
    pool.processors = platform_processors();
    pool.may_run_ahead = pool.processors > 1 && PLATFORM_EXACT_NAMES &&
                         platform_descriptor_limit() >= LEAST_DESCRIPTOR_LIMIT;
  }
  char *name = nullptr;
  if (pool.may_run_ahead && dir != nullptr)
    name = static_cast<char *>(std::malloc(output_name_size(path)));
  if (name != nullptr) {
    output_name(path, case_mode, name);
    if (schedule_ahead(dir, path, name, case_mode, known_plain))
      return;
    std::free(name);
  }
  report_scheduled();
  translate_file_now(path, case_mode);
}

void close_conversion_dir(conversion_dir *dir) {
  if (dir == nullptr)
    return;
  dir->walked = false;
  free_if_unused(dir);
}

void schedule_line(const char *format, const char *dir) {
  char *copy = pool.count > 0 ? copy_of(dir) : nullptr;
  if (copy == nullptr) {
    report_scheduled();
    printf(format, dir);
    return;
  }
  add_item(item{ITEM_LINE,
                JOB_DONE,
                copy,
                nullptr,
                format,
                0,
                nullptr,
                false,
                {CONVERTED, 0},
                0,
                0});
}

void schedule_failure(const char *label, int code) {
  if (pool.count == 0) {
    report_failure(label, code);
    return;
  }
  add_item(item{ITEM_FAILURE,
                JOB_DONE,
                nullptr,
                nullptr,
                label,
                0,
                nullptr,
                false,
                {CONVERTED, code},
                0,
                0});
}

bool have_scheduled() { return pool.count > 0; }

bool have_run_ahead() { return pool.worker_count > 0; }

bool have_scheduled_in(const file_id &id) {
  for (unsigned i = 0; i < pool.count; i++) {
    const item &j = nth(i);
    if (j.kind == ITEM_JOB && j.dir->id.device == id.device &&
        j.dir->id.index == id.index)
      return true;
  }
  return false;
}

void report_scheduled() {
  while (pool.count > 0)
    report_oldest();
  stop_workers();
}

void release_scheduled() {
  report_scheduled();
  for (unsigned i = 0; i < pool.dir_count; i++) {
    conversion_dir *dir = pool.dirs[i];
    if (dir->handle != NO_HANDLE)
      platform_close(dir->handle);
    dir->handle = NO_HANDLE;
  }
}

} // namespace morvidex

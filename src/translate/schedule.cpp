#include "translate/schedule.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "textio/stream.h"
#include "translate/translate.h"

namespace morvidex {

namespace {

// Conversions scheduled and not yet reported, at most: they bound the
// memory and the descriptors that work running ahead may hold.
constexpr unsigned WINDOW = 32;

// Workers, at most; one per processor the process may use.
constexpr unsigned MAX_WORKERS = 64;

// Workers start once this many conversions wait: fewer are done sooner
// one after another by the thread that walks than by starting threads.
constexpr unsigned START_BATCH = 8;

enum job_state { JOB_WAITING, JOB_RUNNING, JOB_DONE };

// One scheduled conversion; path and name are its own copies.
struct job {
  char *path;
  char *name;
  int case_mode;
  job_state state;
  bool beside_others; // converted by a worker, while other work ran
  conversion_outcome outcome;
};

// A worker thread and the streams it converts with, made for it by the
// thread that walks, so that a worker never allocates.
struct worker {
  platform_thread *thread;
  spare_streams streams;
};

// The conversions in flight, oldest first in a ring, and the workers.  The
// thread that walks schedules and reports; workers take waiting jobs.  The
// fields that both touch are guarded by monitor.
struct scheduler {
  platform_monitor *monitor;
  job jobs[WINDOW];
  unsigned first; // the oldest job not yet reported
  unsigned count;
  worker workers[MAX_WORKERS];
  unsigned worker_count;
  bool stopping;       // workers take no further job
  unsigned processors; // 0 until asked
};

scheduler pool;

job &nth(unsigned i) { return pool.jobs[(pool.first + i) % WINDOW]; }

// The oldest waiting job, or nullptr; in the monitor.
job *next_waiting() {
  for (unsigned i = 0; i < pool.count; i++) {
    if (nth(i).state == JOB_WAITING)
      return &nth(i);
  }
  return nullptr;
}

// Converts job j, taken as running, beside the other work; in the
// monitor, which it leaves meanwhile.
void convert_taken(job *j) {
  j->state = JOB_RUNNING;
  platform_monitor_leave(pool.monitor);
  conversion_outcome outcome =
      convert_file(j->path, j->name, j->case_mode, false);
  platform_monitor_enter(pool.monitor);
  j->outcome = outcome;
  j->beside_others = true;
  j->state = JOB_DONE;
  platform_monitor_wake_all(pool.monitor);
}

void work(void *slot) {
  auto *w = static_cast<worker *>(slot);
  keep_spare_streams(&w->streams);
  platform_monitor_enter(pool.monitor);
  while (!pool.stopping) {
    job *j = next_waiting();
    if (j == nullptr)
      platform_monitor_wait(pool.monitor);
    else
      convert_taken(j);
  }
  platform_monitor_leave(pool.monitor);
  give_back_spare_streams(&w->streams);
}

// Starts one worker per processor but the one the walking thread uses,
// which converts too while it waits; memory or a thread that cannot be had
// means fewer, never a failure.  False when none runs.
bool start_workers() {
  if (pool.monitor == nullptr)
    pool.monitor = platform_monitor_make();
  if (pool.monitor == nullptr)
    return false;
  pool.stopping = false;
  unsigned want = pool.processors - 1 < MAX_WORKERS ? pool.processors - 1
                                                    : MAX_WORKERS;
  while (pool.worker_count < want) {
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
  return pool.worker_count > 0;
}

// Lets every worker finish its job and end, and frees what it held.
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

// The oldest job failed while other work ran, which may be why (space,
// descriptors or memory taken by work running ahead): with every worker
// ended, the later jobs are undone (each wrote only a target that did not
// exist before) and wait again, and the oldest is converted once more,
// alone.  Only a second failure is reported.
void convert_again_alone(job *oldest) {
  stop_workers();
  for (unsigned i = 1; i < pool.count; i++) {
    job &later = nth(i);
    if (later.state == JOB_DONE && later.outcome.result == CONVERTED)
      platform_remove(later.name);
    later.state = JOB_WAITING;
  }
  oldest->outcome =
      convert_file(oldest->path, oldest->name, oldest->case_mode, true);
  oldest->beside_others = false;
}

// Waits for the oldest job, converting it here when no worker will, and
// reports it.
void report_oldest() {
  job *oldest = &nth(0);
  if (pool.worker_count == 0 && pool.count >= START_BATCH)
    start_workers();
  if (pool.worker_count > 0) {
    // While the oldest is not done, this thread converts what waits.
    platform_monitor_enter(pool.monitor);
    while (oldest->state != JOB_DONE) {
      job *j = next_waiting();
      if (j == nullptr)
        platform_monitor_wait(pool.monitor);
      else
        convert_taken(j);
    }
    platform_monitor_leave(pool.monitor);
  } else {
    oldest->outcome =
        convert_file(oldest->path, oldest->name, oldest->case_mode, true);
    oldest->beside_others = false;
    oldest->state = JOB_DONE;
  }
  if (oldest->outcome.result != CONVERTED && oldest->beside_others)
    convert_again_alone(oldest);
  report_conversion(oldest->path, oldest->name, oldest->outcome);
  std::free(oldest->path);
  std::free(oldest->name);
  if (pool.worker_count > 0)
    platform_monitor_enter(pool.monitor);
  pool.first = (pool.first + 1) % WINDOW;
  pool.count--;
  if (pool.worker_count > 0)
    platform_monitor_leave(pool.monitor);
}

bool is_done(const job &j) {
  if (pool.worker_count == 0)
    return j.state == JOB_DONE;
  platform_monitor_enter(pool.monitor);
  bool done = j.state == JOB_DONE;
  platform_monitor_leave(pool.monitor);
  return done;
}

// Whether name is any scheduled job's source or target, or path any one's
// target.
bool shares_a_name(const char *path, const char *name) {
  for (unsigned i = 0; i < pool.count; i++) {
    const job &j = nth(i);
    if (std::strcmp(name, j.name) == 0 || std::strcmp(name, j.path) == 0 ||
        std::strcmp(path, j.name) == 0)
      return true;
  }
  return false;
}

// Whether the conversion of path into name may run beside the scheduled
// ones (see schedule_conversion).  The names are bare, with a stem: the
// target is neither the source nor a name the walk converts (".lo").
bool may_run_ahead(const char *path, const char *name, bool known_plain) {
  if (path[0] == '.' || std::strchr(path, '/') != nullptr ||
      std::strcmp(path, name) == 0 || shares_a_name(path, name))
    return false;
  if (!known_plain) {
    file_status status{};
    if (platform_entry_status(path, KIND_UNKNOWN, false, &status) != 0 ||
        status.kind != KIND_REGULAR || status.is_link)
      return false;
  }
  return platform_is_missing(name);
}

// A job for path and name, or nullptr when there is no memory for it.
bool add_job(const char *path, char *name, int case_mode) {
  std::size_t size = std::strlen(path) + 1;
  auto *copy = static_cast<char *>(std::malloc(size));
  if (copy == nullptr)
    return false;
  std::memcpy(copy, path, size);
  // A full window: the oldest is waited for, and every finished one after
  // it is reported too, so that the wait is not repeated for each job.
  if (pool.count == WINDOW) {
    report_oldest();
    while (pool.count > 0 && is_done(nth(0)))
      report_oldest();
  }
  job &j = pool.jobs[(pool.first + pool.count) % WINDOW];
  j = job{copy, name, case_mode, JOB_WAITING, false, {CONVERTED, 0}};
  if (pool.worker_count == 0) {
    pool.count++;
    if (pool.count >= START_BATCH)
      start_workers();
    return true;
  }
  platform_monitor_enter(pool.monitor);
  pool.count++;
  platform_monitor_wake_all(pool.monitor);
  platform_monitor_leave(pool.monitor);
  return true;
}

} // namespace

void schedule_conversion(const char *path, int case_mode, bool known_plain) {
  if (pool.processors == 0)
    pool.processors = platform_processors();
  char *name = nullptr;
  if (pool.processors > 1 && PLATFORM_EXACT_NAMES)
    name = static_cast<char *>(std::malloc(output_name_size(path)));
  if (name != nullptr) {
    output_name(path, case_mode, name);
    if (may_run_ahead(path, name, known_plain) &&
        add_job(path, name, case_mode))
      return;
    std::free(name);
  }
  report_scheduled();
  translate_file_now(path, case_mode);
}

void report_scheduled() {
  while (pool.count > 0)
    report_oldest();
  stop_workers();
}

} // namespace morvidex

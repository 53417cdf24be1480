#include "translate/schedule.h"

#include <algorithm>
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
  unsigned jobs; // conversions scheduled in it, not yet reported
  bool walked;   // the walk may still schedule in it
  // The walking thread changes the fields above and the workers this
  // one: a cache line apart, whatever the alignment.
  char apart[64];
  unsigned running; // of jobs, being converted now; in the monitor
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

// Conversions of one directory a thread takes at once, at most: each
// taking and each return passes the lock between processors.
constexpr unsigned TAKE_AT_ONCE = 8;

// The size of a cache line, for fields that different threads change.
constexpr std::size_t CACHE_LINE = 64;

// Items the walking thread schedules before the workers are shown them,
// at most; it shows them at once before it waits.
constexpr unsigned SHOW_AT_ONCE = 8;

// The names that conversions not yet reported use, counted by a hash of
// directory and name in a table of open addressing, at most half full
// (two names a conversion): a name not found there is shared with none,
// and only a name found there is looked for through the ring.
constexpr unsigned NAME_SLOT_BITS = 12;
constexpr unsigned NAME_SLOTS = 1U << NAME_SLOT_BITS;
static_assert(NAME_SLOTS >= 4 * WINDOW, "the name table may fill");

// Room in the ring for a conversion's path and name side by side, enough
// for the names most files have; longer ones go to the heap.
constexpr std::size_t NAMES_ROOM = 48;

enum item_kind { ITEM_JOB, ITEM_LINE, ITEM_FAILURE };
enum job_state { JOB_WAITING, JOB_RUNNING, JOB_DONE };

// One scheduled conversion or line; path and name are its own copies,
// on the heap or in the ring's room for them.
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
  bool on_heap;                          // path and name were allocated
};

// A slot of the name table: a count of 0 leaves it free.
struct name_count {
  unsigned long long key;
  unsigned count;
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
  name_count names[NAME_SLOTS];       // see NAME_SLOTS
  unsigned long long keys[WINDOW][2]; // by ring place: a job's path_key and
                                      // name_key, side by side to be scanned
  char rooms[WINDOW][NAMES_ROOM];     // by ring place: see NAMES_ROOM
  worker workers[MAX_WORKERS];
  conversion_dir *dirs[MAX_DIRS];

  // What the workers read and write, in the monitor, on cache lines of
  // their own: the walking thread's own fields change with every item.
  alignas(CACHE_LINE) unsigned long long reported; // the oldest's position
  unsigned published;              // of count, those the workers see
  unsigned long long waiting_from; // no item before it waits
  unsigned running;                // conversions being converted now
  bool holding;                    // workers take no job for now
  bool taken_seen;                 // a target's name was found taken
  bool stopping;                   // workers take no further job

  // The walking thread's own.
  alignas(CACHE_LINE) unsigned count;
  unsigned long long walker_last; // its last conversion's position
  bool taken_known;               // taken_seen as it last read it
  unsigned worker_count;
  unsigned dir_count;
  unsigned processors; // 0 until asked
  bool may_run_ahead;  // processors and descriptors enough; with processors
};

scheduler pool;

// The item at a position in program order, and the i-th not yet reported.
item &at(unsigned long long position) { return pool.items[position % WINDOW]; }
item &nth(unsigned i) { return at(pool.reported + i); }

void enter() {
  if (pool.worker_count > 0)
    platform_monitor_enter(pool.monitor);
}

void leave() {
  if (pool.worker_count > 0)
    platform_monitor_leave(pool.monitor);
}

// Lets the workers see every item scheduled; in the monitor.  Items are
// shown a few at a time: each showing passes the lock between processors.
void publish() {
  if (pool.published == pool.count)
    return;
  pool.published = pool.count;
  pool.taken_known = pool.taken_seen;
  platform_monitor_wake_all(pool.monitor);
}

bool is_waiting(const item &it) {
  return it.kind == ITEM_JOB && it.state == JOB_WAITING;
}

// Whether a conversion may be taken: it waits, in a directory where none
// runs (creates in one directory wait for each other).
bool can_take(const item &it) { return is_waiting(it) && it.dir->running == 0; }

// A waiting conversion that can be taken, or nullptr; in the monitor.
// *last is the position of the caller's last conversion, and the one
// after it goes first: a thread goes on through its directory without a
// look through the ring.  Otherwise the oldest is taken.
item *next_waiting(unsigned long long *last) {
  if (pool.holding)
    return nullptr;
  unsigned long long end = pool.reported + pool.published;
  unsigned long long p = *last + 1;
  if (p >= pool.reported && p < end && can_take(at(p))) {
    *last = p;
    return &at(p);
  }
  pool.waiting_from = std::max(pool.waiting_from, pool.reported);
  while (pool.waiting_from < end && !is_waiting(at(pool.waiting_from)))
    pool.waiting_from++;
  for (p = pool.waiting_from; p < end; p++) {
    if (can_take(at(p))) {
      *last = p;
      return &at(p);
    }
  }
  return nullptr;
}

// Marks j taken by the calling thread; in the monitor.
void take(item *j) {
  j->state = JOB_RUNNING;
  j->dir->running++;
  pool.running++;
}

// Converts a job that can be taken, with the waiting ones right after it
// in the same directory, up to TAKE_AT_ONCE, beside the other work; or
// waits for a change when there is none.  In the monitor, left while
// converting.  *last as for next_waiting.
void take_or_wait(unsigned long long *last) {
  item *first = next_waiting(last);
  if (first == nullptr) {
    platform_monitor_wait(pool.monitor);
    return;
  }
  item *taken[TAKE_AT_ONCE];
  unsigned n = 0;
  taken[n++] = first;
  take(first);
  unsigned long long end = pool.reported + pool.published;
  while (n < TAKE_AT_ONCE && *last + 1 < end && is_waiting(at(*last + 1)) &&
         at(*last + 1).dir == first->dir) {
    taken[n++] = &at(++*last);
    take(taken[n - 1]);
  }
  platform_monitor_leave(pool.monitor);
  conversion_outcome outcomes[TAKE_AT_ONCE];
  for (unsigned i = 0; i < n; i++)
    outcomes[i] =
        convert_file(taken[i]->path, taken[i]->name, taken[i]->case_mode, false,
                     taken[i]->dir->handle, true);
  platform_monitor_enter(pool.monitor);
  for (unsigned i = 0; i < n; i++) {
    item *j = taken[i];
    j->outcome = outcomes[i];
    j->beside_others = true;
    pool.taken_seen = pool.taken_seen || outcomes[i].result == TARGET_EXISTS;
    j->dir->running--;
    pool.running--;
    j->state = JOB_DONE;
  }
  platform_monitor_wake_all(pool.monitor);
}

void work(void *slot) {
  auto *w = static_cast<worker *>(slot);
  keep_spare_streams(&w->streams);
  unsigned long long last = ~0ULL;
  platform_monitor_enter(pool.monitor);
  while (!pool.stopping)
    take_or_wait(&last);
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
  pool.published = pool.count;
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

// Undoes the conversions after the oldest (the one not yet reported;
// those before it may await retiring), with none running: each only
// created a target that did not exist before, and waits again.  A target
// found taken stays taken whatever the oldest does, since no other
// conversion not yet reported creates that entry: that finding stands.
void undo_later(const item *oldest) {
  unsigned index = static_cast<unsigned>(oldest - pool.items);
  unsigned long long end = pool.reported + pool.count;
  for (unsigned long long p =
           pool.reported + (index + WINDOW - pool.reported % WINDOW) % WINDOW +
           1;
       p < end; p++) {
    item &later = at(p);
    if (later.kind != ITEM_JOB ||
        (later.state == JOB_DONE && later.outcome.result == TARGET_EXISTS))
      continue;
    if (later.state == JOB_DONE && later.outcome.result == CONVERTED)
      platform_remove(later.name, later.dir->handle);
    later.state = JOB_WAITING;
  }
  pool.waiting_from = pool.reported;
}

// Converts the oldest once more, alone, as the conversion in turn: its
// target may be taken or it may have failed for the work beside it.
void convert_oldest_again(item *oldest) {
  oldest->outcome = convert_file(oldest->path, oldest->name, oldest->case_mode,
                                 true, oldest->dir->handle);
  oldest->beside_others = false;
}

// The oldest conversion failed for want of space, descriptors or memory
// while other work ran, which may be why: with every worker ended, the
// later conversions are undone and the oldest is converted once more.
// Only a second failure is reported.
void convert_again_alone(item *oldest) {
  stop_workers();
  undo_later(oldest);
  convert_oldest_again(oldest);
}

// The oldest conversion found its target's name taken: whatever is there
// (a link to a later source, say) may change what later conversions read
// or write, so with the workers held once their conversions end, the
// later ones are undone, the oldest is converted as one conversion after
// another would, and the workers go on.
void convert_in_turn_held(item *oldest) {
  platform_monitor_enter(pool.monitor);
  pool.holding = true;
  while (pool.running > 0)
    platform_monitor_wait(pool.monitor);
  undo_later(oldest);
  platform_monitor_leave(pool.monitor);
  convert_oldest_again(oldest);
  platform_monitor_enter(pool.monitor);
  pool.holding = false;
  platform_monitor_wake_all(pool.monitor);
  platform_monitor_leave(pool.monitor);
}

// Waits for the oldest conversion, converting what waits meanwhile (the
// oldest itself when no worker runs).
void finish_oldest(item *oldest) {
  if (pool.worker_count == 0 && pool.count >= START_BATCH &&
      pool.processors > 1)
    start_workers();
  if (pool.worker_count == 0) {
    convert_oldest_again(oldest);
    oldest->state = JOB_DONE;
    return;
  }
  platform_monitor_enter(pool.monitor);
  publish();
  while (oldest->state != JOB_DONE)
    take_or_wait(&pool.walker_last);
  platform_monitor_leave(pool.monitor);
  if (oldest->outcome.result == TARGET_EXISTS)
    convert_in_turn_held(oldest);
  if (oldest->outcome.result != CONVERTED && oldest->beside_others &&
      platform_is_shortage(oldest->outcome.code))
    convert_again_alone(oldest);
}

// The key that a name with this hash in dir is counted under.
unsigned long long name_key_in(const conversion_dir *dir,
                               unsigned long long key) {
  return (key ^ (dir->id.device * 0x9E3779B97F4A7C15ULL) ^
          (dir->id.index * 0xC2B2AE3D27D4EB4FULL)) *
         0xFF51AFD7ED558CCDULL;
}

unsigned home_slot(unsigned long long key) {
  return static_cast<unsigned>(key >> (64 - NAME_SLOT_BITS));
}

// The slot that counts key, or the free slot where it would go.
unsigned find_name(unsigned long long key) {
  unsigned i = home_slot(key);
  while (pool.names[i].count != 0 && pool.names[i].key != key)
    i = (i + 1) % NAME_SLOTS;
  return i;
}

// Frees slot i and moves up the keys after it that would no longer be
// found past the gap.
void free_name_slot(unsigned i) {
  unsigned hole = i;
  for (unsigned j = (i + 1) % NAME_SLOTS; pool.names[j].count != 0;
       j = (j + 1) % NAME_SLOTS) {
    unsigned home = home_slot(pool.names[j].key);
    if ((j - home) % NAME_SLOTS >= (j - hole) % NAME_SLOTS) {
      pool.names[hole] = pool.names[j];
      hole = j;
    }
  }
  pool.names[hole].count = 0;
}

// Counts the names of a conversion in, or out once it is reported.
void count_name(const conversion_dir *dir, unsigned long long key, bool in) {
  unsigned long long k = name_key_in(dir, key);
  unsigned i = find_name(k);
  if (in) {
    pool.names[i].key = k;
    pool.names[i].count++;
  } else if (--pool.names[i].count == 0) {
    free_name_slot(i);
  }
}

void count_names(const item &j, bool in) {
  count_name(j.dir, j.path_key, in);
  count_name(j.dir, j.name_key, in);
}

// Prints what the item at position p came to, once it is done, and lets
// go of what it holds; it stays in the ring until retired.
void report_at(unsigned long long p) {
  item *it = &at(p);
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
    count_names(*it, false);
    it->dir->jobs--;
    free_if_unused(it->dir);
  }
}

// Takes the n oldest items, reported, out of the ring.
void retire(unsigned n) {
  enter();
  pool.reported += n;
  pool.count -= n;
  pool.published = pool.published > n ? pool.published - n : 0;
  leave();
}

// Reports the oldest item, and every one after it already done.
void report_done() {
  report_at(pool.reported);
  enter();
  unsigned n = 1;
  while (n < pool.count && at(pool.reported + n).state == JOB_DONE)
    n++;
  leave();
  for (unsigned i = 1; i < n; i++)
    report_at(pool.reported + i);
  retire(n);
}

// The ring's place for one more item, made by reporting the oldest items
// when it is full.
unsigned free_place() {
  if (pool.count == WINDOW)
    report_done();
  return static_cast<unsigned>((pool.reported + pool.count) % WINDOW);
}

// Counts in the item just put at the ring's free place.
void add_item_at(unsigned place) {
  const item &it = pool.items[place];
  pool.keys[place][0] = it.path_key;
  pool.keys[place][1] = it.name_key;
  if (it.kind == ITEM_JOB) {
    it.dir->jobs++;
    count_names(it, true);
  }
  pool.count++;
  if (pool.worker_count > 0 && pool.count - pool.published >= SHOW_AT_ONCE) {
    enter();
    publish();
    leave();
  }
  if (pool.worker_count == 0 && pool.count >= START_BATCH &&
      pool.processors > 1 && it.kind == ITEM_JOB)
    start_workers();
}

// Adds it to the ring, reporting the oldest items first when it is full.
void add_item(const item &it) {
  unsigned place = free_place();
  pool.items[place] = it;
  add_item_at(place);
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
  if (pool.names[find_name(name_key_in(dir, name_key))].count == 0 &&
      pool.names[find_name(name_key_in(dir, path_key))].count == 0)
    return false;
  for (unsigned i = 0; i < pool.count; i++) {
    const unsigned long long *keys = pool.keys[(pool.reported + i) % WINDOW];
    if (keys[0] != name_key && keys[1] != name_key && keys[1] != path_key)
      continue;
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
  // Once a target's name was found taken (a run over a tree converted
  // before, say), names are looked up first, so that not every conversion
  // is tried ahead only to be converted again in turn.
  return !pool.taken_known || platform_is_missing(name, dir->handle);
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
  *dir = conversion_dir{NO_HANDLE, {0, 0}, 0, true, {}, 0};
  if (platform_open_directory(".", &dir->handle, &dir->id) != 0) {
    std::free(dir);
    return nullptr;
  }
  pool.dirs[pool.dir_count++] = dir;
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
  item &it = pool.items[place];
  it = item{ITEM_JOB,       JOB_WAITING,  nullptr,      nullptr,
            nullptr,        case_mode,    dir,          false,
            {CONVERTED, 0}, key_of(path), key_of(name), false};
  if (!copy_names(&it, pool.rooms[place], path, name))
    return false;
  add_item_at(place);
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
  if (pool.may_run_ahead && dir != nullptr) {
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
                0,
                true});
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
                0,
                true});
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
    report_done();
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

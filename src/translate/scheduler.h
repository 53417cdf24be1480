// The scheduler: conversions run ahead of the walk on the crew's workers,
// and everything is reported by the walking thread in program order.
//
// Items.  An item is a conversion (a job) or a line that the walk prints
// between conversions (a progress line's neighbours: the opening and
// closing lines of a directory, a diagnostic).  The walking thread puts
// every item at the end of the ring, at position reported + count, and
// only the walking thread reports, always the oldest item: it waits for
// it to be done, prints what it came to, prints every done item right
// after it, and retires them all.  A job is WAITING until a thread takes
// it, RUNNING while that thread converts it, and DONE once its outcome is
// recorded; a line is DONE from the start.  The workers see only the
// items before reported + published: the walking thread publishes new
// items eight at a time, and always before it waits.
//
// Which jobs run ahead.  A job runs ahead only where nothing can tell: a
// bare name with a plain file behind it, in a directory held open, whose
// target is only ever created, never opened when it exists, and whose
// names no job not yet reported uses (marks count them by key) and fit
// their room in the ring.  Everything else waits until all before it is
// reported (report_scheduled) and is then converted alone, on the walking
// thread.  Jobs of one directory may run side by side: the copy of the
// content scales, and a create waits only inside the file system.
//
// Files and blocks.  A job runs whole on one thread.  A large file's
// blocks may be converted side by side besides (blocks.h): the thread that
// converts it offers its blocks to the idle workers and writes them in
// order.  That is the only work that a worker gives another.
//
// Where the walking thread waits, and why.  For the oldest item to be done
// (it takes waiting jobs itself meanwhile, from the newest back, while the
// workers take them from the oldest on, so that they tend to convert in
// different directories: creates in one directory take turns on its
// lock); for every job to be reported before a listing of a directory in
// which a job is pending (the listing must show what one conversion after
// another leaves), before a fatal exit, and when a descriptor or memory
// runs short while workers may hold some; and for the running jobs to end
// before an undo.
//
// When the pool starts and stops.  The crew starts once START_BATCH items
// wait (fewer are done sooner by the walking thread alone), or when the
// walking thread converts a large file in turn.  It stops whenever
// everything scheduled is reported, and before a conversion is tried again
// in turn, so that what comes next meets the tree, the memory and the
// descriptors that one conversion after another leaves.
//
// What two threads share, all of it under lock but where said:
// - the ring's reported and published: written by the walking thread,
//   read by the workers; count and the items past reported + published
//   are the walking thread's alone.
// - an item's state, outcome and beside_others, once it is published:
//   written by the thread that took it, and by the walking thread when it
//   undoes it; read by the walking thread.
// - waiting_from: no published job before it waits; moved by whoever
//   looks for a waiting job, and by the walking thread when it retires or
//   undoes items.  reported <= waiting_from <= reported + published.
// - running: jobs taken and not yet recorded; holding: set by the walking
//   thread while it ends the workers, no job is taken meanwhile;
//   serving: serve jobs given to the pool and not yet ended, at most one per
//   worker; taken_seen: whether any job found its target taken.
// - an item's path, name, case and directory are written before it is
//   published and never change while it is in the ring.
// - a held directory's handle: written by the walking thread before a job
//   in it is published, closed only once no job in it is left.
//
// Why an undo is safe.  A job that ran ahead did one thing to the tree:
// it created a target that did not exist, in its own directory.  When the
// oldest finds its target taken (a link to a later source, say) or fails
// for want of a resource that work beside it may hold, the jobs after it
// are undone with every worker ended: each target created is removed through
// its directory's handle, and the job waits again.  The oldest is then
// converted in turn, as one conversion after another would.  A later job
// that found its target taken keeps that finding: no job before it in the
// ring creates that name, since the names a job uses are not shared with
// a job not yet reported (and were the check of names wrong, the exclusive
// create would still refuse, and the oldest would be converted again).
#ifndef MORVIDEX_TRANSLATE_SCHEDULER_H
#define MORVIDEX_TRANSLATE_SCHEDULER_H

#include "platform/platform.h"
#include "translate/convert.h"
#include "translate/crew.h"
#include "translate/names.h"
#include "translate/ring.h"

namespace morvidex {

// A directory held open for the conversions scheduled in it.
struct conversion_dir {
  file_handle handle; // NO_HANDLE once released: conversions run alone
  file_id id;
  unsigned jobs; // conversions scheduled in it, not yet reported
  bool walked;   // the walk may still schedule in it
};

// Directories held open for conversions, at most.
constexpr unsigned MAX_DIRS = 16;

// Marks of names, by the top bits of a name's key in its directory: how
// many names of jobs not yet reported have each mark.  A name whose mark
// is 0 is used by none of them; any other is looked for in the ring.
constexpr unsigned NAME_MARK_BITS = 16;

// The size of a cache line, for fields that different threads change.
constexpr unsigned CACHE_LINE = 64;

// What a scheduler does with its items: the real conversions of files,
// or others to watch it work.
struct scheduler_ops {
  // Converts a job (path into name, in its directory); with new_only its
  // target is only created.  helpers, when not null, may convert the
  // blocks of a large file beside it.
  conversion_outcome (*convert)(const item &job, bool new_only, crew *helpers);
  // Removes the target that a job which ran ahead created.
  void (*undo)(const item &job);
  // Prints what an item came to.
  void (*report)(const item &it);
  // Converts path, of any form, on the calling thread and reports it.
  void (*convert_alone)(const char *path, int case_mode, crew *helpers);
};

// The conversions of files, reported on the console.
extern const scheduler_ops FILE_CONVERSIONS;

struct scheduler {
  const scheduler_ops *ops;
  crew workers;
  bool may_run_ahead; // processors and descriptors enough
  bool offered;       // serve jobs are given to the pool
  ring items;
  unsigned short name_marks[1U << NAME_MARK_BITS]; // the walking thread's
  conversion_dir *dirs[MAX_DIRS];
  unsigned dir_count;

  platform_lock lock;
  platform_cond done; // a job was recorded
  // Under lock, on a cache line of their own: the walking thread's fields
  // change with every item.
  alignas(CACHE_LINE) unsigned long long waiting_from;
  unsigned running;
  unsigned serving;
  bool holding;
  bool taken_seen;

  // The walking thread's own.
  alignas(CACHE_LINE) bool taken_known; // taken_seen as last published
};

// Items the walking thread schedules before workers start; fewer are done
// sooner one after another.
constexpr unsigned START_BATCH = 8;

// Makes s ready for a walk, with up to processors threads converting.
void scheduler_init(scheduler *s, const scheduler_ops *ops,
                    unsigned processors);

// Reports everything still scheduled, ends the workers and lets go of all
// s holds.
void scheduler_end(scheduler *s);

// Converts path, a name in the current directory, at once or later beside
// other conversions.  It runs ahead of those before it only as said above
// (known_plain: the walk already knows it is a regular file and no link);
// its names are then looked up in *dir, which is opened on the current
// directory when it is nullptr.  dir nullptr: the current directory may
// not be the one *dir was opened on; always alone.
void schedule_conversion(scheduler *s, conversion_dir **dir, const char *path,
                         int case_mode, bool known_plain);

// The walk schedules nothing more in dir; it is closed once the
// conversions scheduled in it are reported.
void close_conversion_dir(scheduler *s, conversion_dir *dir);

// A line of standard output ("%s" given dir) and a diagnostic, printed
// after everything scheduled before them.
void schedule_line(scheduler *s, const char *format, const char *dir);
void schedule_failure(scheduler *s, const char *label, int code);

// The walk is about to change the current directory: where names are
// looked up in the current directory whatever handle is given, everything
// scheduled is reported first.
void schedule_directory_change(scheduler *s);

// A listing to open, the way the walk opens it.
struct listing_opener {
  int (*open)(listing_opener *o); // 0 or the failure's code; sets id
  void (*close)(listing_opener *o);
  file_id id;    // what open opened
  bool id_known; // whether open could tell
};

// Opens a listing with o.  Conversions running ahead may hold the
// descriptors or the memory it needs, or convert in that very directory,
// whose listing must show what one conversion after another leaves: then
// it is opened again once everything scheduled is reported.
int open_listing(scheduler *s, listing_opener *o);

// Waits for every scheduled conversion and reports each, and the lines
// between them, in order; then the workers end.
void report_scheduled(scheduler *s);

// Reports everything and closes every directory held for conversions, so
// that their descriptors are free again; conversions scheduled later in
// those directories are converted alone.
void release_scheduled(scheduler *s);

// The walking thread's side, in schedule.cpp, calls the workers' side in
// run_ahead.cpp:

// Whether the conversion of path into name, in dir, may run ahead; keys
// are the names' keys, path's first.
bool may_run_ahead(scheduler *s, const conversion_dir *dir, const char *path,
                   const char *name, const unsigned long long *keys,
                   bool known_plain);

// Gives serve jobs to the pool once enough items wait, starting the crew.
void start_workers(scheduler *s);

// Ends the workers, taking back what they were given and not yet began.
void stop_workers(scheduler *s);

// Lets the workers see every item scheduled; under lock.
void publish(scheduler *s);

// Waits for the oldest conversion, converting what waits meanwhile, and
// converts it once more in turn when what ran beside it may be why it
// failed or found its target taken.
void finish_oldest(scheduler *s, item *oldest);

// The mark of a name with key key in dir.
unsigned name_mark(const conversion_dir *dir, unsigned long long key);

} // namespace morvidex

#endif

// Conversions and the walk's lines in program order, several conversions at
// once where nothing can tell.  A conversion may run on any thread; its
// report (the progress line or the diagnostic) is always printed by the
// thread that walks, in program order.
#ifndef MORVIDEX_TRANSLATE_SCHEDULE_H
#define MORVIDEX_TRANSLATE_SCHEDULE_H

#include "platform/platform.h"

namespace morvidex {

// The directory a walk lists, as the conversions scheduled in it see it;
// nullptr until the first is scheduled.
struct conversion_dir;

// Converts path, a name in the current directory, at once or later beside
// other conversions.  A conversion runs ahead of those before it only
// where none of them, and nothing the walk looks up meanwhile, can see a
// difference: a bare name, a plain file (known_plain: the walk already
// knows it is a regular file and no link), a sibling whose name leads
// nowhere yet, and no name shared with a conversion in the same directory
// not yet reported.  Its names are then looked up in *dir, which is opened
// on the current directory when it is nullptr.  Otherwise everything
// scheduled is reported first and path is converted alone.  dir nullptr:
// the current directory may not be the one *dir was opened on; always alone.
void schedule_conversion(conversion_dir **dir, const char *path, int case_mode,
                         bool known_plain);

// The walk schedules nothing more in dir; it is closed once the
// conversions scheduled in it are reported.
void close_conversion_dir(conversion_dir *dir);

// A line of standard output ("%s" given dir) and a diagnostic, printed
// after everything scheduled before them.
void schedule_line(const char *format, const char *dir);
void schedule_failure(const char *label, int code);

// The walk is about to change the current directory: where names are
// looked up in the current directory whatever handle is given, everything
// scheduled is reported first.
void schedule_directory_change();

// Whether anything scheduled is not yet reported, whether conversions may
// be running ahead of the oldest (workers run), and whether a conversion
// not yet reported converts in the directory called id.
bool have_scheduled();
bool have_run_ahead();
bool have_scheduled_in(const file_id &id);

// Waits for every scheduled conversion and reports each, and the lines
// between them, in order; then the workers end, and no thread but the
// caller's runs.
void report_scheduled();

// Reports everything and closes every directory held for conversions, so
// that their descriptors are free again; conversions scheduled later in
// those directories are converted alone.
void release_scheduled();

} // namespace morvidex

#endif

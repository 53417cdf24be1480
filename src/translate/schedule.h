// Conversions in program order, several at once where nothing can tell.
// The conversion of a file (open, copy, close) is kept apart from its
// report (the progress line or the diagnostic), which is always printed
// by the thread that walks, in program order.
#ifndef MORVIDEX_TRANSLATE_SCHEDULE_H
#define MORVIDEX_TRANSLATE_SCHEDULE_H

namespace morvidex {

// What converting one file came to.
enum conversion_result {
  CONVERTED,
  OPEN_INPUT_FAILED,
  OPEN_OUTPUT_FAILED,
  READ_FAILED,
  WRITE_FAILED,
};

struct conversion_outcome {
  conversion_result result;
  int code; // the platform's code of the failure
};

// Converts path into the file called name, printing nothing.  With
// side_by_side a large file may be converted on several threads.  A copy
// that fails leaves no target behind (a device target is left alone).
conversion_outcome convert_file(const char *path, const char *name,
                                int case_mode, bool side_by_side);

// Prints the progress line or the diagnostic of an outcome.
void report_conversion(const char *path, const char *name,
                       const conversion_outcome &outcome);

// Converts path and reports it at once, on the calling thread.
void translate_file_now(const char *path, int case_mode);

// Converts path, at once or later beside other conversions.  A conversion
// runs ahead of those before it only where none of them, and nothing the
// walk looks up meanwhile, can see a difference: a bare name in the current
// directory, a plain file (known_plain: the walk already knows it is a
// regular file and no link), a sibling whose name leads nowhere yet, and no
// name shared with a conversion not yet reported.  Otherwise everything
// scheduled is reported first and path is converted alone.
void schedule_conversion(const char *path, int case_mode, bool known_plain);

// Waits for every scheduled conversion and reports each in order; then no
// thread but the caller's runs and nothing is held for later.  Called
// before anything else is printed, before the current directory changes,
// and before the process ends.
void report_scheduled();

} // namespace morvidex

#endif

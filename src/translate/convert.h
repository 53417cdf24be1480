// The conversion of one file into its sibling, in one place: open both,
// copy through the case mapping, close, and what it came to.  It prints
// nothing; the report of an outcome is a call of its own, so that a
// conversion may run on one thread and be reported on another.
#ifndef MORVIDEX_TRANSLATE_CONVERT_H
#define MORVIDEX_TRANSLATE_CONVERT_H

#include "platform/platform.h"
#include "translate/crew.h"

namespace morvidex {

// What converting one file came to.
enum conversion_result {
  CONVERTED,
  OPEN_INPUT_FAILED,
  OPEN_OUTPUT_FAILED,
  READ_FAILED,
  WRITE_FAILED,
  TARGET_EXISTS, // a new_only conversion found its target's name taken
};

struct conversion_outcome {
  conversion_result result;
  int code; // the platform's code of the failure
};

// Converts path into the file called name, both looked up in dir (the
// current directory for NO_HANDLE), printing nothing.  With helpers the
// blocks of a large file may be converted by the crew's workers too.
// With new_only the target is only ever created: a name that leads to
// anything already gives TARGET_EXISTS, with nothing read or written.  A
// copy that fails leaves no target behind (a device target is left alone).
conversion_outcome convert_file(const char *path, const char *name,
                                int case_mode, crew *helpers, file_handle dir,
                                bool new_only = false);

// Prints the progress line or the diagnostic of an outcome.
void report_conversion(const char *path, const char *name,
                       const conversion_outcome &outcome);

// Converts path, a path of any form, and reports it at once, on the
// calling thread: names are looked up in handles of their directories.
void convert_and_report(const char *path, int case_mode, crew *helpers);

} // namespace morvidex

#endif

// The program's own error numbers, their texts, and the one diagnostic
// line that reports a failure on standard error.
#ifndef MORVIDEX_REPORT_DIAGNOSTICS_H
#define MORVIDEX_REPORT_DIAGNOSTICS_H

namespace morvidex {

// Reports a failure: writes "label: text\n" to standard error, the text
// being that of the error number of the platform's code (CODE_NO_MEMORY
// gives "Not enough memory").  An absent or empty label gives the text
// alone.  This is the one way the program reports a failure.
void report_failure(const char *label, int code);

// The text of an error number; "Unknown error" outside 0 to 48.
const char *error_text(int number);

// The error number of a system condition (an errno value).
int error_from_errno(int code);

// The error number of a Win32 error code: its low 16 bits, a code above
// 298 counting as 1.
int error_from_win32(unsigned long code);

// The error number of a platform error code, by the platform's numbering.
int error_from_code(int code);

} // namespace morvidex

#endif

// The program's own error numbers, their texts, and the one diagnostic
// line that reports a failure on standard error.
#ifndef MORVIDEX_CLI_DIAGNOSTICS_H
#define MORVIDEX_CLI_DIAGNOSTICS_H

namespace morvidex {

constexpr int ERROR_COUNT = 49;

// Numbers the program stores itself, without a platform code.
constexpr int ERROR_NO_MEMORY = 8;
constexpr int ERROR_INVALID = 19;

// The number of the most recent failure; 0 at start, never reset.
extern int error_number;

extern const char *const error_texts[ERROR_COUNT];

// The text of an error number; "Unknown error" outside 0 to 48.
const char *error_text(int number);

// The error number of a system condition (an errno value).
int error_from_errno(int code);

// The error number of a Win32 error code: its low 16 bits, a code above
// 298 counting as 1.
int error_from_win32(unsigned long code);

// The error number of a platform error code, by the platform's numbering.
int error_from_code(int code);

// Stores the error number of a platform error code in error_number.
void set_error_from_code(int code);

// Writes "label: text\n" for error_number to standard error; an absent or
// empty label gives the text alone.
void print_diagnostic(const char *label);

// Stores the error number of a platform code and prints the diagnostic.
// Code 0 is what the program's own layers give when memory runs out: it
// reports "Not enough memory".
void report_failure(const char *label, int code);

} // namespace morvidex

#endif

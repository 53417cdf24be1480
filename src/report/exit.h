// The one way the process ends.
#ifndef MORVIDEX_REPORT_EXIT_H
#define MORVIDEX_REPORT_EXIT_H

namespace morvidex {

// Writes out buffered standard output, then ends the process with status.
// No file stream is open when it is called: each conversion closes both of
// its streams before it returns.
[[noreturn]] void exit(int status);

} // namespace morvidex

#endif

// What the end-to-end tests expect differently of the Linux program and of
// the Windows program run under Wine (MORVIDEX_WINE_LOADER names the loader
// that the wrapper in $MORVIDEX starts it with): every expectation that
// depends on the platform is stated here, and the tests ask for it.
#ifndef MORVIDEX_TESTS_E2E_PLATFORM_H
#define MORVIDEX_TESTS_E2E_PLATFORM_H

#include <cstddef>
#include <string>
#include <vector>

namespace e2e {

struct Case;

struct Platform {
  bool case_blind;             // names differing only in case are one file
  bool backslash_separates;    // '\' separates directories as '/' does
  std::string not_a_directory; // error text for a file used as a directory
  std::size_t drive_length; // bytes the program's absolute paths add in front
  std::size_t longest_start_directory; // of the directory the program starts in
};

// The platform of the program under test.
const Platform &platform();

// Whether file names can hold every byte of `name` ('/' aside, which
// separates them).
bool can_hold(const std::string &name);

// The words the program works on when started with `args`.
std::vector<std::string> received(const std::vector<std::string> &args);

// Why case `c` cannot be met on this platform, or nullptr when it can.
const char *cannot_run(const Case &c);

// Why case `c` cannot be met by the Windows program under Wine, whatever
// the program under test, or nullptr when it can.
const char *wine_cannot_run(const Case &c);

// Why no case can run here at all (a loader that the kernel refuses), or
// nullptr; a loader that fails otherwise sets `broken` to one line instead.
const char *cannot_start(std::string *broken);

} // namespace e2e

#endif

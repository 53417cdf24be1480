// Whether a program loader can be started on this machine at all: some
// kernels refuse 32-bit x86 programs, and the tests of the Windows programs
// under Wine must then be skipped, not failed.
#ifndef MORVIDEX_TESTS_E2E_LOADER_H
#define MORVIDEX_TESTS_E2E_LOADER_H

#include <string>

namespace e2e {

enum class Loader {
  runs,    // started and answered `--version` with status 0
  refused, // the kernel will not execute it (ENOEXEC)
  broken,  // anything else: missing, crashed, failed
};

// The reason printed for a refused loader.
extern const char *const LOADER_REFUSED;

// Starts `loader --version` (executed directly, never through a shell, which
// would take a refused binary for a script) and tells how it went; `why`
// receives one line for a broken loader.
Loader probe_loader(const std::string &loader, std::string *why);

} // namespace e2e

#endif

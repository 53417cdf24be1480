// End-to-end harness: runs the program named by $MORVIDEX in a fresh temporary
// directory and compares its output, exit status and the tree it leaves.
#ifndef MORVIDEX_TESTS_E2E_HARNESS_H
#define MORVIDEX_TESTS_E2E_HARNESS_H

#include "common/files.h"
#include "common/reference.h"

#include <string>
#include <vector>

namespace e2e {

// The trees of files a case lays down and expects, shared with the fault
// tests.
using common::dir;
using common::each;
using common::fifo;
using common::file;
using common::hardlink;
using common::Kind;
using common::Node;
using common::socket;
using common::symlink;
using common::Tree;
using common::operator+;

enum class Output {
  file,        // stdout and stderr into two regular files
  merged,      // both into one regular file, as `>f 2>&1`
  closed,      // descriptor 1 closed, as `>&-`
  broken_pipe, // a pipe whose reader is gone
  dev_null,    // the character device /dev/null
  terminal,    // a raw pseudo-terminal shared with stderr
};

struct Case {
  std::vector<std::string> args{}; // after the program name
  Tree files{};                    // laid down before the run
  Tree made{}; // created or changed: the tree left must be `files` overlaid
               // with `made`
  std::string out{}; // stdout (both streams for merged and terminal)
  std::string err{};
  int status = 0;
  std::vector<std::string>
      out_alt{};          // other stdouts that another listing order gives
  bool any_order = false; // compare lines of stdout and stderr as multisets
  Output output = Output::file;
  bool close_stdin = false;
  bool unprivileged = false; // run as uid/gid 65534 on a tree chowned to it
  long fsize_limit = -1;     // RLIMIT_FSIZE in bytes
  bool cwd_removed = false;  // started in a directory removed beforehand
  size_t cwd_length = 0;     // exact length of the working directory's absolute
                             // path, as the program sees it
  int timeout = 20;          // seconds before the program is killed
};

// A case from its usual fields, the options left at their defaults.
Case make_case(std::vector<std::string> args, Tree files, Tree made,
               std::string out, std::string err = "", int status = 0,
               std::vector<std::string> out_alt = {});

struct Named {
  std::string name;
  Case c;
};

// Runs one case; every difference is a test failure with a hex dump.
void run(const Case &c);
void run_all(const std::vector<Named> &table);

// Which cases of a test body run: a body whose cases Wine can run only in
// part is split in two tests (E2E_SPLIT_TEST), so that a test reported as
// skipped has run nothing.
enum class Rows { all, wine_runs, linux_only };
void run_only(Rows rows, void (*body)());

#define E2E_SPLIT_TEST(suite, name, body)                                      \
  TEST(suite, name) { e2e::run_only(e2e::Rows::wine_runs, body); }             \
  TEST(suite, name##LinuxOnly) { e2e::run_only(e2e::Rows::linux_only, body); }

using common::BANNER;
using common::closing;
using common::crlf;
using common::diag;
using common::opening;
using common::progress;
using common::walk;
extern const std::string USAGE, TEXT, LOWER,
    UPPER; // TEXT converted both ways

// A whole source as the program must convert it: data ends at the first 0x1A,
// CR dropped, LF written as CR LF, only A-Z (or a-z) change case.
inline std::string convert(const std::string &src, bool upper) {
  return common::converted(src, upper);
}

} // namespace e2e

#endif

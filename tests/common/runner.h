// Runs the program under test, named by $MORVIDEX, for the end-to-end and
// the fault tests alike: in a directory of the caller's, under resource
// limits and behind wrappers (strace, taskset, setpriv, a loader), with the
// standard streams the caller sets up in the child.
#ifndef MORVIDEX_TESTS_COMMON_RUNNER_H
#define MORVIDEX_TESTS_COMMON_RUNNER_H

#include <sys/types.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace common {

// $MORVIDEX, or "" when it is not an absolute path.
std::string program();

// The words of $MORVIDEX_WRAPPER, split at blanks: a command that every
// run of the program goes through (for example `taskset -c 0`), outermost.
std::vector<std::string> wrapper();

// Limits on the program alone, not on the commands it runs behind.
struct limits {
  long long fsize = -1;         // RLIMIT_FSIZE in bytes, -1: none
  long long address_space = -1; // RLIMIT_AS in bytes, -1: none
};

// The words that run a command as uid (its group too, no other groups)
// through setpriv, for a caller that is root; none for uid 0.
std::vector<std::string> as_user(int uid);

// $MORVIDEX_WRAPPER's words, then launcher (such as strace and its
// options), then prlimit with the limits if there are any, then the
// program (program() unless given) and its arguments.
std::vector<std::string>
command(const std::vector<std::string> &launcher,
        const std::vector<std::string> &args, const limits &l = {},
        const std::string &program = common::program());

struct child {
  std::vector<std::string> argv; // the whole command, from command()
  std::string dir;               // where it starts
  // Runs in the child, in dir, before the exec: sets the standard streams;
  // false gives up with status 126.
  std::function<bool()> prepare;
};

// What a run gave: what it wrote to standard output and error, as the
// caller that set them up reads them, and how it ended.
struct outcome {
  std::string out{}, err{};
  int status = -1;     // exit status, -1 when a signal ended it
  int signal = 0;      // that signal, else 0
  bool killed = false; // ran past its time and was killed
};
bool operator==(const outcome &a, const outcome &b);
// "exit status 1", "ended by signal 11 (...)" or "ran past its time and was
// killed".
std::string ending(const outcome &o);
std::ostream &operator<<(std::ostream &os, const outcome &o); // streams, end

// Starts the child in a process group of its own, with the default action
// for SIGPIPE and SIGXFSZ and no core dumps; -1 when fork fails.
pid_t start(const child &c);

// Waits for it up to `seconds`, then kills its group; `meanwhile`, when
// given, is called between looks (it may read the child's output), once
// more after it ended.  The streams are left for the caller to fill in.
outcome wait_for(pid_t pid, int seconds,
                 const std::function<void()> &meanwhile = nullptr);

} // namespace common

#endif

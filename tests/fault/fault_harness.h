// Fault-injection harness: lays a scenario's files down afresh, runs the
// program named by $MORVIDEX (plainly, under strace or under an
// address-space limit) and lists every promise a run broke: a source
// changed, a progress line over a target that is not the converted source,
// a changed target left without a diagnostic, a diagnostic without a
// reason, a death by a signal, an exit status other than 0 or 1.
#ifndef MORVIDEX_TESTS_FAULT_FAULT_HARNESS_H
#define MORVIDEX_TESTS_FAULT_FAULT_HARNESS_H

#include <sys/types.h>

#include "common/files.h"
#include "common/reference.h"
#include "common/runner.h"

#include <string>
#include <vector>

namespace fault {

// A source of the run and the target the program writes for it.
struct conversion {
  std::string source;
  std::string target;
};

struct scenario {
  std::string name;
  std::vector<std::string> args; // after the program's name
  common::Tree files;
  std::vector<conversion> conversions;
  bool converts; // a run without faults converts every source; otherwise it
                 // refuses the one target as the source itself
};

using common::outcome;
using common::Tree;

// A system call the program itself makes (from its check of descriptor 0
// on), as a plain traced run shows it.
struct own_call {
  std::string name;
  int when;         // strace's count of this call name, this one included
  std::string file; // a write's or close's: the name its descriptor was
                    // opened as, empty for an inherited descriptor
  std::string path; // an openat's path
  int result;       // an openat's descriptor, -1 when it failed
  bool first_batch; // a getdents64 that fetches a listing's first entries
};

// A call failed on purpose, and the errno it failed with.
struct injection {
  own_call call;
  int error;
};

// A scratch directory under $TMPDIR: the program runs in root, its standard
// output and error land beside root.
struct workspace {
  std::string base, root;
};

// EIO, ENOMEM, EINTR or ENOSPC by name.
const char *error_name(int error);

using common::program;
using common::slurp;

// Empties root and lays the scenario's files down in it.
bool lay_down(const workspace &ws, const scenario &s);

// A name in a snapshot of root (common::read_tree): its entry, nullptr
// when it is missing; what reading it gives, through symbolic links inside
// the tree; whether it holds the same in a and b (the same bytes or link
// target, the same through it), and with same_file as the same file.
const common::Node *entry(const Tree &t, const std::string &path);
std::string contents(const Tree &t, const std::string &path);
bool holds_same(const Tree &a, const Tree &b, const std::string &path,
                bool same_file);
std::string describe(const Tree &t, const std::string &path);

// Runs argv (from common::command) in root, with standard input on
// /dev/null and standard output and error into files beside root.
// start_in returns the child's pid, wait_for collects it.
pid_t start_in(const workspace &ws, const std::vector<std::string> &argv);
outcome wait_for(const workspace &ws, pid_t pid, int seconds = 30);
outcome run_in(const workspace &ws, const std::vector<std::string> &argv);

// The program's own calls in the text of `strace -f -o FILE`.
std::vector<own_call> own_calls(const std::string &trace);

// The reference conversion to lower case.
inline std::string convert_lower(const std::string &source) {
  return common::converted(source, false);
}
std::string progress_line(const conversion &c);
using common::diag;

// Every promise the run broke, each as one sentence; `failed` names the
// injected fault, if any, for the checks that depend on it.
std::vector<std::string> broken_promises(const scenario &s, const outcome &o,
                                         const Tree &before, const Tree &after,
                                         const injection *failed = nullptr);

// One checked run: what it did, root around it, the broken promises.
struct checked_run {
  outcome o;
  Tree before, after;
  std::vector<std::string> broken;
};

// Lays the scenario down, runs `launcher` + the program + its arguments and
// checks the run.
checked_run run_checked(const workspace &ws, const scenario &s,
                        const std::vector<std::string> &launcher,
                        long long as_limit = -1,
                        const injection *failed = nullptr);

} // namespace fault

#endif

// A run over a tree that another user owns and changes never reaches
// outside it.  Root runs the program ($MORVIDEX) on a tree that uid 65534
// lays down with its own hands, in a private tmpfs inside a mount
// namespace of its own, beside canary files the program must never touch.
// Races hold the program in each of its calls on a name in turn, with
// strace's delay_enter, while the attacker swaps that name.  After every
// run: the canaries are unchanged (content, mode, owner, links, no new
// name beside them), no canary text is inside the tree, no new target is
// more readable than its source or set-id, the run ended by itself, and
// its output and status are one of those the scenario allows, exactly.
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/files.h"
#include "common/reference.h"
#include "common/runner.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

using common::BANNER;
using common::diag;
using common::opening;
using common::progress;
using common::slurp;
using common::walk;

constexpr int ATTACKER = 65534;  // owns the tree
constexpr int NEIGHBOUR = 65533; // a second unprivileged user
constexpr int TIMEOUT_SECONDS = 10;
constexpr int HOLD_MICROSECONDS = 200000;
constexpr auto HELD_FOR = std::chrono::milliseconds(20);

const std::string IN = "Can't open input file.",
                  OUT = "Can't open output file.",
                  WRITE = "Can't write output file.",
                  OPEN_DIR = "Unable to open directory",
                  DENIED = "Permission denied";

// What lies outside the tree: every file says "canary", so that the text
// can be looked for inside the tree afterwards.
const char OUTSIDE[] =
    "mkdir -p outside/etc && cd outside && "
    "printf 'Canary Victim Conf\\n' >victim.conf && "
    "printf 'Canary Secret Text\\n' >secret && chmod 600 secret && "
    "printf 'Canary World Writable\\n' >ww && chmod 666 ww && "
    "mkfifo -m 666 fifo && "
    "for f in x.txt z.txt notes.txt notes.lo a.txt a.lo; do "
    "printf 'Canary Etc %s\\n' $f >etc/$f; done";

struct Scenario {
  std::string name;
  std::string setup; // shell, in the scratch folder, as ATTACKER
  std::vector<std::string> args;
  std::vector<common::outcome> outcomes; // every result allowed, exactly
  int user = 0;                          // who runs the program
  std::string later{};                   // shell, after setup, as later_user
  int later_user = NEIGHBOUR;
  std::vector<std::string> race{}; // names the program is held on
  std::string swap{};              // shell, as ATTACKER, while it is held
  std::map<std::string, std::string> made{}; // files the run must leave
  std::vector<std::string> guarded{}; // other users' files, not to change
  std::vector<std::string> readers{}; // FIFOs held open, never read
  long long fsize = -1;
};

// The private tmpfs all scenarios lay their files down in, or "" with
// the reason in *why.
std::string arena(std::string *why) {
  static std::string root, failed;
  if (!root.empty() || !failed.empty()) {
    *why = failed;
    return root;
  }
  char dir[] = "/tmp/morvidex-hostile-XXXXXX";
  if (geteuid() != 0)
    failed = "needs root (unshare, mount, setpriv)";
  else if (unshare(CLONE_NEWNS) != 0 ||
           mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
           mkdtemp(dir) == nullptr ||
           mount("morvidex-hostile", dir, "tmpfs", 0, "size=64m,mode=0755") !=
               0)
    failed = std::string("no private tmpfs: ") + std::strerror(errno);
  else
    root = dir;
  // A copy of the program, which the unprivileged users reach wherever
  // the build lives.
  std::error_code copied;
  if (!root.empty() &&
      (!fs::copy_file(common::program(), root + "/morvidex", copied) ||
       chmod((root + "/morvidex").c_str(), 0755) != 0)) {
    failed = "cannot copy the program: " + copied.message();
    root.clear();
  }
  if (!root.empty())
    std::atexit([] {
      umount2(root.c_str(), MNT_DETACH);
      rmdir(root.c_str());
    });
  *why = failed;
  return root;
}

// The copy of the program the arena holds, one folder above base.
std::string program_in(const std::string &base) {
  return fs::path(base).parent_path().string() + "/morvidex";
}

// Runs argv in dir with standard output and error into out and err, and
// reads them back.
common::outcome run_in(const std::string &dir,
                       const std::vector<std::string> &argv,
                       const std::string &out, const std::string &err,
                       pid_t *started = nullptr,
                       const std::function<void()> &meanwhile = nullptr) {
  common::child c{argv, dir, [&] {
                    int o =
                        open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                    int e =
                        open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                    int n = open("/dev/null", O_RDONLY);
                    return o >= 0 && e >= 0 && n >= 0 && dup2(n, 0) == 0 &&
                           dup2(o, 1) == 1 && dup2(e, 2) == 2;
                  }};
  pid_t pid = common::start(c);
  if (started != nullptr)
    *started = pid;
  common::outcome o = common::wait_for(pid, TIMEOUT_SECONDS, meanwhile);
  o.out = slurp(out), o.err = slurp(err);
  return o;
}

std::vector<std::string> as_user(int uid, std::vector<std::string> argv) {
  std::vector<std::string> words = common::as_user(uid);
  words.insert(words.end(), argv.begin(), argv.end());
  return words;
}

// Runs a shell script in base as uid; false, with its errors, if it fails.
bool shell(const std::string &base, int uid, const std::string &script) {
  common::outcome e = run_in(base, as_user(uid, {"sh", "-ec", script}),
                             base + ".sh-out", base + ".sh-err");
  EXPECT_EQ(0, e.status) << "as " << uid << ": " << script << "\n" << e.err;
  return e.status == 0;
}

// A fresh scratch folder: the canaries outside as root, the tree t and the
// shared sticky folder, then the scenario's own files.
bool lay_down(const std::string &base, const Scenario &s) {
  std::error_code ignored;
  fs::remove_all(base, ignored);
  fs::create_directories(base + "/t");
  fs::create_directories(base + "/shared");
  chmod(base.c_str(), 0755);
  chmod((base + "/shared").c_str(), 01777);
  if (chown((base + "/t").c_str(), ATTACKER, ATTACKER) != 0 ||
      !shell(base, 0, OUTSIDE) || !shell(base, ATTACKER, s.setup))
    return false;
  return s.later.empty() || shell(base, s.later_user, s.later);
}

// Whether path is name or lies below it.
bool under(const std::string &path, const std::string &name) {
  return path == name || path.rfind(name + "/", 0) == 0;
}

// In a snapshot of base: the canaries outside and the scenario's guarded
// names, which a run must not change.
common::Tree guarded_state(const common::Tree &all, const Scenario &s) {
  common::Tree guarded;
  for (auto &[path, node] : all)
    if (under(path, "outside") ||
        std::any_of(s.guarded.begin(), s.guarded.end(),
                    [&](const std::string &g) { return under(path, g); }))
      guarded[path] = node;
  return guarded;
}

// In a snapshot of base: the regular files of the tree and the shared
// folder.
common::Tree files_of(const common::Tree &all) {
  common::Tree files;
  for (auto &[path, node] : all)
    if (node.kind == common::Kind::file &&
        (under(path, "t") || under(path, "shared")))
      files[path] = node;
  return files;
}

std::string stem(const std::string &path) {
  std::string name = fs::path(path).filename().string();
  return name.substr(0, name.find('.'));
}

std::string lower(std::string s) {
  for (char &c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

struct Run : common::outcome {
  bool held = false; // the program was seen held in the call
};

// Every promise the run broke, from snapshots of base before and after.
void check(const std::string &base, const Scenario &s, const Run &r,
           const common::Tree &before, const common::Tree &after,
           const std::vector<int> &readers) {
  EXPECT_FALSE(r.killed) << "the run hung";
  EXPECT_EQ(0, r.signal);
  EXPECT_EQ(guarded_state(before, s), guarded_state(after, s))
      << "a canary changed";
  EXPECT_TRUE(std::count(s.outcomes.begin(), s.outcomes.end(), r) > 0) << r;
  // What the run wrote: a file that is new, or whose bytes changed.
  const common::Tree files_before = files_of(before);
  for (auto &[path, now] : files_of(after)) {
    auto was = files_before.find(path);
    if (was != files_before.end() && was->second.data == now.data)
      continue;
    EXPECT_EQ(std::string::npos, lower(now.data).find("canary"))
        << "canary text in " << path;
    if (was != files_before.end())
      continue;
    int source = 0;
    for (auto &[before, file] : files_before)
      if (stem(before) == stem(path))
        source |= file.mode;
    EXPECT_EQ(0, now.mode & (07000 | ~(source | 0200)))
        << path << " has mode " << std::oct << now.mode << ", its source "
        << source;
  }
  for (auto &[path, bytes] : s.made)
    EXPECT_EQ(bytes, slurp(base + "/" + path)) << path;
  for (int fd : readers) {
    char byte;
    EXPECT_GE(0, read(fd, &byte, 1)) << "a FIFO was written to";
  }
}

// The syscall numbers of the calls a name may be held in.
long number_of(const std::string &call) {
  static const std::map<std::string, long> numbers = {
      {"openat", SYS_openat},
      {"openat2", SYS_openat2},
      {"newfstatat", SYS_newfstatat},
      {"fstat", SYS_fstat},
      {"statx", SYS_statx},
      {"chdir", SYS_chdir},
      {"fchdir", SYS_fchdir},
      {"unlinkat", SYS_unlinkat},
      {"readlinkat", SYS_readlinkat},
      {"getdents64", SYS_getdents64},
      {"close", SYS_close},
      {"read", SYS_read},
      {"write", SYS_write},
      {"pread64", SYS_pread64},
      {"pwrite64", SYS_pwrite64},
      {"ftruncate", SYS_ftruncate},
      {"fcntl", SYS_fcntl},
      {"lseek", SYS_lseek},
      {"getcwd", SYS_getcwd},
      {"open", SYS_open},
      {"stat", SYS_stat},
      {"lstat", SYS_lstat},
      {"unlink", SYS_unlink},
      {"readlink", SYS_readlink},
      {"execve", SYS_execve}};
  auto it = numbers.find(call);
  return it == numbers.end() ? -1 : it->second;
}

// Whether a thread of pid is stopped by the tracer in the call numbered
// call: the tracer holds it there on purpose when it stays so a while.
bool stopped_in(pid_t pid, long call) {
  std::error_code ignored;
  fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
  for (auto &task : fs::directory_iterator(tasks, ignored)) {
    std::string stat = slurp(task.path().string() + "/stat");
    std::size_t paren = stat.rfind(')');
    if (paren == std::string::npos || stat.size() < paren + 3 ||
        stat[paren + 2] != 't')
      continue;
    if (std::atol(slurp(task.path().string() + "/syscall").c_str()) == call)
      return true;
  }
  return false;
}

// strace, then the program started in base: strace itself starts one
// folder up, so that base's names are the program's alone.
std::vector<std::string> under_strace(const std::string &base,
                                      const std::vector<std::string> &options) {
  std::vector<std::string> words = {"strace", "-f", "-qq", "-y"};
  words.insert(words.end(), options.begin(), options.end());
  words.insert(words.end(), {"env", "-C", base});
  return words;
}

// Whether a line of the trace is a call on one of the race's names: a
// string that is the name or a path below it, or a descriptor (strace -y
// shows its path) of the name or of something below it.
bool on_names(const std::string &line, const std::string &base,
              const Scenario &s) {
  for (auto &name : s.race) {
    bool absolute = name[0] == '/';
    std::string text = (absolute ? "<" + base : "\"") + name;
    for (std::size_t at = line.find(text); at != std::string::npos;
         at = line.find(text, at + 1)) {
      char next = at + text.size() < line.size() ? line[at + text.size()] : 0;
      if (next == '/' || next == (absolute ? '>' : '"'))
        return true;
    }
  }
  return false;
}

// The calls on the race's names, in the order a plain traced run makes
// them: each as its name and its count among all the calls of that name,
// as strace's inject counts them.
std::vector<std::pair<std::string, int>> calls_on_names(const std::string &base,
                                                        const Scenario &s) {
  std::vector<std::pair<std::string, int>> calls;
  if (!lay_down(base, s))
    return calls;
  run_in(fs::path(base).parent_path(),
         common::command(under_strace(base, {"-o", base + ".trace"}), s.args,
                         {s.fsize, -1}, program_in(base)),
         base + ".out", base + ".err");
  std::istringstream trace(slurp(base + ".trace"));
  std::map<std::string, int> counts;
  for (std::string line; std::getline(trace, line);) {
    std::size_t start = line.find_first_not_of("0123456789 ");
    std::size_t paren = line.find('(', start);
    if (start == std::string::npos || paren == std::string::npos ||
        line[start] == '<' || line[start] == '+' || line[start] == '-')
      continue;
    std::string call = line.substr(start, paren - start);
    int count = ++counts[call];
    if (on_names(line, base, s))
      calls.emplace_back(call, count);
  }
  return calls;
}

// One run: laid down afresh, held in `call` when given while the attacker
// swaps, then checked.
Run run_once(const std::string &base, const Scenario &s,
             const std::pair<std::string, int> *call) {
  if (!lay_down(base, s))
    return {};
  const common::Tree before = common::read_tree(base);
  std::vector<int> readers;
  for (auto &fifo : s.readers)
    readers.push_back(open((base + "/" + fifo).c_str(), O_RDONLY | O_NONBLOCK));
  std::vector<std::string> launcher;
  std::function<void()> watch;
  pid_t strace = 0;
  long number = -1;
  bool held = false;
  auto since = std::chrono::steady_clock::time_point::max();
  if (call != nullptr) {
    launcher =
        under_strace(base, {"-o", "/dev/null", "-e",
                            "inject=" + call->first + ":delay_enter=" +
                                std::to_string(HOLD_MICROSECONDS) +
                                ":when=" + std::to_string(call->second)});
    number = number_of(call->first);
    EXPECT_NE(-1, number) << "no number known for the call " << call->first;
    watch = [&] {
      pid_t pid = static_cast<pid_t>(
          std::atol(slurp("/proc/" + std::to_string(strace) + "/task/" +
                          std::to_string(strace) + "/children")
                        .c_str()));
      bool now = pid > 0 && !held && stopped_in(pid, number);
      auto at = std::chrono::steady_clock::now();
      if (!now) {
        since = std::chrono::steady_clock::time_point::max();
      } else if (since == std::chrono::steady_clock::time_point::max()) {
        since = at;
      } else if (at - since >= HELD_FOR) {
        held = shell(base, ATTACKER, s.swap);
      }
    };
  }
  std::vector<std::string> argv = common::command(
      as_user(s.user, launcher), s.args, {s.fsize, -1}, program_in(base));
  std::string dir =
      call != nullptr ? fs::path(base).parent_path().string() : base;
  Run r{run_in(dir, argv, base + ".out", base + ".err", &strace, watch), held};
  check(base, s, r, before, common::read_tree(base), readers);
  for (int fd : readers)
    close(fd);
  return r;
}

void run_scenario(const Scenario &s) {
  SCOPED_TRACE(s.name);
  ASSERT_FALSE(common::program().empty()) << "MORVIDEX must name the program";
  std::string why;
  std::string root = arena(&why);
  if (root.empty() && geteuid() != 0)
    GTEST_SKIP() << why;
  ASSERT_FALSE(root.empty()) << why;
  umask(022);
  std::string base = root + "/run";
  if (s.race.empty()) {
    run_once(base, s, nullptr);
    return;
  }
  int held = 0, calls = 0;
  std::map<std::size_t, int> seen; // how often each outcome came
  for (auto &call : calls_on_names(base, s)) {
    SCOPED_TRACE("held in " + call.first + " #" + std::to_string(call.second));
    Run r = run_once(base, s, &call);
    calls++;
    held += r.held ? 1 : 0;
    for (std::size_t i = 0; i < s.outcomes.size(); i++)
      if (s.outcomes[i].out == r.out && s.outcomes[i].err == r.err)
        seen[i]++;
    if (testing::Test::HasFailure())
      return;
  }
  std::printf("%s: held in %d of %d calls; outcomes:", s.name.c_str(), held,
              calls);
  for (auto &[i, n] : seen)
    std::printf(" #%zu x%d", i, n);
  std::printf("\n");
  EXPECT_LT(0, held) << "the program was never held on the race's names";
}

common::outcome only(const std::string &out, const std::string &err = "",
                     int status = 0) {
  return common::outcome{BANNER + out, err, status};
}

const std::string LINK_DENIED = diag(OUT, DENIED),
                  SOURCE_DENIED = diag(IN, DENIED);
const std::string SWAP_SUB = "mv t/sub t/sub.old && ln -s ../outside/etc t/sub";

// What a walk of t gives with one file called name in it: converted,
// or refused with err.
common::outcome walk_t(const std::string &lines, const std::string &err = "") {
  return only(walk("t", lines), err);
}

// The scenario s run by the user ATTACKER, or beside a NEIGHBOUR whose
// files must stay as they are.
Scenario by_attacker(Scenario s) {
  s.user = ATTACKER;
  return s;
}
Scenario beside(const std::string &neighbour, std::vector<std::string> guarded,
                Scenario s) {
  s.later = neighbour;
  s.guarded = std::move(guarded);
  return by_attacker(s);
}
// The scenario s with a link of root's at outside/link, leading to the
// absolute path of outside/target, hard-linked by root in as name: what an
// unpacked archive, or any user where fs.protected_hardlinks is 0, can do.
Scenario root_link(const std::string &target, const std::string &name,
                   Scenario s) {
  s.later = "ln -s \"$PWD/outside/" + target +
            "\" outside/link && ln -P "
            "outside/link " +
            name;
  s.later_user = 0;
  return s;
}
// The scenario s with a FIFO held open for reading, never read.
Scenario reading(const std::string &fifo, Scenario s) {
  s.readers = {fifo};
  return s;
}
// The scenario s, with a file it must leave.
Scenario leaving(const std::string &path, const std::string &bytes,
                 Scenario s) {
  s.made[path] = bytes;
  return s;
}
// The scenario s raced: held on names while the attacker swaps.
Scenario racing(std::vector<std::string> names, const std::string &swap,
                Scenario s) {
  s.race = std::move(names);
  s.swap = swap;
  return s;
}

const char SHARED_SECRET[] = "printf 'Victim Words\\n' >shared/secret.txt && "
                             "chmod 600 shared/secret.txt";

const std::vector<Scenario> &planted() {
  static const std::vector<Scenario> table = {
      {"a planted target link writes nowhere",
       "cd t && printf 'Hello ATTACKER\\n' >a.txt && "
       "ln -s ../outside/victim.conf a.lo",
       {"-lr", "t"},
       {walk_t("", LINK_DENIED)}},
      {"a dangling target link creates nothing",
       "cd t && printf 'Hello\\n' >d.txt && ln -s ../outside/newfile d.lo",
       {"-l", "t/d.txt"},
       {only("", LINK_DENIED)}},
      reading("outside/fifo",
              {"a target link to a FIFO that is read delivers nothing",
               "cd t && printf 'Hello\\n' >f.txt && ln -s ../outside/fifo f.lo",
               {"-lr", "t"},
               {walk_t("", LINK_DENIED)}}),
      {"a planted source link reads nothing in a walk",
       "ln -s ../outside/secret t/s.txt",
       {"-lr", "t"},
       {walk_t("", SOURCE_DENIED)}},
      {"a planted source link reads nothing as an operand",
       "ln -s ../outside/secret t/s.txt",
       {"-l", "t/s.txt"},
       {only("", SOURCE_DENIED)}},
      {"a planted directory link on an operand's path",
       "ln -s ../outside/etc t/e",
       {"-l", "t/e/z.txt"},
       {only("", SOURCE_DENIED)}},
      {"a planted link as a directory operand",
       "ln -s ../outside/etc t/e",
       {"-ld", "t/e"},
       {only(opening("t/e"), diag(OPEN_DIR, DENIED), 1)}},
      {"a planted hard link is not written through",
       "cd t && printf 'Hello\\n' >h.txt && ln ../outside/ww h.lo",
       {"-lr", "t"},
       {walk_t("", LINK_DENIED)}},
      reading("t/big.lo",
              {"a planted FIFO that is never read does not hang the run",
               "cd t && head -c 1048576 /dev/zero | tr '\\0' a >big.txt && "
               "mkfifo big.lo",
               {"-lr", "t"},
               {walk_t("", LINK_DENIED)}}),
      leaving("t/diary.lo", "dear diary\r\n",
              {"a private source gives a private copy",
               "cd t && printf 'Dear Diary\\n' >diary.txt && "
               "chmod 600 diary.txt",
               {"-lr", "t"},
               {walk_t(progress("diary.txt", "diary.lo"))}}),
      beside(": >shared/secret.lo && chmod 666 shared/secret.lo",
             {"shared/secret.lo"},
             {"a shared folder: a target another user made is not written",
              SHARED_SECRET,
              {"-l", "shared/secret.txt"},
              {only("", LINK_DENIED)}}),
      beside(": >shared/mine && chmod 666 shared/mine && "
             "ln -s mine shared/secret.lo",
             {"shared/mine", "shared/secret.lo"},
             {"a shared folder: another user's link as target is not followed",
              SHARED_SECRET,
              {"-l", "shared/secret.txt"},
              {only("", LINK_DENIED)}}),
      by_attacker(leaving(
          "t/keep/a.dat", "own text\r\n",
          {"a user's own links are followed in their own tree",
           "cd t && printf 'Own Text\\n' >a.txt && ln -s a.txt b.txt && "
           "mkdir keep && ln -s keep/a.dat b.lo",
           {"-l", "t/b.txt"},
           {only(progress("t/b.txt", "t/b.lo"))}})),
      by_attacker(leaving(
          "t/d/x.lo", "own text\r\n",
          {"a user's own link to a directory is walked as an operand",
           "cd t && mkdir d && printf 'Own Text\\n' >d/x.txt && ln -s d lk",
           {"-ld", "t/lk"},
           {only(walk("t/lk", progress("x.txt", "x.lo")))}})),
      by_attacker(leaving(
          "shared/l.lo", "own text\r\n",
          {"a user's own link in a shared folder of root's is followed",
           "printf 'Own Text\\n' >shared/l.dat && ln -s l.dat shared/l.txt",
           {"-l", "shared/l.txt"},
           {only(progress("shared/l.txt", "shared/l.lo"))}})),
      root_link("victim.conf", "t/a.lo",
                {"root's link hard-linked in as a target writes nowhere",
                 "printf 'Hello ATTACKER\\n' >t/a.txt",
                 {"-lr", "t"},
                 {walk_t("", LINK_DENIED)}}),
      root_link("secret", "t/s.txt",
                {"root's link hard-linked in as a source in a walk",
                 ":",
                 {"-lr", "t"},
                 {walk_t("", SOURCE_DENIED)}}),
      root_link("secret", "t/s.txt",
                {"root's link hard-linked in as a source operand",
                 ":",
                 {"-l", "t/s.txt"},
                 {only("", SOURCE_DENIED)}}),
      root_link("etc", "t/d",
                {"root's link hard-linked in as a directory operand",
                 ":",
                 {"-lr", "t/d"},
                 {only(opening("t/d"), diag(OPEN_DIR, DENIED), 1)}}),
      [] {
        // The victim's own link to the victim's own file, hard-linked into
        // the attacker's directory as the target the victim's run writes.
        Scenario s = root_link(
            "../shared/victim", "t/a.lo",
            {"the running user's own link in another user's directory",
             "printf 'Hello ATTACKER\\n' >t/a.txt",
             {"-l", "t/a.txt"},
             {only("", LINK_DENIED)}});
        s.later = "printf 'Victim Text\\n' >shared/victim && chown " +
                  std::to_string(NEIGHBOUR) + " shared/victim && " + s.later +
                  " && chown -h " + std::to_string(NEIGHBOUR) + " outside/link";
        s.user = NEIGHBOUR;
        s.guarded = {"shared/victim"};
        return s;
      }(),
  };
  return table;
}

// Results of a walk of t/p/sub/y.txt and t/p/z.txt, in either listing order
// of p, and for each moment the attacker may swap p.
std::vector<common::outcome> parent_swapped() {
  std::string y = walk("sub", progress("y.txt", "y.lo")),
              z = progress("z.txt", "z.lo");
  std::string lost = diag("chdir", "No such file or directory");
  return {only(walk("t", walk("p", y + z))),
          only(walk("t", walk("p", z + y))),
          only(walk("t", walk("p", y)),
               lost + diag("stat", "No such file or directory")),
          only(walk("t", walk("p", z + y)), lost),
          only(opening("t") + opening("p"), diag(OPEN_DIR, DENIED), 1),
          only(walk("t", ""))};
}

Scenario failed_copy() {
  Scenario s = racing(
      {"t/sub", "/t/sub", "a.lo", "a.txt"}, SWAP_SUB,
      {"the clean-up of a failed copy with its directory swapped",
       "mkdir t/sub && head -c 300000 /dev/zero | tr '\\0' Q >t/sub/a.txt",
       {"-l", "t/sub/a.txt"},
       {only("", diag(WRITE, "File too large")), only("", SOURCE_DENIED)}});
  s.fsize = 4096;
  return s;
}

const std::vector<Scenario> &races() {
  static const std::vector<Scenario> table = {
      racing({"sub", "t/sub", "/t/sub"}, SWAP_SUB,
             {"a subdirectory swapped between its listing and the walk into it",
              "mkdir t/sub && printf 'Tree Text\\n' >t/sub/x.txt",
              {"-lr", "t"},
              {walk_t(walk("sub", progress("x.txt", "x.lo"))),
               only(opening("t") + opening("sub"), diag(OPEN_DIR, DENIED), 1),
               walk_t("")}}),
      racing({"p", "/t/p"}, "mv t/p t/p.old && ln -s ../outside/etc t/p",
             {"the parent swapped while a subdirectory is walked",
              "mkdir t/p && printf 'Late Text\\n' >t/p/z.txt && "
              "mkdir t/p/sub && printf 'Deep Text\\n' >t/p/sub/y.txt",
              {"-lr", "t"},
              parent_swapped()}),
      racing({"t/sub", "/t/sub", "notes.txt", "notes.lo"}, SWAP_SUB,
             {"an operand's directory swapped between the source and the "
              "target",
              "mkdir t/sub && printf 'Note Text\\n' >t/sub/notes.txt",
              {"-l", "t/sub/notes.txt"},
              {only(progress("t/sub/notes.txt", "t/sub/notes.lo")),
               only("", SOURCE_DENIED)}}),
      racing({"a.txt", "/t/a.txt"},
             "mv t/a.txt t/a.old && ln -s ../outside/secret t/a.txt",
             {"a source swapped for a link between its listing and its open",
              "printf 'Own Text\\n' >t/a.txt",
              {"-lr", "t"},
              {walk_t(progress("a.txt", "a.lo")), walk_t("", SOURCE_DENIED)}}),
      racing({"a.lo", "/t/a.lo"},
             "ln -s ../outside/victim.conf t/a.new && mv -f t/a.new t/a.lo",
             {"a target swapped for a link between its two opens",
              "printf 'Own Text\\n' >t/a.txt && printf 'Old\\r\\n' >t/a.lo",
              {"-lr", "t"},
              {walk_t(progress("a.txt", "a.lo")), walk_t("", LINK_DENIED)}}),
      failed_copy(),
  };
  return table;
}

std::string test_name(const testing::TestParamInfo<std::size_t> &info,
                      const std::vector<Scenario> &table) {
  std::string name;
  for (char c : table[info.param].name)
    name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

class Planted : public testing::TestWithParam<std::size_t> {};
TEST_P(Planted, never_reaches_outside) { run_scenario(planted()[GetParam()]); }
INSTANTIATE_TEST_SUITE_P(Hostile, Planted,
                         testing::Range<std::size_t>(0, planted().size()),
                         [](const testing::TestParamInfo<std::size_t> &info) {
                           return test_name(info, planted());
                         });

class Raced : public testing::TestWithParam<std::size_t> {};
TEST_P(Raced, never_reaches_outside) { run_scenario(races()[GetParam()]); }
INSTANTIATE_TEST_SUITE_P(Hostile, Raced,
                         testing::Range<std::size_t>(0, races().size()),
                         [](const testing::TestParamInfo<std::size_t> &info) {
                           return test_name(info, races());
                         });

} // namespace

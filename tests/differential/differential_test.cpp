// One processor and all of them give the same bytes: each case runs the
// program ($MORVIDEX) held to processor 0, then several times on every
// processor, each time on the same files laid down afresh, and compares
// standard output, standard error, both merged into one file, the exit
// status and every file left behind (common::read_tree: content, modes,
// owners, links and the names that share a file).
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/files.h"
#include "common/runner.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int RUNS_ON_ALL = 3;
constexpr int TIMEOUT_SECONDS = 60;
constexpr std::size_t BLOCK = 256 * 1024;

using common::file;
using common::hardlink;
using common::symlink;
using common::Tree;

struct Limits {
  long files = -1;    // RLIMIT_NOFILE
  long disk_kib = -1; // a tmpfs of this size holds the files
};

struct Case {
  std::string name;
  std::vector<std::string> args;
  Tree files;
  Limits limits{};
  std::string foreign{}; // a folder given, with all it holds, to uid 65534
};

// What a case gave with stdout and stderr apart, both merged into one
// file, and the files left behind.
struct Result : common::outcome {
  std::string merged;
  Tree tree;
};

// Runs the program once in root with stdout and stderr apart (merged
// false) or in one file, on processor 0 alone or on every one, behind
// launcher (strace, say) when one is given.
common::outcome run_once(const Case &c, const std::string &base,
                         const std::string &root, bool merged,
                         bool one_processor,
                         const std::vector<std::string> &launcher = {}) {
  std::string out = base + "/out", err = base + "/err";
  common::child child{
      common::command(launcher, c.args), root, [&] {
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e =
            merged ? o : open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0)
          return false;
        close_range(3, ~0U, 0); // only the standard descriptors count
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(0, &set);
        rlimit files{rlim_t(c.limits.files), rlim_t(c.limits.files)};
        return (!one_processor ||
                sched_setaffinity(0, sizeof set, &set) == 0) &&
               (c.limits.files < 0 || setrlimit(RLIMIT_NOFILE, &files) == 0);
      }};
  common::outcome o = common::wait_for(common::start(child), TIMEOUT_SECONDS);
  o.out = common::slurp(out), o.err = merged ? "" : common::slurp(err);
  return o;
}

// A fresh root for a run: a directory under base, or a tmpfs of the case's
// size mounted there.
std::string fresh_root(const Case &c, const std::string &base) {
  std::string root = base + "/root";
  if (c.limits.disk_kib >= 0)
    umount2(root.c_str(), MNT_DETACH);
  fs::remove_all(root);
  fs::create_directories(root);
  if (c.limits.disk_kib >= 0) {
    std::string size = "size=" + std::to_string(c.limits.disk_kib) + "k";
    mount("none", root.c_str(), "tmpfs", 0, size.c_str());
  }
  return root;
}

Result run(const Case &c, const std::string &base, bool one_processor) {
  Result r;
  for (bool merged : {false, true}) {
    std::string root = fresh_root(c, base);
    EXPECT_EQ("", common::lay_down(root, c.files));
    if (!c.foreign.empty()) {
      std::string top = root + "/" + c.foreign;
      EXPECT_EQ(0, lchown(top.c_str(), 65534, 65534));
      for (auto &e : fs::recursive_directory_iterator(top))
        EXPECT_EQ(0, lchown(e.path().c_str(), 65534, 65534)) << e.path();
    }
    common::outcome o = run_once(c, base, root, merged, one_processor);
    if (merged)
      r.merged = o.out;
    else // the first run
      r = Result{o, "", common::read_tree(root)};
  }
  if (c.limits.disk_kib >= 0)
    umount2((base + "/root").c_str(), MNT_DETACH);
  return r;
}

// Lays c's files down afresh and runs it under strace on processor 0 alone
// or on every one; the threads the program started (clone calls with
// CLONE_THREAD that succeeded), or -1, with a failure added, when the
// traced run went wrong.
int threads_started(const Case &c, const std::string &base,
                    const std::string &expected_out, bool one_processor) {
  std::string root = fresh_root(c, base), trace = base + "/trace";
  EXPECT_EQ("", common::lay_down(root, c.files)) << "for the traced run";
  common::outcome o =
      run_once(c, base, root, false, one_processor,
               {"strace", "-f", "-qq", "-o", trace, "-e", "trace=clone,clone3",
                "-e", "status=successful"});
  if (c.limits.disk_kib >= 0)
    umount2(root.c_str(), MNT_DETACH);
  if (o.status == 126 || o.status == 127 || o.err.find("strace: ") == 0 ||
      o.err.find("\nstrace: ") != std::string::npos) {
    ADD_FAILURE() << "strace did not run the program (" << common::ending(o)
                  << "): " << o.err;
    return -1;
  }
  // The same work as untraced, or the count tells nothing.
  EXPECT_EQ(expected_out, o.out) << "standard output of the traced run";
  std::istringstream lines(common::slurp(trace));
  int threads = 0;
  for (std::string line; std::getline(lines, line);)
    threads += line.find("clone") != std::string::npos &&
               line.find("CLONE_THREAD") != std::string::npos;
  return threads;
}

// The processors that a CPU quota of this process's control group allows
// (cgroup v2 cpu.max), or `count` when there is none.
int quota_allows(int count) {
  std::istringstream groups(common::slurp("/proc/self/cgroup"));
  for (std::string line; std::getline(groups, line);) {
    if (line.compare(0, 3, "0::") != 0)
      continue;
    std::istringstream max(
        common::slurp("/sys/fs/cgroup" + line.substr(3) + "/cpu.max"));
    long long quota = 0, period = 0;
    if (max >> quota >> period && quota > 0 && period > 0)
      return int(std::min<long long>(count, (quota + period - 1) / period));
  }
  return count;
}

// Runs c on one processor and then on all; returns what one gave.
Result expect_same_on_all(const Case &c) {
  SCOPED_TRACE(c.name);
  common::scratch dir("differential");
  const std::string &base = dir.base;
  if (base.empty()) {
    ADD_FAILURE() << "no scratch directory";
    return {};
  }
  Result one = run(c, base, true);
  EXPECT_NE(127, one.status) << "the program did not start";
  for (int i = 0; i < RUNS_ON_ALL; i++) {
    Result all = run(c, base, false);
    EXPECT_EQ(one.out, all.out) << "standard output, run " << i;
    EXPECT_EQ(one.err, all.err) << "standard error, run " << i;
    EXPECT_EQ(one.merged, all.merged) << "merged streams, run " << i;
    EXPECT_EQ(common::ending(one), common::ending(all)) << "end, run " << i;
    EXPECT_EQ(one.tree, all.tree) << "files left, run " << i;
  }
  return one;
}

// `n` bytes of mixed text: letters of both cases, CR LF and lone LF and CR,
// now and then a 0x1A when `marker`; CR, LF or 0x1A also stand at block
// edges.
std::string text(std::mt19937 &rng, std::size_t n, bool marker) {
  static const char BYTES[] = "aBcDeFgHiJ \r\n\r\n.,;\r";
  std::string s(n, ' ');
  for (auto &b : s)
    b = BYTES[rng() % (sizeof BYTES - 1)];
  for (std::size_t edge = BLOCK; edge < n; edge += BLOCK)
    s[edge - 1] = "\r\n\x1a"[rng() % (marker ? 3 : 2)];
  if (marker && n > 0 && rng() % 4 == 0)
    s[rng() % n] = '\x1a';
  return s;
}

// Files of 0 bytes to several blocks in a few directories, with stems that
// repeat and hard and symbolic links between sources and targets.
Tree random_tree(unsigned seed) {
  std::mt19937 rng(seed);
  const char *dirs[] = {"", "d/", "d/e/", "f/"};
  const char *exts[] = {".txt", ".c", ".lo", ""};
  Tree t;
  std::vector<std::string> names, plain; // all, and the plain files
  for (int i = 0; i < 40; i++) {
    std::string dir = dirs[rng() % 4];
    std::string name = dir + "s" + std::to_string(rng() % 16) + exts[rng() % 4];
    bool seen = false;
    for (auto &n : names)
      seen = seen || n == name;
    if (seen)
      continue;
    std::size_t size = rng() % 8 == 0 ? rng() % (3 * BLOCK) : rng() % 3000;
    unsigned kind = rng() % 10;
    if (kind == 0 && !plain.empty())
      t[name] = hardlink(plain[rng() % plain.size()]);
    else if (kind == 1 && !names.empty())
      t[name] =
          symlink(fs::path(names[rng() % names.size()]).filename().string());
    else
      t[name] = file(text(rng, size, rng() % 2 == 0)), plain.push_back(name);
    names.push_back(name);
  }
  return t;
}

Tree many(const std::string &dir, int n, const std::string &data) {
  Tree t;
  for (int i = 0; i < n; i++)
    t[dir + "f" + std::to_string(i) + ".txt"] = file(data);
  return t;
}

class Differential : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(common::program().empty())
        << "MORVIDEX must name the program by its absolute path";
    cpu_set_t set;
    ASSERT_EQ(0, sched_getaffinity(0, sizeof set, &set));
    if (CPU_COUNT(&set) < 2 || !CPU_ISSET(0, &set))
      GTEST_SKIP() << "needs processor 0 and at least one more";
  }
};

TEST_F(Differential, NamesThatMeet) {
  const std::string small = "Some Text\r\nMore\n";
  const Tree base = many("", 12, small);
  // A large file in b, converted on one thread while the other runs ahead
  // through a and c.
  const Tree ahead = many("c/", 8, small) +
                     Tree{{"b/big.txt", file(std::string(32 * BLOCK, 'Q'))},
                          {"a/a.txt", file("A\n")},
                          {"c/z.txt", file("Z\n")}};
  Tree taken;
  for (const char *stem : {"c/y1", "c/y2", "c/y3", "c/y4"}) {
    taken[std::string(stem) + ".txt"] = file(stem);
    taken[std::string(stem) + ".lo"] = file("old\n");
  }
  const Tree stems = base + Tree{{"a.txt", file("A txt\n")},
                                 {"a.c", file("A C\n")},
                                 {"a", file("A\n")}};
  const std::vector<Case> table = {
      {"same stems", {"-l", "*"}, stems},
      {"same stems as operands",
       {"-u", "a.txt", "f1.txt", "a.c", "f2.txt", "a"},
       stems},
      {"target is a hard link to a later source",
       {"-l", "*"},
       base + Tree{{"b.txt", file("B\n")},
                   {"a.txt", file("A\n")},
                   {"a.lo", hardlink("b.txt")}}},
      {"target is a symbolic link to a later source",
       {"-l", "a.txt", "f3.txt", "c.txt"},
       base + Tree{{"c.txt", file("C\n")},
                   {"a.txt", file("A\n")},
                   {"a.lo", symlink("c.txt")}}},
      // One thread converts b/big.txt while the other finds a/a.lo taken
      // and runs on through c: what ran ahead must be undone.
      {"taken target linked to a source that ran ahead",
       {"-ld", "b", "a", "c"},
       ahead + Tree{{"a/a.lo", hardlink("c/z.txt")}}},
      {"target made through a link by an earlier conversion",
       {"-ld", "b", "a", "c"},
       ahead + Tree{{"a/a.lo", symlink("../c/z.lo")}}},
      // All of c is converted while b/big.txt is, then reported in one go:
      // a taken target there undoes only what comes after it.
      {"taken targets among conversions done ahead",
       {"-ld", "b", "c"},
       ahead + taken},
      {"source is a symbolic link to an earlier target",
       {"-l", "a.txt", "f4.txt", "s.txt", "f5.txt"},
       base + Tree{{"a.txt", file("A\n")}, {"s.txt", symlink("a.lo")}}},
      {"one file named several ways",
       {"-l", "a.txt", "./a.txt", "d/../a.txt", "f6.txt", "a.txt"},
       base + Tree{{"a.txt", file("A\n")}, {"d/x", file("x")}}},
      {"a target that a later operand reads",
       {"-l", "a.txt", "f7.txt", "a.lo"},
       base + Tree{{"a.txt", file("A\n")}}},
      {"files the walk creates",
       {"-lr", "."},
       base +
           Tree{{".profile", file("P\n")},
                {".up", file("U\n")},
                {"d/.x", file("X\n")}} +
           many("d/", 40, small)},
      {"the same directory twice",
       {"-ld", "d", "d", "./d"},
       many("d/", 30, small)},
      {"large files among small ones",
       {"-lr", "."},
       base + Tree{{"big.txt", file(std::string(3 * BLOCK + 7, 'Q') + "\r\n")},
                   {"d/big.txt",
                    file(std::string(2 * BLOCK, 'w') + "\x1a" + "z")}}}};
  for (const Case &c : table)
    expect_same_on_all(c);
}

// More directories with conversions pending than are held open at once:
// twenty levels of ten files each.
// Root converts a tree of another user's with conversions run ahead: links
// and targets of theirs are refused, private files give private copies,
// the same ones on one processor and on all.
TEST_F(Differential, AnotherUsersTree) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root to give the tree to another user";
  Tree t = {{"keep.txt", file("Kept Outside\n")}};
  for (int i = 0; i < 24; i++) {
    std::string n = std::to_string(100 + i);
    t["u/f" + n + ".txt"] = file("File " + n + "\n", i % 3 == 0 ? 0600 : 0644);
    t["u/d/g" + n + ".txt"] =
        file("Deep " + n + "\n", i % 2 == 0 ? 0640 : 0604);
  }
  t["u/f105.lo"] = symlink("../keep.txt");   // a target link of theirs
  t["u/f107.lo"] = hardlink("u/f101.txt");   // a target with two names
  t["u/f110.lo"] = file("Old\r\n", 0666);    // their own old target
  t["u/s.txt"] = symlink("../keep.txt");     // a source link of theirs
  t["u/d/g103.lo"] = symlink("nowhere.dat"); // a dangling one
  Case c{"another user's tree", {"-lr", "u"}, t};
  c.foreign = "u";
  expect_same_on_all(c);
}

TEST_F(Differential, DeepTree) {
  Tree t;
  std::string dir;
  for (int level = 0; level < 20; level++) {
    dir += "l" + std::to_string(level) + "/";
    t = t + many(dir, 10, "Level " + std::to_string(level) + "\n");
  }
  expect_same_on_all({"twenty levels", {"-lr", "l0"}, t});
}

// More conversions pending than the scheduler holds at once, so that it
// reports while full and wraps around: eight directories of 200 files,
// among them names too long to be kept side by side, and in the last one
// a stem shared with a file converted ahead.  On a tmpfs where one can be
// had, since laying down the files eight times takes a disk a while.
TEST_F(Differential, MoreThanTheSchedulerHolds) {
  Tree t;
  for (int d = 0; d < 8; d++) {
    std::string dir = "t/d" + std::to_string(d) + "/";
    t = t + many(dir, 200, "Wrap\r\n");
    for (int i = d; i < 200; i += 41)
      t[dir + std::string(60, 'N') + std::to_string(i) + ".txt"] = file("N");
  }
  t["t/d7/f190.c"] = file("C\n");
  Case c{"more than the scheduler holds", {"-lr", "t"}, t};
  if (geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
      mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0)
    c.limits.disk_kib = 64 * 1024;
  expect_same_on_all(c);
}

TEST_F(Differential, RandomTrees) {
  for (unsigned seed = 1; seed <= 6; seed++) {
    const Tree t = random_tree(seed);
    expect_same_on_all(
        {"random tree " + std::to_string(seed), {"-lr", "."}, t});
    expect_same_on_all({"random tree by pattern " + std::to_string(seed),
                        {"-ur", "*.txt"},
                        t});
  }
}

// A walk that ends the process: everything before is delivered, nothing
// after is started.
TEST_F(Differential, FatalExits) {
  const Tree t =
      many("a/", 20, "Aa\n") + many("b/", 20, "Bb\n") + many("c/", 20, "Cc\n");
  expect_same_on_all(
      {"missing directory operand", {"-ld", "a", "b", "none", "c"}, t});
  expect_same_on_all(
      {"file as a directory operand", {"-ld", "a", "b/f1.txt", "c"}, t});
}

TEST_F(Differential, DescriptorLimits) {
  const Tree t = many("", 30, "Text\n") + many("d/", 30, "More\n") +
                 Tree{{"big.txt", file(std::string(2 * BLOCK + 1, 'x'))}};
  int short_of_descriptors = 0;
  for (long files : {5, 6, 7, 8, 9, 10, 12, 16, 256}) {
    Case c{
        "at most " + std::to_string(files) + " descriptors", {"-lr", "."}, t};
    c.limits.files = files;
    short_of_descriptors += expect_same_on_all(c).err.find(
                                "Too many open files") != std::string::npos;
  }
  EXPECT_GT(short_of_descriptors, 0) << "no limit was ever reached";
}

// Under descriptor limits of 256 and more, conversions run ahead on worker
// threads, with the same bytes as on one processor; on one processor no
// thread starts, nor below 256 while every file is shorter than two blocks
// (the blocks of a larger one are converted side by side whatever the
// limit).  The trees hold several directories of more files than start
// the workers, and the large one files of several blocks too.  Each row is
// compared byte for byte, then run once more under strace on processor 0
// and on all to count the threads the program started.
TEST_F(Differential, RunningAheadUnderDescriptorLimits) {
  cpu_set_t set;
  ASSERT_EQ(0, sched_getaffinity(0, sizeof set, &set));
  if (quota_allows(CPU_COUNT(&set)) < 2)
    GTEST_SKIP() << "the control group's CPU quota allows one processor";
  std::mt19937 rng(256);
  const Tree small = many("", 10, "Top Level\r\n") + many("a/", 12, "In A\n") +
                     many("a/b/", 12, "In B\r\n") + many("c/", 16, "In C\n") +
                     Tree{{"c/notes", file("No Stem\n")},
                          {"a/.hidden.txt", file("Hidden\n")},
                          {"a/b/s.txt", symlink("f3.txt")}};
  const Tree large =
      small + Tree{{"a/big.txt", file(text(rng, 5 * BLOCK + 3, true))},
                   {"c/big.c", file(text(rng, 3 * BLOCK, false))},
                   {"a/b/edge.txt", file(text(rng, 2 * BLOCK, true))}};
  // Targets already there: one plain, one a hard link to a source.
  const Tree taken = small + Tree{{"c/f3.lo", file("Old\n")},
                                  {"a/f11.lo", hardlink("a/f2.txt")}};
  struct Row {
    Case c;
    bool ahead; // threads start on all processors
  };
  const std::vector<Row> table = {
      {{"small files, at most 255 descriptors", {"-lr", "."}, small, {255}},
       false},
      {{"small files, at most 256 descriptors", {"-lr", "."}, small, {256}},
       true},
      {{"small files, at most 1024 descriptors", {"-lr", "."}, small, {1024}},
       true},
      {{"directory operands, at most 300 descriptors",
        {"-ud", "c", "a", "a/b"},
        small,
        {300}},
       true},
      {{"taken targets, at most 300 descriptors", {"-lr", "."}, taken, {300}},
       true},
      {{"large files, at most 300 descriptors", {"-ur", "."}, large, {300}},
       true},
      {{"large files, at most 1024 descriptors", {"-lr", "."}, large, {1024}},
       true}};
  // On a tmpfs where one can be had, since laying the trees down ten times
  // each takes a disk a while.
  long disk_kib =
      geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
              mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
          ? 64 * 1024
          : -1;
  for (Row row : table) {
    SCOPED_TRACE(row.c.name);
    row.c.limits.disk_kib = disk_kib;
    Result one = expect_same_on_all(row.c);
    EXPECT_EQ(std::string::npos, one.err.find("Too many open files"));
    common::scratch dir("differential");
    ASSERT_FALSE(dir.base.empty()) << "no scratch directory";
    EXPECT_EQ(0, threads_started(row.c, dir.base, one.out, true))
        << "threads started on processor 0 alone";
    int threads = threads_started(row.c, dir.base, one.out, false);
    if (row.ahead)
      EXPECT_GT(threads, 0) << "no thread started on all processors";
    else
      EXPECT_EQ(0, threads) << "threads started on all processors";
  }
}

// A disk that fills midway: tmpfs mounts of a few sizes in a mount
// namespace of this test's own.
TEST_F(Differential, FullDisk) {
  if (geteuid() != 0)
    GTEST_SKIP() << "mounting a small tmpfs needs root";
  if (unshare(CLONE_NEWNS) != 0 ||
      mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    GTEST_SKIP() << "no mount namespace of its own (unshare -m)";
  const Tree t = many("", 25, std::string(5000, 'T') + "\n") +
                 many("d/", 25, std::string(3000, 'u') + "\n") +
                 Tree{{"big.txt", file(std::string(2 * BLOCK + 5, 'B'))}};
  int full = 0, roomy = 0;
  for (long kib : {900, 1000, 1200, 1400, 1600, 2400}) {
    Case c{"a disk of " + std::to_string(kib) + " KiB", {"-lr", "."}, t};
    c.limits.disk_kib = kib;
    std::string err = expect_same_on_all(c).err;
    full += err.find("No space left on device") != std::string::npos;
    roomy += err.empty();
  }
  EXPECT_GT(full, 0) << "no disk filled up";
  EXPECT_GT(roomy, 0) << "no disk held every target";
}

} // namespace

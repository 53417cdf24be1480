// No run changes a source and no failure looks like success, whatever
// fails: each system call of the program in turn, the address space at
// every size from just enough to start up to plenty, a file system that
// fills up, and a link put in place of the target while it is opened.
#include "fault_harness.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

using namespace fault;

namespace {

using common::BANNER;
const char LABEL_OPEN_OUTPUT[] = "Can't open output file.";
const char LABEL_WRITE_OUTPUT[] = "Can't write output file.";

constexpr long long KIB = 1024;
constexpr long long MIB = 1024 * KIB;
// Address-space limits move by a page, from the least limit that reaches
// main up to this much above the least one that converts like no limit.
constexpr long long PAGE = 4 * KIB;
constexpr long long SCAN_MARGIN = 256 * KIB;

// How long the target's open is held while the test swaps the target.
const char RACE_DELAY_MICROSECONDS[] = "1000000";
constexpr int RACE_WAIT_SECONDS = 10;

// Text with CR LF lines of mixed case, a lone LF every 97 lines and a
// lone CR every 89, cut to `size` bytes.
std::string mixed_text(std::size_t size) {
  std::string text;
  char line[64];
  for (int i = 0; text.size() < size; i++) {
    std::snprintf(line, sizeof line, "Line %05d Mixed CASE Text%s\n", i,
                  i % 89 == 0   ? " lone\r CR"
                  : i % 97 == 0 ? ""
                                : "\r");
    text += line;
  }
  return text.substr(0, size);
}

const std::string BIG = mixed_text(300 * KIB);
const conversion BIG_LO = {"big.txt", "big.lo"};
const common::Tree BIG_TXT = {{"big.txt", common::file(BIG)}};

const std::vector<scenario> &scenarios() {
  static const std::vector<scenario> table = {
      {"new_target", {"-l", "big.txt"}, {BIG_TXT}, {BIG_LO}, true},
      {"existing_target",
       {"-l", "big.txt"},
       BIG_TXT + common::Tree{{"big.lo", common::file("Old Target\r\n")}},
       {BIG_LO},
       true},
      {"hard_link_target",
       {"-l", "big.txt"},
       BIG_TXT + common::Tree{{"big.lo", common::hardlink("big.txt")}},
       {BIG_LO},
       false},
      {"symlink_target",
       {"-l", "big.txt"},
       BIG_TXT + common::Tree{{"big.lo", common::symlink("big.txt")}},
       {BIG_LO},
       false},
      {"linked_target",
       {"-l", "big.txt"},
       BIG_TXT + common::Tree{{"keep/real.dat", common::file("Old\r\n")},
                              {"big.lo", common::symlink("keep/real.dat")}},
       {BIG_LO},
       true},
      {"tree_walk",
       {"-lr", "d"},
       {{"d/one.txt", common::file(mixed_text(1000))},
        {"d/two.txt", common::file("Ab\r\nC\x1a"
                                   "DEF\r\n")},
        {"d/sub/three.txt", common::file(mixed_text(150 * KIB))},
        {"d/sub/four.txt", common::file("")}},
       {{"d/one.txt", "d/one.lo"},
        {"d/two.txt", "d/two.lo"},
        {"d/sub/three.txt", "d/sub/three.lo"},
        {"d/sub/four.txt", "d/sub/four.lo"}},
       true},
  };
  return table;
}

// A workspace removed when the test leaves it, also on a fatal failure.
struct scratch {
  common::scratch dir;
  workspace ws;
  explicit scratch(const std::string &name)
      : dir("fault-" + name), ws{dir.base, dir.base + "/w"} {}
};

std::string scenario_name(const testing::TestParamInfo<std::size_t> &info) {
  return scenarios()[info.param].name;
}

std::string joined(const std::vector<std::string> &lines) {
  std::string r;
  for (const std::string &line : lines)
    r += "\n    " + line;
  return r;
}

// What a run without faults gives: every target converted with its
// progress line, or the one target refused as the source itself.
void expect_plain(const scenario &s, const checked_run &r) {
  EXPECT_TRUE(r.broken.empty()) << "without faults:" << joined(r.broken);
  for (std::size_t i = 0; i < s.conversions.size() && s.converts; i++) {
    const conversion &c = s.conversions[i];
    EXPECT_EQ(convert_lower(contents(r.before, c.source)),
              contents(r.after, c.target))
        << c.target;
    EXPECT_NE(std::string::npos, r.o.out.find(progress_line(c))) << r.o.out;
  }
  EXPECT_EQ(s.converts ? "" : diag(LABEL_OPEN_OUTPUT, "File already exists"),
            r.o.err);
}

// The program's own calls in a plain traced run, which is checked too.
std::vector<own_call> traced_calls(const workspace &ws, const scenario &s) {
  std::string trace = ws.base + "/trace";
  checked_run r = run_checked(ws, s, {"strace", "-f", "-o", trace});
  expect_plain(s, r);
  std::vector<own_call> calls = own_calls(slurp(trace));
  EXPECT_FALSE(calls.empty()) << "no call from fcntl(0, F_GETFD) on in:\n"
                              << slurp(trace).substr(0, 4000);
  return calls;
}

// The system never fails brk with an errno: it refuses to move the break
// and returns the old one, which the C library then takes for a failure.
// An injected errno would be taken for the new break, so a refused brk
// returns 0 instead, which the C library takes for a failure as well and
// then asks for the break afresh.
const char BRK[] = "brk";
const char BRK_REFUSED[] = "retval=0";

// The calls that only make threads wait for each other are never failed:
// their failure is a fault of the program, never a condition a run meets.
const char WAIT[] = "futex";

std::vector<int> errors_for(const std::string &call) {
  if (call == WAIT)
    return {};
  if (call == BRK)
    return {ENOMEM};
  if (call == "write")
    return {EIO, ENOMEM, EINTR, ENOSPC};
  return {EIO, ENOMEM, EINTR};
}

std::string how_failed(const own_call &c, int error) {
  return c.name == BRK ? BRK_REFUSED
                       : std::string("error=") + error_name(error);
}

// Fails one occurrence of one call; only that call is traced.
std::vector<std::string> injecting(const own_call &c, int error) {
  return {"strace",
          "-f",
          "-o",
          "/dev/null",
          "-e",
          "trace=" + c.name,
          "-e",
          "inject=" + c.name + ":" + how_failed(c, error) +
              ":when=" + std::to_string(c.when)};
}

// A test of one scenario, in a scratch directory of its own.
class ScenarioTest : public testing::TestWithParam<std::size_t> {
protected:
  void SetUp() override {
    ASSERT_FALSE(program().empty()) << "MORVIDEX must name the program";
    ASSERT_FALSE(ws.base.empty()) << "mkdtemp failed";
  }
  const scenario &s = scenarios()[GetParam()];
  scratch dir{s.name};
  const workspace &ws = dir.ws;
};

class FaultInjection : public ScenarioTest {};

TEST_P(FaultInjection, each_own_call_fails_in_turn) {
  std::vector<own_call> calls = traced_calls(ws, s);
  ASSERT_FALSE(calls.empty());
  int runs = 0, failed = 0;
  std::map<std::string, int> occurrence;
  for (const own_call &c : calls) {
    int k = ++occurrence[c.name];
    for (int error : errors_for(c.name)) {
      injection fault{c, error};
      checked_run r = run_checked(ws, s, injecting(c, error), -1, &fault);
      runs++;
      if (r.broken.empty())
        continue;
      failed++;
      ADD_FAILURE() << s.name << ": own " << c.name << " #" << k
                    << " (when=" << c.when << ") failed, "
                    << how_failed(c, error) << ":" << joined(r.broken);
    }
  }
  std::printf("%s: %d fault-injection runs, %d broke a promise\n",
              s.name.c_str(), runs, failed);
}

INSTANTIATE_TEST_SUITE_P(Scenario, FaultInjection,
                         testing::Range<std::size_t>(0, scenarios().size()),
                         scenario_name);

// Descriptors 0 to 2 that the caller left closed are taken by the null
// device before anything else is opened: no source, target or listing may
// take the place of standard output or standard error, where messages
// meant for them would reach it.
TEST(FaultDescriptors, closed_standard_descriptors_never_go_to_files) {
  ASSERT_FALSE(program().empty()) << "MORVIDEX must name the program";
  struct row {
    const char *name;
    const char *closing; // the shell's redirections before the program
  };
  const row table[] = {
      {"output", ">&-"},
      {"error", "2>&-"},
      {"input and output", "<&- >&-"},
      {"input and error", "<&- 2>&-"},
      {"all three", "<&- >&- 2>&-"},
  };
  const scenario &s = scenarios().back();
  scratch dir("closed");
  ASSERT_FALSE(dir.ws.base.empty()) << "mkdtemp failed";
  std::string trace = dir.ws.base + "/trace";
  for (const row &r : table) {
    SCOPED_TRACE(r.name);
    checked_run run = run_checked(
        dir.ws, s,
        {"strace", "-f", "-o", trace, "-e", "trace=fcntl,openat", "sh", "-c",
         std::string("exec \"$0\" \"$@\" ") + r.closing});
    EXPECT_TRUE(run.broken.empty()) << joined(run.broken);
    for (const conversion &c : s.conversions)
      EXPECT_EQ(convert_lower(contents(run.before, c.source)),
                contents(run.after, c.target))
          << c.target;
    std::vector<own_call> calls = own_calls(slurp(trace));
    EXPECT_FALSE(calls.empty()) << "no call from fcntl(0, F_GETFD) on";
    for (const own_call &c : calls)
      if (c.name == "openat" && c.result >= 0 && c.result <= 2 &&
          c.path != "/dev/null")
        ADD_FAILURE() << "'" << c.path << "' took descriptor " << c.result;
  }
}

// The least limit in (lo, hi] for which holds(limit) is true, a page at a
// time, for a condition true at hi that stays true above where it turns.
long long least_limit(long long lo, long long hi,
                      const std::function<bool(long long)> &holds) {
  while (hi - lo > PAGE) {
    long long mid = (lo + hi) / 2 / PAGE * PAGE;
    (holds(mid) ? hi : lo) = mid;
  }
  return hi;
}

// Whether the program reaches its first own call under the limit: below
// that the dynamic loader fails, which is not the program's doing.
bool reaches_main(const workspace &ws, const scenario &s, long long limit) {
  std::string trace = ws.base + "/trace";
  if (!lay_down(ws, s))
    return false;
  run_in(ws, common::command({"strace", "-o", trace, "-e", "trace=execve,fcntl",
                              "prlimit", "--as=" + std::to_string(limit), "--"},
                             s.args));
  std::string text = slurp(trace);
  std::size_t exec = text.find("execve(\"" + program() + "\"");
  return exec != std::string::npos &&
         text.find("fcntl(0, F_GETFD)", exec) != std::string::npos;
}

bool same_result(const scenario &s, const checked_run &a,
                 const checked_run &b) {
  bool same = a.o == b.o;
  for (const conversion &c : s.conversions)
    for (const std::string &name : {c.source, c.target})
      same = same && holds_same(a.after, b.after, name, false);
  return same;
}

struct tally {
  int runs = 0, failed = 0;
};

// Runs the scenario under every limit from `from` to `to`, a page apart;
// neighbouring limits that break the same promises are told once.
tally scan_limits(const workspace &ws, const scenario &s, long long from,
                  long long to) {
  tally t;
  long long first = from;
  std::vector<std::string> last;
  for (long long limit = from; limit <= to + PAGE; limit += PAGE) {
    std::vector<std::string> broken;
    if (limit <= to) {
      broken = run_checked(ws, s, {}, limit).broken;
      t.runs++;
      t.failed += !broken.empty();
    }
    if (broken == last)
      continue;
    if (!last.empty())
      ADD_FAILURE() << s.name << ": address space limited to " << first / KIB
                    << " to " << (limit - PAGE) / KIB
                    << " KiB, at every page:" << joined(last);
    first = limit;
    last = broken;
  }
  return t;
}

class FaultAddressSpace : public ScenarioTest {};

TEST_P(FaultAddressSpace, every_limit_from_start_up_to_plenty) {
  checked_run plain = run_checked(ws, s, {});
  expect_plain(s, plain);
  ASSERT_TRUE(reaches_main(ws, s, 256 * MIB)) << "no start under 256 MiB";
  long long start = least_limit(MIB, 256 * MIB, [&](long long limit) {
    return reaches_main(ws, s, limit);
  });
  long long plenty = least_limit(start - PAGE, 1024 * MIB, [&](long long l) {
    return same_result(s, plain, run_checked(ws, s, {}, l));
  });
  tally t = scan_limits(ws, s, start, plenty + SCAN_MARGIN);
  std::printf("%s: starts at %lld KiB, converts as unlimited from %lld KiB; "
              "%d limits run, %d broke a promise\n",
              s.name.c_str(), start / KIB, plenty / KIB, t.runs, t.failed);
}

INSTANTIATE_TEST_SUITE_P(Scenario, FaultAddressSpace,
                         testing::Range<std::size_t>(0, scenarios().size()),
                         scenario_name);

// A 64 KiB file system holds the source but not its conversion as well.
TEST(FaultDisk, full_file_system_fails_the_copy) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root (unshare, mount)";
  ASSERT_FALSE(program().empty()) << "MORVIDEX must name the program";
  scratch dir("full");
  const workspace &ws = dir.ws;
  ASSERT_FALSE(ws.base.empty()) << "mkdtemp failed";
  std::filesystem::create_directories(ws.root);
  const std::string source = mixed_text(40000);
  std::ofstream(ws.base + "/source", std::ios::binary) << source;
  // The states are taken inside the mount namespace, which ends with it.
  const char script[] =
      "mount -t tmpfs -o size=64k morvidex-fault \"$PWD\" && cd \"$PWD\" && "
      "cp ../source big.txt && stat -c '%F %i' big.txt >../before || exit 9\n"
      "\"$0\" -l big.txt; status=$?\n"
      "stat -c '%F %i' big.txt >../after; cp big.txt ../source-after\n"
      "ls -A >../listing; exit $status";
  outcome o =
      run_in(ws, common::command({"unshare", "-m", "sh", "-c", script}, {}));
  std::string before = slurp(ws.base + "/before");
  ASSERT_FALSE(before.empty()) << "no tmpfs could be mounted: " << o.err;
  EXPECT_EQ(0, o.signal);
  EXPECT_EQ(0, o.status);
  EXPECT_EQ(BANNER, o.out) << "only the banner, no progress line";
  EXPECT_EQ(diag(LABEL_WRITE_OUTPUT, "No space left on device"), o.err);
  EXPECT_EQ("big.txt\n", slurp(ws.base + "/listing")) << "a target is left";
  EXPECT_EQ(0u, before.rfind("regular file ", 0)) << before;
  EXPECT_EQ(before, slurp(ws.base + "/after")) << "the source was replaced";
  EXPECT_TRUE(source == slurp(ws.base + "/source-after"))
      << "the source was changed";
}

// Standard output in a file on a full 64 KiB file system: the banner and
// ten progress lines of empty sources (73 + 10 * 42 bytes) fill the
// 512-byte buffer, the eleventh line's write-out fails, and the batch is
// lost together with that line.  Emptying the old 8 KiB a.lo then frees
// space, so the lines after it reach the file at exit.
TEST(FaultDisk, failed_batch_of_standard_output_takes_its_piece_along) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root (unshare, mount)";
  ASSERT_FALSE(program().empty()) << "MORVIDEX must name the program";
  scratch dir("stdout");
  const workspace &ws = dir.ws;
  ASSERT_FALSE(ws.base.empty()) << "mkdtemp failed";
  std::filesystem::create_directories(ws.root);
  std::string sources, targets;
  for (int i = 1; i <= 11; i++) {
    std::string stem = (i < 10 ? "e0" : "e") + std::to_string(i);
    sources += " " + stem + ".txt";
    targets += stem + ".lo\n" + stem + ".txt\n";
  }
  const std::string script =
      "mount -t tmpfs -o size=64k morvidex-fault \"$PWD\" && cd \"$PWD\" && "
      "touch" +
      sources +
      " a.txt z.txt && head -c 8192 /dev/zero >a.lo && "
      "{ dd if=/dev/zero of=fill bs=4096 2>/dev/null; touch ../filled; } || "
      "exit 9\n"
      "\"$0\" -l" +
      sources +
      " a.txt z.txt >out 2>../stderr; status=$?\n"
      "cp out ../stdout; ls -A | sort >../listing; exit $status";
  outcome o =
      run_in(ws, common::command({"unshare", "-m", "sh", "-c", script}, {}));
  ASSERT_TRUE(std::filesystem::exists(ws.base + "/filled"))
      << "no full tmpfs could be made: " << o.err;
  EXPECT_EQ(0, o.signal);
  EXPECT_EQ(0, o.status);
  EXPECT_EQ("Translate file 'a.txt' to file 'a.lo'\r\n"
            "Translate file 'z.txt' to file 'z.lo'\r\n",
            slurp(ws.base + "/stdout"));
  EXPECT_EQ("", slurp(ws.base + "/stderr"));
  EXPECT_EQ("a.lo\na.txt\n" + targets + "fill\nout\nz.lo\nz.txt\n",
            slurp(ws.base + "/listing"));
}

// The pid of the only child of `parent`, or 0.
pid_t only_child(pid_t parent) {
  std::string path = "/proc/" + std::to_string(parent) + "/task/" +
                     std::to_string(parent) + "/children";
  return static_cast<pid_t>(std::atol(slurp(path).c_str()));
}

// Whether pid is held in an openat of `name`.
bool held_opening(pid_t pid, const std::string &name) {
  std::string proc = "/proc/" + std::to_string(pid);
  std::istringstream call(slurp(proc + "/syscall"));
  long number = -1;
  unsigned long long dir = 0, path = 0;
  call >> number >> std::hex >> dir >> path;
  if (number != SYS_openat || path == 0)
    return false;
  std::ifstream mem(proc + "/mem", std::ios::binary);
  std::string read(name.size() + 1, '?');
  mem.seekg(static_cast<std::streamoff>(path));
  mem.read(read.data(), static_cast<std::streamsize>(read.size()));
  return mem && read == name + '\0';
}

bool wait_until_held(pid_t strace_pid, const std::string &name) {
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::seconds(RACE_WAIT_SECONDS);
  while (std::chrono::steady_clock::now() < deadline) {
    pid_t child = only_child(strace_pid);
    if (child > 0 && held_opening(child, name))
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

struct race_row {
  const char *name;
  bool target_exists; // big.lo holds an old target before the run
  common::Kind link;  // what replaces big.lo while its open is held
};

const race_row RACE_TABLE[] = {
    {"hard link replaces the old target", true, common::Kind::hardlink},
    {"symlink replaces the old target", true, common::Kind::symlink},
    {"hard link appears as the new target", false, common::Kind::hardlink},
    {"symlink appears as the new target", false, common::Kind::symlink},
};

// The link is made beside big.lo and renamed over it, in one step.
bool put_link(const workspace &ws, common::Kind link) {
  std::string made = ws.root + "/big.lo.new";
  bool ok = link == common::Kind::hardlink
                ? ::link((ws.root + "/big.txt").c_str(), made.c_str()) == 0
                : symlink("big.txt", made.c_str()) == 0;
  return ok && rename(made.c_str(), (ws.root + "/big.lo").c_str()) == 0;
}

// The source kept, as the same regular file, and the target refused.
void expect_refused(const Tree &before, const Tree &after, const outcome &o) {
  const common::Node *source = entry(after, BIG_LO.source);
  EXPECT_TRUE(source != nullptr && source->kind == common::Kind::file)
      << describe(after, BIG_LO.source);
  EXPECT_TRUE(holds_same(before, after, BIG_LO.source, true))
      << "the source changed or was replaced: was "
      << describe(before, BIG_LO.source) << ", now "
      << describe(after, BIG_LO.source);
  EXPECT_EQ(0, o.signal);
  EXPECT_EQ(0, o.status);
  EXPECT_EQ(BANNER, o.out) << "only the banner, no progress line";
  EXPECT_EQ(diag(LABEL_OPEN_OUTPUT, "File already exists"), o.err);
}

void run_race(const race_row &row) {
  SCOPED_TRACE(row.name);
  scenario s = {"race", {"-l", "big.txt"}, {BIG_TXT}, {BIG_LO}, true};
  if (row.target_exists)
    s.files["big.lo"] = common::file("Old Target\r\n");
  scratch dir("race");
  const workspace &ws = dir.ws;
  ASSERT_FALSE(ws.base.empty()) << "mkdtemp failed";
  int when = 0;
  for (const own_call &c : traced_calls(ws, s))
    if (c.name == "openat" && c.path == "big.lo")
      when = c.when;
  ASSERT_NE(0, when) << "the trace shows no open of big.lo";
  ASSERT_TRUE(lay_down(ws, s));
  Tree before = common::read_tree(ws.root);
  pid_t pid = start_in(
      ws,
      common::command(
          {"strace", "-f", "-o", "/dev/null", "-e", "trace=openat", "-e",
           "inject=openat:delay_enter=" + std::string(RACE_DELAY_MICROSECONDS) +
               ":when=" + std::to_string(when)},
          s.args));
  bool held = wait_until_held(pid, "big.lo");
  bool linked = held && put_link(ws, row.link);
  outcome o = wait_for(ws, pid);
  ASSERT_TRUE(held) << "the program was never seen opening big.lo";
  ASSERT_TRUE(linked) << "cannot put the link in place of big.lo";
  expect_refused(before, common::read_tree(ws.root), o);
}

TEST(FaultRace, link_to_the_source_made_while_the_target_opens) {
  ASSERT_FALSE(program().empty()) << "MORVIDEX must name the program";
  for (const race_row &row : RACE_TABLE)
    run_race(row);
}

} // namespace

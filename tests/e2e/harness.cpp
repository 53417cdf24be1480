#include "harness.h"

#include "platform.h"

#include "common/runner.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>

namespace e2e {
namespace fs = std::filesystem;

const std::string USAGE =
    "usage:\r\n"
    "    morvidex -{l|u}[f] filename - translate file(s)\r\n"
    "    morvidex -{l|u} *\t\t- translate file(s) in current directory\r\n"
    "    morvidex -{l|u}{d|D} dirname(s) - translate file(s) in "
    "directory(ies)\r\n"
    "    morvidex -{l|u}{r|R} dirname(s) - recursive translate file(s)\r\n"
    "\t\t\t\t\t\tin directory(ies)\r\n\r\n\tl - to lower register;\r\n\tu - to "
    "upper register\r\n\r\n";
const std::string TEXT = "Mixed Case\n", LOWER = "mixed case\r\n",
                  UPPER = "MIXED CASE\r\n";

namespace {

// Ten rows of 16 bytes from `from`, the byte at `mark` flagged with '>'.
std::string hex_rows(const std::string &s, size_t from, size_t mark) {
  std::string r;
  char buf[32];
  for (size_t row = from; row < s.size() && row < from + 160; row += 16) {
    std::string hex, text;
    for (size_t i = row; i < row + 16; ++i) {
      unsigned char ch = i < s.size() ? s[i] : ' ';
      std::snprintf(buf, sizeof buf, i < s.size() ? "%c%02x" : "   ",
                    i == mark ? '>' : ' ', ch);
      hex += buf;
      text += ch >= 0x20 && ch < 0x7f ? static_cast<char>(ch) : '.';
    }
    std::snprintf(buf, sizeof buf, "%08zx", row);
    r += buf + hex + " |" + text + "|\n";
  }
  return r;
}

void compare_bytes(const std::string &what, const std::string &want,
                   const std::string &got) {
  if (want == got)
    return;
  size_t at = std::mismatch(want.begin(),
                            want.begin() + std::min(want.size(), got.size()),
                            got.begin())
                  .first -
              want.begin();
  size_t from = at / 16 * 16 - std::min<size_t>(at / 16 * 16, 64);
  ADD_FAILURE() << what << " differs: expected " << want.size()
                << " bytes, got " << got.size()
                << ", first difference at offset " << at << "\nexpected:\n"
                << hex_rows(want, from, at) << "actual:\n"
                << hex_rows(got, from, at);
}

std::string sorted_lines(const std::string &s) {
  std::vector<std::string> lines;
  std::istringstream in(s);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line + "\n");
  std::sort(lines.begin(), lines.end());
  std::string r;
  for (auto &line : lines)
    r += line;
  return r;
}

Tree expected_tree(const Case &c) {
  Tree t = c.files + c.made;
  for (auto it = t.begin(); it != t.end(); ++it) // emplacing keeps `it` valid
    for (fs::path q = fs::path(it->first).parent_path(); !q.empty();
         q = q.parent_path())
      t.emplace(q, dir());
  for (auto &[p, n] : t)
    n = n.kind == Kind::hardlink ? file(t[n.data].data) : Node{n.kind, n.data};
  return t;
}

void compare_trees(const Tree &want, const Tree &got) {
  for (auto &[p, n] : want) {
    auto it = got.find(p);
    if (it == got.end() || it->second.kind != n.kind)
      ADD_FAILURE() << "'" << p << "' should be a " << common::kind_name(n.kind)
                    << ", is "
                    << (it == got.end() ? "missing"
                                        : common::kind_name(it->second.kind));
    else
      compare_bytes((n.kind == Kind::symlink ? "target of '" : "content of '") +
                        p + "'",
                    n.data, it->second.data);
  }
  for (auto &[p, n] : got)
    if (!want.count(p))
      ADD_FAILURE() << "unexpected " << common::kind_name(n.kind) << " '" << p
                    << "'";
}

// base/w, or base padded with directories to an absolute path of `length`
// bytes as the program sees it.
std::string make_root(const std::string &base, size_t length) {
  std::string root = length ? base : base + "/w";
  length -= std::min(length, platform().drive_length);
  while (root.size() < length) {
    size_t left = length - root.size();
    root += "/" + std::string(left <= 201   ? left - 1
                              : left == 202 ? 199
                                            : 200,
                              'p');
  }
  fs::create_directories(root);
  return root;
}

struct Streams {
  int out, err, tty; // files for stdout and stderr; the terminal's other end
};

// Sets the child's standard streams as the case asks, in the directory
// the program starts in (removed first, if the case says so).
bool set_streams(const Case &c, Streams s) {
  int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC), p[2];
  if (null_fd < 0 || pipe(p) != 0)
    return false;
  if (c.cwd_removed &&
      (mkdir("gone", 0755) != 0 || chdir("gone") != 0 || rmdir("../gone") != 0))
    return false;
  close(p[0]); // a pipe without reader
  c.close_stdin ? close(0) : dup2(null_fd, 0);
  int out = c.output == Output::file          ? s.out
            : c.output == Output::merged      ? s.err
            : c.output == Output::broken_pipe ? p[1]
            : c.output == Output::dev_null    ? null_fd
                                              : s.tty;
  c.output == Output::closed ? close(1) : dup2(out, 1);
  dup2(c.output == Output::terminal ? s.tty : s.err, 2);
  close(p[1]);
  return true;
}

// A pseudo-terminal in raw mode, so that it adds no CR of its own.
int open_terminal(int &master) {
  master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios t;
  int slave = master < 0 || grantpt(master) || unlockpt(master)
                  ? -1
                  : open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0 || tcgetattr(slave, &t) != 0)
    return -1;
  cfmakeraw(&t);
  tcsetattr(slave, TCSANOW, &t);
  fcntl(master, F_SETFL, O_NONBLOCK);
  return slave;
}

} // namespace

Case make_case(std::vector<std::string> args, Tree files, Tree made,
               std::string out, std::string err, int status,
               std::vector<std::string> out_alt) {
  return Case{std::move(args),   std::move(files), std::move(made),
              std::move(out),    std::move(err),   status,
              std::move(out_alt)};
}

namespace {

// Lays the case's tree down under base; the directory the program runs in,
// or "" after a failure.
std::string lay_down(const Case &c, const std::string &base) {
  chmod(base.c_str(), 0755);
  if (c.cwd_length &&
      c.cwd_length < base.size() + 2 + platform().drive_length) {
    ADD_FAILURE() << base << " is too long for this case";
    return "";
  }
  const std::string root = make_root(base, c.cwd_length);
  std::string failed = common::lay_down(root, c.files);
  if (!failed.empty()) {
    ADD_FAILURE() << failed;
    return "";
  }
  std::error_code ec;
  if (c.unprivileged && geteuid() == 0)
    for (auto it = fs::recursive_directory_iterator(base, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec))
      lchown(it->path().c_str(), 65534, 65534);
  return root;
}

// The words to start: the program, as the unprivileged user through a copy
// beside the case that it can reach wherever the build lives, then the
// case's arguments.  A user other than root is unprivileged already and
// runs the program itself.  Empty after a failure.
std::vector<std::string> command_for(const Case &c, const std::string &base) {
  const common::limits limits{c.fsize_limit, -1};
  if (!c.unprivileged || geteuid() != 0)
    return common::command({}, c.args, limits);
  std::string copy = base + "/program";
  std::error_code ec;
  if (!fs::copy_file(common::program(), copy, ec)) {
    ADD_FAILURE() << "cannot copy the program: " << ec.message();
    return {};
  }
  chmod(copy.c_str(), 0755);
  return common::command(common::as_user(65534), c.args, limits, copy);
}

// Starts the command in root and waits for it, killing it after the case's
// timeout; a terminal's output is read while it runs.
common::outcome start(const Case &c, const std::string &root,
                      const std::string &base,
                      std::vector<std::string> command) {
  int flags = O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, master = -1;
  Streams s{open((base + "/stdout").c_str(), flags, 0644),
            open((base + "/stderr").c_str(), flags, 0644),
            c.output == Output::terminal ? open_terminal(master) : 0};
  if (s.out < 0 || s.err < 0 || s.tty < 0) {
    ADD_FAILURE() << "cannot set up the standard streams";
    return common::outcome{"", "", -1, 0, true};
  }
  pid_t pid = common::start(
      {std::move(command), root, [&] { return set_streams(c, s); }});
  if (s.tty > 0)
    close(s.tty);
  char buf[4096];
  std::string terminal;
  auto read_terminal = [&] {
    pollfd pf{master, POLLIN, 0};
    poll(&pf, 1, 2);
    for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;)
      terminal.append(buf, n);
  };
  common::outcome r = common::wait_for(
      pid, c.timeout,
      master >= 0 ? std::function<void()>(read_terminal) : nullptr);
  r.out = terminal;
  for (int fd : {master, s.out, s.err})
    if (fd >= 0)
      close(fd);
  return r;
}

// Gathers what the program wrote to its standard streams.
void collect(const Case &c, const std::string &base, common::outcome *r) {
  std::string out = common::slurp(base + "/stdout"),
              err = common::slurp(base + "/stderr");
  if (c.output == Output::merged)
    out = err, err.clear();
  if (c.output != Output::terminal)
    r->out = out;
  r->err = err;
}

// Compares the status, both streams and the tree left with the case.
void compare(const Case &c, const common::outcome &r, const std::string &root) {
  EXPECT_FALSE(r.killed) << "killed after " << c.timeout << " s";
  int status = r.signal != 0 ? 128 + r.signal : r.status;
  EXPECT_EQ(c.status, status)
      << (r.signal != 0 ? "ended by a signal (128 + its number)"
                        : "exit status");
  std::string want = c.out;
  if (std::find(c.out_alt.begin(), c.out_alt.end(), r.out) != c.out_alt.end())
    want = r.out;
  auto order = [&](const std::string &s) {
    return c.any_order ? sorted_lines(s) : s;
  };
  compare_bytes(c.any_order ? "stdout, lines sorted" : "stdout", order(want),
                order(r.out));
  compare_bytes(c.any_order ? "stderr, lines sorted" : "stderr", order(c.err),
                order(r.err));
  compare_trees(expected_tree(c), common::read_tree(root));
}

} // namespace

namespace {

// What the current test has done so far, so that one test never mixes cases
// that ran with cases this platform cannot run: a test reported as skipped
// must have run nothing.
struct TestRecord {
  std::string test;
  size_t ran = 0, unrunnable = 0;
  bool loader_checked = false, loader_blocked = false, mixed = false;
};

Rows only_rows = Rows::all; // the part of the current body that runs

TestRecord &record() {
  static TestRecord r;
  const auto *info = testing::UnitTest::GetInstance()->current_test_info();
  std::string test = std::string(info->test_suite_name()) + "." + info->name();
  if (r.test != test)
    r = TestRecord{test};
  return r;
}

// Skips the current test when the kernel refuses the program's loader, and
// fails it with one line when the loader cannot start otherwise: then no case
// of the test can run.
void check_loader() {
  std::string broken;
  if (const char *why = cannot_start(&broken))
    GTEST_SKIP() << why;
  if (!broken.empty())
    FAIL() << "the loader cannot start the program: " << broken;
}

} // namespace

void run(const Case &c) {
  std::string words = "morvidex";
  for (auto &a : c.args)
    words += " '" + a + "'";
  SCOPED_TRACE(words);
  if (only_rows != Rows::all &&
      (wine_cannot_run(c) != nullptr) != (only_rows == Rows::linux_only))
    return; // the other test of the split runs it
  TestRecord &rec = record();
  if (!rec.loader_checked) {
    rec.loader_checked = true;
    check_loader();
    rec.loader_blocked =
        testing::Test::IsSkipped() || testing::Test::HasFatalFailure();
  }
  if (rec.loader_blocked)
    return;
  const char *why = cannot_run(c);
  ++(why ? rec.unrunnable : rec.ran);
  if (rec.ran > 0 && rec.unrunnable > 0 && !rec.mixed) {
    rec.mixed = true;
    ADD_FAILURE() << "this test runs some cases on this platform and skips "
                     "others: split it with E2E_SPLIT_TEST";
  }
  if (why)
    GTEST_SKIP() << words << ": not run: " << why;
  if (common::program().empty())
    FAIL() << "MORVIDEX must hold the absolute path of the program under test";
  common::scratch dir("e2e");
  if (dir.base.empty())
    FAIL() << "mkdtemp: " << std::strerror(errno);
  const std::string &base = dir.base;
  const std::string root = lay_down(c, base);
  if (root.empty())
    return;
  std::vector<std::string> command = command_for(c, base);
  if (command.empty())
    return;
  common::outcome r = start(c, root, base, command);
  collect(c, base, &r);
  compare(c, r, root);
}

void run_only(Rows rows, void (*body)()) {
  only_rows = rows;
  body();
  only_rows = Rows::all;
  const TestRecord &rec = record();
  if (rec.ran + rec.unrunnable == 0 && !rec.loader_blocked)
    ADD_FAILURE() << "no case of this body falls in this part of the split";
}

void run_all(const std::vector<Named> &table) {
  for (auto &row : table) {
    SCOPED_TRACE(row.name);
    run(row.c);
  }
}

} // namespace e2e

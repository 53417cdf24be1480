#include "fault_harness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

namespace fault {
namespace fs = std::filesystem;

namespace {

// The program's first own call: its check of descriptor 0 at start-up.
const char OWN_CALLS_MARKER[] = "fcntl(0, F_GETFD)";

const char LABEL_WRITE_OUTPUT[] = "Can't write output file.";
const char LABEL_OPEN_DIR[] = "Unable to open directory";

struct error_row {
  int error;
  const char *name;
  const char *reason; // the program's text for it
};

const error_row ERROR_TABLE[] = {
    {EIO, "EIO", "Input/output error"},
    {ENOMEM, "ENOMEM", "Not enough memory"},
    {EINTR, "EINTR", "Interrupted function call"},
    {ENOSPC, "ENOSPC", "No space left on device"},
};

const error_row *error_row_of(int error) {
  for (const error_row &row : ERROR_TABLE)
    if (row.error == error)
      return &row;
  return nullptr;
}

std::string base_name(const std::string &path) {
  return fs::path(path).filename().native();
}

// In the child: standard input from the null device, standard output and
// error into files beside the run's directory.
bool redirect(const std::string &out_path, const std::string &err_path) {
  int in = open("/dev/null", O_RDONLY);
  int flags = O_WRONLY | O_CREAT | O_TRUNC;
  int out = open(out_path.c_str(), flags, 0644);
  int err = open(err_path.c_str(), flags, 0644);
  if (in < 0 || out < 0 || err < 0)
    return false;
  dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
  for (int fd : {in, out, err})
    if (fd > 2)
      close(fd);
  return true;
}

std::vector<std::string> stderr_lines(const std::string &err) {
  std::vector<std::string> lines;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line != "\r")
      lines.push_back(line);
  return lines;
}

bool ends_with(const std::string &s, const std::string &tail) {
  return s.size() >= tail.size() &&
         s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

void check_exit(const outcome &o, std::vector<std::string> *broken) {
  if (o.killed || o.signal != 0 || (o.status != 0 && o.status != 1))
    broken->push_back(common::ending(o));
  if (o.err.find("strace: ") != std::string::npos)
    broken->push_back("strace failed: " + o.err);
}

// Sources unchanged; no diagnostic without a reason.
void check_sources(const scenario &s, const outcome &o, const Tree &before,
                   const Tree &after, std::vector<std::string> *broken) {
  auto inode = [](const Tree &t, const std::string &path) {
    const common::Node *n = entry(t, path);
    return n != nullptr ? n->inode : 0;
  };
  for (const conversion &c : s.conversions)
    if (!holds_same(before, after, c.source, true))
      broken->push_back(
          "source '" + c.source + "' changed: was " +
          describe(before, c.source) + ", now " + describe(after, c.source) +
          (inode(before, c.source) != inode(after, c.source) ? ", another inode"
                                                             : ""));
  for (const std::string &line : stderr_lines(o.err))
    if (ends_with(line, "Error 0\r") || ends_with(line, "Error 0"))
      broken->push_back("diagnostic without a reason: '" +
                        line.substr(0, line.size() - 1) + "'");
}

// A progress line only over the converted bytes; every target changed
// otherwise is covered by a diagnostic line.
void check_targets(const scenario &s, const outcome &o, const Tree &before,
                   const Tree &after, std::vector<std::string> *broken) {
  std::size_t changed = 0;
  std::string changed_names;
  for (const conversion &c : s.conversions) {
    bool exact =
        entry(after, c.target) != nullptr &&
        contents(after, c.target) == convert_lower(contents(before, c.source));
    if (o.out.find(progress_line(c)) != std::string::npos && !exact)
      broken->push_back("progress line for '" + c.target +
                        "', which is not the converted source but " +
                        describe(after, c.target));
    if (!exact && !holds_same(before, after, c.target, true)) {
      changed++;
      changed_names +=
          " '" + c.target + "' (" + describe(after, c.target) + ")";
    }
  }
  std::size_t lines = stderr_lines(o.err).size();
  if (changed > lines)
    broken->push_back(std::to_string(changed) +
                      " target(s) changed but not "
                      "converted, with " +
                      std::to_string(lines) +
                      " diagnostic line(s):" + changed_names);
}

// A listing whose first entries cannot be fetched cannot be opened.  In a
// run that converts, a failed write or close of a target is reported
// with its reason, and the incomplete target is removed; a failed close of
// a source, after all of it was read, changes nothing: the conversion is
// done and shown.
void check_failed_call(const scenario &s, const outcome &o, const Tree &before,
                       const Tree &after, const injection &failed,
                       std::vector<std::string> *broken) {
  const error_row *row = error_row_of(failed.error);
  const std::string &file = failed.call.file;
  // The first entries are fetched as the listing opens: failing to fetch
  // them fails the open, which ends the run.
  if (failed.call.first_batch && row != nullptr) {
    std::string want = common::diag(LABEL_OPEN_DIR, row->reason);
    if (o.err.find(want) == std::string::npos || o.status != 1)
      broken->push_back("no diagnostic '" + want.substr(0, want.size() - 2) +
                        "' and status 1 for the failed first listing");
    return;
  }
  if ((failed.call.name != "write" && failed.call.name != "close") ||
      file.empty() || failed.error == EINTR || row == nullptr || !s.converts)
    return;
  for (const conversion &c : s.conversions) {
    if (base_name(c.source) == file &&
        (o.out.find(progress_line(c)) == std::string::npos || !o.err.empty()))
      broken->push_back("a failed close of the source '" + c.source +
                        "' changed the run: stderr '" + o.err + "'");
    if (base_name(c.target) != file)
      continue;
    std::string want = common::diag(LABEL_WRITE_OUTPUT, row->reason);
    if (o.err.find(want) == std::string::npos)
      broken->push_back("no diagnostic '" + want.substr(0, want.size() - 2) +
                        "' for the failed " + failed.call.name + " of '" +
                        file + "'");
    // A target reached through a symbolic link keeps the link, its file
    // emptied; any other loses its name.
    const common::Node *was = entry(before, c.target),
                       *now = entry(after, c.target);
    auto link = [](const common::Node *n) {
      return n != nullptr && n->kind == common::Kind::symlink;
    };
    bool discarded = link(was) ? link(now) && now->data == was->data &&
                                     contents(after, c.target).empty()
                               : now == nullptr;
    if (!discarded)
      broken->push_back(
          "what the failed " + failed.call.name + " of '" + c.target +
          "' wrote is not discarded: " + describe(after, c.target));
  }
}

} // namespace

const char *error_name(int error) {
  const error_row *row = error_row_of(error);
  return row != nullptr ? row->name : "?";
}

bool lay_down(const workspace &ws, const scenario &s) {
  std::error_code ec;
  fs::remove_all(ws.root, ec);
  return fs::create_directories(ws.root, ec) &&
         common::lay_down(ws.root, s.files).empty();
}

const common::Node *entry(const Tree &t, const std::string &path) {
  auto it = t.find(path);
  return it == t.end() ? nullptr : &it->second;
}

std::string contents(const Tree &t, const std::string &path) {
  std::string name = path;
  for (int hops = 0; hops < 40; hops++) { // as many as the system follows
    const common::Node *n = entry(t, name);
    if (n == nullptr || n->kind != common::Kind::symlink)
      return n != nullptr && n->kind == common::Kind::file ? n->data : "";
    name = (fs::path(name).parent_path() / n->data).lexically_normal().native();
  }
  return "";
}

bool holds_same(const Tree &a, const Tree &b, const std::string &path,
                bool same_file) {
  const common::Node *x = entry(a, path), *y = entry(b, path);
  if (x == nullptr || y == nullptr)
    return x == y;
  return x->kind == y->kind && x->data == y->data &&
         contents(a, path) == contents(b, path) &&
         (!same_file || x->inode == y->inode);
}

std::string describe(const Tree &t, const std::string &path) {
  const common::Node *n = entry(t, path);
  if (n == nullptr)
    return "missing";
  if (n->kind == common::Kind::file)
    return "a regular file of " + std::to_string(n->data.size()) + " bytes";
  if (n->kind == common::Kind::symlink)
    return "a symbolic link to '" + n->data + "' (" +
           std::to_string(contents(t, path).size()) + " bytes through it)";
  return "neither a regular file nor a symbolic link";
}

pid_t start_in(const workspace &ws, const std::vector<std::string> &argv) {
  std::string out = ws.base + "/out", err = ws.base + "/err";
  return common::start(
      {argv, ws.root, [out, err] { return redirect(out, err); }});
}

outcome wait_for(const workspace &ws, pid_t pid, int seconds) {
  outcome o = common::wait_for(pid, seconds);
  o.out = slurp(ws.base + "/out"), o.err = slurp(ws.base + "/err");
  return o;
}

outcome run_in(const workspace &ws, const std::vector<std::string> &argv) {
  return wait_for(ws, start_in(ws, argv));
}

std::vector<own_call> own_calls(const std::string &trace) {
  std::vector<own_call> calls;
  std::map<std::string, int> counts;
  std::map<int, std::string> opened; // descriptor -> name it was opened as
  std::set<int> listed;              // descriptors read by getdents64
  std::istringstream in(trace);
  bool own = false;
  for (std::string line; std::getline(in, line);) {
    // The pid in front is padded with spaces to five columns.
    std::size_t start = line.find_first_not_of("0123456789");
    if (start != std::string::npos && start > 0 && line[start] == ' ')
      line.erase(0, line.find_first_not_of(' ', start));
    std::size_t paren = line.find('(');
    if (paren == std::string::npos || line[0] == '<' || line[0] == '+' ||
        line[0] == '-')
      continue;
    own_call c{line.substr(0, paren),
               ++counts[line.substr(0, paren)],
               "",
               "",
               -1,
               false};
    own = own || line.rfind(OWN_CALLS_MARKER, 0) == 0;
    int fd = std::atoi(line.c_str() + paren + 1);
    std::size_t result = line.rfind(" = ");
    if (c.name == "openat") {
      std::size_t q = line.find('"');
      c.path = line.substr(q + 1, line.find('"', q + 1) - q - 1);
      // A descriptor opened with O_PATH only looks a name up (a link's
      // owner and target, a directory to look in): closing it releases no
      // file, so it stands for none.
      if (result != std::string::npos && line[result + 3] != '-')
        c.result = std::atoi(line.c_str() + result + 3);
      if (c.result != -1 && line.find("O_PATH") == std::string::npos)
        opened[c.result] = c.path;
      listed.erase(c.result);
    }
    if (c.name == "getdents64")
      c.first_batch = listed.insert(fd).second;
    if ((c.name == "write" || c.name == "close") && opened.count(fd) != 0)
      c.file = opened[fd];
    if (c.name == "close")
      opened.erase(fd);
    if (own)
      calls.push_back(c);
  }
  return calls;
}

std::string progress_line(const conversion &c) {
  return common::progress(base_name(c.source), base_name(c.target));
}

std::vector<std::string> broken_promises(const scenario &s, const outcome &o,
                                         const Tree &before, const Tree &after,
                                         const injection *failed) {
  std::vector<std::string> broken;
  check_exit(o, &broken);
  check_sources(s, o, before, after, &broken);
  check_targets(s, o, before, after, &broken);
  if (failed != nullptr)
    check_failed_call(s, o, before, after, *failed, &broken);
  return broken;
}

checked_run run_checked(const workspace &ws, const scenario &s,
                        const std::vector<std::string> &launcher,
                        long long as_limit, const injection *failed) {
  checked_run r{};
  if (!lay_down(ws, s)) {
    r.broken.push_back("cannot lay the files down in " + ws.root + ": " +
                       std::strerror(errno));
    return r;
  }
  r.before = common::read_tree(ws.root);
  r.o = run_in(ws, common::command(launcher, s.args, {-1, as_limit}));
  r.after = common::read_tree(ws.root);
  r.broken = broken_promises(s, r.o, r.before, r.after, failed);
  return r;
}

} // namespace fault

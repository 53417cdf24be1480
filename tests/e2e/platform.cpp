#include "platform.h"

#include "harness.h"
#include "loader.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace e2e {

namespace {

const Platform LINUX = {false, false, "Not a directory", 0, SIZE_MAX};

// Wine looks names up without regard to case and shows the unix tree as
// drive Z:, so an absolute path gains "Z:" in front. Windows reports a file
// used as a directory as a missing path. Wine starts a program in a
// directory of at most 258 bytes (MAX_PATH less the terminator and a final
// backslash); in a longer one it starts it in C:\windows instead.
const Platform WINDOWS = {true, true, "No such file or directory", 2, 258};

// The Wine loader that runs the program under test, or nullptr for a Linux
// program.
const char *wine_loader() {
  const char *loader = std::getenv("MORVIDEX_WINE_LOADER");
  return loader != nullptr && *loader ? loader : nullptr;
}

bool windows() { return wine_loader() != nullptr; }

bool windows_can_hold(const std::string &name) {
  for (unsigned char ch : name)
    if (ch < 0x20 || std::strchr("*?\"<>|:\\", ch))
      return false;
  return true;
}

// Whether the link at `path` of the case's tree leads nowhere: its target,
// taken from the link's own directory, is neither in the tree (a parent of
// an entry counts) nor, for an absolute target, on this machine.
bool dangles(const Case &c, const std::string &path, const std::string &to,
             int depth = 0) {
  struct stat st;
  if (depth > 40)
    return true; // a loop of links leads nowhere, as stat finds
  if (!to.empty() && to[0] == '/')
    return stat(to.c_str(), &st) != 0;
  std::vector<std::string> parts;
  std::string whole = path.substr(0, path.rfind('/') + 1) + to;
  for (size_t at = 0; at <= whole.size();) {
    size_t end = std::min(whole.find('/', at), whole.size());
    std::string part = whole.substr(at, end - at);
    if (part == "..") {
      if (parts.empty())
        return true; // above the case's tree
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    at = end + 1;
  }
  std::string target;
  for (auto &part : parts)
    target += (target.empty() ? "" : "/") + part;
  if (target.empty())
    return false;
  auto it = c.files.lower_bound(target);
  if (it == c.files.end())
    return true;
  if (it->first == target)
    return it->second.kind == Kind::symlink &&
           dangles(c, it->first, it->second.data, depth + 1);
  return it->first.compare(0, target.size() + 1, target + "/") != 0;
}

// The command line Wine builds from unix arguments, quoted as the C runtime
// reads them: an empty argument, or one with a blank or tab, in quotes;
// before a quote its backslashes doubled plus one more; before a closing
// quote the backslashes doubled.
std::string wine_command_line(const std::vector<std::string> &args) {
  std::string line;
  for (auto &a : args) {
    bool blank = a.empty() || a.find_first_of(" \t") != std::string::npos;
    line += (line.empty() ? "" : " ") + std::string(blank ? "\"" : "");
    size_t backslashes = 0;
    for (char ch : a) {
      if (ch == '"')
        line.append(backslashes + 1, '\\');
      backslashes = ch == '\\' ? backslashes + 1 : 0;
      line += ch;
    }
    if (blank)
      line.append(backslashes, '\\') += '"';
  }
  return line;
}

// The program's own split: blanks and tabs separate words, a quote opens or
// closes a stretch where they do not, a backslash directly before a quote
// makes it a literal quote, and every other backslash is a plain byte.
std::vector<std::string> split(const std::string &line) {
  std::vector<std::string> words;
  auto blank = [&](size_t i) { return line[i] == ' ' || line[i] == '\t'; };
  for (size_t i = 0;;) {
    while (i < line.size() && blank(i))
      ++i;
    if (i == line.size())
      return words;
    std::string word;
    for (bool quoted = false; i < line.size() && (quoted || !blank(i)); ++i)
      if (line.compare(i, 2, "\\\"") == 0)
        word += line[++i];
      else if (line[i] == '"')
        quoted = !quoted;
      else
        word += line[i];
    words.push_back(word);
  }
}

} // namespace

const Platform &platform() { return windows() ? WINDOWS : LINUX; }

bool can_hold(const std::string &name) {
  return !windows() || windows_can_hold(name);
}

std::vector<std::string> received(const std::vector<std::string> &args) {
  return windows() ? split(wine_command_line(args)) : args;
}

const char *cannot_run(const Case &c) {
  return windows() ? wine_cannot_run(c) : nullptr;
}

const char *wine_cannot_run(const Case &c) {
  if (c.output == Output::terminal)
    return "Wine draws a console of its own, with control sequences of its "
           "own, on a terminal";
  if (c.output == Output::closed)
    return "Wine's own descriptors take the place of a closed standard "
           "descriptor, so the program would write into Wine's channels";
  if (c.fsize_limit >= 0)
    return "the signal of a unix file-size limit ends Wine's process, and a "
           "Windows program cannot ignore it";
  if (c.cwd_removed)
    return "Wine starts a program whose current directory is gone in the "
           "root directory instead";
  if (c.cwd_length > WINDOWS.longest_start_directory)
    return "Wine starts the program in C:\\windows instead of so long a "
           "directory";
  for (auto &[path, node] : c.files) {
    if (node.kind == Kind::fifo || node.kind == Kind::socket)
      return "Windows directories hold no FIFOs or sockets; Wine shows them as "
             "plain files";
    if (!windows_can_hold(path))
      return "Windows file names cannot hold this name";
    for (unsigned char ch : path)
      if (ch >= 0x80)
        return "Wine keeps names in UTF-8 on the unix side, the program in "
               "its ANSI code page";
    if (node.kind == Kind::symlink && dangles(c, path, node.data))
      return "Wine leaves links that lead nowhere out of its listings and "
             "fails to open them with codes of its own";
    if (node.kind == Kind::dir && node.mode >= 0 && (node.mode & 0400) &&
        !(node.mode & 0100))
      return "Wine must enter a directory to list it, and Windows has no "
             "directory that can be listed but not entered";
  }
  return nullptr;
}

const char *cannot_start(std::string *broken) {
  static std::string why;
  static const Loader probed =
      windows() ? probe_loader(wine_loader(), &why) : Loader::runs;
  *broken = probed == Loader::broken ? why : "";
  return probed == Loader::refused ? LOADER_REFUSED : nullptr;
}

} // namespace e2e

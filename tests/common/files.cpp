#include "common/files.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <tuple>

namespace common {
namespace fs = std::filesystem;

namespace {

const char *const KIND_NAMES[] = {"file", "directory", "symlink",
                                  "fifo", "socket",    "hard link"};

bool make_node(const fs::path &root, const fs::path &p, const Node &n) {
  std::error_code ec;
  fs::create_directories(p.parent_path(), ec);
  sockaddr_un addr{AF_UNIX, {}};
  int fd = -1;
  switch (n.kind) {
  case Kind::file:
    return static_cast<bool>(std::ofstream(p, std::ios::binary) << n.data);
  case Kind::dir:
    return fs::create_directories(p, ec), fs::is_directory(p);
  case Kind::symlink:
    return ::symlink(n.data.c_str(), p.c_str()) == 0;
  case Kind::fifo:
    return mkfifo(p.c_str(), 0644) == 0;
  case Kind::hardlink:
    return link((root / n.data).c_str(), p.c_str()) == 0;
  case Kind::socket:
    std::strncpy(addr.sun_path, p.c_str(), sizeof addr.sun_path - 1);
    fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    return bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
           close(fd) == 0;
  }
  return false;
}

// Opens p up to its owner when this process may not read it (a directory:
// nor look inside).
void make_readable(const fs::path &p, bool dir) {
  if (access(p.c_str(), dir ? R_OK | X_OK : R_OK) != 0)
    chmod(p.c_str(), 0700);
}

void read_into(const fs::path &from, const std::string &prefix, Tree &t) {
  for (auto &e : fs::directory_iterator(from)) {
    std::string path = prefix + e.path().filename().native();
    struct stat st {};
    lstat(e.path().c_str(), &st);
    if (S_ISDIR(st.st_mode) || S_ISREG(st.st_mode))
      make_readable(e.path(), S_ISDIR(st.st_mode));
    Node &n = t[path] = S_ISLNK(st.st_mode)
                            ? symlink(fs::read_symlink(e.path()))
                        : S_ISDIR(st.st_mode)  ? dir()
                        : S_ISFIFO(st.st_mode) ? fifo()
                        : S_ISSOCK(st.st_mode) ? socket()
                        : S_ISREG(st.st_mode)  ? file(slurp(e.path()))
                                               : Node{Kind::file, "<device>"};
    n.mode = static_cast<int>(st.st_mode & 07777);
    n.uid = static_cast<int>(st.st_uid), n.gid = static_cast<int>(st.st_gid);
    n.links = static_cast<int>(st.st_nlink), n.inode = st.st_ino;
    if (S_ISDIR(st.st_mode))
      read_into(e.path(), path + "/", t);
  }
}

// Owner access everywhere below p, so that it can be read and removed.
void open_up(const fs::path &p) {
  std::error_code ec;
  auto st = fs::symlink_status(p, ec);
  if (fs::is_symlink(st))
    return;
  chmod(p.c_str(), 0700);
  if (fs::is_directory(st))
    for (auto &e : fs::directory_iterator(p, ec))
      open_up(e.path());
}

} // namespace

Node file(const std::string &bytes, int mode) {
  return Node{Kind::file, bytes, mode};
}
Node dir(int mode) { return Node{Kind::dir, "", mode}; }
Node symlink(const std::string &target) { return Node{Kind::symlink, target}; }
Node hardlink(const std::string &to) { return Node{Kind::hardlink, to}; }
Node fifo() { return Node{Kind::fifo}; }
Node socket() { return Node{Kind::socket}; }

Tree each(const std::string &bytes, const std::vector<std::string> &paths) {
  Tree t;
  for (auto &p : paths)
    t[p] = file(bytes);
  return t;
}

bool operator==(const Node &a, const Node &b) {
  return std::tie(a.kind, a.data, a.mode, a.uid, a.gid, a.links, a.shares) ==
         std::tie(b.kind, b.data, b.mode, b.uid, b.gid, b.links, b.shares);
}

std::ostream &operator<<(std::ostream &os, const Node &n) {
  os << kind_name(n.kind) << " mode " << std::oct << n.mode << std::dec
     << " owner " << n.uid << ':' << n.gid << " links " << n.links;
  if (!n.shares.empty())
    os << " shares " << n.shares;
  if (n.kind != Kind::file)
    return n.data.empty() ? os : os << " -> " << n.data;
  os << ' ' << n.data.size() << " bytes #" << std::hex
     << std::hash<std::string>{}(n.data) << std::dec << " \"";
  char escaped[8];
  for (unsigned char ch : n.data.substr(0, 64)) {
    bool plain = ch >= 0x20 && ch < 0x7f && ch != '"' && ch != '\\';
    std::snprintf(escaped, sizeof escaped, plain ? "%c" : "\\x%02x", ch);
    os << escaped;
  }
  return os << (n.data.size() > 64 ? "\"..." : "\"");
}

void PrintTo(const Tree &t, std::ostream *os) {
  for (auto &[p, n] : t)
    *os << "\n  " << p << ": " << n;
}

Tree operator+(Tree a, const Tree &b) {
  for (auto &[p, n] : b)
    a[p] = n;
  return a;
}

const char *kind_name(Kind kind) { return KIND_NAMES[static_cast<int>(kind)]; }

std::string lay_down(const std::string &root, const Tree &tree) {
  std::error_code ec;
  fs::create_directories(root, ec);
  for (int hard = 0; hard < 2; ++hard) // hard links once their files exist
    for (auto &[p, n] : tree)
      if ((n.kind == Kind::hardlink) == (hard == 1) &&
          !make_node(root, fs::path(root) / p, n))
        return "cannot lay down '" + p + "': " + std::strerror(errno);
  for (auto &[p, n] : tree)
    if (n.mode >= 0)
      chmod((fs::path(root) / p).c_str(), n.mode);
  return "";
}

Tree read_tree(const std::string &root) {
  Tree t;
  make_readable(root, true);
  read_into(root, "", t);
  std::map<unsigned long long, std::string> first; // inode -> its first path
  for (auto &[p, n] : t)
    if (n.kind != Kind::dir && n.links > 1 && !first.emplace(n.inode, p).second)
      n.shares = first[n.inode];
  return t;
}

std::string slurp(const std::string &path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

std::string make_scratch(const std::string &name) {
  const char *tmp = std::getenv("TMPDIR");
  std::string base = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") +
                     "/morvidex-" + name + "-XXXXXX";
  return mkdtemp(base.data()) != nullptr ? base : "";
}

void remove_scratch(const std::string &base) {
  if (base.empty())
    return;
  open_up(base);
  std::error_code ec;
  fs::remove_all(base, ec);
}

} // namespace common

#include "common/files.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

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

void read_into(const fs::path &from, const std::string &prefix, Tree &t) {
  for (auto &e : fs::directory_iterator(from)) {
    std::string path = prefix + e.path().filename().native();
    auto st = e.symlink_status();
    if (fs::is_directory(st))
      read_into(e.path(), path + "/", t);
    t[path] = fs::is_symlink(st)        ? symlink(fs::read_symlink(e.path()))
              : fs::is_directory(st)    ? dir()
              : fs::is_fifo(st)         ? fifo()
              : fs::is_socket(st)       ? socket()
              : fs::is_regular_file(st) ? file(slurp(e.path()))
                                        : Node{Kind::file, "<device>"};
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
  open_up(root);
  read_into(root, "", t);
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

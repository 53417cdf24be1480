// Trees of files for the tests that run the program: laid down in a fresh
// scratch directory before a run, read back after it.
#ifndef MORVIDEX_TESTS_COMMON_FILES_H
#define MORVIDEX_TESTS_COMMON_FILES_H

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace common {

enum class Kind { file, dir, symlink, fifo, socket, hardlink };

// One entry of a tree: `data` is a file's content, a symlink's target, or
// the path (in the tree) a hard link shares; `mode` (-1: default) is set
// once the tree exists.  An entry read back holds the rest too, and a hard
// link reads as the file it is.
struct Node {
  Kind kind = Kind::file;
  std::string data{};
  int mode = -1; // permission bits
  int uid = -1, gid = -1;
  int links = 0;                // link count
  std::string shares{};         // the first path in the tree naming its file
  unsigned long long inode = 0; // which file it is: not compared, as trees
                                // laid down apart hold the same in others
};
bool operator==(const Node &a, const Node &b);
std::ostream &operator<<(std::ostream &os, const Node &n); // long data cut
// Relative path -> entry; parent directories are implied.
using Tree = std::map<std::string, Node>;
Tree operator+(Tree a, const Tree &b);         // b's entries win
void PrintTo(const Tree &t, std::ostream *os); // an entry a line

Node file(const std::string &bytes, int mode = -1);
Node dir(int mode = -1);
Node symlink(const std::string &target);
Node hardlink(const std::string &to);
Node fifo();
Node socket();
Tree each(const std::string &bytes,
          const std::vector<std::string> &paths); // files alike

// "file", "directory", ... for messages.
const char *kind_name(Kind kind);

// Lays the tree down under root (hard links once their files exist, modes
// last); "" or the reason it failed.
std::string lay_down(const std::string &root, const Tree &tree);

// Every entry below root as it is now, a device as a file holding
// "<device>"; what this process may not read is opened up to its owner.
Tree read_tree(const std::string &root);

std::string slurp(const std::string &path);

// A fresh directory $TMPDIR/morvidex-<name>-XXXXXX, "" when none can be
// made; remove_scratch opens it up to its owner and removes it whole.
std::string make_scratch(const std::string &name);
void remove_scratch(const std::string &base);

// A scratch directory removed when it goes out of scope.
struct scratch {
  std::string base;
  explicit scratch(const std::string &name) : base(make_scratch(name)) {}
  ~scratch() { remove_scratch(base); }
  scratch(const scratch &) = delete;
  scratch &operator=(const scratch &) = delete;
};

} // namespace common

#endif

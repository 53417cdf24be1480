// The resolver gives what the system's own resolution gives wherever every
// link on the way is trusted, and refuses a link of another user's, or one
// in a directory of another user's, wherever it stands on the path.
#include "platform/linux_paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/files.h"

#include <cerrno>
#include <climits>
#include <string>

namespace morvidex {
namespace {

constexpr uid_t OTHER_USER = 65534;

TEST(SplitPath, LastNameAndWhatComesBefore) {
  struct {
    const char *path;
    std::size_t dir_length;
    const char *leaf;
  } const cases[] = {
      {"", 0, ""},       {"a", 0, "a"},
      {"a/b", 2, "b"},   {"/a", 1, "a"},
      {"a//b", 3, "b"},  {"a/b/", 2, "b/"},
      {"/", 0, "/"},     {"//", 0, "//"},
      {"./a", 2, "a"},   {"../a.txt", 3, "a.txt"},
      {"a/..", 2, ".."}, {"/x/y//", 3, "y//"},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.path);
    std::size_t dir_length = 99;
    const char *leaf = nullptr;
    split_path(c.path, &dir_length, &leaf);
    EXPECT_EQ(c.dir_length, dir_length);
    EXPECT_STREQ(c.leaf, leaf);
  }
}

class Resolve : public testing::Test {
protected:
  common::scratch scratch{"paths"};
  int dir = -1;

  void SetUp() override {
    if (geteuid() != 0)
      GTEST_SKIP() << "needs root to give a link another owner";
    std::string d = scratch.base;
    ASSERT_FALSE(d.empty());
    ASSERT_EQ(0, mkdir((d + "/real").c_str(), 0755));
    ASSERT_EQ(0, mkdir((d + "/real/sub").c_str(), 0755));
    ASSERT_EQ(0, mkdir((d + "/foreign").c_str(), 0755));
    int fd = open((d + "/real/file.txt").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_LE(0, fd);
    close(fd);
    const char *const links[][2] = {
        {"real", "l_rel"},
        {"l_rel", "l_chain"},
        {"real/file.txt", "l_file"},
        {"real/sub", "l_sub"},
        {"loop2", "loop1"},
        {"loop1", "loop2"},
        {"nowhere", "dangling"},
        {"real", "u_link"},
        {"u_link", "t_to_u"},
        {"../file.txt", "real/sub/l_up"},
        {"../real", "foreign/r_link"},
    };
    for (auto &l : links)
      ASSERT_EQ(0, symlink(l[0], (d + "/" + l[1]).c_str())) << l[1];
    ASSERT_EQ(0, symlink((d + "/real").c_str(), (d + "/l_abs").c_str()));
    // A link the running user did not make; root is trusted as the
    // running user is, so the test needs a third owner.
    ASSERT_EQ(0, lchown((d + "/u_link").c_str(), OTHER_USER, OTHER_USER));
    // And a link of the running user's in a directory of another user's,
    // who may have hard-linked it there.
    ASSERT_EQ(0, chown((d + "/foreign").c_str(), OTHER_USER, OTHER_USER));
    dir = open(d.c_str(), O_PATH | O_DIRECTORY);
    ASSERT_LE(0, dir);
  }
  void TearDown() override {
    if (dir >= 0)
      close(dir);
  }

  // The inode opened, or -errno.
  static long long outcome(int code, int fd) {
    if (code != 0)
      return -code;
    struct stat st;
    fstat(fd, &st);
    close(fd);
    return static_cast<long long>(st.st_ino);
  }
};

TEST_F(Resolve, AsTheSystemDoesThroughTrustedLinks) {
  const std::string long_name(300, 'n');
  struct {
    std::string path;
    int flags;
    bool trusted; // no link of another user's on the way
  } const cases[] = {
      {"real/file.txt", O_RDONLY, true},
      {"l_rel/file.txt", O_RDONLY, true},
      {"l_abs/file.txt", O_RDONLY, true},
      {"l_chain/file.txt", O_RDONLY, true},
      {"l_file", O_RDONLY, true},
      {"l_file/", O_RDONLY, true},
      {"l_sub/../file.txt", O_RDONLY, true},
      {"l_sub/l_up", O_RDONLY, true},
      {"l_chain", O_RDONLY | O_DIRECTORY, true},
      {"l_chain/", O_RDONLY, true},
      {"loop1/x", O_RDONLY, true},
      {"loop1", O_RDONLY, true},
      {"dangling", O_RDONLY, true},
      {"real/nope/x", O_RDONLY, true},
      {"real/file.txt/x", O_RDONLY, true},
      {"/", O_RDONLY | O_DIRECTORY, true},
      {"", O_RDONLY, true},
      {long_name, O_RDONLY, true},
      {"real/" + long_name + "/x", O_RDONLY, true},
      {"u_link/file.txt", O_RDONLY, false},
      {"u_link", O_RDONLY | O_DIRECTORY, false},
      {"u_link/", O_RDONLY, false},
      {"t_to_u/file.txt", O_RDONLY, false},
      {"l_rel/../u_link/sub", O_RDONLY, false},
      {"foreign/r_link/file.txt", O_RDONLY, false},
      {"foreign/r_link", O_RDONLY | O_DIRECTORY, false},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.path);
    int fd = -1;
    int code = open_path(dir, c.path.c_str(), c.flags, 0, &fd);
    long long got = outcome(code, fd);
    fd = openat(dir, c.path.c_str(), c.flags | O_CLOEXEC);
    long long system = outcome(fd == -1 ? errno : 0, fd);
    EXPECT_EQ(c.trusted ? system : -EACCES, got);
  }
}

TEST_F(Resolve, LinksAtTheLastNameAreFollowedWithTheSameRule) {
  struct {
    const char *name;
    int flags;
    int code;
    const char *last; // the last name tried
  } const cases[] = {
      {"l_file", O_RDONLY, 0, "file.txt"},
      {"dangling", O_WRONLY | O_CREAT, 0, "nowhere"},
      {"u_link", O_RDONLY | O_DIRECTORY, EACCES, "u_link"},
      {"t_to_u", O_RDONLY | O_DIRECTORY, EACCES, "u_link"},
      {"loop1", O_RDONLY, ELOOP, "loop1"}, // after 40 links, 20 each
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.name);
    place at = place_at(dir);
    char last[NAME_MAX + 1] = "";
    int fd = -1;
    EXPECT_EQ(c.code, open_following(&at, c.name, c.flags, 0644, &fd, last));
    EXPECT_STREQ(c.last, last);
    if (fd >= 0)
      close(fd);
    leave_place(&at);
  }
  struct stat st;
  EXPECT_EQ(0, fstatat(dir, "nowhere", &st, AT_SYMLINK_NOFOLLOW))
      << "a trusted dangling link creates what it leads to";
  EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(Resolve, ParentIsTheDirectoryTheLastNameIsIn) {
  struct {
    const char *path;
    const char *leaf;
    const char *holder; // relative to the scratch folder; "" for dir itself
    int code;
  } const cases[] = {
      {"file.txt", "file.txt", "", 0},
      {"real/file.txt", "file.txt", "real", 0},
      {"l_chain/sub/x", "x", "real/sub", 0},
      {"l_sub/../file.txt", "file.txt", "real", 0},
      {"u_link/file.txt", "file.txt", "", EACCES},
      {"real/file.txt/x", "x", "", ENOTDIR},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.path);
    place at = place_at(dir);
    const char *leaf = nullptr;
    EXPECT_EQ(c.code, find_parent(&at, c.path, &leaf));
    EXPECT_STREQ(c.leaf, leaf);
    if (c.code == 0) {
      struct stat got, want;
      fstatat(at.dir, "", &got, AT_EMPTY_PATH);
      fstatat(dir, *c.holder ? c.holder : ".", &want, 0);
      EXPECT_EQ(want.st_ino, got.st_ino);
      EXPECT_EQ(*c.holder != '\0', at.owned);
    }
    leave_place(&at);
  }
}

} // namespace
} // namespace morvidex

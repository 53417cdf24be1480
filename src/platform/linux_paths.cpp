// Resolving names one at a time from directory descriptors, following a
// symbolic link only when it and the directory that holds it belong to the
// running user or to root.  The
// common case costs nothing extra: a bare name is opened with O_NOFOLLOW,
// and a path is first handed whole to openat2 with RESOLVE_NO_SYMLINKS;
// only a link on the way (the system refuses with ELOOP, or ENOTDIR for
// a directory) sends the resolution the slow way, name by name.
#include "platform/linux_paths.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace morvidex {

// The effective user never changes in this program.
const uid_t RUNNING_USER = geteuid();

namespace {

// Links followed in one resolution, at most, as the system allows.
constexpr int MAX_LINKS = 40;

// read_trusted_link's answer for a name that is no symbolic link; errno
// values are positive.
constexpr int NOT_A_LINK = -1;

const char ROOT[] = "/";

constexpr int DIRECTORY_STEP = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

void move_to(place *at, int fd) {
  if (at->owned)
    close(at->dir);
  at->dir = fd;
  at->owned = true;
}

int move_to_root(place *at) {
  int fd = open(ROOT, O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd == -1)
    return errno;
  move_to(at, fd);
  return 0;
}

bool trusted(uid_t owner) { return owner == RUNNING_USER || owner == 0; }

// Reads into target (PATH_MAX bytes) the target of the link called name in
// at's directory, when both the link and that directory belong to the
// running user or to root: EACCES for any other link, NOT_A_LINK for a
// name that is none.  The owner of a link alone says nothing of who put it
// there: a hard link to it, or an archive root unpacked, puts a link of
// root's in another user's directory.  The link itself is opened, so that
// its owner and its target are one link's, whatever replaces the name
// meanwhile; the directory's owner is read from its descriptor.
int read_trusted_link(place *at, const char *name, char *target) {
  int fd = openat(at->dir, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd == -1)
    return errno;
  struct stat st, holder;
  int code = fstat(fd, &st) == -1 ? errno : 0;
  if (code == 0 && !S_ISLNK(st.st_mode))
    code = NOT_A_LINK;
  else if (code == 0 && !trusted(st.st_uid))
    code = EACCES;
  else if (code == 0 && fstatat(at->dir, "", &holder, AT_EMPTY_PATH) == -1)
    code = errno;
  else if (code == 0 && !trusted(holder.st_uid))
    code = EACCES;
  else if (code == 0 && ++at->links > MAX_LINKS)
    code = ELOOP;
  if (code == 0) {
    ssize_t n = readlinkat(fd, "", target, PATH_MAX);
    if (n < 0)
      code = errno;
    else if (n >= PATH_MAX)
      code = ENAMETOOLONG;
    else
      target[n] = '\0';
  }
  close(fd);
  return code;
}

// Moves *at through the directories of path[0, n), each in turn: a link
// among them is replaced by its target, then the rest of the path follows.
int enter_directories(place *at, const char *path, std::size_t n) {
  if (n >= PATH_MAX)
    return ENAMETOOLONG;
  char rooms[2][PATH_MAX];
  int in = 0;
  std::memcpy(rooms[in], path, n);
  rooms[in][n] = '\0';
  char *p = rooms[in];
  bool starts = true; // p starts a path, which a "/" makes absolute
  for (;;) {
    if (starts && *p == '/') {
      int code = move_to_root(at);
      if (code != 0)
        return code;
    }
    starts = false;
    p += std::strspn(p, "/");
    if (*p == '\0')
      return 0;
    char *end = p + std::strcspn(p, "/");
    char kept = *end;
    *end = '\0';
    int fd = openat(at->dir, p, DIRECTORY_STEP);
    if (fd != -1) {
      move_to(at, fd);
      *end = kept;
      p = end;
      continue;
    }
    if (errno != ENOTDIR)
      return errno;
    char *next = rooms[1 - in];
    int code = read_trusted_link(at, p, next);
    if (code != 0)
      return code == NOT_A_LINK ? ENOTDIR : code;
    *end = kept;
    std::size_t length = std::strlen(next), rest = std::strlen(end);
    if (length + rest >= PATH_MAX)
      return ENAMETOOLONG;
    std::memcpy(next + length, end, rest + 1);
    in = 1 - in;
    p = next;
    starts = true;
  }
}

// Whether openat2 could not tell, and the path must be resolved name by
// name: a link on the way, or a system without the call or its options.
bool resolve_slowly(int code) {
  return code == ELOOP || code == ENOSYS || code == EPERM || code == EINVAL ||
         code == E2BIG;
}

long open_resolved(int dir, const char *path, int flags, mode_t mode) {
  struct open_how how {};
  how.flags = static_cast<unsigned long long>(flags | O_CLOEXEC);
  how.mode = (flags & O_CREAT) != 0 ? mode : 0;
  how.resolve = RESOLVE_NO_SYMLINKS;
  return syscall(SYS_openat2, dir, path, &how, sizeof how);
}

} // namespace

void leave_place(place *at) {
  if (at->owned)
    close(at->dir);
  at->owned = false;
}

void split_path(const char *path, std::size_t *dir_length, const char **leaf) {
  std::size_t end = std::strlen(path);
  while (end > 0 && path[end - 1] == '/')
    end--;
  std::size_t slash = end;
  while (slash > 0 && path[slash - 1] != '/')
    slash--;
  *dir_length = slash;
  *leaf = path + slash;
}

int open_following(place *at, const char *name, int flags, mode_t mode, int *fd,
                   char *last) {
  char rooms[2][PATH_MAX]; // the targets of the links met, in turn
  int in = 0;
  char bare[NAME_MAX + 1];
  for (;;) {
    // Slashes after a name would make the system follow a link there: they
    // are taken off, and what the name leads to must be a directory.
    std::size_t length = std::strlen(name), end = length;
    while (end > 0 && name[end - 1] == '/')
      end--;
    if (end == 0 && length > 0) {
      // Slashes alone name the root, which no link can stand for.
      int opened = open(ROOT, flags | O_DIRECTORY | O_CLOEXEC, mode);
      *fd = opened;
      return opened == -1 ? errno : 0;
    }
    if (end < length || last != nullptr) {
      if (end > NAME_MAX)
        return ENAMETOOLONG;
      char *copy = last != nullptr ? last : bare;
      std::memmove(copy, name, end);
      copy[end] = '\0';
      flags |= end < length ? O_DIRECTORY : 0;
      name = copy;
    }
    int opened = openat(at->dir, name, flags | O_NOFOLLOW | O_CLOEXEC, mode);
    if (opened != -1) {
      *fd = opened;
      return 0;
    }
    int code = errno;
    if (code != ELOOP && !(code == ENOTDIR && (flags & O_DIRECTORY) != 0))
      return code;
    char *target = rooms[in];
    in = 1 - in;
    int link = read_trusted_link(at, name, target);
    if (link != 0)
      return link == NOT_A_LINK ? code : link;
    std::size_t dir_length = 0;
    split_path(target, &dir_length, &name);
    if (dir_length > 0) {
      code = enter_directories(at, target, dir_length);
      if (code != 0)
        return code;
    }
  }
}

int find_parent(place *at, const char *path, const char **leaf) {
  std::size_t dir_length = 0;
  split_path(path, &dir_length, leaf);
  if (dir_length == 0)
    return 0;
  if (dir_length >= PATH_MAX)
    return ENAMETOOLONG;
  char directories[PATH_MAX];
  std::memcpy(directories, path, dir_length);
  directories[dir_length] = '\0';
  long fd = open_resolved(at->dir, directories, O_PATH | O_DIRECTORY, 0);
  if (fd >= 0) {
    move_to(at, static_cast<int>(fd));
    return 0;
  }
  if (!resolve_slowly(errno))
    return errno;
  return enter_directories(at, path, dir_length);
}

int open_path(int dir, const char *path, int flags, mode_t mode, int *fd) {
  std::size_t dir_length = 0;
  const char *leaf = nullptr;
  split_path(path, &dir_length, &leaf);
  if (dir_length > 0) {
    long opened = open_resolved(dir, path, flags, mode);
    if (opened >= 0) {
      *fd = static_cast<int>(opened);
      return 0;
    }
    if (!resolve_slowly(errno))
      return errno;
  }
  place at = place_at(dir);
  int code = dir_length > 0 ? enter_directories(&at, path, dir_length) : 0;
  if (code == 0)
    code = open_following(&at, leaf, flags, mode, fd);
  leave_place(&at);
  return code;
}

} // namespace morvidex

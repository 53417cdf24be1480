// The POSIX platform layer: file, directory and process services over the
// system calls, each failure given back as its errno value.
#include "platform/platform.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvidex {

struct platform_dir {
  DIR *dir;
  struct dirent *pending; // the entry the open fetched, not returned yet
};

const error_codes PLATFORM_ERROR_CODES = CODES_ERRNO;

namespace {

const char NULL_DEVICE[] = "/dev/null";

file_kind kind_of_mode(mode_t mode) {
  if (S_ISREG(mode))
    return KIND_REGULAR;
  if (S_ISDIR(mode))
    return KIND_DIRECTORY;
  if (S_ISCHR(mode))
    return KIND_CHAR_DEVICE;
  return KIND_OTHER;
}

void fill_status(const struct stat &st, bool is_link, file_status *status) {
  status->kind = kind_of_mode(st.st_mode);
  status->is_link = is_link;
  status->id.device = st.st_dev;
  status->id.index = st.st_ino;
  status->size = static_cast<unsigned long long>(st.st_size);
}

file_kind kind_of_dirent(unsigned char type) {
  switch (type) {
  case DT_REG:
    return KIND_REGULAR;
  case DT_DIR:
    return KIND_DIRECTORY;
  case DT_CHR:
    return KIND_CHAR_DEVICE;
  case DT_FIFO:
  case DT_SOCK:
  case DT_BLK:
    return KIND_OTHER;
  default:
    return KIND_UNKNOWN;
  }
}

int close_keeping(int fd, int code) {
  close(fd);
  return code;
}

} // namespace

void platform_start() {
  // A descriptor 0, 1 or 2 left closed by the caller would be handed to the
  // first file the program opens, and its messages would land there.
  for (int fd = 0; fd <= 2; fd++) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF)
      open(NULL_DEVICE, O_RDWR);
  }
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

file_handle platform_std_handle(std_stream which) { return which; }

file_kind platform_std_kind(std_stream which) {
  struct stat st;
  if (fstat(which, &st) == -1)
    return KIND_UNKNOWN;
  return kind_of_mode(st.st_mode);
}

int platform_write(file_handle h, const void *data, std::size_t n) {
  const char *p = static_cast<const char *>(data);
  while (n > 0) {
    ssize_t done = write(static_cast<int>(h), p, n);
    if (done < 0) {
      if (errno == EINTR)
        continue;
      return errno;
    }
    p += done;
    n -= static_cast<std::size_t>(done);
  }
  return 0;
}

int platform_read(file_handle h, void *data, std::size_t n, std::size_t *got) {
  for (;;) {
    ssize_t done = read(static_cast<int>(h), data, n);
    if (done >= 0) {
      *got = static_cast<std::size_t>(done);
      return 0;
    }
    if (errno != EINTR)
      return errno;
  }
}

int platform_open_read(const char *name, file_handle *h, file_status *status) {
  // O_NONBLOCK keeps a FIFO or a device from blocking the open; what is
  // opened is refused unless it is a regular file, on which the flag has no
  // effect.
  int fd = open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd == -1)
    return errno == ENXIO ? EACCES : errno; // a socket, a driverless device
  struct stat st;
  if (fstat(fd, &st) == -1)
    return close_keeping(fd, errno);
  if (!S_ISREG(st.st_mode))
    return close_keeping(fd, EACCES);
  fill_status(st, false, status);
  *h = fd;
  return 0;
}

int platform_open_write(const char *name, const file_id *keep, file_handle *h,
                        file_kind *kind) {
  // A name that leads nowhere yet gets a new file, which cannot be the
  // source: no status call is needed.
  int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd != -1) {
    *kind = KIND_REGULAR;
    *h = fd;
    return 0;
  }
  if (errno != EEXIST)
    return errno == EISDIR ? EACCES : errno;
  // Something is there.  It is opened without truncation and judged by what
  // the descriptor leads to, so that neither a failing status call nor a
  // link made meanwhile by another process can lead to the source being
  // emptied.  O_NONBLOCK makes a FIFO without a reader fail at once.
  fd = open(name, O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd == -1)
    return errno == EISDIR ? EACCES : errno;
  struct stat st;
  if (fstat(fd, &st) == -1)
    return close_keeping(fd, errno);
  if (keep != nullptr && st.st_dev == keep->device && st.st_ino == keep->index)
    return close_keeping(fd, EEXIST);
  *kind = kind_of_mode(st.st_mode);
  if (*kind == KIND_REGULAR && st.st_size > 0 && ftruncate(fd, 0) == -1)
    return close_keeping(fd, errno);
  if (*kind != KIND_REGULAR && fcntl(fd, F_SETFL, 0) == -1)
    return close_keeping(fd, errno);
  *h = fd;
  return 0;
}

int platform_close(file_handle h) {
  return close(static_cast<int>(h)) == -1 ? errno : 0;
}

int platform_status(const char *name, file_status *status) {
  struct stat st;
  if (stat(name, &st) == -1)
    return errno;
  fill_status(st, false, status);
  return 0;
}

int platform_remove(const char *name) { return unlink(name) == -1 ? errno : 0; }

bool platform_is_sole_name(const char *name, file_handle h) {
  struct stat by_name, opened;
  if (lstat(name, &by_name) == -1 || !S_ISREG(by_name.st_mode) ||
      by_name.st_nlink != 1)
    return false;
  if (h == NO_HANDLE)
    return true;
  return fstat(static_cast<int>(h), &opened) == 0 &&
         opened.st_dev == by_name.st_dev && opened.st_ino == by_name.st_ino;
}

int platform_empty(const char *name, file_handle h) {
  if (h != NO_HANDLE)
    return ftruncate(static_cast<int>(h), 0) == -1 ? errno : 0;
  int fd = open(name, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd == -1)
    return errno;
  struct stat st;
  int code = fstat(fd, &st) == -1 ? errno : 0;
  if (code == 0 && S_ISREG(st.st_mode) && ftruncate(fd, 0) == -1)
    code = errno;
  close(fd);
  return code;
}

int platform_opendir(const char *dir, platform_dir **listing) {
  DIR *d = opendir(*dir == '\0' ? "." : dir);
  if (d == nullptr)
    return errno;
  *listing = static_cast<platform_dir *>(std::malloc(sizeof(platform_dir)));
  if (*listing == nullptr) {
    closedir(d);
    return ENOMEM;
  }
  // The first entry is fetched now: a directory that lists nothing at all,
  // not even "." and "..", has been removed, and is reported as missing.
  errno = 0;
  (*listing)->dir = d;
  (*listing)->pending = readdir(d);
  if ((*listing)->pending == nullptr) {
    int code = errno != 0 ? errno : ENOENT;
    platform_closedir(*listing);
    return code;
  }
  return 0;
}

const char *platform_readdir(platform_dir *listing, file_kind *hint,
                             bool *is_link) {
  struct dirent *entry = listing->pending;
  listing->pending = nullptr;
  if (entry == nullptr)
    entry = readdir(listing->dir);
  if (entry == nullptr)
    return nullptr;
  *is_link = entry->d_type == DT_LNK;
  *hint = kind_of_dirent(entry->d_type);
  return entry->d_name;
}

int platform_closedir(platform_dir *listing) {
  int result = closedir(listing->dir) == -1 ? errno : 0;
  std::free(listing);
  return result;
}

int platform_entry_status(const char *name, file_kind hint, bool is_link,
                          file_status *status) {
  // The listing's entry type spares a status call for what is neither a
  // link nor of unknown type.
  if (hint != KIND_UNKNOWN) {
    status->kind = hint;
    status->is_link = false;
    status->id = file_id{0, 0};
    status->size = 0;
    return 0;
  }
  struct stat st;
  if (!is_link) {
    if (lstat(name, &st) == -1)
      return errno;
    is_link = S_ISLNK(st.st_mode);
  }
  if (is_link && stat(name, &st) == -1)
    return errno;
  fill_status(st, is_link, status);
  return 0;
}

int platform_getcwd(char *buffer, std::size_t size) {
  return getcwd(buffer, size) == nullptr ? errno : 0;
}

int platform_chdir(const char *path) { return chdir(path) == -1 ? errno : 0; }

// The shell splits the command line; the program receives its words as
// they are and expands nothing.
const char *platform_command_line() { return nullptr; }

int platform_program_path(char *buffer, std::size_t size) {
  ssize_t n = readlink("/proc/self/exe", buffer, size - 1);
  if (n < 0)
    return errno;
  buffer[n] = '\0';
  return 0;
}

bool platform_is_lead_byte(unsigned char /*c*/) { return false; }

void platform_exit(int status) { _exit(status); }

} // namespace morvidex

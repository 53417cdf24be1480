// The Linux platform layer: file, directory and process services over the
// system calls, each failure given back as its errno value.  Names are
// resolved in linux_paths.cpp; threads, processors and shared resources
// are in linux_threads.cpp.
#include "platform/linux_paths.h"
#include "platform/platform.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace morvidex {

namespace {

// The status of an open descriptor.  The C library's fstat goes through
// fstatat with an empty name, which the kernel copies in and looks up on
// every call; on x86-64 the plain call has the same layout and does not.
int status_of(int fd, struct stat *st) {
#if defined(__x86_64__) && defined(SYS_fstat)
  return static_cast<int>(syscall(SYS_fstat, fd, st));
#else
  return fstat(fd, st);
#endif
}

} // namespace

// A listing reads its directory a buffer of entries at a time, so that the
// walk can tell which entries it will get without asking the system again.
constexpr std::size_t LISTING_BUFFER_SIZE = 32 * 1024;

// The most an entry takes in the buffer: its header, a name of 255 bytes
// and its terminator, rounded up to 8.
constexpr std::size_t LARGEST_ENTRY = 24 + 256;

struct platform_dir {
  int fd;
  file_id id; // the listed directory's identity, once known
  bool id_known;
  std::size_t next; // the next entry's offset in buffer
  std::size_t end;  // the end of what the last read gave
  bool finished;    // a read gave nothing more, or failed
  bool complete;    // the last read stopped at the directory's end, with
                    // room left for another entry
  alignas(8) unsigned char buffer[LISTING_BUFFER_SIZE];
};

const error_codes PLATFORM_ERROR_CODES = CODES_ERRNO;
const bool PLATFORM_EXACT_NAMES = true;
const bool PLATFORM_NAMES_IN_HANDLES = true;

namespace {

const char NULL_DEVICE[] = "/dev/null";

// Read, write and execute for owner, group and others: what a new target
// takes from its source, never a set-id or sticky bit.
constexpr mode_t PERMISSION_BITS = 0777;
// A target made without a source to take its bits from.
constexpr mode_t DEFAULT_MODE = 0666;

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
  status->owner = st.st_uid;
  status->mode = st.st_mode & PERMISSION_BITS;
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

// Where a name is looked up: the current directory, or an open one.
int at(file_handle dir) {
  return dir == NO_HANDLE ? AT_FDCWD : static_cast<int>(dir);
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
  if (status_of(which, &st) == -1)
    return KIND_UNKNOWN;
  return kind_of_mode(st.st_mode);
}

namespace {

// Writes all n bytes, retrying short writes with the rest, at the file's
// position or, with at not null, from *at on; 0 or the code that stopped it.
int write_all(file_handle h, const void *data, std::size_t n,
              const unsigned long long *at) {
  const char *p = static_cast<const char *>(data);
  unsigned long long offset = at ? *at : 0;
  while (n > 0) {
    int fd = static_cast<int>(h);
    ssize_t done =
        at ? pwrite(fd, p, n, static_cast<off_t>(offset)) : write(fd, p, n);
    if (done < 0) {
      if (errno == EINTR)
        continue;
      return errno;
    }
    p += done;
    n -= static_cast<std::size_t>(done);
    offset += static_cast<unsigned long long>(done);
  }
  return 0;
}

} // namespace

int platform_write(file_handle h, const void *data, std::size_t n) {
  return write_all(h, data, n, nullptr);
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

int platform_open_parent(const char *path, file_handle *dir,
                         const char **leaf) {
  place at = place_at(AT_FDCWD);
  int code = find_parent(&at, path, leaf);
  if (code != 0) {
    leave_place(&at);
    return code;
  }
  *dir = at.owned ? at.dir : NO_HANDLE;
  return 0;
}

int platform_open_read(const char *name, file_handle *h, file_status *status,
                       file_handle dir) {
  // O_NONBLOCK keeps a FIFO or a device from blocking the open; what is
  // opened is refused unless it is a regular file, on which the flag has no
  // effect.
  int fd = -1;
  int code = open_path(at(dir), name, O_RDONLY | O_NONBLOCK | O_NOCTTY, 0, &fd);
  if (code != 0)
    return code == ENXIO ? EACCES : code; // a socket, a driverless device
  struct stat st;
  if (status_of(fd, &st) == -1)
    return close_keeping(fd, errno);
  if (!S_ISREG(st.st_mode))
    return close_keeping(fd, EACCES);
  fill_status(st, false, status);
  *h = fd;
  return 0;
}

namespace {

// Whether an existing target, of status st and held in dir, may be written:
// another user could have put a file with several names, a FIFO or a
// socket in a directory that is not the running user's, and a file of
// their own anywhere, to be given what the source holds.
int judge_target(int dir, const struct stat &st, const file_status *source) {
  bool alone = (S_ISREG(st.st_mode) && st.st_nlink == 1) || S_ISCHR(st.st_mode);
  if (!alone) {
    struct stat holder;
    if (st.st_uid != RUNNING_USER)
      return EACCES;
    if (fstatat(dir, "", &holder, AT_EMPTY_PATH) == -1)
      return errno;
    if (holder.st_uid != RUNNING_USER)
      return EACCES;
  }
  bool foreign = st.st_uid != RUNNING_USER &&
                 (source == nullptr || st.st_uid != source->owner);
  if ((S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode)) && foreign)
    return EACCES;
  return 0;
}

// The open of a target that refused with ENXIO: a FIFO without a reader or
// a socket, which is written only where judge_target allows.
int judge_unopened(int dir, const char *name, const file_status *source) {
  struct stat st;
  if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      judge_target(dir, st, source) != 0)
    return EACCES;
  return ENXIO;
}

// Opens the target name in *at (see platform_open_write).
int open_target(place *at, const char *name, const file_status *source,
                file_handle *h, file_status *opened, bool new_only) {
  // A name that leads nowhere yet gets a new file, which cannot be the
  // source: no status call is needed.  O_EXCL never follows a link.
  mode_t mode = source != nullptr ? (source->mode & PERMISSION_BITS) | S_IWUSR
                                  : DEFAULT_MODE;
  int fd = openat(at->dir, name,
                  O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, mode);
  if (fd != -1) {
    *opened = file_status{KIND_REGULAR, false, {0, 0}, 0, RUNNING_USER, 0};
    *h = fd;
    return 0;
  }
  if (errno != EEXIST || new_only)
    return errno == EISDIR ? EACCES : errno;
  // Something is there.  It is opened without truncation and judged by what
  // the descriptor leads to, so that neither a failing status call nor a
  // link made meanwhile by another process can lead to the source being
  // emptied.  O_NONBLOCK makes a FIFO without a reader fail at once.
  char last[NAME_MAX + 1];
  int code = open_following(
      at, name, O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY, mode, &fd, last);
  if (code == ENXIO)
    return judge_unopened(at->dir, last, source);
  if (code != 0)
    return code == EISDIR ? EACCES : code;
  struct stat st;
  if (status_of(fd, &st) == -1)
    return close_keeping(fd, errno);
  if (source != nullptr && st.st_dev == source->id.device &&
      st.st_ino == source->id.index)
    return close_keeping(fd, EEXIST);
  code = judge_target(at->dir, st, source);
  if (code != 0)
    return close_keeping(fd, code);
  fill_status(st, false, opened);
  if (opened->kind == KIND_REGULAR && st.st_size > 0 && ftruncate(fd, 0) == -1)
    return close_keeping(fd, errno);
  if (opened->kind != KIND_REGULAR && fcntl(fd, F_SETFL, 0) == -1)
    return close_keeping(fd, errno);
  *h = fd;
  return 0;
}

} // namespace

int platform_open_write(const char *name, const file_status *source,
                        file_handle *h, file_status *opened, file_handle dir,
                        bool new_only) {
  place in = place_at(at(dir));
  const char *leaf = nullptr;
  int code = find_parent(&in, name, &leaf);
  if (code == 0)
    code = open_target(&in, leaf, source, h, opened, new_only);
  leave_place(&in);
  return code;
}

int platform_read_at(file_handle h, void *data, std::size_t n,
                     unsigned long long offset, std::size_t *got) {
  for (;;) {
    ssize_t done =
        pread(static_cast<int>(h), data, n, static_cast<off_t>(offset));
    if (done >= 0) {
      *got = static_cast<std::size_t>(done);
      return 0;
    }
    if (errno != EINTR)
      return errno;
  }
}

int platform_write_at(file_handle h, const void *data, std::size_t n,
                      unsigned long long offset) {
  return write_all(h, data, n, &offset);
}

int platform_close(file_handle h) {
  return close(static_cast<int>(h)) == -1 ? errno : 0;
}

bool platform_is_existing(int code) { return code == EEXIST; }

bool platform_is_missing(const char *name, file_handle dir) {
  struct stat st;
  return fstatat(at(dir), name, &st, AT_SYMLINK_NOFOLLOW) == -1 &&
         errno == ENOENT;
}

int platform_remove(const char *name, file_handle dir) {
  return unlinkat(at(dir), name, 0) == -1 ? errno : 0;
}

int platform_open_directory(const char *name, file_handle *h, file_id *id) {
  // O_PATH: looking names up needs no right to read the directory.
  int fd = open(name, O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd == -1)
    return errno;
  struct stat st;
  if (status_of(fd, &st) == -1)
    return close_keeping(fd, errno);
  id->device = st.st_dev;
  id->index = st.st_ino;
  *h = fd;
  return 0;
}

bool platform_is_sole_name(const char *name, file_handle h, file_handle dir) {
  struct stat by_name, opened;
  if (fstatat(at(dir), name, &by_name, AT_SYMLINK_NOFOLLOW) == -1 ||
      !S_ISREG(by_name.st_mode) || by_name.st_nlink != 1)
    return false;
  if (h == NO_HANDLE)
    return true;
  return status_of(static_cast<int>(h), &opened) == 0 &&
         opened.st_dev == by_name.st_dev && opened.st_ino == by_name.st_ino;
}

int platform_empty(const char *name, file_handle h, file_handle dir,
                   const file_id *id) {
  if (h != NO_HANDLE)
    return ftruncate(static_cast<int>(h), 0) == -1 ? errno : 0;
  if (id == nullptr)
    return 0;
  int fd = -1;
  int code = open_path(at(dir), name, O_WRONLY | O_NONBLOCK | O_NOCTTY, 0, &fd);
  if (code != 0)
    return code;
  struct stat st;
  code = status_of(fd, &st) == -1 ? errno : 0;
  if (code == 0 && S_ISREG(st.st_mode) && st.st_dev == id->device &&
      st.st_ino == id->index && ftruncate(fd, 0) == -1)
    code = errno;
  close(fd);
  return code;
}

namespace {

constexpr int LISTING_FLAGS = O_RDONLY | O_NONBLOCK | O_DIRECTORY;

// A listing of the directory open as fd, which it takes over.
int make_listing(int fd, platform_dir **listing) {
  auto *d = static_cast<platform_dir *>(std::malloc(sizeof(platform_dir)));
  if (d == nullptr)
    return close_keeping(fd, ENOMEM);
  d->fd = fd;
  d->id_known = false;
  d->next = d->end = 0;
  d->finished = false;
  d->complete = false;
  // The first entries are read now: a directory that lists nothing at all,
  // not even "." and "..", has been removed, and is reported as missing.
  long n = syscall(SYS_getdents64, fd, d->buffer, sizeof d->buffer);
  if (n <= 0) {
    int code = n < 0 ? errno : ENOENT;
    platform_closedir(d);
    return code;
  }
  d->end = static_cast<std::size_t>(n);
  d->complete = d->end + LARGEST_ENTRY <= sizeof d->buffer;
  *listing = d;
  return 0;
}

} // namespace

int platform_opendir(const char *dir, platform_dir **listing) {
  int fd = -1;
  int code =
      open_path(AT_FDCWD, *dir == '\0' ? "." : dir, LISTING_FLAGS, 0, &fd);
  return code != 0 ? code : make_listing(fd, listing);
}

int platform_opendir_in(const platform_dir *parent, const char *name,
                        platform_dir **listing) {
  int base = parent != nullptr ? parent->fd : AT_FDCWD;
  int fd = openat(base, name, LISTING_FLAGS | O_NOFOLLOW | O_CLOEXEC);
  if (fd == -1) {
    // A link in place of the directory listed is never followed.
    int code = errno;
    struct stat st;
    if (code == ENOTDIR && fstatat(base, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode))
      code = EACCES;
    return code;
  }
  return make_listing(fd, listing);
}

int platform_enter(const platform_dir *listing) {
  return fchdir(listing->fd) == -1 ? errno : 0;
}

file_handle platform_listing_handle(const platform_dir *listing) {
  return listing->fd;
}

int platform_current_id(file_id *id) {
  struct stat here;
  if (stat(".", &here) == -1)
    return errno;
  *id = file_id{here.st_dev, here.st_ino};
  return 0;
}

int platform_return(const char *path, const file_id &start, file_handle back) {
  if (chdir(path) == -1)
    return errno;
  file_id here{};
  if (platform_current_id(&here) == 0 && here.device == start.device &&
      here.index == start.index)
    return 0;
  // The path led elsewhere (a directory on it was renamed, or replaced by
  // a link): back to where the walk was, as if the return had failed.  A
  // directory the process was in refuses to be entered again only when its
  // search right was taken away meanwhile, which nothing here can mend.
  if (back != NO_HANDLE && fchdir(static_cast<int>(back)) == -1)
    return errno;
  return ENOENT;
}

const char *platform_readdir(platform_dir *listing, file_kind *hint,
                             bool *is_link) {
  if (listing->next >= listing->end) {
    // A failure to read further looks like the end of the listing.
    long n = listing->finished
                 ? 0
                 : syscall(SYS_getdents64, listing->fd, listing->buffer,
                           sizeof listing->buffer);
    listing->next = 0;
    listing->end = n > 0 ? static_cast<std::size_t>(n) : 0;
    listing->finished = n <= 0;
    listing->complete = listing->end + LARGEST_ENTRY <= sizeof listing->buffer;
    if (listing->finished)
      return nullptr;
  }
  auto *entry =
      reinterpret_cast<struct dirent64 *>(listing->buffer + listing->next);
  listing->next += entry->d_reclen;
  *is_link = entry->d_type == DT_LNK;
  *hint = kind_of_dirent(entry->d_type);
  return entry->d_name;
}

listing_read platform_listing_next_read(const platform_dir *listing) {
  if (listing->next < listing->end || listing->finished)
    return READ_NONE;
  return listing->complete ? READ_NEW_ONLY : READ_MORE;
}

int platform_listing_id(platform_dir *listing, file_id *id) {
  // Asked again for every directory walked below: the answer is kept.
  if (!listing->id_known) {
    struct stat st;
    if (status_of(listing->fd, &st) == -1)
      return errno;
    listing->id = file_id{st.st_dev, st.st_ino};
    listing->id_known = true;
  }
  *id = listing->id;
  return 0;
}

int platform_closedir(platform_dir *listing) {
  int result = close(listing->fd) == -1 ? errno : 0;
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

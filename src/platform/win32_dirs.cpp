// The Win32 directories: listings, the walk's entering and leaving of the
// directories it lists, the current directory, and the status of a
// listed entry.  Win32 looks names up from the current directory only, so
// a directory is entered by its name and then checked to be the one that
// was listed.
#include "platform/platform.h"
#include "platform/win32_common.h"
#include "platform/win32_owners.h"

#include <cstdlib>
#include <cstring>
#include <windows.h>

namespace morvidex {

struct platform_dir {
  HANDLE find;
  WIN32_FIND_DATAA entry;
  bool pending; // the entry the open fetched has not been returned yet
  HANDLE held;  // the listed directory, held open so that it can be
                // neither renamed nor removed while it is walked
  file_id id;   // its identity
  char *name;   // its name as the walk was given it, to enter it by
};

namespace {

const char ALL_NAMES[] = "*.*";
const char LONG_PATH_PREFIX[] = "\\\\?\\";

int status_by_name(const char *name, file_status *status) {
  // Opening the file itself, not reading its directory entry, gives its
  // identity: names that differ only in case, or hard links, compare equal.
  HANDLE file = CreateFileA(
      name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return last_error();
  *status = file_status{kind_of_handle(file), false, {0, 0}, 0, 0, 0};
  fill_identity(file, status);
  CloseHandle(file);
  return 0;
}

// Makes path the current directory, and records it as its drive's current
// one, as the command interpreter does, so that "X:" alone finds it again.
int set_current(const char *path) {
  if (!SetCurrentDirectoryA(path))
    return last_error();
  char current[MAX_PATH];
  DWORD n = GetCurrentDirectoryA(sizeof current, current);
  if (n > 1 && n < sizeof current && current[1] == ':') {
    char variable[] = "=X:";
    variable[1] = current[0];
    SetEnvironmentVariableA(variable, current);
  }
  return 0;
}

int current_id(file_id *id) {
  file_handle h = NO_HANDLE;
  int code = platform_open_directory(".", &h, id);
  if (code == 0)
    CloseHandle(to_win(h));
  return code;
}

// A copy of the first n bytes of s followed by tail, or nullptr when there
// is no memory for it.
char *joined(const char *s, std::size_t n, const char *tail) {
  std::size_t extra = std::strlen(tail) + 1;
  auto *copy = static_cast<char *>(std::malloc(n + extra));
  if (copy != nullptr) {
    std::memcpy(copy, s, n);
    std::memcpy(copy + n, tail, extra);
  }
  return copy;
}

// Holds the directory called name open, and fills in what it is.  No
// FILE_SHARE_DELETE: it can be neither renamed nor removed meanwhile.
// Nested in a walk, a reparse point is refused: a walk never enters one.
int hold_directory(const char *name, bool nested, platform_dir *d) {
  d->held = CreateFileA(
      name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (nested ? FILE_FLAG_OPEN_REPARSE_POINT : 0),
      nullptr);
  if (d->held == INVALID_HANDLE_VALUE)
    return 0; // the search that follows tells why
  file_status status{};
  if (!fill_identity(d->held, &status))
    return last_error();
  d->id = status.id;
  DWORD attributes = GetFileAttributesA(name);
  bool reparse = attributes != INVALID_FILE_ATTRIBUTES &&
                 (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (nested ? reparse : !may_follow(name, attributes))
    return ERROR_ACCESS_DENIED;
  return 0;
}

// Opens the listing of dir: the search for all names is dir, a backslash
// unless dir is empty or already ends in a separator or a drive colon,
// then "*.*"; the directory is held by its name, or by "." after a drive
// or nothing at all.
int start_listing(const char *dir, bool nested, platform_dir **listing) {
  std::size_t n = std::strlen(dir);
  char last = n > 0 ? dir[n - 1] : '\0';
  bool bare = n == 0 || last == ':' || last == '\\' || last == '/';
  auto *d = static_cast<platform_dir *>(std::malloc(sizeof(platform_dir)));
  char *search = joined(dir, n, bare ? ALL_NAMES : "\\*.*");
  char *name = joined(dir, n, n == 0 || last == ':' ? "." : "");
  if (d == nullptr || search == nullptr || name == nullptr) {
    std::free(d);
    std::free(search);
    std::free(name);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  d->name = name;
  d->pending = true;
  d->id = file_id{0, 0};
  int code = hold_directory(name, nested, d);
  d->find =
      code == 0 ? FindFirstFileA(search, &d->entry) : INVALID_HANDLE_VALUE;
  if (code == 0 && d->find == INVALID_HANDLE_VALUE)
    code = last_error();
  std::free(search);
  if (code != 0) {
    if (d->held != INVALID_HANDLE_VALUE)
      CloseHandle(d->held);
    std::free(name);
    std::free(d);
    return code;
  }
  *listing = d;
  return 0;
}

} // namespace

int platform_open_directory(const char *name, file_handle *h, file_id *id) {
  HANDLE dir = CreateFileA(name, 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (dir == INVALID_HANDLE_VALUE)
    return last_error();
  file_status status{};
  if (!fill_identity(dir, &status))
    return close_keeping(dir, last_error());
  *id = status.id;
  *h = from_win(dir);
  return 0;
}

int platform_opendir(const char *dir, platform_dir **listing) {
  return start_listing(dir, false, listing);
}

int platform_opendir_in(const platform_dir * /*parent*/, const char *name,
                        platform_dir **listing) {
  return start_listing(name, true, listing);
}

// Win32 enters a directory by name only: it is entered, then checked to
// be the directory listed, and left again if it is another.
int platform_enter(const platform_dir *listing) {
  char before[MAX_PATH];
  DWORD n = GetCurrentDirectoryA(sizeof before, before);
  int code = set_current(listing->name);
  if (code != 0)
    return code;
  file_id here{};
  if (current_id(&here) == 0 && here.device == listing->id.device &&
      here.index == listing->id.index)
    return 0;
  if (n > 0 && n < sizeof before)
    set_current(before);
  return ERROR_FILE_NOT_FOUND;
}

file_handle platform_listing_handle(const platform_dir *listing) {
  return listing->held == INVALID_HANDLE_VALUE ? NO_HANDLE
                                               : from_win(listing->held);
}

int platform_return(const char *path, const file_id &start, file_handle back) {
  int code = set_current(path);
  if (code != 0)
    return code;
  file_id here{};
  if (current_id(&here) == 0 && here.device == start.device &&
      here.index == start.index)
    return 0;
  // The handle's path comes as "\\?\C:\...", which the current
  // directory does not take: the prefix is left out.
  char where[MAX_PATH];
  DWORD n = back == NO_HANDLE ? 0
                              : GetFinalPathNameByHandleA(to_win(back), where,
                                                          sizeof where, 0);
  const char *path_of_back = where;
  std::size_t prefix = sizeof LONG_PATH_PREFIX - 1;
  if (n > prefix && std::strncmp(where, LONG_PATH_PREFIX, prefix) == 0)
    path_of_back += prefix;
  if (n > 0 && n < sizeof where)
    set_current(path_of_back);
  return ERROR_FILE_NOT_FOUND;
}

int platform_current_id(file_id *id) { return current_id(id); }

const char *platform_readdir(platform_dir *listing, file_kind *hint,
                             bool *is_link) {
  if (!listing->pending && !FindNextFileA(listing->find, &listing->entry))
    return nullptr;
  listing->pending = false;
  DWORD attributes = listing->entry.dwFileAttributes;
  *hint =
      (attributes & FILE_ATTRIBUTE_DIRECTORY) ? KIND_DIRECTORY : KIND_REGULAR;
  *is_link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  return listing->entry.cFileName;
}

// Each further entry is a system call, whose answer may depend on the
// files that exist when it is made.
listing_read platform_listing_next_read(const platform_dir *listing) {
  return listing->pending ? READ_NONE : READ_MORE;
}

int platform_listing_id(platform_dir *listing, file_id *id) {
  if (listing->held == INVALID_HANDLE_VALUE)
    return ERROR_INVALID_HANDLE;
  *id = listing->id;
  return 0;
}

int platform_closedir(platform_dir *listing) {
  int code = FindClose(listing->find) ? 0 : last_error();
  if (listing->held != INVALID_HANDLE_VALUE)
    CloseHandle(listing->held);
  std::free(listing->name);
  std::free(listing);
  return code;
}

int platform_entry_status(const char *name, file_kind hint, bool is_link,
                          file_status *status) {
  // The listing's entry holds the attributes of anything but a link; what a
  // link leads to decides, and one that leads nowhere fails.  Without a
  // hint the name is looked up.
  if (!is_link && hint != KIND_UNKNOWN) {
    *status = file_status{hint, false, {0, 0}, 0, 0, 0};
    return 0;
  }
  int code = status_by_name(name, status);
  DWORD attributes =
      is_link ? FILE_ATTRIBUTE_REPARSE_POINT : GetFileAttributesA(name);
  status->is_link = attributes != INVALID_FILE_ATTRIBUTES &&
                    (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  return code;
}

int platform_getcwd(char *buffer, std::size_t size) {
  DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(size), buffer);
  if (n == 0 || n >= size)
    return ERROR_NOT_ENOUGH_MEMORY;
  return 0;
}

int platform_chdir(const char *path) { return set_current(path); }

} // namespace morvidex

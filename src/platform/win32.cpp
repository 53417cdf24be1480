// The Win32 platform layer: file, directory and process services over the
// Win32 API, each failure given back as the low 16 bits of its
// GetLastError code.  The C runtime's text mode is never used: the
// program applies its own text rules to raw handles.
#include "platform/platform.h"
#include "platform/win32_owners.h"

#include <cstdlib>
#include <cstring>
#include <malloc.h>
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

const error_codes PLATFORM_ERROR_CODES = CODES_WIN32;
// Names that differ only in case, and a name's short form, lead to one file.
const bool PLATFORM_EXACT_NAMES = false;
const bool PLATFORM_NAMES_IN_HANDLES = false;

namespace {

const char ALL_NAMES[] = "*.*";
const char LONG_PATH_PREFIX[] = "\\\\?\\";

// Error codes of the open that the program gives another meaning: a
// failed open reports "exists" when it creates, "not found" otherwise.
constexpr int CODE_OPEN_FAILED = ERROR_OPEN_FAILED;

int last_error() { return static_cast<int>(GetLastError() & 0xFFFF); }

HANDLE to_win(file_handle h) { return reinterpret_cast<HANDLE>(h); }
file_handle from_win(HANDLE h) { return reinterpret_cast<file_handle>(h); }

file_kind kind_of_handle(HANDLE h) {
  switch (GetFileType(h)) {
  case FILE_TYPE_DISK:
    return KIND_REGULAR;
  case FILE_TYPE_CHAR:
    return KIND_CHAR_DEVICE;
  default:
    return KIND_OTHER;
  }
}

// Fills in what the handle leads to, and how many names it has; false when
// the system cannot tell.
bool fill_identity(HANDLE h, file_status *status, DWORD *links = nullptr) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info))
    return false;
  if (links != nullptr)
    *links = info.nNumberOfLinks;
  status->id.device = info.dwVolumeSerialNumber;
  status->id.index =
      (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) |
      info.nFileIndexLow;
  status->size = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) |
                 info.nFileSizeLow;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
    status->kind = KIND_DIRECTORY;
  return true;
}

int close_keeping(HANDLE h, int code) {
  CloseHandle(h);
  return code;
}

// Opens name for writing as platform_open_write does; with
// FILE_FLAG_OPEN_REPARSE_POINT in flags, a link is opened itself.
HANDLE open_for_writing(const char *name, bool new_only, DWORD flags) {
  return CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, new_only ? CREATE_NEW : OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

// A position in a file, as ReadFile and WriteFile take it.
OVERLAPPED at_offset(unsigned long long offset) {
  OVERLAPPED position{};
  position.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  position.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return position;
}

} // namespace

void platform_start() {
  // A missing medium reports an error instead of asking the user.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

file_handle platform_std_handle(std_stream which) {
  return from_win(
      GetStdHandle(which == STD_OUTPUT ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE));
}

file_kind platform_std_kind(std_stream which) {
  return kind_of_handle(to_win(platform_std_handle(which)));
}

int platform_write(file_handle h, const void *data, std::size_t n) {
  const char *p = static_cast<const char *>(data);
  while (n > 0) {
    DWORD done = 0;
    if (!WriteFile(to_win(h), p, static_cast<DWORD>(n), &done, nullptr))
      return last_error();
    if (done == 0)
      return ERROR_WRITE_FAULT;
    p += done;
    n -= done;
  }
  return 0;
}

int platform_read(file_handle h, void *data, std::size_t n, std::size_t *got) {
  DWORD done = 0;
  if (!ReadFile(to_win(h), data, static_cast<DWORD>(n), &done, nullptr)) {
    int code = last_error();
    if (code != ERROR_BROKEN_PIPE)
      return code;
  }
  *got = done;
  return 0;
}

// Names are looked up by the system from the current directory: Win32 has
// no call that opens a name relative to an open directory, so no caller
// is given one, and only the last name of a path is checked for a link.
int platform_open_parent(const char *path, file_handle *dir,
                         const char **leaf) {
  *dir = NO_HANDLE;
  *leaf = path;
  return 0;
}

int platform_open_read(const char *name, file_handle *h, file_status *status,
                       file_handle /*dir*/) {
  DWORD attributes = GetFileAttributesA(name);
  if (!may_follow(name, attributes))
    return ERROR_ACCESS_DENIED;
  if (attributes == INVALID_FILE_ATTRIBUTES)
    attributes = 0;
  HANDLE file =
      CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, attributes, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    int code = last_error();
    return code == CODE_OPEN_FAILED ? ERROR_FILE_NOT_FOUND : code;
  }
  // Only disk files are sources: a console or a pipe would block.
  if (GetFileType(file) != FILE_TYPE_DISK)
    return close_keeping(file, ERROR_ACCESS_DENIED);
  *status = file_status{KIND_REGULAR, false, {0, 0}, 0, 0, 0};
  fill_identity(file, status);
  if (status->kind != KIND_REGULAR)
    return close_keeping(file, ERROR_ACCESS_DENIED);
  bool trusted = false;
  read_owner(file, &status->owner, &trusted);
  *h = from_win(file);
  return 0;
}

// A new file inherits the permissions of its directory, as every file
// created on Windows does.
int platform_open_write(const char *name, const file_status *source,
                        file_handle *h, file_status *opened,
                        file_handle /*dir*/, bool new_only) {
  // OPEN_ALWAYS leaves an existing file as it is, so that it is judged by
  // the handle, never by its name beforehand: only a file that is not the
  // source is emptied.  A link is opened itself first, so that no link of
  // another user's creates or opens anything; a trusted one is followed.
  HANDLE file = open_for_writing(name, new_only, FILE_FLAG_OPEN_REPARSE_POINT);
  bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  link_kind link =
      file != INVALID_HANDLE_VALUE && existed ? link_kind_of(file) : NOT_A_LINK;
  if (link == UNTRUSTED_LINK)
    return close_keeping(file, ERROR_ACCESS_DENIED);
  if (link == TRUSTED_LINK) {
    CloseHandle(file);
    file = open_for_writing(name, new_only, 0);
    existed = GetLastError() == ERROR_ALREADY_EXISTS;
  }
  if (file == INVALID_HANDLE_VALUE) {
    int code = last_error();
    return code == CODE_OPEN_FAILED ? ERROR_FILE_EXISTS : code;
  }
  *opened = file_status{kind_of_handle(file), false, {0, 0}, 0, 0, 0};
  if (existed && opened->kind == KIND_REGULAR) {
    DWORD links = 1;
    if (!fill_identity(file, opened, &links))
      return close_keeping(file, last_error());
    if (source != nullptr && opened->id.device == source->id.device &&
        opened->id.index == source->id.index)
      return close_keeping(file, ERROR_FILE_EXISTS);
    int code = judge_target(name, file, links, source);
    if (code != 0)
      return close_keeping(file, code);
    if (opened->size > 0 && !SetEndOfFile(file))
      return close_keeping(file, last_error());
  }
  *h = from_win(file);
  return 0;
}

int platform_read_at(file_handle h, void *data, std::size_t n,
                     unsigned long long offset, std::size_t *got) {
  OVERLAPPED position = at_offset(offset);
  DWORD done = 0;
  if (!ReadFile(to_win(h), data, static_cast<DWORD>(n), &done, &position)) {
    int code = last_error();
    if (code != ERROR_HANDLE_EOF)
      return code;
    done = 0;
  }
  *got = done;
  return 0;
}

int platform_write_at(file_handle h, const void *data, std::size_t n,
                      unsigned long long offset) {
  const char *p = static_cast<const char *>(data);
  while (n > 0) {
    OVERLAPPED position = at_offset(offset);
    DWORD done = 0;
    if (!WriteFile(to_win(h), p, static_cast<DWORD>(n), &done, &position))
      return last_error();
    if (done == 0)
      return ERROR_WRITE_FAULT;
    p += done;
    n -= done;
    offset += done;
  }
  return 0;
}

int platform_close(file_handle h) {
  return CloseHandle(to_win(h)) ? 0 : last_error();
}

namespace {

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

} // namespace

bool platform_is_missing(const char *name, file_handle /*dir*/) {
  if (GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES)
    return false;
  DWORD code = GetLastError();
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

int platform_remove(const char *name, file_handle /*dir*/) {
  return DeleteFileA(name) ? 0 : last_error();
}

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

bool platform_is_sole_name(const char *name, file_handle h,
                           file_handle /*dir*/) {
  DWORD attributes = GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
    return false;
  HANDLE file = CreateFileA(
      name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  BY_HANDLE_FILE_INFORMATION by_name, opened;
  bool sole =
      GetFileInformationByHandle(file, &by_name) && by_name.nNumberOfLinks == 1;
  CloseHandle(file);
  if (!sole || h == NO_HANDLE)
    return sole;
  return GetFileInformationByHandle(to_win(h), &opened) &&
         opened.dwVolumeSerialNumber == by_name.dwVolumeSerialNumber &&
         opened.nFileIndexHigh == by_name.nFileIndexHigh &&
         opened.nFileIndexLow == by_name.nFileIndexLow;
}

int platform_empty(const char *name, file_handle h, file_handle /*dir*/,
                   const file_id *id) {
  if (h == NO_HANDLE &&
      (id == nullptr || !may_follow(name, GetFileAttributesA(name))))
    return 0;
  HANDLE file =
      h != NO_HANDLE
          ? to_win(h)
          : CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return last_error();
  file_status status{};
  bool same = h != NO_HANDLE ||
              (fill_identity(file, &status) && status.id.device == id->device &&
               status.id.index == id->index);
  LARGE_INTEGER start{};
  int code = 0;
  if (same && GetFileType(file) == FILE_TYPE_DISK &&
      (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) ||
       !SetEndOfFile(file)))
    code = last_error();
  if (h == NO_HANDLE)
    CloseHandle(file);
  return code;
}

namespace {

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
int open_listing(const char *dir, bool nested, platform_dir **listing) {
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

int platform_opendir(const char *dir, platform_dir **listing) {
  return open_listing(dir, false, listing);
}

int platform_opendir_in(const platform_dir * /*parent*/, const char *name,
                        platform_dir **listing) {
  return open_listing(name, true, listing);
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

const char *platform_command_line() { return GetCommandLineA(); }

int platform_program_path(char *buffer, std::size_t size) {
  DWORD n = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(size));
  return n == 0 || n >= size ? last_error() : 0;
}

bool platform_is_lead_byte(unsigned char c) { return IsDBCSLeadByte(c) != 0; }

bool platform_is_existing(int code) {
  return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
}

void platform_exit(int status) { ExitProcess(static_cast<UINT>(status)); }

} // namespace morvidex

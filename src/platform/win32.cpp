// The Win32 platform layer: file, directory and process services over the
// Win32 API, each failure given back as the low 16 bits of its
// GetLastError code.  The C runtime's text mode is never used: the
// program applies its own text rules to raw handles.
#include "platform/platform.h"

#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <windows.h>

namespace morvidex {

struct platform_dir {
  HANDLE find;
  WIN32_FIND_DATAA entry;
  bool pending; // the entry the open fetched has not been returned yet
};

struct platform_thread {
  HANDLE handle;
  void (*body)(void *);
  void *arg;
};

struct platform_monitor {
  CRITICAL_SECTION lock;
  CONDITION_VARIABLE condition;
};

const error_codes PLATFORM_ERROR_CODES = CODES_WIN32;
// Names that differ only in case, and a name's short form, lead to one file.
const bool PLATFORM_EXACT_NAMES = false;

namespace {

const char ALL_NAMES[] = "*.*";

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

// Fills in what the handle leads to; false when the system cannot tell.
bool fill_identity(HANDLE h, file_status *status) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info))
    return false;
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

// A worker's stack: the conversion needs little.
constexpr SIZE_T THREAD_STACK_SIZE = 256 * 1024;

DWORD WINAPI run_thread(LPVOID thread) {
  auto *t = static_cast<platform_thread *>(thread);
  t->body(t->arg);
  return 0;
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

// Names are looked up in the current directory only: Win32 has no call
// that opens a name relative to an open directory, so no caller passes one.
int platform_open_read(const char *name, file_handle *h, file_status *status,
                       file_handle /*dir*/) {
  DWORD attributes = GetFileAttributesA(name);
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
  *status = file_status{KIND_REGULAR, false, {0, 0}, 0};
  fill_identity(file, status);
  if (status->kind != KIND_REGULAR)
    return close_keeping(file, ERROR_ACCESS_DENIED);
  *h = from_win(file);
  return 0;
}

int platform_open_write(const char *name, const file_id *keep, file_handle *h,
                        file_kind *kind, file_handle /*dir*/, bool new_only) {
  // OPEN_ALWAYS leaves an existing file as it is, so that it is judged by
  // the handle, never by its name beforehand: only a file that is not the
  // source is emptied.
  HANDLE file = CreateFileA(
      name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      new_only ? CREATE_NEW : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    int code = last_error();
    return code == CODE_OPEN_FAILED ? ERROR_FILE_EXISTS : code;
  }
  *kind = kind_of_handle(file);
  if (GetLastError() == ERROR_ALREADY_EXISTS && *kind == KIND_REGULAR) {
    file_status existing{KIND_REGULAR, false, {0, 0}, 0};
    if (!fill_identity(file, &existing))
      return close_keeping(file, last_error());
    if (keep != nullptr && existing.id.device == keep->device &&
        existing.id.index == keep->index)
      return close_keeping(file, ERROR_FILE_EXISTS);
    if (existing.size > 0 && !SetEndOfFile(file))
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

int platform_status(const char *name, file_status *status) {
  // Opening the file itself, not reading its directory entry, gives its
  // identity: names that differ only in case, or hard links, compare equal.
  HANDLE file = CreateFileA(
      name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return last_error();
  *status = file_status{kind_of_handle(file), false, {0, 0}, 0};
  fill_identity(file, status);
  CloseHandle(file);
  return 0;
}

bool platform_is_missing(const char *name, file_handle /*dir*/) {
  if (GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES)
    return false;
  DWORD code = GetLastError();
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

int platform_remove(const char *name, file_handle /*dir*/) {
  return DeleteFileA(name) ? 0 : last_error();
}

int platform_open_directory(const char * /*name*/, file_handle * /*h*/,
                            file_id * /*id*/) {
  return ERROR_NOT_SUPPORTED;
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

int platform_empty(const char *name, file_handle h, file_handle /*dir*/) {
  HANDLE file =
      h != NO_HANDLE
          ? to_win(h)
          : CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return last_error();
  LARGE_INTEGER start{};
  int code = 0;
  if (GetFileType(file) == FILE_TYPE_DISK &&
      (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) ||
       !SetEndOfFile(file)))
    code = last_error();
  if (h == NO_HANDLE)
    CloseHandle(file);
  return code;
}

int platform_opendir(const char *dir, platform_dir **listing) {
  // The search for all names: dir, a backslash unless dir is empty or
  // already ends in a separator or a drive colon, then "*.*".
  std::size_t n = std::strlen(dir);
  char last = n > 0 ? dir[n - 1] : '\0';
  bool bare = n == 0 || last == ':' || last == '\\' || last == '/';
  auto *search = static_cast<char *>(std::malloc(n + sizeof ALL_NAMES + 1));
  auto *d = static_cast<platform_dir *>(std::malloc(sizeof(platform_dir)));
  if (search == nullptr || d == nullptr) {
    std::free(search);
    std::free(d);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  std::memcpy(search, dir, n);
  if (!bare)
    search[n++] = '\\';
  std::memcpy(search + n, ALL_NAMES, sizeof ALL_NAMES);
  d->find = FindFirstFileA(search, &d->entry);
  int code = d->find == INVALID_HANDLE_VALUE ? last_error() : 0;
  std::free(search);
  if (code != 0) {
    std::free(d);
    return code;
  }
  d->pending = true;
  *listing = d;
  return 0;
}

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

int platform_listing_id(const platform_dir * /*listing*/, file_id * /*id*/) {
  return ERROR_NOT_SUPPORTED;
}

int platform_closedir(platform_dir *listing) {
  int code = FindClose(listing->find) ? 0 : last_error();
  std::free(listing);
  return code;
}

int platform_entry_status(const char *name, file_kind hint, bool is_link,
                          file_status *status) {
  // The listing's entry holds the attributes of anything but a link; what a
  // link leads to decides, and one that leads nowhere fails.  Without a
  // hint the name is looked up.
  if (!is_link && hint != KIND_UNKNOWN) {
    *status = file_status{hint, false, {0, 0}, 0};
    return 0;
  }
  int code = platform_status(name, status);
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

int platform_chdir(const char *path) {
  if (!SetCurrentDirectoryA(path))
    return last_error();
  // Record the directory as its drive's current one, as the command
  // interpreter does, so that "X:" alone finds it again.
  char current[MAX_PATH];
  DWORD n = GetCurrentDirectoryA(sizeof current, current);
  if (n > 1 && n < sizeof current && current[1] == ':') {
    char variable[] = "=X:";
    variable[1] = current[0];
    SetEnvironmentVariableA(variable, current);
  }
  return 0;
}

const char *platform_command_line() { return GetCommandLineA(); }

int platform_program_path(char *buffer, std::size_t size) {
  DWORD n = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(size));
  return n == 0 || n >= size ? last_error() : 0;
}

bool platform_is_lead_byte(unsigned char c) { return IsDBCSLeadByte(c) != 0; }

unsigned platform_processors() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
    return 1;
  unsigned count = 0;
  for (; process != 0; process &= process - 1)
    count++;
  return count > 0 ? count : 1;
}

bool platform_is_existing(int code) {
  return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
}

bool platform_is_shortage(int code) {
  switch (code) {
  case CODE_NO_MEMORY:
  case ERROR_NOT_ENOUGH_MEMORY:
  case ERROR_OUTOFMEMORY:
  case ERROR_TOO_MANY_OPEN_FILES:
  case ERROR_DISK_FULL:
  case ERROR_HANDLE_DISK_FULL:
    return true;
  default:
    return false;
  }
}

// Handles are not counted against a limit of the process.
unsigned long platform_descriptor_limit() { return ~0UL; }

platform_thread *platform_thread_start(void (*body)(void *), void *arg) {
  auto *thread =
      static_cast<platform_thread *>(std::malloc(sizeof(platform_thread)));
  if (thread == nullptr)
    return nullptr;
  thread->body = body;
  thread->arg = arg;
  thread->handle = CreateThread(nullptr, THREAD_STACK_SIZE, run_thread, thread,
                                STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread->handle != nullptr)
    return thread;
  std::free(thread);
  return nullptr;
}

void platform_thread_join(platform_thread *thread) {
  WaitForSingleObject(thread->handle, INFINITE);
  CloseHandle(thread->handle);
  std::free(thread);
}

platform_monitor *platform_monitor_make() {
  auto *monitor =
      static_cast<platform_monitor *>(std::malloc(sizeof(platform_monitor)));
  if (monitor == nullptr)
    return nullptr;
  InitializeCriticalSection(&monitor->lock);
  InitializeConditionVariable(&monitor->condition);
  return monitor;
}

void platform_monitor_free(platform_monitor *monitor) {
  DeleteCriticalSection(&monitor->lock);
  std::free(monitor);
}

void platform_monitor_enter(platform_monitor *monitor) {
  EnterCriticalSection(&monitor->lock);
}

void platform_monitor_leave(platform_monitor *monitor) {
  LeaveCriticalSection(&monitor->lock);
}

void platform_monitor_wait(platform_monitor *monitor) {
  SleepConditionVariableCS(&monitor->condition, &monitor->lock, INFINITE);
}

void platform_monitor_wake_all(platform_monitor *monitor) {
  WakeAllConditionVariable(&monitor->condition);
}

void *platform_buffer(std::size_t size) { return _aligned_malloc(size, 4096); }

void platform_free_buffer(void *buffer) { _aligned_free(buffer); }

void platform_exit(int status) { ExitProcess(static_cast<UINT>(status)); }

} // namespace morvidex

// The Win32 files: the standard handles, and files opened, read, written,
// emptied, removed and closed, each failure given back as the low 16 bits
// of its GetLastError code.  The C runtime's text mode is never used: the
// program applies its own text rules to raw handles.
#include "platform/platform.h"
#include "platform/win32_common.h"
#include "platform/win32_owners.h"

#include <windows.h>

namespace morvidex {

// Names that differ only in case, and a name's short form, lead to one file.
const bool PLATFORM_EXACT_NAMES = false;
const bool PLATFORM_NAMES_IN_HANDLES = false;

namespace {

// Error codes of the open that the program gives another meaning: a
// failed open reports "exists" when it creates, "not found" otherwise.
constexpr int CODE_OPEN_FAILED = ERROR_OPEN_FAILED;

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

bool platform_is_missing(const char *name, file_handle /*dir*/) {
  if (GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES)
    return false;
  DWORD code = GetLastError();
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

int platform_remove(const char *name, file_handle /*dir*/) {
  return DeleteFileA(name) ? 0 : last_error();
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

bool platform_is_existing(int code) {
  return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
}

} // namespace morvidex

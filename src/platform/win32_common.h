// What the Win32 platform files share: a handle as the layer above holds
// it and as Win32 takes it, the code of the last failed call, and what an
// open handle tells of its file.  For the Win32 platform layer alone.
#ifndef MORVIDEX_PLATFORM_WIN32_COMMON_H
#define MORVIDEX_PLATFORM_WIN32_COMMON_H

#include "platform/platform.h"

#include <windows.h>

namespace morvidex {

// The code of the last failed call: the low 16 bits of GetLastError.
inline int last_error() { return static_cast<int>(GetLastError() & 0xFFFF); }

// A file_handle as Win32 takes it, and back.
inline HANDLE to_win(file_handle h) { return reinterpret_cast<HANDLE>(h); }
inline file_handle from_win(HANDLE h) {
  return reinterpret_cast<file_handle>(h);
}

// What an open handle leads to, told by the kind of device it is on.
inline file_kind kind_of_handle(HANDLE h) {
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
inline bool fill_identity(HANDLE h, file_status *status,
                          DWORD *links = nullptr) {
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

// Closes h, which a failure found open, and gives back that failure's code.
inline int close_keeping(HANDLE h, int code) {
  CloseHandle(h);
  return code;
}

} // namespace morvidex

#endif

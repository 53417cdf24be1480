// The Win32 process: how its failures are numbered, its start and its end,
// its command line, its own path and the narrow code page.
#include "platform/platform.h"
#include "platform/win32_common.h"

#include <windows.h>

namespace morvidex {

const error_codes PLATFORM_ERROR_CODES = CODES_WIN32;

void platform_start() {
  // A missing medium reports an error instead of asking the user.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

const char *platform_command_line() { return GetCommandLineA(); }

int platform_program_path(char *buffer, std::size_t size) {
  DWORD n = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(size));
  return n == 0 || n >= size ? last_error() : 0;
}

bool platform_is_lead_byte(unsigned char c) { return IsDBCSLeadByte(c) != 0; }

void platform_exit(int status) { ExitProcess(static_cast<UINT>(status)); }

} // namespace morvidex

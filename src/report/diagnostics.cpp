#include "report/diagnostics.h"

#include <cerrno>
#include <cstddef>

#include "platform/platform.h"
#include "report/console.h"

namespace morvidex {

namespace {

constexpr int ERROR_COUNT = 49;

// Numbers the program gives itself, without a platform code.
constexpr int ERROR_NO_MEMORY = 8;
constexpr int ERROR_INVALID = 19;

const char *const ERROR_TEXTS[ERROR_COUNT] = {
    "Error 0",
    "Invalid function number",
    "No such file or directory",
    "Path not found",
    "Too many open files",
    "Permission denied",
    "Bad file number",
    "Memory arena trashed",
    "Not enough memory",
    "Invalid memory block address",
    "Invalid environment",
    "Invalid format",
    "Invalid access code",
    "Invalid data",
    "Bad address",
    "No such device",
    "Attempted to remove current directory",
    "Not same device",
    "No more files",
    "Invalid argument",
    "Arg list too big",
    "Exec format error",
    "Cross-device link",
    "Too many open files",
    "No child processes",
    "Inappropriate I/O control operation",
    "Executable file in use",
    "File too large",
    "No space left on device",
    "Illegal seek",
    "Read-only file system",
    "Too many links",
    "Broken pipe",
    "Math argument",
    "Result too large",
    "File already exists",
    "Possible deadlock",
    "Operation not permitted",
    "No such process",
    "Interrupted function call",
    "Input/output error",
    "No such device or address",
    "Resource temporarily unavailable",
    "Block device required",
    "Resource busy",
    "Not a directory",
    "Is a directory",
    "",
    "Filename too long",
};

const char UNKNOWN_ERROR[] = "Unknown error";
const char LABEL_SEPARATOR[] = ": ";
const char LINE_END[] = "\n";

struct errno_row {
  int code;
  int number;
};

// Each system condition stands for the error number of the same name;
// a condition not listed here counts as an invalid argument.
const errno_row ERRNO_TABLE[] = {
    {ENOENT, 2},   {EMFILE, 4},        {EACCES, 5},  {EBADF, 6},
    {ENOMEM, 8},   {EFAULT, 14},       {ENODEV, 15}, {EINVAL, 19},
    {E2BIG, 20},   {ENOEXEC, 21},      {EXDEV, 22},  {ENFILE, 23},
    {ECHILD, 24},  {ENOTTY, 25},       {EFBIG, 27},  {ENOSPC, 28},
    {ESPIPE, 29},  {EROFS, 30},        {EMLINK, 31}, {EPIPE, 32},
    {EDOM, 33},    {ERANGE, 34},       {EEXIST, 35}, {EDEADLK, 36},
    {EPERM, 37},   {ESRCH, 38},        {EINTR, 39},  {EIO, 40},
    {ENXIO, 41},   {EAGAIN, 42},       {EBUSY, 44},  {ENOTDIR, 45},
    {EISDIR, 46},  {ENAMETOOLONG, 48},
// Not every C library names these two.
#ifdef ETXTBSY
    {ETXTBSY, 26},
#endif
#ifdef ENOTBLK
    {ENOTBLK, 43},
#endif
};

// Win32 error codes 0 to 298 and their error numbers; every code not
// named by a row of its own counts as an invalid argument.
constexpr unsigned WIN32_CODE_COUNT = 299;
constexpr unsigned WIN32_CODE_ABOVE_TABLE = 1;
const unsigned char WIN32_TABLE[WIN32_CODE_COUNT] = {
    0,  19, 2,  2,  4,  5,  6,  8,  8,  8,  // 0-9
    20, 21, 5,  19, 14, 5,  5,  17, 2,  30, // 10-19
    41, 44, 40, 40, 40, 40, 40, 41, 44, 40, // 20-29
    40, 40, 5,  5,  41, 23, 23, 14, 14, 14, // 30-39
    14, 14, 14, 14, 14, 14, 14, 14, 14, 14, // 40-49
    15, 44, 35, 2,  44, 15, 42, 40, 40, 40, // 50-59
    19, 27, 28, 2,  2,  5,  15, 2,  23, 40, // 60-69
    42, 19, 42, 14, 14, 14, 14, 14, 14, 14, // 70-79
    35, 14, 28, 40, 23, 35, 37, 19, 40, 42, // 80-89
    19, 19, 19, 19, 19, 19, 19, 19, 19, 44, // 90-99
    42, 42, 19, 19, 19, 19, 19, 22, 42, 32, // 100-109
    2,  19, 28, 4,  6,  14, 19, 19, 19, 19, // 110-119
    19, 19, 19, 2,  19, 19, 19, 38, 24, 24, // 120-129
    19, 19, 29, 19, 19, 19, 19, 19, 19, 19, // 130-139
    19, 19, 42, 19, 19, 5,  19, 19, 19, 19, // 140-149
    19, 19, 19, 19, 19, 19, 19, 19, 5,  19, // 150-159
    19, 19, 19, 19, 19, 19, 19, 5,  19, 19, // 160-169
    19, 19, 19, 19, 19, 19, 19, 19, 19, 19, // 170-179
    19, 19, 19, 35, 24, 19, 19, 19, 19, 19, // 180-189
    19, 19, 19, 19, 19, 19, 19, 19, 19, 19, // 190-199
    19, 19, 19, 19, 19, 19, 48, 19, 19, 19, // 200-209
    19, 19, 19, 19, 19, 19, 19, 19, 19, 19, // 210-219
    19, 19, 19, 19, 19, 19, 19, 19, 19, 19, // 220-229
    32, 42, 19, 32, 19, 19, 19, 19, 19, 19, // 230-239
    19, 19, 19, 19, 19, 19, 19, 19, 19, 19, // 240-249
    19, 19, 19, 19, 19, 19, 19, 19, 19, 19, // 250-259
    19, 19, 19, 19, 19, 19, 19, 19, 19, 19, // 260-269
    19, 19, 19, 19, 19, 19, 19, 19, 19, 19, // 270-279
    19, 19, 19, 19, 19, 19, 19, 19, 19, 19, // 280-289
    19, 19, 19, 19, 19, 19, 19, 19, 19,     // 290-298
};

} // namespace

const char *error_text(int number) {
  if (number < 0 || number >= ERROR_COUNT)
    return UNKNOWN_ERROR;
  return ERROR_TEXTS[number];
}

int error_from_errno(int code) {
  if (code == 0)
    return 0;
  for (const errno_row &row : ERRNO_TABLE) {
    if (row.code == code)
      return row.number;
  }
  return ERROR_INVALID;
}

int error_from_win32(unsigned long code) {
  code &= 0xFFFF;
  if (code >= WIN32_CODE_COUNT)
    code = WIN32_CODE_ABOVE_TABLE;
  return WIN32_TABLE[code];
}

int error_from_code(int code) {
  if (PLATFORM_ERROR_CODES == CODES_WIN32)
    return error_from_win32(static_cast<unsigned long>(code));
  return error_from_errno(code);
}

void report_failure(const char *label, int code) {
  int number = code == CODE_NO_MEMORY ? ERROR_NO_MEMORY : error_from_code(code);
  const char *text = error_text(number);
  if (label != nullptr && *label != '\0') {
    write_error(label);
    write_error(LABEL_SEPARATOR);
  }
  write_error(text);
  write_error(LINE_END);
}

} // namespace morvidex

#include "cli/diagnostics.h"

#include <cerrno>
#include <cstddef>

#include "cli/console.h"

namespace morvidex {

int error_number = 0;

const char *const error_texts[ERROR_COUNT] = {
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

namespace {

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
    {ENOENT, 2},   {EMFILE, 4},   {EACCES, 5},   {EBADF, 6},
    {ENOMEM, 8},   {EFAULT, 14},  {ENODEV, 15},  {EINVAL, 19},
    {E2BIG, 20},   {ENOEXEC, 21}, {EXDEV, 22},   {ENFILE, 23},
    {ECHILD, 24},  {ENOTTY, 25},  {ETXTBSY, 26}, {EFBIG, 27},
    {ENOSPC, 28},  {ESPIPE, 29},  {EROFS, 30},   {EMLINK, 31},
    {EPIPE, 32},   {EDOM, 33},    {ERANGE, 34},  {EEXIST, 35},
    {EDEADLK, 36}, {EPERM, 37},   {ESRCH, 38},   {EINTR, 39},
    {EIO, 40},     {ENXIO, 41},   {EAGAIN, 42},  {ENOTBLK, 43},
    {EBUSY, 44},   {ENOTDIR, 45}, {EISDIR, 46},  {ENAMETOOLONG, 48},
};

} // namespace

const char *error_text(int number) {
  if (number < 0 || number >= ERROR_COUNT)
    return UNKNOWN_ERROR;
  return error_texts[number];
}

int error_from_code(int code) {
  if (code == 0)
    return 0;
  for (const errno_row &row : ERRNO_TABLE) {
    if (row.code == code)
      return row.number;
  }
  return ERROR_INVALID;
}

void set_error_from_code(int code) { error_number = error_from_code(code); }

void print_diagnostic(const char *label) {
  const char *text = error_text(error_number);
  if (label != nullptr && *label != '\0') {
    write_error(label);
    write_error(LABEL_SEPARATOR);
  }
  write_error(text);
  write_error(LINE_END);
}

} // namespace morvidex

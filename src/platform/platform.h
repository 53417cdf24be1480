// The platform layer: every system call the program makes goes through
// the functions declared here, and nothing above this layer includes a
// system header.  Each platform has one source file (posix.cpp today).
//
// A function that can fail returns 0 on success and the platform's own
// error code on failure (errno on POSIX); the layers above turn that code
// into the program's error number.  Nothing here prints or ends the process
// except platform_exit.
#ifndef MORVIDEX_PLATFORM_PLATFORM_H
#define MORVIDEX_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>

namespace morvidex {

// An open file: a descriptor on POSIX, a HANDLE on Win32.
using file_handle = std::intptr_t;

// The handle of a stream that has no file open.
constexpr file_handle NO_HANDLE = -1;

// Stands for memory running out where no platform call failed: no platform
// gives 0 for a failure, so the layers above may hand this code on, and the
// report of a failure turns it into "Not enough memory".
constexpr int CODE_NO_MEMORY = 0;

// The standard handles the console writes to.
enum std_stream { STD_OUTPUT = 1, STD_ERROR = 2 };

// What a name or handle refers to, after following links.
enum file_kind {
  KIND_UNKNOWN,
  KIND_REGULAR,
  KIND_DIRECTORY,
  KIND_CHAR_DEVICE,
  KIND_OTHER, // FIFO, socket, block device
};

// Identifies a file independently of the names that lead to it.
struct file_id {
  unsigned long long device;
  unsigned long long index;
};

// What a status call tells of a file.
struct file_status {
  file_kind kind;
  bool is_link; // the name itself is a symbolic link
  file_id id;
  unsigned long long size; // bytes in a regular file
};

struct platform_dir; // an open directory listing

// How the platform numbers its errors.
enum error_codes { CODES_ERRNO, CODES_WIN32 };

// The numbering this platform's codes follow.
extern const error_codes PLATFORM_ERROR_CODES;

// Prepares the process: closed standard handles are opened on the null
// device, and a vanished pipe reader or a file-size limit turns into a
// failed write instead of a killed process.
void platform_start();

// The handle of a standard stream, and what it is (a character device
// makes standard output unbuffered).
file_handle platform_std_handle(std_stream which);
file_kind platform_std_kind(std_stream which);

// Writes all n bytes, retrying short writes; a failure stops it.
int platform_write(file_handle h, const void *data, std::size_t n);

// Reads up to n bytes; *got is 0 at the end of the file.
int platform_read(file_handle h, void *data, std::size_t n, std::size_t *got);

// Opens an existing regular file for reading; a directory, FIFO, socket or
// device is refused as access denied, without blocking on it.
int platform_open_read(const char *name, file_handle *h, file_status *status);

// Opens a file for writing, creating it when it is missing, and tells what
// it is; a directory is refused as access denied, and a FIFO without a
// reader never blocks.  An existing file is judged by the opened handle:
// when it is keep's file (by the same name, a link, or a name that differs
// only in case where case does not count) the handle is closed with the
// file untouched and the open refused as existing; any other regular file
// is emptied through the handle.
int platform_open_write(const char *name, const file_id *keep, file_handle *h,
                        file_kind *kind);

// Releases a handle; the platform's code when it refuses.
int platform_close(file_handle h);

// Status of a name, following links (is_link tells whether it was one).
int platform_status(const char *name, file_status *status);

// Removes the file called name.
int platform_remove(const char *name);

// Whether name leads straight, not through a symbolic link, to the file
// open as h (to a regular file when h is NO_HANDLE) and that file has no
// other name: only then may removing the name stand for discarding the
// file.  False when that cannot be told.
bool platform_is_sole_name(const char *name, file_handle h);

// Empties the file open as h, leaving every name that leads to it; with h
// NO_HANDLE, the regular file that name leads to, opened for the purpose.
int platform_empty(const char *name, file_handle h);

// Opens a listing of dir; an empty name lists the current directory.
int platform_opendir(const char *dir, platform_dir **listing);

// The next entry name, or nullptr at the end of the listing (a failure to
// fetch an entry ends it too).  *hint is the kind the listing already knows
// of, KIND_UNKNOWN when it knows none; it is valid until the next call.
const char *platform_readdir(platform_dir *listing, file_kind *hint,
                             bool *is_link);

// Releases a listing and everything it holds.
int platform_closedir(platform_dir *listing);

// Status of a listed entry, using what the listing already told
// (hint, is_link) to avoid asking the system again where it can.
int platform_entry_status(const char *name, file_kind hint, bool is_link,
                          file_status *status);

// The absolute path of the current directory, terminated, in size bytes.
int platform_getcwd(char *buffer, std::size_t size);

// Makes path the current directory; it stays unchanged on failure.
int platform_chdir(const char *path);

// The whole command line, on a platform that hands it over as one string
// for the program to split; nullptr where the caller already split it.
const char *platform_command_line();

// The full path of the program's own file.
int platform_program_path(char *buffer, std::size_t size);

// Whether c leads a double-byte character in the narrow code page.
bool platform_is_lead_byte(unsigned char c);

// Ends the process with status at once; nothing is written out.
[[noreturn]] void platform_exit(int status);

} // namespace morvidex

#endif

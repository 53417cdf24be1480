// The platform layer: every system call the program makes goes through
// the functions declared here, and nothing above this layer includes a
// system header.  Each platform has its own source files: linux.cpp with
// linux_paths.cpp and linux_threads.cpp; win32_files.cpp, win32_dirs.cpp
// and win32_process.cpp with win32_owners.cpp and win32_threads.cpp.
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
  unsigned long long size;  // bytes in a regular file
  unsigned long long owner; // the user it belongs to: a user id (POSIX), a
                            // key of the owner's security identifier (Win32)
  unsigned mode;            // its permission bits (POSIX), no set-id bits
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

// A name is looked up in the current directory, or in the directory that
// dir has open (platform_open_directory, platform_open_parent) when it is
// not NO_HANDLE.  A name may be a path.  On the way, a symbolic link is
// followed only when it belongs to the user the program runs as or to
// root; any other is refused as access denied, without being followed.

// Opens the directory that holds the last name of path, from the current
// directory, and points *leaf at that name in path: NO_HANDLE and path
// itself when path names no directory.  A handle it gives is the caller's
// to close.
int platform_open_parent(const char *path, file_handle *dir, const char **leaf);

// Opens an existing regular file for reading; a directory, FIFO, socket or
// device is refused as access denied, without blocking on it.
int platform_open_read(const char *name, file_handle *h, file_status *status,
                       file_handle dir = NO_HANDLE);

// Opens a file for writing, creating it when it is missing with the
// permission bits of source (write added for the owner, less the umask;
// 0666 less the umask without a source), and tells in *opened what it is
// and, for a file that was there, its identity.  A directory is refused
// as access denied, and a FIFO without a reader never blocks.  An existing
// file is judged by the opened handle: when it is source's file (by the
// same name, a link, or a name that differs only in case where case does
// not count) the handle is closed with the file untouched and the open
// refused as existing.  A file another user could have put in the way is
// refused as access denied, untouched: one with several names, a FIFO or
// a socket, unless it and the directory that holds it belong to the
// running user, and a regular file or FIFO of anyone but the running user
// and the owner of source.  Any other regular file is emptied through the
// handle.  With new_only, anything already there (a dangling link
// included) is left alone and refused: see platform_is_existing.
int platform_open_write(const char *name, const file_status *source,
                        file_handle *h, file_status *opened,
                        file_handle dir = NO_HANDLE, bool new_only = false);

// Whether a failure's code tells that a name a new_only open was given
// leads to something already.
bool platform_is_existing(int code);

// Reads up to n bytes from offset on, leaving the handle's position alone
// on POSIX; *got is 0 at or past the end of the file.
int platform_read_at(file_handle h, void *data, std::size_t n,
                     unsigned long long offset, std::size_t *got);

// Writes all n bytes at offset, retrying short writes; a failure stops it.
int platform_write_at(file_handle h, const void *data, std::size_t n,
                      unsigned long long offset);

// Releases a handle; the platform's code when it refuses.
int platform_close(file_handle h);

// Whether name leads to nothing, not even a dangling symbolic link.
bool platform_is_missing(const char *name, file_handle dir = NO_HANDLE);

// Whether two different bare names in one directory always name two
// different entries (no case folding, no short forms of names).
extern const bool PLATFORM_EXACT_NAMES;

// Whether a name given with a directory's handle is looked up in that
// directory; otherwise it is looked up in the current one, whatever the
// handle.
extern const bool PLATFORM_NAMES_IN_HANDLES;

// Removes the file called name.
int platform_remove(const char *name, file_handle dir = NO_HANDLE);

// Opens the directory called name for looking names up in it, and tells
// what it is; refused where the platform cannot look names up that way.
int platform_open_directory(const char *name, file_handle *h, file_id *id);

// Whether name leads straight, not through a symbolic link, to the file
// open as h (to a regular file when h is NO_HANDLE) and that file has no
// other name: only then may removing the name stand for discarding the
// file.  False when that cannot be told.
bool platform_is_sole_name(const char *name, file_handle h,
                           file_handle dir = NO_HANDLE);

// Empties the file open as h, leaving every name that leads to it; with h
// NO_HANDLE, the regular file that name leads to, opened for the purpose,
// and only when it is the file called id.
int platform_empty(const char *name, file_handle h, file_handle dir,
                   const file_id *id);

// Opens a listing of dir; an empty name lists the current directory.  A
// directory that lists no entry at all (it has been removed) is missing.
int platform_opendir(const char *dir, platform_dir **listing);

// Opens a listing of the entry called name in the directory that parent
// lists, or in the current directory for nullptr, never through a link:
// one is refused as access denied.
int platform_opendir_in(const platform_dir *parent, const char *name,
                        platform_dir **listing);

// Makes the directory a listing lists the current directory, by its
// handle where the platform can (on Win32 by name, then checked to be
// that directory).
int platform_enter(const platform_dir *listing);

// A handle of the directory a listing lists, for platform_return; the
// listing keeps it.
file_handle platform_listing_handle(const platform_dir *listing);

// Makes path the current directory again, then checks that it is the
// directory called start: if it is another, the process goes back to the
// directory that back leads to (it is left where it was when back is
// NO_HANDLE) and the return fails as if the directory were missing.
int platform_return(const char *path, const file_id &start, file_handle back);

// The next entry name, or nullptr at the end of the listing (a failure to
// fetch an entry ends it too).  *hint is the kind the listing already knows
// of, KIND_UNKNOWN when it knows none; it is valid until the next call.
const char *platform_readdir(platform_dir *listing, file_kind *hint,
                             bool *is_link);

// What the next platform_readdir asks of the system: the entries a read
// of a directory returns depend on the files there when it is made.
enum listing_read {
  READ_NONE,     // nothing: the entry is already read, or the listing ended
  READ_NEW_ONLY, // a read after one that reached the directory's end, which
                 // can only bring entries made since
  READ_MORE,     // a read that may bring entries that were there before
};
listing_read platform_listing_next_read(const platform_dir *listing);

// The identity of the directory a listing lists.
int platform_listing_id(platform_dir *listing, file_id *id);

// The identity of the current directory.
int platform_current_id(file_id *id);

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

// Threads, locks and conditions to wait on, for work that runs side by
// side.  Nothing above this layer sees a thread library.  A lock or a
// condition lives in storage of its caller's, so that making one never
// allocates and never fails; a failure of the system's waits is a fault of
// the program, never a condition a run meets, and may end the process.

struct platform_thread; // a started thread, until it is joined

// Room for the system's lock and condition variable, whatever they are.
constexpr unsigned PLATFORM_SYNC_SIZE = 64;
struct platform_lock {
  alignas(16) unsigned char storage[PLATFORM_SYNC_SIZE];
};
struct platform_cond {
  alignas(16) unsigned char storage[PLATFORM_SYNC_SIZE];
};

// How many processors the process may run on: those of its affinity mask,
// fewer when a CPU quota allows less; at least 1.
unsigned platform_processors();

// Whether a failure's code tells of a resource running short that other
// work of the process may hold: descriptors, memory, disk space or quota.
bool platform_is_shortage(int code);

// How many descriptors the process may have open at once.
unsigned long platform_descriptor_limit();

// Starts body(arg) on a new thread with a small stack; nullptr when the
// thread cannot start (memory, limits), which leaves nothing behind.
platform_thread *platform_thread_start(void (*body)(void *), void *arg);

// Waits for the thread to finish and releases it.
void platform_thread_join(platform_thread *thread);

// Makes a lock in its storage, and undoes it once no thread uses it.
void platform_lock_init(platform_lock *lock);
void platform_lock_destroy(platform_lock *lock);

// Takes and releases the lock.
void platform_lock_take(platform_lock *lock);
void platform_lock_release(platform_lock *lock);

// Makes a condition in its storage, and undoes it once no thread waits.
void platform_cond_init(platform_cond *cond);
void platform_cond_destroy(platform_cond *cond);

// Releases lock, which the caller holds, waits until the condition is
// signalled, and takes lock again.  A wait may end without a signal:
// callers test what they wait for in a loop.
void platform_cond_wait(platform_cond *cond, platform_lock *lock);

// Wakes one thread, or every thread, waiting on the condition.
void platform_cond_signal(platform_cond *cond);
void platform_cond_broadcast(platform_cond *cond);

// A buffer of size bytes that starts on a page boundary, for data the
// system copies to and from files (a copy between aligned addresses moves
// whole cache lines); nullptr when there is no memory.  Freed only with
// platform_free_buffer.
void *platform_buffer(std::size_t size);
void platform_free_buffer(void *buffer);

// Ends the process with status at once; nothing is written out.
[[noreturn]] void platform_exit(int status);

} // namespace morvidex

#endif

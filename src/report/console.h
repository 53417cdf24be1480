// Standard output and standard error.  Both write every LF as CR LF.
// Standard error is unbuffered.  Standard output is unbuffered on a
// character device and otherwise collects pieces in a 512-byte buffer that
// is written out only when a piece no longer fits and at exit, so the
// order of merged output is fixed.  Failed console writes are ignored.
#ifndef MORVIDEX_REPORT_CONSOLE_H
#define MORVIDEX_REPORT_CONSOLE_H

#include <cstddef>

#include "platform/platform.h"

namespace morvidex {

constexpr std::size_t CONSOLE_BUFFER_SIZE = 512;

// printf hands its output on in pieces of at most this many bytes.
constexpr std::size_t PIECE_SIZE = 80;

struct console_stream {
  file_handle handle;
  bool buffered;
  std::size_t count;
  unsigned char buffer[CONSOLE_BUFFER_SIZE];
};

// Prepares the standard handles and chooses the buffering of standard
// output; called once, before anything is printed.
void start_console();

// Formats to standard output; "%s" inserts the next argument's bytes.
void printf(const char *format, const char *first = nullptr,
            const char *second = nullptr);

// Writes one piece to standard error at once.
void write_error(const char *piece);

// Writes out what standard output holds (part of the exit sequence).
void flush_console();

// The building blocks, on any console stream.  console_flush empties the
// buffer whether or not its write-out succeeds, and returns 0 or the
// platform's code.
void console_put(console_stream *stream, const unsigned char *piece,
                 std::size_t n);
void console_print(console_stream *stream, const char *format,
                   const char *first, const char *second);
int console_flush(console_stream *stream);

} // namespace morvidex

#endif

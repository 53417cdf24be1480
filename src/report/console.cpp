#include "report/console.h"

#include <algorithm>
#include <cstring>

#include "textio/stream.h"

namespace morvidex {

namespace {

console_stream standard_output = {NO_HANDLE, false, 0, {}};
console_stream standard_error = {NO_HANDLE, false, 0, {}};

// A write to the console that fails is not reported; the caller only
// learns whether it succeeded.
int write_text(file_handle handle, const unsigned char *data, std::size_t n) {
  unsigned char staging[STAGING_SIZE];
  return text_write(handle, data, n, staging, sizeof staging);
}

// Collects formatted bytes and passes them on PIECE_SIZE at a time.
struct piece {
  console_stream *stream;
  std::size_t n;
  unsigned char bytes[PIECE_SIZE];
};

void put_bytes(piece *p, const char *s, std::size_t n) {
  while (n > 0) {
    if (p->n == PIECE_SIZE) {
      console_put(p->stream, p->bytes, p->n);
      p->n = 0;
    }
    std::size_t run = std::min(n, PIECE_SIZE - p->n);
    std::memcpy(p->bytes + p->n, s, run);
    p->n += run;
    s += run;
    n -= run;
  }
}

} // namespace

void start_console() {
  platform_start();
  standard_output.handle = platform_std_handle(STD_OUTPUT);
  standard_error.handle = platform_std_handle(STD_ERROR);
  standard_output.buffered = platform_std_kind(STD_OUTPUT) != KIND_CHAR_DEVICE;
}

void printf(const char *format, const char *first, const char *second) {
  console_print(&standard_output, format, first, second);
}

void write_error(const char *piece) {
  console_put(&standard_error, reinterpret_cast<const unsigned char *>(piece),
              std::strlen(piece));
}

void flush_console() { console_flush(&standard_output); }

void console_put(console_stream *stream, const unsigned char *piece,
                 std::size_t n) {
  if (!stream->buffered) {
    write_text(stream->handle, piece, n);
    return;
  }
  // A failed write-out loses its batch and takes the piece that caused it
  // along: the next piece starts an empty buffer.
  if (stream->count + n > CONSOLE_BUFFER_SIZE && console_flush(stream) != 0)
    return;
  std::memcpy(stream->buffer + stream->count, piece, n);
  stream->count += n;
}

void console_print(console_stream *stream, const char *format,
                   const char *first, const char *second) {
  const char *args[] = {first, second};
  std::size_t next_arg = 0;
  piece p;
  p.stream = stream;
  p.n = 0;
  for (const char *f = format; *f != '\0';) {
    if (f[0] == '%' && f[1] == 's' && next_arg < 2 && args[next_arg]) {
      const char *arg = args[next_arg++];
      put_bytes(&p, arg, std::strlen(arg));
      f += 2;
      continue;
    }
    // The literal text up to the next '%' other than this one.
    std::size_t run = 1 + std::strcspn(f + 1, "%");
    put_bytes(&p, f, run);
    f += run;
  }
  if (p.n > 0)
    console_put(stream, p.bytes, p.n);
}

int console_flush(console_stream *stream) {
  std::size_t n = stream->count;
  stream->count = 0;
  return n > 0 ? write_text(stream->handle, stream->buffer, n) : 0;
}

} // namespace morvidex

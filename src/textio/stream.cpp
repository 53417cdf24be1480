#include "textio/stream.h"

#include <cstdlib>
#include <cstring>

namespace morvidex {

namespace {

// The last stream released of each direction, buffers and all, kept for
// the next open: a walk opens a pair of streams per file, and taking its
// buffers afresh each time costs more than the conversion of a small file.
// Each thread keeps its own.
thread_local text_stream *spare[2];

// A stream with buffers for any kind of file, allocated before the file is
// opened so that running out of memory never creates or empties a target.
// They come from malloc and the platform, never operator new: even its
// nothrow form may end the process when memory is so short that not even
// its exception fits.
// A write stream's staging area holds its whole buffer expanded, so that
// the write-out of a regular file is one platform call.
text_stream *allocate_stream(bool writing) {
  auto *stream =
      static_cast<text_stream *>(std::calloc(1, sizeof(text_stream)));
  if (stream == nullptr)
    return nullptr;
  std::size_t staging = writing ? 2 * FILE_BLOCK : 0;
  stream->buffer =
      static_cast<unsigned char *>(platform_buffer(FILE_BLOCK + staging));
  if (stream->buffer == nullptr) {
    std::free(stream);
    return nullptr;
  }
  return stream;
}

text_stream *make_stream(bool writing) {
  text_stream *stream = spare[writing];
  if (stream != nullptr) {
    spare[writing] = nullptr;
    unsigned char *buffer = stream->buffer;
    *stream = text_stream{};
    stream->buffer = buffer;
  } else {
    stream = allocate_stream(writing);
    if (stream == nullptr)
      return nullptr;
  }
  stream->handle = NO_HANDLE;
  stream->writing = writing;
  return stream;
}

void release(text_stream *stream) {
  if (spare[stream->writing] == nullptr) {
    spare[stream->writing] = stream;
    return;
  }
  platform_free_buffer(stream->buffer);
  std::free(stream);
}

// Sizes the buffers for what was opened: a device or other special file
// keeps the classic 512-byte blocks and 128-byte staging.
void fit_to_kind(text_stream *stream, file_kind kind) {
  stream->regular = kind == KIND_REGULAR;
  stream->line_buffered = kind == KIND_CHAR_DEVICE;
  stream->size = stream->regular ? FILE_BLOCK : DEVICE_BLOCK;
  stream->staging = stream->buffer + stream->size;
  if (stream->writing)
    stream->staging_size = stream->regular ? 2 * FILE_BLOCK : STAGING_SIZE;
}

} // namespace

bool make_spare_streams(spare_streams *streams) {
  streams->kept[0] = allocate_stream(false);
  streams->kept[1] = allocate_stream(true);
  if (streams->kept[0] != nullptr && streams->kept[1] != nullptr)
    return true;
  free_spare_streams(streams);
  return false;
}

void swap_spare_streams(spare_streams *streams) {
  for (int writing = 0; writing < 2; writing++) {
    text_stream *kept = spare[writing];
    spare[writing] = streams->kept[writing];
    streams->kept[writing] = kept;
  }
}

void free_spare_streams(spare_streams *streams) {
  for (text_stream *&stream : streams->kept) {
    if (stream != nullptr) {
      platform_free_buffer(stream->buffer);
      std::free(stream);
      stream = nullptr;
    }
  }
}

text_stream *fopen(const char *name, const char *mode, int *code,
                   const text_stream *keep, file_handle dir) {
  bool writing = mode[0] == 'w';
  text_stream *stream = make_stream(writing);
  if (stream == nullptr) {
    *code = CODE_NO_MEMORY;
    return nullptr;
  }
  file_status status{};
  file_status source{};
  if (keep != nullptr)
    source =
        file_status{KIND_REGULAR, false, keep->id, 0, keep->owner, keep->mode};
  bool new_only = std::strchr(mode, 'x') != nullptr;
  *code = writing
              ? platform_open_write(name, keep != nullptr ? &source : nullptr,
                                    &stream->handle, &status, dir, new_only)
              : platform_open_read(name, &stream->handle, &status, dir);
  if (*code != 0) {
    release(stream);
    return nullptr;
  }
  fit_to_kind(stream, status.kind);
  stream->id = status.id;
  stream->owner = status.owner;
  stream->mode = status.mode;
  stream->unread_size = writing ? 0 : status.size;
  return stream;
}

int fclose(text_stream *stream, int *code) {
  int result = 0;
  *code = 0;
  if (stream->writing && stream->count > 0 && stream->handle != NO_HANDLE &&
      write_out(stream) != 0) {
    result = -1;
    *code = stream->code;
  }
  // The caller may have released the handle itself already.
  int closed = stream->handle == NO_HANDLE ? 0 : platform_close(stream->handle);
  if (closed != 0 && result == 0) {
    result = -1;
    *code = closed;
  }
  release(stream);
  return result;
}

int fgetc_refill(text_stream *stream) {
  if (stream->writing || stream->error) {
    stream->error = true;
    return -1;
  }
  int code = 0;
  long n = text_read(stream->handle, stream->buffer, stream->size,
                     &stream->marker_seen, &code);
  stream->next = 0;
  stream->end = n > 0 ? static_cast<std::size_t>(n) : 0;
  if (n > 0) {
    stream->eof = false;
    return stream->buffer[stream->next++];
  }
  if (n == 0) {
    stream->eof = true;
  } else {
    stream->error = true;
    stream->code = code;
  }
  return -1;
}

int fputc_flush(int c, text_stream *stream) {
  if (!stream->writing || stream->error) {
    stream->error = true;
    return -1;
  }
  if (stream->count == stream->size && write_out(stream) != 0)
    return -1;
  stream->room = stream->size;
  unsigned char b = static_cast<unsigned char>(c);
  stream->buffer[stream->count++] = b;
  return stream->line_buffered ? put_line_end(stream, b) : b;
}

int put_line_end(text_stream *stream, unsigned char c) {
  if ((c == LF || c == CR) && write_out(stream) != 0)
    return -1;
  return c;
}

int write_out(text_stream *stream) {
  std::size_t n = stream->count;
  stream->count = 0;
  int code = text_write(stream->handle, stream->buffer, n, stream->staging,
                        stream->staging_size);
  if (code == 0)
    return 0;
  stream->error = true;
  stream->code = code;
  return -1;
}

long text_read(file_handle h, unsigned char *data, std::size_t n,
               bool *marker_seen, int *code) {
  for (;;) {
    if (*marker_seen)
      return 0;
    std::size_t got = 0;
    *code = platform_read(h, data, n, &got);
    if (*code != 0)
      return -1;
    if (got == 0)
      return 0;
    got = drop_cr(data, cut_at_marker(data, got, marker_seen));
    // A block of nothing but CRs delivers nothing: read on.  One that held
    // the marker ends the data at the top of the loop.
    if (got > 0)
      return static_cast<long>(got);
  }
}

int text_write(file_handle h, const unsigned char *data, std::size_t n,
               unsigned char *staging, std::size_t staging_size) {
  while (n > 0) {
    std::size_t made = 0;
    std::size_t taken = expand_line_ends(staging, staging_size, data, n, &made);
    data += taken;
    n -= taken;
    int code = platform_write(h, staging, made);
    if (code != 0)
      return code;
  }
  return 0;
}

} // namespace morvidex

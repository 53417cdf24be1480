// Buffered text streams over platform file handles, with the DOS text
// convention applied by the program itself on every platform: reading
// drops every CR and ends the data at the first 0x1A; writing turns every
// LF into CR LF.  fopen, fclose, fgetc, fputc, feof and ferror are the
// program's own, in its namespace, not the C library's: they have the
// interfaces of their standard namesakes, except that a failure keeps the
// platform's error code for the caller to report.
#ifndef MORVIDEX_TEXTIO_STREAM_H
#define MORVIDEX_TEXTIO_STREAM_H

#include <cstddef>

#include "platform/platform.h"
#include "textio/text_format.h"

namespace morvidex {

// A stream on a regular file moves data in blocks of this size; one on a
// device or other special file keeps the classic 512 bytes.
constexpr std::size_t FILE_BLOCK = 256 * 1024;
constexpr std::size_t DEVICE_BLOCK = 512;

// Bytes handed to the platform per call when a small buffer is written out.
constexpr std::size_t STAGING_SIZE = 128;

// One open file and its buffer, in one direction.
struct text_stream {
  unsigned char *buffer;
  std::size_t size;       // characters the buffer holds when full
  std::size_t next;       // reading: next unread byte
  std::size_t end;        // reading: end of the unread bytes
  std::size_t count;      // writing: characters stored
  std::size_t room;       // writing: 0 until the first character is stored
  unsigned char *staging; // writing: where LF becomes CR LF on write-out
  std::size_t staging_size;
  file_handle handle;
  file_id id; // the file's identity; writing: {0, 0} for a file the open
              // created, which no other name can lead to yet
  unsigned long long owner;       // reading: the user the file belongs to
  unsigned mode;                  // reading: its permission bits
  unsigned long long unread_size; // reading: bytes not yet read, as of open
  bool writing;
  bool eof;           // a refill found no more data
  bool error;         // a read or write failed; kept until closed
  bool marker_seen;   // 0x1A met: the handle delivers nothing more
  bool line_buffered; // a character device: CR and LF write out at once
  bool regular;       // a regular file, not a device
  int code;           // the platform's code for the last failure
};

// Opens name with mode "rt" (an existing regular file) or "wt" (created,
// or emptied when it exists).  The buffers are taken before the file is
// opened, so running out of memory never creates or empties a file.
// Returns nullptr on failure with the platform's code in *code, or
// CODE_NO_MEMORY there when memory ran out.  A "wt" open given keep, an
// open read stream, copies keep's file: it refuses a file that turns out
// to be keep's (by the same name, a link, or a name that differs only in
// case where case does not count) and leaves it untouched, since writing
// it would destroy that file; a file it creates takes keep's permission
// bits; and it refuses what another user may have put in the way
// (platform_open_write tells what).  A "wxt" open only creates: a name
// that leads to anything already is refused (platform_is_existing tells
// by the code) and left alone.  The name is looked up in the directory
// dir has open, unless NO_HANDLE.
text_stream *fopen(const char *name, const char *mode, int *code,
                   const text_stream *keep = nullptr,
                   file_handle dir = NO_HANDLE);

// Each thread keeps the streams it has closed, one of each direction, for
// its next opens.  A thread that must not allocate (a worker: memory taken
// on its behalf by the thread that started it stays with that thread's
// allocator) is given a pair made ahead for the time of its work.
struct spare_streams {
  text_stream *kept[2]; // read, write
};

// Allocates a pair on the calling thread; false when memory runs out.
bool make_spare_streams(spare_streams *streams);
// Exchanges the pair with those the calling thread keeps: once to make
// the pair the thread's own, once more to take it back.
void swap_spare_streams(spare_streams *streams);
// Frees what the pair holds.
void free_spare_streams(spare_streams *streams);
// The buffers of a pair made and not in use, for other work: FILE_BLOCK
// bytes, and 2 * FILE_BLOCK bytes right after them.
inline unsigned char *spare_buffers(const spare_streams *streams) {
  return streams->kept[1]->buffer;
}

// Writes out what is buffered and releases the stream, also when the write
// fails.  Returns 0, or -1 with the platform's code in *code.
int fclose(text_stream *stream, int *code);

// The slow paths of fgetc and fputc, out of line: a refill of an empty
// buffer, the write-out of a full one, and the write-out of a line on a
// line-buffered stream once c, just stored, ends it.
int fgetc_refill(text_stream *stream);
int fputc_flush(int c, text_stream *stream);
int put_line_end(text_stream *stream, unsigned char c);

// Writes out the stored characters; the buffer counts as empty afterwards
// whether or not the write succeeds.  Returns 0, or -1 with the error set.
int write_out(text_stream *stream);

// The next byte of data, 0 to 255, or -1 at the end of the data or on a
// read failure (feof and ferror tell which).  Only a refill costs a call.
inline int fgetc(text_stream *stream) {
  if (stream->next < stream->end)
    return stream->buffer[stream->next++];
  return fgetc_refill(stream);
}

// Stores the low 8 bits of c; returns them, or -1 when the stream refuses
// the character or a write-out fails.  A line feed alone never writes.
inline int fputc(int c, text_stream *stream) {
  if (stream->count < stream->room) {
    unsigned char b = static_cast<unsigned char>(c);
    stream->buffer[stream->count++] = b;
    return stream->line_buffered ? put_line_end(stream, b) : b;
  }
  return fputc_flush(c, stream);
}

// Whether a refill found no more data, and whether a read or write failed.
inline int feof(const text_stream *stream) { return stream->eof; }
inline int ferror(const text_stream *stream) { return stream->error; }

// Reads up to n bytes of text data: CRs removed, nothing from the first
// 0x1A on.  Returns the count, 0 at the end, -1 on failure (*code set).
long text_read(file_handle h, unsigned char *data, std::size_t n,
               bool *marker_seen, int *code);

// Writes n bytes with every LF expanded to CR LF, through a staging area of
// staging_size bytes (at least 2), one platform call per full area.
// Returns 0 or the platform's code.
int text_write(file_handle h, const unsigned char *data, std::size_t n,
               unsigned char *staging, std::size_t staging_size);

} // namespace morvidex

#endif

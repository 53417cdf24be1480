#include "textio/stream.h"

#include <algorithm>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace morvidex {

namespace {

// Removes every CR from p[0..n) in place; returns the new length.
std::size_t drop_cr(unsigned char *p, std::size_t n) {
  unsigned char *end = p + n;
  auto *out = static_cast<unsigned char *>(std::memchr(p, CR, n));
  if (out == nullptr)
    return n;
  const unsigned char *in = out + 1;
  while (in < end) {
    const auto *cr = static_cast<const unsigned char *>(
        std::memchr(in, CR, static_cast<std::size_t>(end - in)));
    const unsigned char *stop = cr != nullptr ? cr : end;
    std::size_t run = static_cast<std::size_t>(stop - in);
    std::memmove(out, in, run);
    out += run;
    in = stop + 1;
  }
  return static_cast<std::size_t>(out - p);
}

// Hands the stored characters to the platform.  The buffer counts as empty
// afterwards whether or not the write succeeds.
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

// A stream with buffers for any kind of file, allocated before the file is
// opened so that running out of memory never creates or empties a target.
// A write stream's staging area holds its whole buffer expanded, so that
// the write-out of a regular file is one platform call.
text_stream *make_stream(bool writing) {
  auto *stream = new (std::nothrow) text_stream{};
  if (stream == nullptr)
    return nullptr;
  std::size_t staging = writing ? 2 * FILE_BLOCK : 0;
  stream->buffer = new (std::nothrow) unsigned char[FILE_BLOCK + staging];
  if (stream->buffer == nullptr) {
    delete stream;
    return nullptr;
  }
  stream->handle = NO_HANDLE;
  stream->writing = writing;
  return stream;
}

void release(text_stream *stream) {
  delete[] stream->buffer;
  delete stream;
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

// Bytes a vector step of convert_text takes at a time, and its lane mask.
constexpr std::size_t CHUNK = 16;
constexpr unsigned CHUNK_LANES = 0xFFFF;

// The written form of n bytes of raw text, one byte at a time.
std::size_t convert_bytes(unsigned char *dst, const unsigned char *src,
                          std::size_t n, letter_case to) {
  std::size_t out = 0;
  for (std::size_t i = 0; i < n; i++) {
    unsigned char b = src[i];
    if (b == CR)
      continue;
    if (b == LF)
      dst[out++] = CR;
    dst[out++] = map_byte(to, b);
  }
  return out;
}

// Moves the text data the source already holds into the target, a run at
// a time while the target has room; false when the target refuses.
bool move_unread(text_stream *source, text_stream *target, letter_case to) {
  while (source->next < source->end) {
    std::size_t room = target->room - target->count;
    if (room == 0 || target->line_buffered) {
      int c = source->buffer[source->next++];
      if (fputc(to == TO_LOWER ? tolower(c) : toupper(c), target) == -1)
        return false;
      continue;
    }
    std::size_t n = std::min(source->end - source->next, room);
    map_run(to, target->buffer + target->count, source->buffer + source->next,
            n);
    source->next += n;
    target->count += n;
  }
  return true;
}

// The rest of the copy into a regular file, with the target's buffer
// empty: each raw block read is converted straight into the target's
// staging area and written, one read and one write per block, with the
// same data, indications and failures as a refill and write-out give.
void convert_blocks(text_stream *source, text_stream *target, letter_case to) {
  for (;;) {
    std::size_t got = 0;
    int code =
        source->marker_seen
            ? 0
            : platform_read(source->handle, source->buffer, source->size, &got);
    if (code != 0) {
      source->error = true;
      source->code = code;
      return;
    }
    if (got == 0) {
      source->eof = true;
      return;
    }
    // A short read that ends exactly at the size the file had when it was
    // opened is its end: the read that would only say so is spared.  Files
    // whose size tells nothing (those of /proc say 0) read on to a read of
    // nothing.
    bool at_end = got < source->size && got == source->unread_size;
    source->unread_size -=
        std::min<unsigned long long>(got, source->unread_size);
    auto *marker = static_cast<unsigned char *>(
        std::memchr(source->buffer, EOF_MARKER, got));
    if (marker != nullptr) {
      source->marker_seen = true;
      got = static_cast<std::size_t>(marker - source->buffer);
    }
    std::size_t n = convert_text(target->staging, source->buffer, got, to);
    code = n > 0 ? platform_write(target->handle, target->staging, n) : 0;
    if (code != 0) {
      target->error = true;
      target->code = code;
      return;
    }
    if (at_end || source->marker_seen) {
      source->eof = true;
      return;
    }
  }
}

} // namespace

text_stream *fopen(const char *name, const char *mode, int *code,
                   const text_stream *keep) {
  bool writing = mode[0] == 'w';
  text_stream *stream = make_stream(writing);
  if (stream == nullptr) {
    *code = 0;
    return nullptr;
  }
  file_status status{};
  const file_id *keep_id = keep != nullptr ? &keep->id : nullptr;
  *code = writing ? platform_open_write(name, keep_id, &stream->handle,
                                        &status.kind)
                  : platform_open_read(name, &stream->handle, &status);
  if (*code != 0) {
    release(stream);
    return nullptr;
  }
  fit_to_kind(stream, status.kind);
  stream->id = status.id;
  stream->unread_size = status.size;
  return stream;
}

int fclose(text_stream *stream, int *code) {
  int result = 0;
  *code = 0;
  if (stream->writing && stream->count > 0 && write_out(stream) != 0) {
    result = -1;
    *code = stream->code;
  }
  int closed = platform_close(stream->handle);
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

void copy_mapped(text_stream *source, text_stream *target, letter_case to) {
  while (!source->eof && !source->error) {
    if (!move_unread(source, target, to))
      return;
    if (target->regular) {
      if (target->count == 0 || write_out(target) == 0)
        convert_blocks(source, target, to);
      return;
    }
    // A device: refill through the ordinary path, one character at a time.
    int c = fgetc(source);
    if (source->eof || source->error)
      return;
    if (fputc(to == TO_LOWER ? tolower(c) : toupper(c), target) == -1)
      return;
  }
}

std::size_t convert_text(unsigned char *dst, const unsigned char *src,
                         std::size_t n, letter_case to) {
  std::size_t done = 0;
  std::size_t out = 0;
#if defined(__SSE2__)
  // A chunk in which every CR is directly followed by an LF and every LF
  // directly preceded by a CR comes out as it went in, letters mapped: the
  // CR is dropped and the LF written as CR LF.  Any other chunk, and the
  // tail, go byte by byte.
  const __m128i cr = _mm_set1_epi8(static_cast<char>(CR));
  const __m128i lf = _mm_set1_epi8(static_cast<char>(LF));
  const __m128i shift = _mm_set1_epi8(
      static_cast<char>(to == TO_LOWER ? 0x80 - 'A' : 0x80 - 'a'));
  const __m128i limit = _mm_set1_epi8(static_cast<char>(0x80 + 26));
  const __m128i case_bit = _mm_set1_epi8(0x20);
  // A CR in the last lane may pair with an LF that opens the next chunk:
  // it then goes out as it is, and that LF with it (carry).
  unsigned carry = 0;
  for (; done + CHUNK <= n; done += CHUNK) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + done));
    unsigned crs =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, cr)));
    unsigned lfs =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)));
    unsigned want_lf = (crs << 1) | carry;
    bool last_cr = (want_lf >> CHUNK) != 0;
    bool paired = (want_lf & CHUNK_LANES) == lfs &&
                  (!last_cr || (done + CHUNK < n && src[done + CHUNK] == LF));
    if (!paired) {
      if (carry != 0)
        dst[out++] = LF;
      out += convert_bytes(dst + out, src + done + carry, CHUNK - carry, to);
      carry = 0;
      continue;
    }
    // Letters land below the signed limit after the shift; their case bit
    // flips.
    __m128i letters = _mm_cmplt_epi8(_mm_add_epi8(v, shift), limit);
    v = _mm_xor_si128(v, _mm_and_si128(letters, case_bit));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + out), v);
    out += CHUNK;
    carry = last_cr ? 1 : 0;
  }
  if (carry != 0) {
    dst[out++] = LF;
    done++;
  }
#endif
  return out + convert_bytes(dst + out, src + done, n - done, to);
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
    auto *marker =
        static_cast<unsigned char *>(std::memchr(data, EOF_MARKER, got));
    if (marker != nullptr) {
      *marker_seen = true;
      got = static_cast<std::size_t>(marker - data);
    }
    got = drop_cr(data, got);
    // A block of nothing but CRs delivers nothing: read on.
    if (got > 0 || *marker_seen)
      return static_cast<long>(got);
  }
}

int text_write(file_handle h, const unsigned char *data, std::size_t n,
               unsigned char *staging, std::size_t staging_size) {
  std::size_t used = 0;
  while (n > 0) {
    std::size_t span = std::min(n, staging_size - used);
    const auto *lf =
        static_cast<const unsigned char *>(std::memchr(data, LF, span));
    std::size_t run =
        lf != nullptr ? static_cast<std::size_t>(lf - data) : span;
    std::memcpy(staging + used, data, run);
    used += run;
    data += run;
    n -= run;
    if (lf != nullptr) {
      // A CR LF that no longer fits waits for the next area.
      if (staging_size - used < 2) {
        int code = platform_write(h, staging, used);
        if (code != 0)
          return code;
        used = 0;
      }
      staging[used++] = CR;
      staging[used++] = LF;
      data++;
      n--;
    }
    if (used == staging_size) {
      int code = platform_write(h, staging, used);
      if (code != 0)
        return code;
      used = 0;
    }
  }
  return used > 0 ? platform_write(h, staging, used) : 0;
}

} // namespace morvidex

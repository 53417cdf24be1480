#include "textio/block_copy.h"

#include <algorithm>
#include <cstdlib>

namespace morvidex {

namespace {

int map_char(letter_case to, int c) {
  return to == TO_LOWER ? tolower(c) : toupper(c);
}

// Moves the text data the source already holds into the target, a run at
// a time while the target has room; false when the target refuses.
bool move_unread(text_stream *source, text_stream *target, letter_case to) {
  while (source->next < source->end) {
    std::size_t room = target->room - target->count;
    if (room == 0 || target->line_buffered) {
      int c = source->buffer[source->next++];
      if (fputc(map_char(to, c), target) == -1)
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

// Reads the source's next raw block into its buffer, cut before a 0x1A,
// with its length in *got; *last tells that no read need follow.  False
// at a read failure, which sets the error.
bool read_block(text_stream *source, std::size_t *got, bool *last) {
  *got = 0;
  int code = source->marker_seen ? 0
                                 : platform_read(source->handle, source->buffer,
                                                 source->size, got);
  if (code != 0) {
    source->error = true;
    source->code = code;
    return false;
  }
  // A short read that ends exactly at the size the file had when it was
  // opened is its end: the read that would only say so is spared.  Files
  // whose size tells nothing (those of /proc say 0) read on to a read of
  // nothing.
  bool at_end =
      *got == 0 || (*got < source->size && *got == source->unread_size);
  source->unread_size -=
      std::min<unsigned long long>(*got, source->unread_size);
  *got = cut_at_marker(source->buffer, *got, &source->marker_seen);
  *last = at_end || source->marker_seen;
  return true;
}

// The rest of the copy into a regular file, with the target's buffer
// empty: each raw block read is converted straight into the target's
// staging area and written, one read and one write per block, with the
// same data, indications and failures as a refill and write-out give.
void convert_blocks(text_stream *source, text_stream *target, letter_case to) {
  for (;;) {
    std::size_t got = 0;
    bool last = false;
    if (!read_block(source, &got, &last))
      return;
    std::size_t n = convert_text(target->staging, source->buffer, got, to);
    int code = n > 0 ? platform_write(target->handle, target->staging, n) : 0;
    if (code != 0) {
      target->error = true;
      target->code = code;
      return;
    }
    if (last) {
      source->eof = true;
      return;
    }
  }
}

} // namespace

bool copy_may_split(const text_stream *source, const text_stream *target) {
  return source->unread_size > FILE_BLOCK && source->next == source->end &&
         !source->eof && !source->error && target->count == 0 &&
         !target->error && target->regular;
}

void end_split_copy(text_stream *source, text_stream *target, int code,
                    bool read_failed) {
  if (code == 0) {
    source->eof = true;
  } else if (read_failed) {
    source->error = true;
    source->code = code;
  } else {
    target->error = true;
    target->code = code;
  }
}

void copy_mapped(text_stream *source, text_stream *target, letter_case to) {
  while (!source->eof && !source->error) {
    if (!move_unread(source, target, to))
      return;
    if (target->regular) {
      // What the target holds goes first; an empty buffer costs no call.
      if (write_out(target) == 0)
        convert_blocks(source, target, to);
      return;
    }
    // A device: refill through the ordinary path, one character at a time.
    int c = fgetc(source);
    if (source->eof || source->error)
      return;
    if (fputc(map_char(to, c), target) == -1)
      return;
  }
}

} // namespace morvidex

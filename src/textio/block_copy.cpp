#include "textio/block_copy.h"

#include <algorithm>
#include <cstdlib>

#include "textio/pool.h"

namespace morvidex {

namespace {

// No block: the end of the data or a failure not yet found.
constexpr unsigned long long NO_BLOCK = ~0ULL;

// The blocks of one file, offered to the pool's workers; every field that
// changes is read and written in the pool's monitor.  Block b is the raw
// bytes from b * FILE_BLOCK on; each is converted alone (CR, 0x1A and
// letters need no context), and written where the blocks before it ended,
// in block order.
struct block_run {
  pool_task task; // first: the pool hands it back to serve_blocks
  file_handle in;
  file_handle out;
  letter_case to;
  unsigned long long next;      // the next block to take
  unsigned long long turn;      // the block to be written next
  unsigned long long end;       // no block from here on holds data
  unsigned long long failed;    // the block whose read or write failed
  unsigned long long written;   // where the block of turn goes
  unsigned long long failed_at; // where the failed block's data go
  int code;                     // that failure's code
  bool read_failed;             // whether it was the read
  unsigned helpers;             // workers converting its blocks now
};

// A thread at work on a run, with its buffers: a raw block and its
// converted form.
struct block_worker {
  block_run *run;
  unsigned char *raw;       // FILE_BLOCK bytes
  unsigned char *converted; // 2 * FILE_BLOCK bytes
};

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

// Reads block b and converts it into w->converted, n bytes; *ends tells
// that no later block holds data (a short block, a 0x1A).  Returns 0 or
// the read's code.
int convert_block(const block_worker *w, unsigned long long b, std::size_t *n,
                  bool *ends) {
  const block_run *run = w->run;
  std::size_t got = 0;
  int code =
      platform_read_at(run->in, w->raw, FILE_BLOCK, b * FILE_BLOCK, &got);
  if (code != 0)
    return code;
  bool marker = false;
  std::size_t data = cut_at_marker(w->raw, got, &marker);
  *ends = got < FILE_BLOCK || marker;
  *n = convert_text(w->converted, w->raw, data, run->to);
  return 0;
}

// Marks block b, whose data go at offset at, failed with code, in the
// monitor; an earlier failed block stays the one that counts.
void fail_block(block_run *run, unsigned long long b, unsigned long long at,
                int code, bool reading) {
  if (b < run->failed) {
    run->failed = b;
    run->failed_at = at;
    run->code = code;
    run->read_failed = reading;
  }
  pool_wake_all();
}

// The work of one thread, in the pool's monitor: takes the next block,
// converts it, waits until every block before it is written and writes
// it.  A block after the end of the data or after a failure is dropped
// unseen, its own failure included, so what is written and what fails is
// what one thread reading the blocks in order would write and meet.
void convert_in_turn(block_worker *w) {
  block_run *run = w->run;
  while (run->next < run->end && run->next < run->failed) {
    unsigned long long b = run->next++;
    pool_leave();
    std::size_t n = 0;
    bool ends = false;
    int code = convert_block(w, b, &n, &ends);
    pool_enter();
    if (code == 0 && ends && b + 1 < run->end) {
      run->end = b + 1;
      pool_wake_all();
    }
    while (run->turn < b && b < run->end && b < run->failed)
      pool_wait();
    if (b >= run->end || b >= run->failed)
      continue;
    if (code != 0) {
      fail_block(run, b, run->written, code, true);
      continue;
    }
    // The block's place is known once the blocks before it are converted:
    // the turn passes on before the write, so that writes follow each
    // other without a wait between them.
    unsigned long long at = run->written;
    run->written += n;
    run->turn = b + 1;
    pool_wake_all();
    pool_leave();
    code = n > 0 ? platform_write_at(run->out, w->converted, n, at) : 0;
    pool_enter();
    if (code != 0)
      fail_block(run, b, at, code, false);
  }
}

// A worker's share of a run offered to the pool: the blocks it can take,
// in the buffers of the streams it keeps while it converts no file.
bool serve_blocks(pool_task *task) {
  auto *run = reinterpret_cast<block_run *>(task);
  block_worker w{run, nullptr, nullptr};
  if (run->next >= run->end || run->next >= run->failed ||
      !lend_spare_buffers(&w.raw, &w.converted))
    return false;
  run->helpers++;
  convert_in_turn(&w);
  run->helpers--;
  pool_wake_all();
  return true;
}

// The whole copy of a fresh source into an empty regular target, its
// blocks offered to the pool's workers beside the calling thread.  A
// failure may come from work running ahead (memory, space taken by
// another process), so once the helpers are done, the calling thread
// alone takes up the work again from the failed block, and only a second
// failure is reported.
void convert_side_by_side(text_stream *source, text_stream *target,
                          letter_case to) {
  block_run run{{serve_blocks, nullptr},
                source->handle,
                target->handle,
                to,
                0,
                0,
                NO_BLOCK,
                NO_BLOCK,
                0,
                0,
                0,
                false,
                0};
  block_worker self{&run, source->buffer, target->staging};
  pool_enter();
  pool_offer(&run.task, true);
  convert_in_turn(&self);
  pool_withdraw(&run.task);
  while (run.helpers > 0)
    pool_wait();
  if (run.failed != NO_BLOCK) {
    run.next = run.turn = run.failed;
    run.written = run.failed_at;
    run.failed = NO_BLOCK;
    convert_in_turn(&self);
  }
  pool_leave();
  if (run.failed == NO_BLOCK) {
    source->eof = true;
  } else if (run.read_failed) {
    source->error = true;
    source->code = run.code;
  } else {
    target->error = true;
    target->code = run.code;
  }
}

} // namespace

void copy_mapped(text_stream *source, text_stream *target, letter_case to,
                 bool side_by_side) {
  // A large file not yet read, into an empty regular file: its blocks may
  // be converted side by side.
  bool fresh = source->next == source->end && !source->eof && !source->error &&
               target->count == 0 && !target->error;
  if (side_by_side && fresh && target->regular &&
      source->unread_size > FILE_BLOCK && pool_start() > 0) {
    convert_side_by_side(source, target, to);
    return;
  }
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

#include "translate/blocks.h"

#include "textio/block_copy.h"
#include "textio/text_format.h"

namespace morvidex {

namespace {

// No block: the end of the data or a failure not yet found.
constexpr unsigned long long NO_BLOCK = ~0ULL;

// A run under way.  The blocks from next on are not taken yet; turn is
// the block whose data are placed next, at offset written.  Every field
// below lock is read and written under it.
struct block_run {
  const block_source *source;
  crew *helpers;
  platform_lock lock;
  platform_cond moved; // turn, end or failed changed
  platform_cond idle;  // posted fell to 0
  unsigned long long next;
  unsigned long long turn;
  unsigned long long end;       // no block from here on holds data
  unsigned long long failed;    // the earliest block whose read or write
                                // failed
  unsigned long long written;   // where the block of turn goes
  unsigned long long failed_at; // where the failed block's data go
  int code;                     // that failure's code
  bool read_failed;
  unsigned posted; // helper jobs given to the pool and not yet ended
};

// Marks block b, whose data go at offset at, failed with code; an
// earlier failed block stays the one that counts.
void fail_block(block_run *run, unsigned long long b, unsigned long long at,
                int code, bool reading) {
  if (b < run->failed) {
    run->failed = b;
    run->failed_at = at;
    run->code = code;
    run->read_failed = reading;
  }
  platform_cond_broadcast(&run->moved);
}

// Takes the next block while one is left, converts it, waits for its turn
// and writes it; under the run's lock, left while converting and writing.
// A block after the end of the data or after a failure is dropped unseen,
// its own failure included.  The turn passes on once a block's place is
// known, before its write, so that writes follow each other without a
// wait between them.
void take_blocks(block_run *run, unsigned char *raw, unsigned char *out) {
  const block_source *source = run->source;
  while (run->next < run->end && run->next < run->failed) {
    unsigned long long b = run->next++;
    platform_lock_release(&run->lock);
    std::size_t n = 0;
    bool ends = false;
    int code = source->make(source, b, raw, out, &n, &ends);
    platform_lock_take(&run->lock);
    if (code == 0 && ends && b + 1 < run->end) {
      run->end = b + 1;
      platform_cond_broadcast(&run->moved);
    }
    while (run->turn < b && b < run->end && b < run->failed)
      platform_cond_wait(&run->moved, &run->lock);
    if (b >= run->end || b >= run->failed)
      continue;
    if (code != 0) {
      fail_block(run, b, run->written, code, true);
      continue;
    }
    unsigned long long at = run->written;
    run->written += n;
    run->turn = b + 1;
    platform_cond_broadcast(&run->moved);
    platform_lock_release(&run->lock);
    code = n > 0 ? source->put(source, out, n, at) : 0;
    platform_lock_take(&run->lock);
    if (code != 0)
      fail_block(run, b, at, code, false);
  }
}

// A worker's help with a run: the blocks it can take, with its kit's
// buffers.  The run is gone once posted falls to 0 and the lock is left.
void help(void *arg, unsigned worker) {
  auto *run = static_cast<block_run *>(arg);
  unsigned char *buffers = spare_buffers(&run->helpers->kits[worker]);
  platform_lock_take(&run->lock);
  take_blocks(run, buffers, buffers + FILE_BLOCK);
  if (--run->posted == 0)
    platform_cond_signal(&run->idle);
  platform_lock_release(&run->lock);
}

int make_block(const block_source *source, unsigned long long b,
               unsigned char *raw, unsigned char *out, std::size_t *n,
               bool *ends) {
  std::size_t got = 0;
  int code =
      platform_read_at(source->in, raw, FILE_BLOCK, b * FILE_BLOCK, &got);
  if (code != 0)
    return code;
  bool marker = false;
  std::size_t data = cut_at_marker(raw, got, &marker);
  *ends = got < FILE_BLOCK || marker;
  *n = convert_text(out, raw, data, source->to);
  return 0;
}

int put_block(const block_source *source, const unsigned char *out,
              std::size_t n, unsigned long long at) {
  return platform_write_at(source->out, out, n, at);
}

} // namespace

int run_blocks(const block_source *source, crew *c, unsigned char *raw,
               unsigned char *out, bool *read_failed) {
  block_run run{source,   c,        {}, {}, {}, 0,     0,
                NO_BLOCK, NO_BLOCK, 0,  0,  0,  false, 0};
  platform_lock_init(&run.lock);
  platform_cond_init(&run.moved);
  platform_cond_init(&run.idle);
  platform_lock_take(&run.lock);
  // One offer per worker: each helps for as long as blocks are left.
  unsigned workers = c != nullptr ? pool_workers(c->pool) : 0;
  for (unsigned i = 0; i < workers; i++)
    run.posted += pool_try_add(c->pool, help, &run) ? 1 : 0;
  take_blocks(&run, raw, out);
  if (workers > 0)
    run.posted -= pool_withdraw(c->pool, &run);
  while (run.posted > 0)
    platform_cond_wait(&run.idle, &run.lock);
  if (run.failed != NO_BLOCK) {
    run.next = run.turn = run.failed;
    run.written = run.failed_at;
    run.failed = NO_BLOCK;
    take_blocks(&run, raw, out);
  }
  platform_lock_release(&run.lock);
  platform_cond_destroy(&run.idle);
  platform_cond_destroy(&run.moved);
  platform_lock_destroy(&run.lock);
  *read_failed = run.failed != NO_BLOCK && run.read_failed;
  return run.failed != NO_BLOCK ? run.code : 0;
}

bool convert_side_by_side(text_stream *source, text_stream *target,
                          letter_case to, crew *c) {
  if (c == nullptr || !copy_may_split(source, target) || crew_start(c) == 0)
    return false;
  block_source blocks{make_block,     put_block, source->handle,
                      target->handle, to,        nullptr};
  bool read_failed = false;
  int code =
      run_blocks(&blocks, c, source->buffer, target->staging, &read_failed);
  end_split_copy(source, target, code, read_failed);
  return true;
}

} // namespace morvidex

// The blocks of one large file converted side by side and written in
// order: the calling thread takes blocks in turn, and the idle workers of
// the crew help it.  The reads, conversions and writes go through two
// functions, so that the order of a run and its failures are the same
// whoever does the work.
#ifndef MORVIDEX_TRANSLATE_BLOCKS_H
#define MORVIDEX_TRANSLATE_BLOCKS_H

#include <cstddef>

#include "textio/case_map.h"
#include "textio/stream.h"
#include "translate/crew.h"

namespace morvidex {

// What a run converts, and how.
struct block_source {
  // Reads block b into raw (FILE_BLOCK bytes) and converts it into out
  // (2 * FILE_BLOCK bytes), *n bytes; *ends tells that no later block
  // holds data (a short block, a 0x1A).  Returns 0 or the read's code.
  int (*make)(const block_source *source, unsigned long long b,
              unsigned char *raw, unsigned char *out, std::size_t *n,
              bool *ends);
  // Writes n bytes of out at offset at; 0 or the write's code.
  int (*put)(const block_source *source, const unsigned char *out,
             std::size_t n, unsigned long long at);
  file_handle in, out;
  letter_case to;
  void *context; // what other kinds of source need
};

// Converts every block with the calling thread's buffers raw and out, and
// with the idle workers of c, each with a kit.  What is written and what
// fails is what one thread taking the blocks in order would write and
// meet.  A failure may come from work running beside it (memory, space):
// once the helpers are done, the calling thread alone takes up the work
// again from the failed block, and only a second failure counts.  Returns
// 0, or the code of the failure that one thread would meet first, with
// *read_failed telling whether it was a read's.
int run_blocks(const block_source *source, crew *c, unsigned char *raw,
               unsigned char *out, bool *read_failed);

// Copies source into target as copy_mapped does, in blocks side by side
// when the copy may be split and workers can be had; false, with nothing
// done, otherwise.  Only the walking thread starts the crew.
bool convert_side_by_side(text_stream *source, text_stream *target,
                          letter_case to, crew *c);

} // namespace morvidex

#endif

// The copy of one text file into another through the case mapping, whole
// runs and blocks at a time.
#ifndef MORVIDEX_TEXTIO_BLOCK_COPY_H
#define MORVIDEX_TEXTIO_BLOCK_COPY_H

#include "textio/case_map.h"
#include "textio/stream.h"

namespace morvidex {

// Copies the rest of source into target through the case mapping, exactly
// as a loop of fgetc, feof/ferror tests, mapping and fputc would, but a
// whole run of bytes at a time.  It stops at the end of the data, at a
// read failure and at the first refused character.
void copy_mapped(text_stream *source, text_stream *target, letter_case to);

// Whether the copy may instead be split into blocks converted apart: a
// large file not yet read, into an empty regular file.  Block b is then
// the raw bytes from b * FILE_BLOCK on, each converted alone (CR, 0x1A
// and letters need no context), and written where the blocks before it
// ended.
bool copy_may_split(const text_stream *source, const text_stream *target);

// Records how a split copy ended: complete (code 0), or failed with code
// in its read or its write, as copy_mapped would have found it.
void end_split_copy(text_stream *source, text_stream *target, int code,
                    bool read_failed);

} // namespace morvidex

#endif

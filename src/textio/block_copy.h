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
// read failure and at the first refused character.  With side_by_side, the
// blocks of a large regular file are offered to the pool's workers, which
// convert them beside the calling thread when they are idle; a copy taken
// up again alone passes false.
void copy_mapped(text_stream *source, text_stream *target, letter_case to,
                 bool side_by_side);

} // namespace morvidex

#endif

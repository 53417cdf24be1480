// The DOS text convention as transforms of bytes in memory: read data end
// before the first 0x1A and lose every CR; written data have every LF
// expanded to CR LF.  The streams apply these to the raw bytes of their
// files on every platform.
#ifndef MORVIDEX_TEXTIO_TEXT_FORMAT_H
#define MORVIDEX_TEXTIO_TEXT_FORMAT_H

#include <cstddef>

#include "textio/case_map.h"

namespace morvidex {

constexpr unsigned char CR = 0x0D;
constexpr unsigned char LF = 0x0A;
constexpr unsigned char EOF_MARKER = 0x1A;

// The count of bytes of data[0..n) before the first 0x1A, all n when there
// is none; a 0x1A found sets *marker_seen.
std::size_t cut_at_marker(const unsigned char *data, std::size_t n,
                          bool *marker_seen);

// Removes every CR from data[0..n) in place; returns the new length.
std::size_t drop_cr(unsigned char *data, std::size_t n);

// Copies src[0..n) into dst with every LF written as CR LF, until src is
// used up or dst's size bytes are full; a CR LF that no longer fits is
// left for the next call.  Returns the count of src bytes taken, and in
// *made the count written (at least one byte when n > 0 and size >= 2).
std::size_t expand_line_ends(unsigned char *dst, std::size_t size,
                             const unsigned char *src, std::size_t n,
                             std::size_t *made);

// The vector instructions convert_text may use, narrowest first.  The
// widest the processor reports is chosen once, at start-up; every unit
// gives the same bytes.
enum vector_unit { UNIT_SCALAR, UNIT_SSE2, UNIT_AVX2 };

// The widest unit this processor has.
vector_unit best_vector_unit();

// Makes convert_text use unit, or the widest there is when unit is wider,
// so that tests can run every narrower path on any machine.
void use_vector_unit(vector_unit unit);

// Converts n raw bytes (no 0x1A among them) to the form they are written
// in: CRs dropped, letters mapped, each LF written as CR LF.  dst needs
// room for 2n bytes.  Returns the count written.
std::size_t convert_text(unsigned char *dst, const unsigned char *src,
                         std::size_t n, letter_case to);

} // namespace morvidex

#endif

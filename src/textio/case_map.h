// Case mapping over a constant table of character classes.  Only the 26
// unaccented Latin letters change case; every other byte value, 0x80 to
// 0xFF included, maps to itself whatever the locale.
#ifndef MORVIDEX_TEXTIO_CASE_MAP_H
#define MORVIDEX_TEXTIO_CASE_MAP_H

#include <cstddef>

namespace morvidex {

// Bits of a case-table entry.
constexpr unsigned short CLASS_UPPER = 0x0001;
constexpr unsigned short CLASS_LOWER = 0x0002;
constexpr unsigned short CLASS_DIGIT = 0x0004;
constexpr unsigned short CLASS_SPACE = 0x0008;
constexpr unsigned short CLASS_PUNCT = 0x0010;
constexpr unsigned short CLASS_CONTROL = 0x0020;
constexpr unsigned short CLASS_BLANK = 0x0040;
constexpr unsigned short CLASS_HEX = 0x0080;

// The class of byte value c (-1 to 255); CASE_TABLE[0] is the entry of -1.
extern const unsigned short CASE_TABLE[257];

enum letter_case { TO_LOWER, TO_UPPER };

// -1 stays -1; otherwise the low 8 bits of c, with A-Z made a-z.
int tolower(int c);

// -1 stays -1; otherwise the low 8 bits of c, with a-z made A-Z.
int toupper(int c);

// Maps b as tolower or toupper would.  The table marks exactly A-Z as
// upper and a-z as lower case, so a range test gives the same result as a
// lookup; written without a branch, a loop of it compiles to vector code.
inline unsigned char map_byte(letter_case to, unsigned char b) {
  if (to == TO_LOWER)
    return static_cast<unsigned char>(
        b + ((static_cast<unsigned char>(b - 'A') < 26) << 5));
  return static_cast<unsigned char>(
      b - ((static_cast<unsigned char>(b - 'a') < 26) << 5));
}

// Maps n bytes from src to dst as tolower or toupper would, byte for byte.
void map_run(letter_case to, unsigned char *dst, const unsigned char *src,
             std::size_t n);

} // namespace morvidex

#endif

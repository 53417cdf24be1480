// Names as the file system tells them apart: their keys, and whether two
// lead to the same entry.
#ifndef MORVIDEX_TRANSLATE_NAMES_H
#define MORVIDEX_TRANSLATE_NAMES_H

namespace morvidex {

// A key of a name: with fold, ASCII letters count as their lower case.
unsigned long long name_key(const char *name, bool fold);

// Whether two names lead to the same entry: byte for byte, or with fold
// with ASCII letters of either case alike.
bool same_name(const char *a, const char *b, bool fold);

// Whether a name has a byte above 0x7F, whose case a folding file system
// may fold in a way of its own.
bool has_wide_bytes(const char *name);

} // namespace morvidex

#endif

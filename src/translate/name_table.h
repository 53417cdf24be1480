// The names that conversions not yet reported use, counted by key in a
// table of open addressing, and the keys and comparison of names as the
// file system tells names apart.
#ifndef MORVIDEX_TRANSLATE_NAME_TABLE_H
#define MORVIDEX_TRANSLATE_NAME_TABLE_H

namespace morvidex {

constexpr unsigned NAME_SLOT_BITS = 12;
constexpr unsigned NAME_SLOTS = 1U << NAME_SLOT_BITS;

// A slot: a count of 0 leaves it free.
struct name_count {
  unsigned long long key;
  unsigned count;
};

// A key found nowhere is counted nowhere; a key is found from its home
// slot, the top bits of the key, on to the first free slot.  The table
// keeps a slot free at all times, so that every search ends.
struct name_table {
  name_count slots[NAME_SLOTS];
  unsigned used; // slots with a count
};

// Counts key once more; false, with nothing counted, when the table has
// no slot to spare.
bool name_table_add(name_table *table, unsigned long long key);

// Counts key once less; a key counted once is taken out, and the keys
// after it are moved back so that each is still found from its home.
void name_table_remove(name_table *table, unsigned long long key);

// How many times key is counted.
unsigned name_table_count(const name_table *table, unsigned long long key);

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

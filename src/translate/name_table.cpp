#include "translate/name_table.h"

namespace morvidex {

namespace {

unsigned home_slot(unsigned long long key) {
  return static_cast<unsigned>(key >> (64 - NAME_SLOT_BITS));
}

// The slot that counts key, or the free slot where it would go.
unsigned find_slot(const name_table *table, unsigned long long key) {
  unsigned i = home_slot(key);
  while (table->slots[i].count != 0 && table->slots[i].key != key)
    i = (i + 1) % NAME_SLOTS;
  return i;
}

unsigned char folded(unsigned char c, bool fold) {
  return fold && c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
}

} // namespace

bool name_table_add(name_table *table, unsigned long long key) {
  unsigned i = find_slot(table, key);
  if (table->slots[i].count == 0) {
    if (table->used + 1 >= NAME_SLOTS)
      return false;
    table->used++;
    table->slots[i].key = key;
  }
  table->slots[i].count++;
  return true;
}

void name_table_remove(name_table *table, unsigned long long key) {
  unsigned hole = find_slot(table, key);
  if (table->slots[hole].count == 0 || --table->slots[hole].count > 0)
    return;
  // Each key after the hole, up to a free slot, moves into the hole when
  // its home does not lie between the hole and where it is.
  for (unsigned j = (hole + 1) % NAME_SLOTS; table->slots[j].count != 0;
       j = (j + 1) % NAME_SLOTS) {
    unsigned home = home_slot(table->slots[j].key);
    if ((j - home) % NAME_SLOTS >= (j - hole) % NAME_SLOTS) {
      table->slots[hole] = table->slots[j];
      hole = j;
    }
  }
  table->slots[hole].count = 0;
  table->used--;
}

unsigned name_table_count(const name_table *table, unsigned long long key) {
  return table->slots[find_slot(table, key)].count;
}

unsigned long long name_key(const char *name, bool fold) {
  unsigned long long h = 14695981039346656037ULL;
  for (const char *s = name; *s != '\0'; s++)
    h = (h ^ folded(static_cast<unsigned char>(*s), fold)) * 1099511628211ULL;
  return h;
}

bool same_name(const char *a, const char *b, bool fold) {
  for (;; a++, b++) {
    unsigned char x = folded(static_cast<unsigned char>(*a), fold);
    if (x != folded(static_cast<unsigned char>(*b), fold))
      return false;
    if (x == '\0')
      return true;
  }
}

bool has_wide_bytes(const char *name) {
  for (const char *s = name; *s != '\0'; s++) {
    if (static_cast<unsigned char>(*s) > 0x7F)
      return true;
  }
  return false;
}

} // namespace morvidex

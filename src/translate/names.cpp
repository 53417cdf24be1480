#include "translate/names.h"

namespace morvidex {

namespace {

unsigned char folded(unsigned char c, bool fold) {
  return fold && c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
}

} // namespace

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

#include "translate/ring.h"

namespace morvidex {

item &ring_at(ring *r, unsigned long long position) {
  return r->items[position % WINDOW];
}

unsigned long long ring_position(const ring *r, const item *it) {
  auto place = static_cast<unsigned>(it - r->items);
  return r->reported + (place + WINDOW - r->reported % WINDOW) % WINDOW;
}

unsigned ring_next_place(const ring *r) {
  return static_cast<unsigned>((r->reported + r->count) % WINDOW);
}

void ring_push(ring *r) {
  unsigned place = ring_next_place(r);
  r->keys[place][0] = r->items[place].path_key;
  r->keys[place][1] = r->items[place].name_key;
  r->count++;
}

unsigned ring_done_run(ring *r) {
  unsigned n = 1;
  while (n < r->count && ring_at(r, r->reported + n).state == JOB_DONE)
    n++;
  return n;
}

void ring_retire(ring *r, unsigned n) {
  r->reported += n;
  r->count -= n;
  r->published = r->published > n ? r->published - n : 0;
}

} // namespace morvidex

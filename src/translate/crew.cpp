#include "translate/crew.h"

namespace morvidex {

unsigned crew_start(crew *c) {
  if (c->pool != nullptr || c->processors < 2)
    return pool_workers(c->pool);
  unsigned want = c->processors - 1;
  while (c->kit_count < want && c->kit_count < POOL_MAX_WORKERS &&
         make_spare_streams(&c->kits[c->kit_count]))
    c->kit_count++;
  c->pool = pool_create(c->kit_count);
  if (c->pool == nullptr) {
    crew_stop(c);
    return 0;
  }
  // Kits beyond what the workers that started need are freed at once.
  while (c->kit_count > pool_workers(c->pool))
    free_spare_streams(&c->kits[--c->kit_count]);
  return c->kit_count;
}

void crew_stop(crew *c) {
  pool_free(c->pool);
  c->pool = nullptr;
  for (unsigned i = 0; i < c->kit_count; i++)
    free_spare_streams(&c->kits[i]);
  c->kit_count = 0;
}

} // namespace morvidex

#include "translate/crew.h"

#include <cassert>

namespace morvidex {

void crew_init(crew *c, unsigned processors) {
  c->pool = nullptr;
  c->processors = processors;
  c->shelf = nullptr;
  c->kit_count = 0;
  platform_lock_init(&c->lock);
}

unsigned crew_start(crew *c) {
  if (c->pool != nullptr || c->processors < 2)
    return pool_workers(c->pool);
  unsigned want = c->processors - 1;
  while (c->kit_count < want && c->kit_count < MAX_KITS &&
         make_spare_streams(&c->kits[c->kit_count].streams))
    c->kit_count++;
  c->pool = pool_create(c->kit_count);
  if (c->pool == nullptr) {
    crew_stop(c);
    return 0;
  }
  // Kits beyond what the workers that started need are freed at once.
  while (c->kit_count > pool_workers(c->pool))
    free_spare_streams(&c->kits[--c->kit_count].streams);
  for (unsigned i = 0; i < c->kit_count; i++) {
    c->kits[i].next = c->shelf;
    c->shelf = &c->kits[i];
  }
  return pool_workers(c->pool);
}

void crew_stop(crew *c) {
  pool_free(c->pool);
  c->pool = nullptr;
  for (unsigned i = 0; i < c->kit_count; i++)
    free_spare_streams(&c->kits[i].streams);
  c->kit_count = 0;
  c->shelf = nullptr;
}

void crew_end(crew *c) {
  crew_stop(c);
  platform_lock_destroy(&c->lock);
}

kit *crew_take_kit(crew *c) {
  platform_lock_take(&c->lock);
  kit *k = c->shelf;
  if (k != nullptr)
    c->shelf = k->next;
  platform_lock_release(&c->lock);
  return k;
}

void crew_give_kit(crew *c, kit *k) {
  // Every stream a conversion opens with the kit's pair goes back to it.
  assert(k->streams.kept[0] != nullptr && k->streams.kept[1] != nullptr);
  platform_lock_take(&c->lock);
  k->next = c->shelf;
  c->shelf = k;
  platform_lock_release(&c->lock);
}

} // namespace morvidex

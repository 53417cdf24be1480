#include "translate/crew.h"

namespace morvidex {

namespace {

bool make_kit(kit *k) {
  *k = kit{};
  if (!make_spare_streams(&k->streams))
    return false;
  k->raw = static_cast<unsigned char *>(platform_buffer(FILE_BLOCK));
  k->converted = static_cast<unsigned char *>(platform_buffer(2 * FILE_BLOCK));
  if (k->raw != nullptr && k->converted != nullptr)
    return true;
  free_spare_streams(&k->streams);
  platform_free_buffer(k->raw);
  platform_free_buffer(k->converted);
  return false;
}

void free_kit(kit *k) {
  free_spare_streams(&k->streams);
  platform_free_buffer(k->raw);
  platform_free_buffer(k->converted);
}

} // namespace

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
         make_kit(&c->kits[c->kit_count]))
    c->kit_count++;
  c->pool = pool_create(c->kit_count);
  if (c->pool == nullptr) {
    crew_stop(c);
    return 0;
  }
  // Kits beyond what the workers that started need are freed at once.
  while (c->kit_count > pool_workers(c->pool))
    free_kit(&c->kits[--c->kit_count]);
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
    free_kit(&c->kits[i]);
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
  platform_lock_take(&c->lock);
  k->next = c->shelf;
  c->shelf = k;
  platform_lock_release(&c->lock);
}

} // namespace morvidex

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "translate/names.h"
#include "translate/ring.h"

namespace morvidex {
namespace {

TEST(NameKeys, FoldOnlyAsciiLetters) {
  struct row {
    const char *a, *b;
    bool fold, same;
  };
  const row rows[] = {
      {"Notes.LO", "notes.lo", true, true},
      {"Notes.LO", "notes.lo", false, false},
      {"notes.lo", "notes.lo", false, true},
      {"a[b", "A{B", true, false}, // '[' and '{' are 32 apart, not letters
      {"\xC9t\xE9", "\xE9T\xE9", true, false},
      {"ab", "abc", true, false},
  };
  for (const row &r : rows) {
    EXPECT_EQ(same_name(r.a, r.b, r.fold), r.same) << r.a << " " << r.b;
    if (r.same) {
      EXPECT_EQ(name_key(r.a, r.fold), name_key(r.b, r.fold)) << r.a;
    }
  }
  EXPECT_TRUE(has_wide_bytes("caf\xE9.txt"));
  EXPECT_FALSE(has_wide_bytes("Cafe.txt"));
}

std::unique_ptr<ring> ring_from(unsigned long long reported) {
  std::unique_ptr<ring> r(new ring{});
  r->reported = reported;
  return r;
}

void push(ring *r, job_state state) {
  item &it = r->items[ring_next_place(r)];
  it = item{};
  it.kind = ITEM_JOB;
  it.state = state;
  it.path_key = r->reported + r->count;
  ring_push(r);
}

TEST(Ring, PositionsAndPlacesAcrossTheWrap) {
  for (unsigned long long start : {0ULL, WINDOW - 3ULL, 5 * WINDOW - 1ULL}) {
    auto r = ring_from(start);
    for (unsigned i = 0; i < WINDOW; i++)
      push(r.get(), JOB_WAITING);
    for (unsigned i = 0; i < WINDOW; i++) {
      const item &it = ring_at(r.get(), start + i);
      EXPECT_EQ(it.path_key, start + i);
      EXPECT_EQ(ring_position(r.get(), &it), start + i);
      EXPECT_EQ(r->keys[(start + i) % WINDOW][0], start + i);
    }
    ring_retire(r.get(), 10);
    EXPECT_EQ(ring_next_place(r.get()), (start + WINDOW) % WINDOW);
    push(r.get(), JOB_DONE);
    EXPECT_EQ(ring_position(r.get(), &ring_at(r.get(), start + WINDOW)),
              start + WINDOW);
  }
}

// Reports go in program order: only the items done right after the
// oldest go with it, never one past an item still waiting or running.
TEST(Ring, TheDoneRunStopsAtTheFirstNotDone) {
  struct row {
    std::vector<job_state> states; // the oldest first
    unsigned run;
  };
  const row rows[] = {
      {{JOB_DONE}, 1},
      {{JOB_DONE, JOB_DONE, JOB_DONE}, 3},
      {{JOB_DONE, JOB_WAITING, JOB_DONE}, 1},
      {{JOB_DONE, JOB_DONE, JOB_RUNNING, JOB_DONE}, 2},
      {{JOB_RUNNING, JOB_DONE}, 2}, // the oldest is counted as done
  };
  for (const row &rw : rows) {
    auto r = ring_from(WINDOW - 2); // the run crosses the wrap
    for (job_state s : rw.states)
      push(r.get(), s);
    EXPECT_EQ(ring_done_run(r.get()), rw.run);
  }
}

TEST(Ring, RetiringKeepsWhatIsPublishedBehindTheOldest) {
  auto r = ring_from(3);
  for (int i = 0; i < 6; i++)
    push(r.get(), JOB_DONE);
  r->published = 4;
  ring_retire(r.get(), 2);
  EXPECT_EQ(r->reported, 5U);
  EXPECT_EQ(r->count, 4U);
  EXPECT_EQ(r->published, 2U);
  ring_retire(r.get(), 3);
  EXPECT_EQ(r->published, 0U);
  EXPECT_EQ(r->count, 1U);
}

} // namespace
} // namespace morvidex

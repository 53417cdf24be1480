#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <vector>

#include "translate/name_table.h"
#include "translate/ring.h"

namespace morvidex {
namespace {

// A key whose home slot is home, told apart from others by low bits.
unsigned long long key_at(unsigned home, unsigned long long low) {
  return (static_cast<unsigned long long>(home) << (64 - NAME_SLOT_BITS)) | low;
}

std::unique_ptr<name_table> empty_table() {
  return std::unique_ptr<name_table>(new name_table{});
}

TEST(NameTable, KeysOfOneHomeStayFoundWhateverIsRemoved) {
  struct row {
    const char *what;
    unsigned home;
    unsigned removed; // which of the keys is taken out
  };
  const row rows[] = {
      {"the first of a cluster", 100, 0},
      {"one in the middle", 100, 2},
      {"the last", 100, 4},
      {"the first, the cluster wrapping past the end", NAME_SLOTS - 2, 0},
      {"one past the wrap", NAME_SLOTS - 2, 3},
  };
  for (const row &r : rows) {
    auto t = empty_table();
    for (unsigned long long i = 0; i < 5; i++)
      ASSERT_TRUE(name_table_add(t.get(), key_at(r.home, i)));
    // A key of the next home, pushed behind the cluster.
    ASSERT_TRUE(name_table_add(t.get(), key_at(r.home + 1, 99)));
    name_table_remove(t.get(), key_at(r.home, r.removed));
    for (unsigned long long i = 0; i < 5; i++)
      EXPECT_EQ(name_table_count(t.get(), key_at(r.home, i)),
                i == r.removed ? 0U : 1U)
          << r.what << ", key " << i;
    EXPECT_EQ(name_table_count(t.get(), key_at(r.home + 1, 99)), 1U) << r.what;
    EXPECT_EQ(t->used, 5U) << r.what;
  }
}

TEST(NameTable, AKeyCountedTwiceLeavesOnTheSecondRemoval) {
  auto t = empty_table();
  unsigned long long k = key_at(7, 1);
  ASSERT_TRUE(name_table_add(t.get(), k));
  ASSERT_TRUE(name_table_add(t.get(), k));
  EXPECT_EQ(t->used, 1U);
  name_table_remove(t.get(), k);
  EXPECT_EQ(name_table_count(t.get(), k), 1U);
  name_table_remove(t.get(), k);
  EXPECT_EQ(name_table_count(t.get(), k), 0U);
  EXPECT_EQ(t->used, 0U);
  name_table_remove(t.get(), k); // an absent key changes nothing
  EXPECT_EQ(t->used, 0U);
}

TEST(NameTable, AFullTableRefusesAndStillAnswers) {
  auto t = empty_table();
  unsigned added = 0;
  for (unsigned long long i = 0; i < NAME_SLOTS + 10; i++)
    added += name_table_add(t.get(), key_at(static_cast<unsigned>(i % 3), i));
  EXPECT_EQ(added, NAME_SLOTS - 1);
  // A search for a key not there ends at the one slot kept free.
  EXPECT_EQ(name_table_count(t.get(), key_at(5, 1ULL << 40)), 0U);
  // Counting a key already in needs no slot.
  EXPECT_TRUE(name_table_add(t.get(), key_at(0, 0)));
  name_table_remove(t.get(), key_at(1, 1));
  EXPECT_TRUE(name_table_add(t.get(), key_at(9, 12345)));
  for (unsigned long long i = 2; i < NAME_SLOTS - 1; i++)
    ASSERT_EQ(
        name_table_count(t.get(), key_at(static_cast<unsigned>(i % 3), i)), 1U)
        << "key " << i;
}

// Adds and removals at random among keys crowded into a few homes, each
// answer checked against a plain map: a key lost by a removal would let a
// conversion that shares a name run ahead.
TEST(NameTable, AgreesWithAMapUnderCrowdedChurn) {
  auto t = empty_table();
  std::map<unsigned long long, unsigned> counts;
  std::mt19937 random(12345);
  for (int step = 0; step < 200000; step++) {
    unsigned home = NAME_SLOTS - 4 + random() % 8; // wraps past the end
    unsigned long long k = key_at(home % NAME_SLOTS, random() % 64);
    if (random() % 2 == 0 && counts.size() < 1500) {
      ASSERT_TRUE(name_table_add(t.get(), k));
      counts[k]++;
    } else if (counts.count(k) != 0) {
      name_table_remove(t.get(), k);
      if (--counts[k] == 0)
        counts.erase(k);
    }
    if (step % 997 == 0) {
      for (const auto &kc : counts)
        ASSERT_EQ(name_table_count(t.get(), kc.first), kc.second)
            << "step " << step;
      ASSERT_EQ(t->used, counts.size());
    }
  }
}

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

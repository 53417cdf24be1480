// The pool runs every job it is given, in the caller when it has no
// worker, and gives back the jobs taken back before they began.
#include "work/pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace morvidex {
namespace {

std::atomic<int> ran{0};
void count(void *) { ran++; }

std::shared_future<void> *gate = nullptr;
void wait_at_gate(void *) { gate->wait(); }

TEST(Pool, RunsEveryJobOnItsWorkersOrInTheCaller) {
  for (unsigned workers : {0u, 1u, 3u}) {
    SCOPED_TRACE(workers);
    ran = 0;
    work_pool *pool = pool_create(workers);
    EXPECT_EQ(workers, pool_workers(pool));
    int added = 0;
    for (int i = 0; i < 1000; i++)
      added += pool_try_add(pool, count, nullptr) ? 1 : 0;
    if (workers == 0) {
      EXPECT_EQ(1000, ran.load()) << "run at once, in the caller";
    }
    pool_free(pool);
    EXPECT_EQ(added, ran.load());
    EXPECT_LT(0, added);
  }
}

TEST(Pool, JobsTakenBackNeverRun) {
  std::promise<void> open;
  std::shared_future<void> opened = open.get_future().share();
  gate = &opened;
  ran = 0;
  work_pool *pool = pool_create(1);
  ASSERT_NE(nullptr, pool);
  int mine = 0, other = 0;
  ASSERT_TRUE(pool_try_add(pool, wait_at_gate, nullptr));
  for (int i = 0; i < 10; i++) {
    ASSERT_TRUE(pool_try_add(pool, count, i % 2 == 0 ? &mine : &other));
  }
  EXPECT_EQ(5u, pool_withdraw(pool, &mine));
  open.set_value();
  pool_free(pool);
  EXPECT_EQ(5, ran.load());
  gate = nullptr;
}

} // namespace
} // namespace morvidex

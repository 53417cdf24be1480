// The pool runs every job it is given, in the caller when it has no
// worker, and never runs a job taken back before it began; each job is
// told a worker of the pool, or 0 in the caller.
#include "work/pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <set>

namespace morvidex {
namespace {

std::atomic<int> ran{0};
void count(void *, unsigned) { ran++; }
// The workers held at the gate, each a different one.
std::mutex held_lock;
std::condition_variable arrived;
std::set<unsigned> held;
unsigned arrivals = 0;
void wait_at(void *gate, unsigned worker) {
  {
    std::lock_guard<std::mutex> hold(held_lock);
    held.insert(worker);
    arrivals++;
  }
  arrived.notify_all();
  static_cast<std::shared_future<void> *>(gate)->wait();
}

TEST(Pool, RunsEveryJobButThoseTakenBack) {
  for (unsigned workers : {0u, 1u, 3u}) {
    SCOPED_TRACE(workers);
    ran = 0;
    held.clear();
    arrivals = 0;
    std::promise<void> open;
    std::shared_future<void> gate = open.get_future().share();
    work_pool *pool = pool_create(workers);
    EXPECT_EQ(workers, pool_workers(pool));
    int mine = 0, other = 0;
    // Every worker held at the gate, so that the jobs after stay queued.
    for (unsigned i = 0; i < workers; i++)
      ASSERT_TRUE(pool_try_add(pool, wait_at, &gate));
    for (int i = 0; i < 20; i++)
      ASSERT_TRUE(pool_try_add(pool, count, i % 2 == 0 ? &mine : &other));
    EXPECT_EQ(workers == 0 ? 20 : 0, ran.load()) << "run at once, or queued";
    EXPECT_EQ(workers == 0 ? 0u : 10u, pool_withdraw(pool, &mine));
    {
      std::unique_lock<std::mutex> hold(held_lock);
      arrived.wait_for(hold, std::chrono::seconds(10),
                       [&] { return arrivals == workers; });
      EXPECT_EQ(workers, held.size()) << "workers held at once told apart";
      EXPECT_TRUE(held.empty() || *held.rbegin() < workers);
    }
    open.set_value();
    pool_free(pool);
    EXPECT_EQ(workers == 0 ? 20 : 10, ran.load());
  }
}

} // namespace
} // namespace morvidex

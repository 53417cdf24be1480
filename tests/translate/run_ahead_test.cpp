// The scheduler and the block runs driven by fake conversions on several
// workers, whatever the machine has: they take time, fail for want of a
// resource once, or find their target taken, and everything they do is
// recorded in order.  No file is read or written.
#include "translate/blocks.h"
#include "translate/scheduler.h"
#include "translate/translate.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace morvidex {
namespace {

constexpr unsigned PROCESSORS = 4;

// What the fake conversions meet, and what they did.
struct world {
  std::mutex m;
  std::set<std::string> taken_once, short_once; // paths, first try ahead
  std::set<std::string> targets;                // names that exist
  std::vector<std::string> events;              // in the order done
  std::map<std::string, int> tries;             // conversions of a path
};
world *w = nullptr;

void note(const std::string &event) {
  std::lock_guard<std::mutex> hold(w->m);
  w->events.push_back(event);
}

conversion_outcome fake_convert(const item &job, bool new_only, crew *helpers) {
  std::this_thread::sleep_for(std::chrono::microseconds(job.path[1] * 20));
  std::lock_guard<std::mutex> hold(w->m);
  std::string path = job.path, name = job.name;
  bool first = w->tries[path]++ == 0;
  w->events.push_back((new_only  ? "ahead "
                       : helpers ? "turn "
                                 : "alone ") +
                      path);
  if (new_only && (w->targets.count(name) != 0 ||
                   (first && w->taken_once.count(path) != 0)))
    return {TARGET_EXISTS, EEXIST};
  if (new_only && first && w->short_once.count(path) != 0)
    return {WRITE_FAILED, ENOSPC};
  w->targets.insert(name);
  return {CONVERTED, 0};
}

void fake_undo(const item &job) {
  std::lock_guard<std::mutex> hold(w->m);
  w->targets.erase(job.name);
  w->events.push_back(std::string("undo ") + job.path);
}

void fake_report(const item &it) {
  note(it.kind == ITEM_JOB ? std::string("report ") + it.path +
                                 (it.outcome.result == CONVERTED ? "" : " !")
                           : std::string("line ") + it.path);
}

void fake_alone(const char *path, int, crew *) {
  note(std::string("by itself ") + path);
}

const scheduler_ops FAKE = {fake_convert, fake_undo, fake_report, fake_alone};

class Scheduler : public testing::Test {
protected:
  world here;
  scheduler s{};
  conversion_dir *dir = nullptr;

  void SetUp() override {
    w = &here;
    scheduler_init(&s, &FAKE, PROCESSORS);
  }
  void TearDown() override {
    close_conversion_dir(&s, dir);
    scheduler_end(&s);
    w = nullptr;
  }
  // Schedules files f0.txt ... in program order, a line after every
  // seventh; returns the reports one processor gives.
  std::vector<std::string> schedule(int files) {
    std::vector<std::string> expected;
    for (int i = 0; i < files; i++) {
      std::string path = "f" + std::to_string(i) + ".txt";
      schedule_conversion(&s, &dir, path.c_str(), MODE_LOWER, true);
      expected.push_back("report " + path);
      if (i % 7 == 6) {
        schedule_line(&s, "%s", path.c_str());
        expected.push_back("line " + path);
      }
    }
    return expected;
  }
  // The events that begin with prefix, in order.
  std::vector<std::string> only(const std::string &prefix) {
    std::vector<std::string> kept;
    for (auto &e : here.events)
      if (e.rfind(prefix, 0) == 0)
        kept.push_back(e);
    return kept;
  }
  std::size_t at(const std::string &event) {
    for (std::size_t i = 0; i < here.events.size(); i++)
      if (here.events[i] == event)
        return i;
    return here.events.size();
  }
};

TEST_F(Scheduler, ReportsInProgramOrderWhileWorkersRunAhead) {
  std::vector<std::string> expected = schedule(300);
  report_scheduled(&s);
  std::vector<std::string> both;
  for (auto &e : here.events)
    if (e.rfind("report ", 0) == 0 || e.rfind("line ", 0) == 0)
      both.push_back(e);
  EXPECT_EQ(expected, both);
  EXPECT_EQ(300u, only("ahead ").size()) << "every file ran ahead once";
  EXPECT_EQ(nullptr, s.workers.pool) << "workers end once all is reported";
}

TEST_F(Scheduler, FailuresOfWorkRunningAheadAreTriedAgainInTurn) {
  struct row {
    const char *what;
    std::set<std::string> world::*set;
    const char *again; // how the oldest is converted once more
  } const rows[] = {
      {"a taken target", &world::taken_once, "turn f40.txt"},
      {"a shortage", &world::short_once, "alone f40.txt"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    here.events.clear();
    here.tries.clear();
    here.targets.clear();
    (here.*r.set) = {"f40.txt"};
    std::vector<std::string> expected = schedule(120);
    report_scheduled(&s);
    close_conversion_dir(&s, dir);
    dir = nullptr;
    (here.*r.set).clear();
    std::vector<std::string> reports = only("report ");
    std::vector<std::string> want = {};
    for (auto &e : expected)
      if (e.rfind("report ", 0) == 0)
        want.push_back(e);
    EXPECT_EQ(want, reports) << "each converted, in order";
    ASSERT_LT(at(r.again), here.events.size()) << "not converted again";
    EXPECT_LT(at("report f39.txt"), at(r.again));
    EXPECT_LT(at(r.again), at("report f40.txt"));
    // What ran ahead of it was undone before, and converted again after.
    for (auto &e : only("undo "))
      EXPECT_LT(at(e), at(r.again)) << e;
  }
}

TEST_F(Scheduler, ANameSharedWithPendingWorkWaitsForItAll) {
  schedule(20);
  for (const char *path : {"f3.c", "g.txt"})
    schedule_conversion(&s, &dir, path, MODE_LOWER, true);
  report_scheduled(&s);
  // f3.c writes f3.lo, as f3.txt does: it waits for the twenty before it
  // and is converted by itself; g.txt shares nothing.
  ASSERT_LT(at("by itself f3.c"), here.events.size());
  EXPECT_LT(at("report f19.txt"), at("by itself f3.c"));
  EXPECT_EQ(0u, here.tries.count("f3.c"));
  EXPECT_EQ(1, here.tries["g.txt"]);
}

struct fake_listing {
  listing_opener o;
  file_id id;
  int opens = 0;
};

int fake_open(listing_opener *o) {
  auto *l = reinterpret_cast<fake_listing *>(o);
  l->opens++;
  o->id = l->id;
  o->id_known = true;
  note("open listing");
  return 0;
}

void fake_close(listing_opener *) {}

TEST_F(Scheduler, AListingWithConversionsPendingInItIsReadAgainAfterThem) {
  schedule(30);
  ASSERT_NE(nullptr, dir);
  fake_listing other{{fake_open, fake_close, {0, 0}, false}, {1, 1}};
  EXPECT_EQ(0, open_listing(&s, &other.o));
  EXPECT_EQ(1, other.opens) << "another directory waits for nothing";
  fake_listing same{{fake_open, fake_close, {0, 0}, false}, dir->id};
  EXPECT_EQ(0, open_listing(&s, &same.o));
  EXPECT_EQ(2, same.opens);
  EXPECT_LT(at("report f29.txt"), here.events.size());
  EXPECT_EQ("open listing", here.events.back())
      << "opened again once all was reported";
}

// A fake file for block runs: block b holds bytes of value b, ends with
// a short block, and the failures planted fail once or for good.
struct fake_file {
  unsigned long long blocks;
  std::map<unsigned long long, int> put_fails, make_fails; // once
  int make_fails_always_at = -1;
  std::mutex m;
  std::string written;
};

int fake_make(const block_source *source, unsigned long long b, unsigned char *,
              unsigned char *out, std::size_t *n, bool *ends) {
  auto *f = static_cast<fake_file *>(source->context);
  std::lock_guard<std::mutex> hold(f->m);
  if (static_cast<int>(b) == f->make_fails_always_at)
    return EIO;
  if (f->make_fails.count(b) != 0 && f->make_fails[b]-- > 0)
    return ENOMEM;
  *ends = b + 1 >= f->blocks;
  *n = *ends ? 5 : 100;
  std::memset(out, static_cast<int>('a' + b % 26), *n);
  return 0;
}

int fake_put(const block_source *source, const unsigned char *out,
             std::size_t n, unsigned long long at) {
  auto *f = static_cast<fake_file *>(source->context);
  std::lock_guard<std::mutex> hold(f->m);
  if (f->put_fails.count(at / 100) != 0 && f->put_fails[at / 100]-- > 0)
    return ENOSPC;
  if (f->written.size() < at + n)
    f->written.resize(at + n, '?');
  f->written.replace(at, n, reinterpret_cast<const char *>(out), n);
  return 0;
}

TEST(Blocks, WrittenInOrderAndTakenUpAgainAloneAfterAFailure) {
  crew c;
  crew_init(&c, PROCESSORS);
  ASSERT_LT(0u, crew_start(&c));
  struct row {
    const char *what;
    std::map<unsigned long long, int> put_fails, make_fails;
    int always;
    int code;
  } const rows[] = {
      {"no failure", {}, {}, -1, 0},
      {"a write fails once", {{7, 1}}, {}, -1, 0},
      {"a read fails once", {}, {{3, 1}}, -1, 0},
      {"a read fails for good", {}, {}, 9, EIO},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    fake_file f{40, r.put_fails, r.make_fails, r.always, {}, {}};
    block_source source{fake_make, fake_put, NO_HANDLE,
                        NO_HANDLE, TO_LOWER, &f};
    unsigned char raw[8], out[128];
    block_result got = run_blocks(&source, &c, raw, out);
    EXPECT_EQ(r.code, got.code);
    std::string want;
    unsigned long long last = r.always >= 0 ? r.always : f.blocks;
    for (unsigned long long b = 0; b < last; b++)
      want += std::string(b + 1 == f.blocks ? 5 : 100,
                          static_cast<char>('a' + b % 26));
    EXPECT_EQ(want, f.written);
  }
  crew_stop(&c);
}

} // namespace
} // namespace morvidex

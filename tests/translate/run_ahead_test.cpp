// The scheduler and the block runs driven by fake conversions on several
// workers, whatever the machine has: they take time, fail for want of a
// resource once, or find their target taken, and everything they do is
// recorded in order.  No file is read or written.
#include "translate/blocks.h"
#include "translate/scheduler.h"
#include "translate/translate.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// What the fakes meet, and what they did: "ahead P", "turn P" and "alone
// P" for conversions, "undo P", "report P", "line P", "by itself P" and
// "open" for a listing.
struct world {
  std::mutex m;
  std::string taken_once, short_once; // first tried ahead, fails so
  std::set<std::string> targets;      // names that exist
  std::vector<std::string> events;
  std::map<std::string, int> tries;
} *w = nullptr;

void note(const std::string &event) {
  std::lock_guard<std::mutex> hold(w->m);
  w->events.push_back(event);
}

conversion_outcome fake_convert(const item &job, bool new_only, crew *helpers) {
  std::this_thread::sleep_for(std::chrono::microseconds(job.path[1] * 20));
  std::lock_guard<std::mutex> hold(w->m);
  std::string path = job.path;
  bool first = w->tries[path]++ == 0;
  w->events.push_back((new_only  ? "ahead "
                       : helpers ? "turn "
                                 : "alone ") +
                      path);
  if (new_only &&
      (w->targets.count(job.name) != 0 || (first && path == w->taken_once)))
    return {TARGET_EXISTS, EEXIST};
  if (new_only && first && path == w->short_once)
    return {WRITE_FAILED, ENOSPC};
  w->targets.insert(job.name);
  return {CONVERTED, 0};
}

void fake_undo(const item &job) {
  std::lock_guard<std::mutex> hold(w->m);
  w->targets.erase(job.name);
  w->events.push_back(std::string("undo ") + job.path);
}

void fake_report(const item &it) {
  note((it.kind == ITEM_JOB ? "report " : "line ") + std::string(it.path) +
       (it.outcome.result == CONVERTED ? "" : " !"));
}

void fake_alone(const char *path, int, crew *) {
  note(std::string("by itself ") + path);
}

const scheduler_ops FAKE = {fake_convert, fake_undo, fake_report, fake_alone};

int fake_open(listing_opener *o) {
  note("open");
  o->id_known = true;
  return 0;
}

void fake_close(listing_opener *) {}

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
    EXPECT_EQ(std::end(s.name_marks),
              std::find_if(std::begin(s.name_marks), std::end(s.name_marks),
                           [](unsigned short m) { return m != 0; }))
        << "every name counted in is counted out";
    w = nullptr;
  }
  // Schedules f0.txt ... in program order, a line after every seventh;
  // returns what one processor prints for them.
  std::vector<std::string> schedule(int files) {
    std::vector<std::string> printed;
    for (int i = 0; i < files; i++) {
      std::string path = "f" + std::to_string(i) + ".txt";
      schedule_conversion(&s, &dir, path.c_str(), MODE_LOWER, true);
      printed.push_back("report " + path);
      if (i % 7 == 6) {
        schedule_line(&s, "%s", path.c_str());
        printed.push_back("line " + path);
      }
    }
    return printed;
  }
  std::vector<std::string> printed() {
    std::vector<std::string> kept;
    for (auto &e : here.events)
      if (e.rfind("report ", 0) == 0 || e.rfind("line ", 0) == 0)
        kept.push_back(e);
    return kept;
  }
  long count(const std::string &prefix) {
    return std::count_if(here.events.begin(), here.events.end(),
                         [&](auto &e) { return e.rfind(prefix, 0) == 0; });
  }
  std::size_t at(const std::string &event) {
    return std::find(here.events.begin(), here.events.end(), event) -
           here.events.begin();
  }
};

TEST_F(Scheduler, ReportsInProgramOrderWhileWorkersRunAhead) {
  std::vector<std::string> expected = schedule(300);
  report_scheduled(&s);
  EXPECT_EQ(expected, printed());
  EXPECT_EQ(300, count("ahead ")) << "every file ran ahead once";
  EXPECT_EQ(nullptr, s.workers.pool) << "workers end once all is reported";
}

TEST_F(Scheduler, FailuresOfWorkRunningAheadAreTriedAgainInTurn) {
  struct row {
    std::string world::*fails;
    const char *again; // how the oldest is converted once more
  } const rows[] = {{&world::taken_once, "turn f40.txt"},
                    {&world::short_once, "alone f40.txt"}};
  for (const row &r : rows) {
    SCOPED_TRACE(r.again);
    here.events.clear();
    here.tries.clear();
    here.targets.clear();
    here.*r.fails = "f40.txt";
    std::vector<std::string> expected = schedule(120);
    report_scheduled(&s);
    here.*r.fails = "";
    EXPECT_EQ(expected, printed()) << "each converted, in order";
    EXPECT_LT(at("report f39.txt"), at(r.again)) << "converted again";
    EXPECT_LT(at(r.again), at("report f40.txt"));
    // What ran ahead of it is undone first, and converted again after.
    for (auto &e : here.events)
      EXPECT_TRUE(e.rfind("undo ", 0) != 0 || at(e) < at(r.again)) << e;
  }
}

TEST_F(Scheduler, ANameSharedWithPendingWorkWaitsForItAll) {
  // f3.c writes f3.lo, as f3.txt does, and a name too long for the ring
  // has no room there: each waits for the twenty before it and is
  // converted by itself; g.txt shares nothing.
  const std::string long_name = std::string(200, 'x') + ".txt";
  for (const char *path : {"f3.c", long_name.c_str()}) {
    here.events.clear();
    schedule(20);
    schedule_conversion(&s, &dir, path, MODE_LOWER, true);
    schedule_conversion(&s, &dir, "g.txt", MODE_LOWER, true);
    report_scheduled(&s);
    std::string alone = std::string("by itself ") + path;
    EXPECT_LT(at("report f19.txt"), at(alone));
    EXPECT_LT(at(alone), here.events.size());
    EXPECT_EQ(0u, here.tries.count(path));
    EXPECT_EQ(1, here.tries["g.txt"]);
    here.tries.clear();
    here.targets.clear();
  }
}

TEST_F(Scheduler, AListingWithConversionsPendingInItIsReadAgainAfterThem) {
  schedule(30);
  ASSERT_NE(nullptr, dir);
  struct row {
    file_id id;
    long opens;
  } const rows[] = {{{1, 1}, 1}, {dir->id, 2}};
  for (const row &r : rows) {
    here.events.clear();
    listing_opener o{fake_open, fake_close, r.id, false};
    EXPECT_EQ(0, open_listing(&s, &o));
    EXPECT_EQ(r.opens, count("open"));
    EXPECT_EQ("open", here.events.back()) << "opened last";
  }
  EXPECT_EQ(30, count("report ")) << "all reported before the second open";
}

// A fake file of BLOCKS blocks for block runs: block b is 100 bytes of
// one letter, the last 5; a failure planted once, or for good.
constexpr unsigned long long BLOCKS = 40;
struct fake_file {
  int read_once, write_once, read_always; // blocks, or -1
  std::mutex m;
  std::string written;
};

int fake_make(const block_source *source, unsigned long long b, unsigned char *,
              unsigned char *out, std::size_t *n, bool *ends) {
  auto *f = static_cast<fake_file *>(source->context);
  std::lock_guard<std::mutex> hold(f->m);
  if (static_cast<int>(b) == f->read_always)
    return EIO;
  if (static_cast<int>(b) == f->read_once) {
    f->read_once = -1;
    return ENOMEM;
  }
  *ends = b + 1 == BLOCKS;
  *n = *ends ? 5 : 100;
  std::memset(out, static_cast<int>('a' + b % 26), *n);
  return 0;
}

int fake_put(const block_source *source, const unsigned char *out,
             std::size_t n, unsigned long long at) {
  auto *f = static_cast<fake_file *>(source->context);
  std::lock_guard<std::mutex> hold(f->m);
  if (static_cast<int>(at / 100) == f->write_once) {
    f->write_once = -1;
    return ENOSPC;
  }
  f->written.resize(std::max<std::size_t>(f->written.size(), at + n), '?');
  f->written.replace(at, n, reinterpret_cast<const char *>(out), n);
  return 0;
}

TEST(Blocks, WrittenInOrderAndTakenUpAgainAloneAfterAFailure) {
  crew c{nullptr, PROCESSORS, {}, 0};
  ASSERT_LT(0u, crew_start(&c));
  struct row {
    const char *what;
    int read_once, write_once, read_always, code;
  } const rows[] = {{"no failure", -1, -1, -1, 0},
                    {"a write fails once", -1, 7, -1, 0},
                    {"a read fails once", 3, -1, -1, 0},
                    {"a read fails for good", -1, -1, 9, EIO}};
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    fake_file f{r.read_once, r.write_once, r.read_always, {}, {}};
    block_source source{fake_make, fake_put, NO_HANDLE,
                        NO_HANDLE, TO_LOWER, &f};
    unsigned char raw[8], out[128];
    bool read_failed = false;
    EXPECT_EQ(r.code, run_blocks(&source, &c, raw, out, &read_failed));
    EXPECT_EQ(r.code != 0, read_failed);
    std::string want;
    for (unsigned long long b = 0; b < (r.code ? 9 : BLOCKS); b++)
      want.append(b + 1 == BLOCKS ? 5 : 100, static_cast<char>('a' + b % 26));
    EXPECT_EQ(want, f.written);
  }
  crew_stop(&c);
}

} // namespace
} // namespace morvidex

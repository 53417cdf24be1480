#include "cli/dispatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "translate/translate.h"

namespace morvidex {
namespace {

// What the translators were asked to do, one call per line.
std::string calls_made;

void record_file(const char *path, int case_mode) {
  calls_made +=
      "file " + std::string(path) + " " + std::to_string(case_mode) + "\n";
}

void record_directory(const char *dir, int recurse, int case_mode,
                      const char *pattern) {
  calls_made += "dir " + std::string(dir) + " " + std::to_string(recurse) +
                " " + std::to_string(case_mode) + " " +
                (pattern != nullptr ? pattern : "-") + "\n";
}

void record_say(const char *text) { calls_made += "say " + std::string(text); }

const translators RECORDER = {record_file, record_directory, record_say};

std::string run(std::vector<const char *> args) {
  args.insert(args.begin(), "morvidex");
  calls_made.clear();
  dispatch(static_cast<int>(args.size()), args.data(), RECORDER);
  return calls_made;
}

TEST(Dispatch, UsageWhenTheArgumentsDoNotFit) {
  struct {
    std::vector<const char *> args;
    bool usage;
  } const cases[] = {
      {{}, true},           {{"-l"}, true},
      {{"-lu", "a"}, true}, {{"-ul", "a"}, true},
      {{"l", "a"}, true},   {{"", "a"}, true},
      {{"-l", "a"}, false}, {{"-L", "a"}, false},
      {{"-", "a"}, false},  {{"-xux", "a"}, false},
  };
  for (const auto &t : cases) {
    std::vector<const char *> argv = {"morvidex"};
    argv.insert(argv.end(), t.args.begin(), t.args.end());
    SCOPED_TRACE(t.args.empty() ? "(none)" : t.args[0]);
    EXPECT_EQ(t.usage, wants_usage(static_cast<int>(argv.size()), argv.data()));
  }
}

TEST(Dispatch, CaseModeFromTheLetters) {
  EXPECT_EQ(MODE_LOWER, choose_case_mode("-l"));
  EXPECT_EQ(MODE_LOWER, choose_case_mode("-xlx"));
  EXPECT_EQ(MODE_UPPER, choose_case_mode("-ru"));
  EXPECT_EQ(MODE_NONE, choose_case_mode("-f"));
  EXPECT_EQ(MODE_NONE, choose_case_mode("-L"));
}

TEST(Dispatch, RowsAndOperands) {
  struct {
    std::vector<const char *> args;
    const char *expected;
  } const cases[] = {
      // Recursive walks win over every other letter.
      {{"-lr", "*", "x"}, "dir . 1 1 -\n"},
      {{"-uR", "*.txt"}, "dir . 1 2 *.txt\n"},
      {{"-lr", "*.txt", "a", "b"}, "dir a 1 1 *.txt\ndir b 1 1 *.txt\n"},
      {{"-lr", "a", "b"}, "dir a 1 1 -\ndir b 1 1 -\n"},
      {{"-lrd", "a"}, "dir a 1 1 -\n"},
      {{"-r", "a"}, "dir a 1 0 -\n"},
      // Directory walks without recursion.
      {{"-ld", "*"}, "say need dirname(s)\n"},
      {{"-lD", "*.txt"}, "dir *.txt 0 1 -\n"},
      {{"-ld", "*.txt", "a"}, "dir *.txt 0 1 -\ndir a 0 1 -\n"},
      {{"-udf", "a", "b"}, "dir a 0 2 -\ndir b 0 2 -\n"},
      // "f" and the letterless rows.
      {{"-lf", "*", "x"}, "dir . 0 1 -\n"},
      {{"-f", "*.c"}, "dir . 0 0 *.c\n"},
      {{"-uf", "*.c", "a"}, "dir a 0 2 *.c\n"},
      {{"-f", "a.txt"}, "file a.txt 0\n"},
      {{"-l", "*"}, "dir . 0 1 -\n"},
      {{"-l", "*.txt"}, "dir . 0 1 *.txt\n"},
      {{"-l", "x*.txt"}, "dir . 0 1 x*.txt\n"},
      {{"-l", "*.txt", "a", "b"}, "dir a 0 1 *.txt\ndir b 0 1 *.txt\n"},
      {{"-u", "a", "b"}, "file a 2\nfile b 2\n"},
      {{"-l", "a", "*"}, "file a 1\nfile * 1\n"},
      {{"-L", "a"}, ""},
      {{"-", "*"}, "dir . 0 0 -\n"},
      {{"-x", "*.c"}, "dir . 0 0 *.c\n"},
      {{"-l", "*x"}, "file *x 1\n"},
  };
  for (const auto &t : cases) {
    std::string name;
    for (const char *a : t.args)
      name += std::string(a) + " ";
    SCOPED_TRACE(name);
    EXPECT_EQ(t.expected, run(t.args));
  }
}

} // namespace
} // namespace morvidex

#include "translate/translate.h"

#include <gtest/gtest.h>

#include <string>

namespace morvidex {
namespace {

TEST(OutputName, StemEndsAtTheFirstDotAnywhere) {
  const std::string long_stem(200, 's');
  struct {
    const char *path;
    int mode;
    std::string expected;
  } const cases[] = {
      {"notes.txt", MODE_LOWER, "notes.lo"},
      {"notes.txt", MODE_UPPER, "notes.up"},
      {"notes.txt", MODE_NONE, "notes.lo"},
      {"README", MODE_LOWER, "README.lo"},
      {"README", MODE_UPPER, "README.up"},
      {"a.b.c", MODE_LOWER, "a.lo"},
      {".profile", MODE_LOWER, ".lo"},
      {"./a.txt", MODE_LOWER, ".lo"},
      {"../notes/a.txt", MODE_UPPER, ".up"},
      {"docs.old/readme", MODE_LOWER, "docs.lo"},
      {"", MODE_LOWER, ".lo"},
      {"x.lo", MODE_LOWER, "x.lo"},
      {long_stem.c_str(), MODE_LOWER, long_stem + ".lo"},
  };
  for (const auto &t : cases) {
    SCOPED_TRACE(t.path);
    std::string name(output_name_size(t.path), '?');
    output_name(t.path, t.mode, &name[0]);
    EXPECT_EQ(t.expected + '\0', name);
  }
}

TEST(WalkEligibility, ExclusionsAndPatterns) {
  const std::string long_ext = "f." + std::string(150, 'e');
  const std::string long_pattern = "*." + std::string(150, 'e');
  struct {
    const char *name;
    const char *pattern;
    bool expected;
  } const cases[] = {
      {"a.txt", nullptr, true},
      {"b.lo", nullptr, false},
      {"c.up", nullptr, false},
      {"d.LO", nullptr, true},
      {"e.b.lo", nullptr, true},
      {"readme", nullptr, true},
      {".lo", nullptr, true},
      {".up", nullptr, true},
      {"x.lo.txt", nullptr, true},
      {"morvidex.exe", nullptr, false},
      {"MORVIDEX.EXE", nullptr, true},
      {"morvidex", nullptr, true},
      {"a.txt", "*.txt", true},
      {"a.TXT", "*.txt", false},
      {"a.txt.bak", "*.txt", false},
      {"a.b.txt", "*.txt", false},
      {"pkg.tar.gz", "*.tar.gz", true},
      {"pkg.tar.gz", "*.gz", false},
      {"readme", "*.txt", false},
      {".lo", "*.lo", true},
      {"b.lo", "*.lo", false},
      {"a.*", "*.*", true},
      {"a.txt", "*.*", false},
      {"a.txt", "a*.txt", false},
      {"morvidex.exe", "*.exe", false},
      {long_ext.c_str(), long_pattern.c_str(), true},
  };
  for (const auto &t : cases) {
    SCOPED_TRACE(std::string(t.name) + " " + (t.pattern ? t.pattern : "-"));
    EXPECT_EQ(t.expected, is_eligible(t.name, t.pattern));
  }
}

} // namespace
} // namespace morvidex

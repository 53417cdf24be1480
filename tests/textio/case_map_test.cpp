#include "textio/case_map.h"

#include <gtest/gtest.h>

namespace morvidex {
namespace {

TEST(CaseMap, OnlyTheLatinLettersChangeCase) {
  for (int c = 0; c < 256; c++) {
    SCOPED_TRACE(c);
    bool upper = c >= 'A' && c <= 'Z';
    bool lower = c >= 'a' && c <= 'z';
    EXPECT_EQ(upper ? c + 0x20 : c, tolower(c));
    EXPECT_EQ(lower ? c - 0x20 : c, toupper(c));
    EXPECT_EQ(upper, (CASE_TABLE[c + 1] & CLASS_UPPER) != 0);
    EXPECT_EQ(lower, (CASE_TABLE[c + 1] & CLASS_LOWER) != 0);
  }
}

TEST(CaseMap, EdgeValues) {
  struct {
    int c, lower, upper;
  } const cases[] = {
      {-1, -1, -1},       {0x141, 0x61, 0x41}, {0x161, 0x61, 0x41},
      {0xC4, 0xC4, 0xC4}, {0xE4, 0xE4, 0xE4},  {0x00, 0x00, 0x00},
      {0x7F, 0x7F, 0x7F}, {'@', '@', '@'},     {'[', '[', '['},
      {'`', '`', '`'},    {'{', '{', '{'},
  };
  for (const auto &t : cases) {
    SCOPED_TRACE(t.c);
    EXPECT_EQ(t.lower, tolower(t.c));
    EXPECT_EQ(t.upper, toupper(t.c));
  }
  EXPECT_EQ(0, CASE_TABLE[0]);
}

TEST(CaseMap, RunsMapLikeTheTable) {
  unsigned char all[256];
  for (int c = 0; c < 256; c++)
    all[c] = static_cast<unsigned char>(c);
  unsigned char lower[256];
  unsigned char upper[256];
  map_run(TO_LOWER, lower, all, sizeof all);
  map_run(TO_UPPER, upper, all, sizeof all);
  for (int c = 0; c < 256; c++) {
    SCOPED_TRACE(c);
    EXPECT_EQ(tolower(c), lower[c]);
    EXPECT_EQ(toupper(c), upper[c]);
  }
}

} // namespace
} // namespace morvidex

#include "report/diagnostics.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "report/console.h"

namespace morvidex {
namespace {

TEST(Diagnostics, TextsAtTheEdgesOfTheTable) {
  struct {
    int number;
    const char *text;
  } const cases[] = {
      {-1, "Unknown error"},
      {0, "Error 0"},
      {2, "No such file or directory"},
      {4, "Too many open files"},
      {23, "Too many open files"},
      {46, "Is a directory"},
      {47, ""},
      {48, "Filename too long"},
      {49, "Unknown error"},
      {1000, "Unknown error"},
  };
  for (const auto &t : cases) {
    SCOPED_TRACE(t.number);
    EXPECT_STREQ(t.text, error_text(t.number));
  }
}

TEST(Diagnostics, SystemErrorsByName) {
  struct {
    int code;
    int number;
  } const cases[] = {
      {0, 0},       {ENOENT, 2},        {EMFILE, 4},  {EACCES, 5},
      {ENOMEM, 8},  {EINVAL, 19},       {ENFILE, 23}, {EFBIG, 27},
      {ENOSPC, 28}, {EROFS, 30},        {EPIPE, 32},  {EEXIST, 35},
      {EPERM, 37},  {EIO, 40},          {ENXIO, 41},  {ENOTDIR, 45},
      {EISDIR, 46}, {ENAMETOOLONG, 48}, {ELOOP, 19},  {EDQUOT, 19},
      {-5, 19},
  };
  for (const auto &t : cases) {
    SCOPED_TRACE(t.code);
    EXPECT_EQ(t.number, error_from_errno(t.code));
  }
  EXPECT_EQ(2, error_from_code(ENOENT));
}

// Every row of the Win32 code table, as ranges of codes: each code listed
// gives its row's number, and every other code from 0 to 298 gives 19.
// Above 298 a code counts as 1, after its low 16 bits are taken.
TEST(Diagnostics, EveryWin32Code) {
  struct row {
    int number;
    std::vector<std::pair<unsigned, unsigned>> codes; // first, last
  };
  const row table[] = {
      {0, {{0, 0}}},
      {2,
       {{2, 3},
        {18, 18},
        {53, 53},
        {63, 64},
        {67, 67},
        {110, 110},
        {123, 123}}},
      {4, {{4, 4}, {113, 113}}},
      {5,
       {{5, 5},
        {12, 12},
        {15, 16},
        {32, 33},
        {65, 65},
        {145, 145},
        {158, 158},
        {167, 167}}},
      {6, {{6, 6}, {114, 114}}},
      {8, {{7, 9}}},
      {14, {{14, 14}, {37, 49}, {73, 79}, {81, 81}, {115, 115}}},
      {15, {{50, 50}, {55, 55}, {66, 66}}},
      {17, {{17, 17}}},
      {20, {{10, 10}}},
      {21, {{11, 11}}},
      {22, {{107, 107}}},
      {23, {{35, 36}, {68, 68}, {84, 84}}},
      {24, {{128, 129}, {184, 184}}},
      {27, {{61, 61}}},
      {28, {{62, 62}, {82, 82}, {112, 112}}},
      {29, {{132, 132}}},
      {30, {{19, 19}}},
      {32, {{109, 109}, {230, 230}, {233, 233}}},
      {35, {{52, 52}, {80, 80}, {85, 85}, {183, 183}}},
      {37, {{86, 86}}},
      {38, {{127, 127}}},
      {40, {{22, 26}, {29, 31}, {57, 59}, {69, 69}, {83, 83}, {88, 88}}},
      {41, {{20, 20}, {27, 27}, {34, 34}}},
      {42,
       {{56, 56},
        {70, 70},
        {72, 72},
        {89, 89},
        {100, 101},
        {108, 108},
        {142, 142},
        {231, 231}}},
      {44, {{21, 21}, {28, 28}, {51, 51}, {54, 54}, {99, 99}}},
      {48, {{206, 206}}},
  };
  std::vector<int> want(299, 19);
  for (const row &r : table)
    for (auto [first, last] : r.codes)
      for (unsigned code = first; code <= last; code++) {
        ASSERT_EQ(19, want[code]) << "code " << code << " in two rows";
        want[code] = r.number;
      }
  for (unsigned code = 0; code < want.size(); code++)
    EXPECT_EQ(want[code], error_from_win32(code)) << "code " << code;
  for (unsigned long code : {299ul, 0xFFFFul, 0x7FFFFFFFul})
    EXPECT_EQ(19, error_from_win32(code)) << "code " << code;
  EXPECT_EQ(2, error_from_win32(0x10002)) << "only the low 16 bits count";
}

// Runs report_failure with standard error sent to a file; returns what
// reached it.
std::string diagnostic_for(const char *label, int code) {
  std::FILE *capture = std::tmpfile();
  int saved = dup(2);
  dup2(fileno(capture), 2);
  start_console();
  report_failure(label, code);
  dup2(saved, 2);
  close(saved);
  std::string out;
  std::rewind(capture);
  for (int c; (c = std::fgetc(capture)) != EOF;)
    out += static_cast<char>(c);
  std::fclose(capture);
  return out;
}

TEST(Diagnostics, OneLineWithLabelAndText) {
  struct {
    const char *label;
    int code;
    const char *line;
  } const cases[] = {
      {"stat", CODE_NO_MEMORY, "stat: Not enough memory\r\n"},
      {"Can't open input file.", ENOENT,
       "Can't open input file.: No such file or directory\r\n"},
      {"chdir", ELOOP, "chdir: Invalid argument\r\n"},
      {"", EACCES, "Permission denied\r\n"},
      {nullptr, EACCES, "Permission denied\r\n"},
      {nullptr, CODE_NO_MEMORY, "Not enough memory\r\n"},
      {"a\nb", ENOSPC, "a\r\nb: No space left on device\r\n"},
  };
  for (const auto &t : cases) {
    SCOPED_TRACE(t.line);
    EXPECT_EQ(t.line, diagnostic_for(t.label, t.code));
  }
}

} // namespace
} // namespace morvidex

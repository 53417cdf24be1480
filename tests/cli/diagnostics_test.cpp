#include "cli/diagnostics.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "cli/console.h"

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
      {0, 0},          {ENOENT, 2},   {EMFILE, 4},        {EACCES, 5},
      {ENOMEM, 8},     {EINVAL, 19},  {ENFILE, 23},       {EFBIG, 27},
      {ENOSPC, 28},    {EROFS, 30},   {EPIPE, 32},        {EEXIST, 35},
      {EPERM, 37},     {EIO, 40},     {ENXIO, 41},        {ENOTDIR, 45},
      {EISDIR, 46},    {ENAMETOOLONG, 48}, {ELOOP, 19},   {EDQUOT, 19},
      {-5, 19},
  };
  for (const auto &t : cases) {
    SCOPED_TRACE(t.code);
    EXPECT_EQ(t.number, error_from_code(t.code));
  }
}

// Runs print_diagnostic with standard error sent to a file; returns what
// reached it.
std::string diagnostic_for(const char *label, int number) {
  std::FILE *capture = std::tmpfile();
  int saved = dup(2);
  dup2(fileno(capture), 2);
  start_console();
  error_number = number;
  print_diagnostic(label);
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
    int number;
    const char *line;
  } const cases[] = {
      {"stat", 0, "stat: Error 0\r\n"},
      {"Can't open input file.", 2,
       "Can't open input file.: No such file or directory\r\n"},
      {"chdir", 47, "chdir: \r\n"},
      {"getcwd", 49, "getcwd: Unknown error\r\n"},
      {"x", -3, "x: Unknown error\r\n"},
      {"", 5, "Permission denied\r\n"},
      {nullptr, 5, "Permission denied\r\n"},
      {"a\nb", 28, "a\r\nb: No space left on device\r\n"},
  };
  for (const auto &t : cases) {
    SCOPED_TRACE(t.line);
    EXPECT_EQ(t.line, diagnostic_for(t.label, t.number));
    EXPECT_EQ(t.number, error_number);
  }
}

} // namespace
} // namespace morvidex

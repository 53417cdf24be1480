#include "report/diagnostics.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <unistd.h>

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

// Each row's first and last code, and the codes just outside it.
TEST(Diagnostics, Win32CodesAtTheEdgesOfTheirRows) {
  struct {
    unsigned long code;
    int number;
  } const cases[] = {
      {0, 0},    {1, 19},      {2, 2},           {3, 2},    {4, 4},
      {5, 5},    {6, 6},       {7, 8},           {9, 8},    {10, 20},
      {11, 21},  {13, 19},     {14, 14},         {15, 5},   {17, 17},
      {18, 2},   {19, 30},     {20, 41},         {21, 44},  {22, 40},
      {26, 40},  {27, 41},     {28, 44},         {29, 40},  {31, 40},
      {32, 5},   {34, 41},     {35, 23},         {36, 23},  {37, 14},
      {49, 14},  {50, 15},     {52, 35},         {56, 42},  {57, 40},
      {59, 40},  {60, 19},     {61, 27},         {62, 28},  {69, 40},
      {71, 19},  {72, 42},     {73, 14},         {79, 14},  {80, 35},
      {81, 14},  {86, 37},     {87, 19},         {88, 40},  {98, 19},
      {99, 44},  {107, 22},    {109, 32},        {110, 2},  {112, 28},
      {113, 4},  {114, 6},     {115, 14},        {116, 19}, {123, 2},
      {127, 38}, {128, 24},    {132, 29},        {142, 42}, {145, 5},
      {158, 5},  {167, 5},     {183, 35},        {184, 24}, {206, 48},
      {230, 32}, {231, 42},    {233, 32},        {267, 19}, {298, 19},
      {299, 19}, {0x10002, 2}, {0x7FFFFFFF, 19},
  };
  for (const auto &t : cases) {
    SCOPED_TRACE(t.code);
    EXPECT_EQ(t.number, error_from_win32(t.code));
  }
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

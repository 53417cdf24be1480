#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace morvidex {
namespace {

bool no_lead_bytes(unsigned char) { return false; }

std::vector<std::string> split(const char *line,
                               bool (*is_lead_byte)(unsigned char)) {
  std::size_t n = std::strlen(line);
  std::vector<char> bytes(split_bytes_size(n));
  std::vector<const char *> words(split_words_size(n));
  std::size_t count =
      split_command_line(line, is_lead_byte, bytes.data(), words.data());
  return std::vector<std::string>(words.begin(), words.begin() + count);
}

// A double-byte code page in which 0x81 to 0x9F lead a pair.
bool lead_0x81_to_0x9f(unsigned char c) { return c >= 0x81 && c <= 0x9F; }

TEST(CommandLine, WordsQuotesAndBackslashes) {
  using words = std::vector<std::string>;
  struct {
    const char *line;
    words expected;
  } const cases[] = {
      {"", {}},
      {" \t ", {}},
      {"morvidex -l a.txt", {"morvidex", "-l", "a.txt"}},
      {"  p\t-l   x  ", {"p", "-l", "x"}},
      {"p -l \"my notes.txt\"", {"p", "-l", "my notes.txt"}},
      {"p a\"b c\"d", {"p", "ab cd"}},
      {"p \"\"", {"p", ""}},
      {"p \"\" x", {"p", "", "x"}},
      {"p \"unended stretch", {"p", "unended stretch"}},
      {"p a\\\"b", {"p", "a\"b"}},
      {"p \"a\\\" b\"", {"p", "a\" b"}},
      {"p dir\\ c:\\x\\", {"p", "dir\\", "c:\\x\\"}},
      // Only the backslash right before the quote escapes it.
      {"p dir\\\\\"x y\"", {"p", "dir\\\"x", "y"}},
      {"p * *.txt ?", {"p", "*", "*.txt", "?"}},
      {"p a,b;c", {"p", "a,b;c"}},
  };
  for (const auto &t : cases) {
    SCOPED_TRACE(t.line);
    EXPECT_EQ(t.expected, split(t.line, no_lead_bytes));
  }
}

TEST(CommandLine, LeadByteTakesTheNextByteWithIt) {
  using words = std::vector<std::string>;
  EXPECT_EQ((words{"p", "\x81 x", "y"}),
            split("p \x81 x y", lead_0x81_to_0x9f));
  EXPECT_EQ((words{"p", "\x81\"x"}),
            split("p \x81\"x", lead_0x81_to_0x9f));
  // The backslash after a lead byte is its second byte, so the quote
  // that follows opens a stretch.
  EXPECT_EQ((words{"p", "\x81\\q r"}),
            split("p \x81\\\"q r", lead_0x81_to_0x9f));
  EXPECT_EQ((words{"p", "\x81"}),
            split("p \x81", lead_0x81_to_0x9f));
}

} // namespace
} // namespace morvidex

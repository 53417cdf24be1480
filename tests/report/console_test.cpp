#include "report/console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace morvidex {
namespace {

// A console stream on a temporary file, to see when bytes reach it.
struct console_file {
  std::FILE *file = std::tmpfile();
  console_stream stream{};
  explicit console_file(bool buffered) {
    stream.handle = fileno(file);
    stream.buffered = buffered;
  }
  ~console_file() { std::fclose(file); }
  std::string contents() const {
    std::string out;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;)
      out += static_cast<char>(c);
    return out;
  }
};

TEST(Console, LineFeedsLeaveAsCrLf) {
  console_file out(false);
  console_print(&out.stream, "a\n%s\r\n%s\n", "b\nc", "%s");
  EXPECT_EQ("a\r\nb\r\nc\r\r\n%s\r\n", out.contents());
}

TEST(Console, UnbufferedWritesEachPieceAtOnce) {
  console_file out(false);
  console_print(&out.stream, "one %s\n", "x", nullptr);
  EXPECT_EQ("one x\r\n", out.contents());
}

// Lines of a given length are printed one after the other; after each the
// file must hold exactly the batches written out so far.  A batch is
// written when the next piece (at most 80 bytes) no longer fits in 512.
TEST(Console, BufferedOutputLeavesInBatchesOfUpTo512) {
  struct {
    std::size_t line; // bytes of one line, its LF included
    int lines;
    std::vector<std::size_t> written_after; // file size after each line
  } const cases[] = {
      // 64-byte lines: 8 fill the buffer; the 9th writes them out.
      {64, 10, {0, 0, 0, 0, 0, 0, 0, 0, 520, 520}},
      // 100-byte lines go out as pieces of 80 and 20: five lines hold 500
      // bytes, and the 6th line's first piece no longer fits.
      {100, 7, {0, 0, 0, 0, 0, 505, 505}},
      // One line longer than the buffer: pieces of 80, written as 480.
      {600, 1, {480}},
  };
  for (const auto &t : cases) {
    SCOPED_TRACE(t.line);
    console_file out(true);
    std::string line(t.line - 1, 'x');
    line += '\n';
    for (int i = 0; i < t.lines; i++) {
      console_print(&out.stream, "%s", line.c_str(), nullptr);
      EXPECT_EQ(t.written_after[i], out.contents().size()) << "line " << i;
    }
    console_flush(&out.stream);
    EXPECT_EQ(t.lines * (t.line + 1), out.contents().size());
  }
}

} // namespace
} // namespace morvidex

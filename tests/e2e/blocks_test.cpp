// Files of several 256 KiB blocks, which the program may convert side by
// side on several processors: the text rules hold wherever a block edge
// falls, and output, failures and their order are those of one processor.
// CTest runs these tests on every processor and again under `taskset -c 0`.
// (\032 is the end-of-file marker 0x1A.)
#include "harness.h"

#include <gtest/gtest.h>

using namespace e2e;

namespace {

const size_t BLOCK = 256 * 1024;

// `n` bytes of mixed-case letters, a CR LF closing every 61st byte.
std::string text(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i)
    s += i % 61 == 59   ? '\r'
         : i % 61 == 60 ? '\n'
                        : static_cast<char>((i % 3 ? 'a' : 'A') + i % 26);
  return s;
}

// `blocks` blocks of text whose last byte is `last`, then `tail`.
std::string ending_each_block(size_t blocks, char last,
                              const std::string &tail) {
  std::string s;
  for (size_t b = 0; b < blocks; ++b)
    s += text(BLOCK - 1) + last;
  return s + tail;
}

TEST(Blocks, TextRulesAtEveryBlockEdge) {
  const std::vector<std::pair<std::string, std::string>> table = {
      {"two blocks exactly", text(2 * BLOCK)},
      {"two blocks and a byte", text(2 * BLOCK) + "Z"},
      {"a CR ends every block", ending_each_block(4, '\r', "\nEnd")},
      {"an LF ends every block", ending_each_block(3, '\n', "X")},
      {"CR LF across a block edge",
       text(BLOCK - 1) + "\r\n" + text(BLOCK) + "\r\n"},
      {"a block of nothing but CRs",
       text(BLOCK) + std::string(BLOCK, '\r') + text(BLOCK / 2)},
      {"the marker in the first of four blocks",
       text(100) + "\032" + text(4 * BLOCK)},
      {"the marker opens the third block",
       text(2 * BLOCK) + "\032" + text(BLOCK)},
      {"the marker ends the second block",
       text(2 * BLOCK - 1) + "\032" + text(BLOCK)},
      {"a CR before the marker at a block edge",
       text(BLOCK - 1) + "\r\032" + text(2 * BLOCK)},
      {"the marker last", text(3 * BLOCK) + "\032"},
      {"several MiB", text(5 << 20) + "\n" + text(77)}};
  for (auto &[name, source] : table) {
    SCOPED_TRACE(name);
    const Tree files = {{"t.txt", file(source)}};
    run(make_case({"-l", "t.txt"}, files,
                  {{"t.lo", file(convert(source, false))}},
                  BANNER + progress("t.txt", "t.lo")));
    run(make_case({"-u", "t.txt"}, files,
                  {{"t.up", file(convert(source, true))}},
                  BANNER + progress("t.txt", "t.up")));
  }
}

// Large and small files and failures between them: every line in program
// order, also with both streams in one file.
TEST(Blocks, OrderOfLinesAroundLargeFiles) {
  const std::string big = text(3 * BLOCK + 5), huge = text(9 * BLOCK);
  const Tree files = {{"a.txt", file(big)},
                      {"b.txt", file("Small\n")},
                      {"c.txt", file(huge)},
                      {"d/e.txt", file(big)},
                      {"d/f.txt", file(huge)}};
  const Tree made = {{"a.lo", file(convert(big, false))},
                     {"b.lo", file("small\r\n")},
                     {"c.lo", file(convert(huge, false))},
                     {"d/e.lo", file(convert(big, false))},
                     {"d/f.lo", file(convert(huge, false))}};
  const std::string missing =
      diag("Can't open input file.", "No such file or directory");
  Case operands = make_case(
      {"-l", "a.txt", "none.txt", "c.txt", "b.txt", "d/e.txt", "d/f.txt"},
      files, made,
      // Standard output is held until exit, the diagnostic is not.
      missing + BANNER + progress("a.txt", "a.lo") + progress("c.txt", "c.lo") +
          progress("b.txt", "b.lo") + progress("d/e.txt", "d/e.lo") +
          progress("d/f.txt", "d/f.lo"));
  operands.output = Output::merged;
  run(operands);
  Case walk_d = make_case({"-ld", "d"}, files,
                          {{"d/e.lo", file(convert(big, false))},
                           {"d/f.lo", file(convert(huge, false))}},
                          BANNER + walk("d", progress("e.txt", "e.lo") +
                                                 progress("f.txt", "f.lo")));
  walk_d.out_alt = {BANNER + walk("d", progress("f.txt", "f.lo") +
                                           progress("e.txt", "e.lo"))};
  run(walk_d);
}

// A write that fails in a later block (a file-size limit): the failure is
// reported, the target is removed, and the run goes on.
TEST(Blocks, WriteFailureInALaterBlockLinuxOnly) {
  const std::string big = text(4 * BLOCK);
  for (long limit : {long(BLOCK) / 2, long(BLOCK) + 1, 3 * long(BLOCK) - 7}) {
    SCOPED_TRACE(limit);
    Case c =
        make_case({"-l", "big.txt", "z.txt"},
                  {{"big.txt", file(big)}, {"z.txt", file("Z\n")}},
                  {{"z.lo", file("z\r\n")}}, BANNER + progress("z.txt", "z.lo"),
                  diag("Can't write output file.", "File too large"));
    c.fsize_limit = limit;
    run(c);
  }
}

} // namespace

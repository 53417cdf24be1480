// Converting named files: the bytes of the target, its name, and the files
// that cannot be converted. (\032 is the end-of-file marker 0x1A.)
#include "harness.h"
#include "platform.h"

#include <gtest/gtest.h>

using namespace e2e;
using namespace std::string_literals;

namespace {

const Tree A_TXT = each(TEXT, {"a.txt"});

// A stream on a regular file reads and writes blocks of this many bytes.
constexpr size_t BLOCK = 256 * 1024;

// `n` bytes of mixed-case letters with a line feed closing every 32nd byte.
std::string text(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i)
    s += i % 32 == 31 ? '\n' : static_cast<char>((i % 2 ? 'a' : 'A') + i % 26);
  return s;
}

struct Conversion {
  std::string name, source, lower, upper;
};

// A row whose expected bytes follow from the byte rules applied to the whole
// source.
Conversion derived(const std::string &name, const std::string &source) {
  return {name, source, convert(source, false), convert(source, true)};
}

TEST(FileTranslation, TargetBytes) {
  std::string every_byte; // but CR, LF and the marker
  for (int b = 0; b < 256; ++b)
    every_byte += b == '\r' || b == '\n' || b == 0x1a
                      ? ""
                      : std::string(1, static_cast<char>(b));
  const std::vector<Conversion> table = {
      {"CR LF kept", "Hello World\r\n", "hello world\r\n", "HELLO WORLD\r\n"},
      {"bare LF gains CR", "a\nb\n", "a\r\nb\r\n", "A\r\nB\r\n"},
      {"lone CR dropped", "a\rb", "ab", "AB"},
      {"CR CR LF", "a\r\r\nb", "a\r\nb", "A\r\nB"},
      {"only CRs", "\r\r\r", "", ""},
      {"marker first", "\032abc\n", "", ""},
      {"marker in the middle", "ab\032cd\n", "ab", "AB"},
      {"marker last", "ab\n\032", "ab\r\n", "AB\r\n"},
      {"CR before the marker", "ab\r\032c", "ab", "AB"},
      {"non-letters unchanged", "\0\177\200\304\344\377Az"s,
       "\0\177\200\304\344\377az"s, "\0\177\200\304\344\377AZ"s},
      {"no final newline", "Last Line", "last line", "LAST LINE"},
      {"converted text converts to itself", "x\r\ny\r\n", "x\r\ny\r\n",
       "X\r\nY\r\n"},
      derived("every other byte value", every_byte),
      derived("511 bytes", text(511)),
      derived("512 bytes", text(512)),
      derived("513 bytes", text(513)),
      derived("1024 bytes", text(1024)),
      derived("CR LF across byte 512", text(511) + "\r\n" + text(100)),
      derived("CR as byte 512", text(511) + "\rX" + text(100)),
      derived("a block less one byte", text(BLOCK - 1)),
      derived("a block", text(BLOCK)),
      derived("a block and one byte", text(BLOCK + 1)),
      derived("CR LF across the block edge",
              text(BLOCK - 1) + "\r\n" + text(100)),
      derived("CR last in the block before the marker",
              text(BLOCK - 1) + "\r\032" + text(100)),
      derived("the marker opens the second block",
              text(BLOCK) + "\032" + text(100)),
      derived("more than a block of CRs",
              std::string(BLOCK + 1000, '\r') + "Z\n"),
      derived("a few MiB", text(3 << 20) + "\r\n" + text(77))};
  for (auto &row : table) {
    SCOPED_TRACE(row.name);
    const Tree source = {{"t.txt", file(row.source)}};
    run(make_case({"-l", "t.txt"}, source, {{"t.lo", file(row.lower)}},
                  BANNER + progress("t.txt", "t.lo")));
    run(make_case({"-u", "t.txt"}, source, {{"t.up", file(row.upper)}},
                  BANNER + progress("t.txt", "t.up")));
  }
}

TEST(FileTranslation, TargetNameEndsTheStemAtTheFirstDot) {
  struct Row {
    std::string option, operand, source, target;
  };
  const std::string long_stem(200, 's'), long_ext = "." + std::string(100, 'e');
  const std::vector<Row> table = {
      {"-l", "README", "README", "README.lo"},
      {"-u", "README", "README", "README.up"},
      {"-f", "README", "README", "README.lo"},
      {"-l", "a.b.c", "a.b.c", "a.lo"},
      {"-l", ".profile", ".profile", ".lo"},
      {"-u", "./a.txt", "a.txt", ".up"},
      {"-l", "docs.old/readme", "docs.old/readme", "docs.lo"},
      {"-l", "sub/notes.txt", "sub/notes.txt", "sub/notes.lo"},
      {"-u", long_stem + ".txt", long_stem + ".txt", long_stem + ".up"},
      {"-l", "a" + long_ext, "a" + long_ext, "a.lo"}};
  for (auto &row : table) {
    SCOPED_TRACE(row.option + " " + row.operand);
    run(make_case({row.option, row.operand}, each(TEXT, {row.source}),
                  each(convert(TEXT, row.option == "-u"), {row.target}),
                  BANNER + progress(row.operand, row.target)));
  }
}

TEST(FileTranslation, TargetOverwrittenAndEmptySource) {
  run_all(
      {{"an existing target is truncated",
        make_case({"-l", "a.txt"},
                  {{"a.txt", file("Ab")}, {"a.lo", file("OLD AND LONGER\r\n")}},
                  each("ab", {"a.lo"}), BANNER + progress("a.txt", "a.lo"))},
       {"empty source",
        make_case({"-l", "a.txt"}, each("", {"a.txt"}), each("", {"a.lo"}),
                  BANNER + progress("a.txt", "a.lo"))}});
}

// Each failing operand is followed by z.txt, which is still converted.
void failures_are_reported_and_the_run_goes_on() {
  const std::string in = "Can't open input file.",
                    out = "Can't open output file.";
  struct Row {
    std::string name, operand;
    Tree files;
    std::string err;
  };
  const std::vector<Row> table = {
      {"missing source",
       "nofile.txt",
       {},
       diag(in, "No such file or directory")},
      {"empty name", "", {}, diag(in, "No such file or directory")},
      {"missing directory in the name",
       "nodir/a.txt",
       {},
       diag(in, "No such file or directory")},
      {"file used as a directory", "a.txt/b", A_TXT,
       diag(in, platform().not_a_directory)},
      {"directory as source", "d", each(TEXT, {"d/x"}),
       diag(in, "Permission denied")},
      {"directory with an extension",
       "d.x",
       {{"d.x", dir()}},
       diag(in, "Permission denied")},
      {"fifo as source",
       "p.txt",
       {{"p.txt", fifo()}},
       diag(in, "Permission denied")},
      {"socket as source",
       "s.txt",
       {{"s.txt", socket()}},
       diag(in, "Permission denied")},
      {"device as source",
       "nul.txt",
       {{"nul.txt", symlink("/dev/null")}},
       diag(in, "Permission denied")},
      {"target is a directory", "a.txt", A_TXT + Tree{{"a.lo", dir()}},
       diag(out, "Permission denied")},
      {"target links into a missing directory", "a.txt",
       A_TXT + Tree{{"a.lo", symlink("nodir/a.lo")}},
       diag(out, "No such file or directory")},
      {"target links through a file", "a.txt",
       A_TXT + Tree{{"a.lo", symlink("a.txt/a.lo")}},
       diag(out, "Not a directory")}};
  for (auto &row : table) {
    SCOPED_TRACE(row.name);
    run(make_case({"-l", row.operand, "z.txt"},
                  row.files + each(TEXT, {"z.txt"}), each(LOWER, {"z.lo"}),
                  BANNER + progress("z.txt", "z.lo"), row.err));
  }
}
E2E_SPLIT_TEST(FileTranslation, FailuresAreReportedAndTheRunGoesOn,
               failures_are_reported_and_the_run_goes_on)

} // namespace

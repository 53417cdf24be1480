// What reaches the console streams, byte for byte and in which order, and
// that a missing or broken console never stops the work.
#include "harness.h"

#include <gtest/gtest.h>

using namespace e2e;

namespace {

const std::string MISSING =
    "Can't open input file.: No such file or directory\r\n";

// One file receiving both streams. Each printf's text leaves in pieces of at
// most 80 bytes; pieces collect in the 512-byte buffer of standard output
// (counted before CR is added), and a piece that does not fit sends out what
// is held first. Diagnostics leave at once, the rest of the buffer at exit.
struct MergedFile {
  std::string bytes, held;
  void print(const std::string &text) {
    for (size_t at = 0; at < text.size(); at += 80) {
      if (held.size() + text.substr(at, 80).size() > 512)
        bytes += crlf(held), held.clear();
      held += text.substr(at, 80);
    }
  }
};

// Eight sources whose progress lines are 114 bytes long: the banner and three
// lines leave 97 bytes of the buffer free, so the fourth line's first piece
// still fits and its last 34 bytes open the next batch. A missing file
// follows the fourth and the eighth.
struct LongNames {
  Case c = make_case({"-l"}, {}, {}, "");
  MergedFile merged;
  LongNames() {
    merged.print(BANNER.substr(0, BANNER.size() - 2) + "\n");
    for (int i = 1; i <= 8; ++i) {
      std::string stem =
          "A_Rather_Long_File_Name_For_Batching_0" + std::to_string(i);
      c.args.push_back(stem + ".txt");
      c.files[stem + ".txt"] = file(TEXT);
      c.made[stem + ".lo"] = file(LOWER);
      merged.print("Translate file '" + stem + ".txt' to file '" + stem +
                   ".lo'\n");
      if (i % 4 == 0)
        c.args.push_back("missing"), c.err += MISSING, merged.bytes += MISSING;
    }
  }
};

void lines_and_their_order() {
  Case exact = make_case(
      {"-lr", "d", "nope"}, each(TEXT, {"d/A.TXT"}), each(LOWER, {"d/A.lo"}),
      "morvidex 1.0 - converts the letters of text files to lower or upper "
      "case\r\n"
      "+ translate files in directory: 'd' +\r\nTranslate file 'A.TXT' to file "
      "'A.lo'\r\n"
      "- 'd' is scaned -\r\n+ translate files in directory: 'nope' +\r\n",
      "Unable to open directory: No such file or directory\r\n", 1);
  Case merged =
      exact; // everything printed is still in the buffer when the run ends
  merged.output = Output::merged;
  merged.out = exact.err + exact.out;
  merged.err.clear();
  Case small = make_case({"-l", "missing", "a.txt"}, each(TEXT, {"a.txt"}),
                         each(LOWER, {"a.lo"}),
                         MISSING + BANNER + progress("a.txt", "a.lo"));
  small.output = Output::merged;
  Case terminal = small;
  terminal.output = Output::terminal;
  terminal.out = BANNER + MISSING + progress("a.txt", "a.lo");
  LongNames many;
  Case batches = many.c;
  batches.output = Output::merged;
  batches.out = many.merged.bytes + crlf(many.merged.held);
  batches.err.clear();
  run_all({{"separate streams, status 1", exact},
           {"merged, status 1 still delivers earlier lines", merged},
           {"merged, diagnostic before the buffered banner", small},
           {"merged, batches of at most 512 bytes around diagnostics", batches},
           {"a terminal gets every line at once", terminal}});
}
E2E_SPLIT_TEST(StandardStreams, LinesAndTheirOrder, lines_and_their_order)

void unusable_standard_output() {
  Case closed = LongNames().c, broken = closed;
  closed.output = Output::closed;
  // The work goes on without standard input and output; that no file the
  // run opens takes their descriptors is seen under strace, in the fault
  // tests, since no message is written while such a file is open.
  closed.close_stdin = true;
  broken.output = Output::broken_pipe;
  Case null = make_case({"-l", "a.txt", "missing"}, each(TEXT, {"a.txt"}),
                        each(LOWER, {"a.lo"}), "", MISSING);
  null.output = Output::dev_null;
  run_all({{"stdin and stdout closed", closed},
           {"reader of the pipe gone", broken},
           {"null device", null}});
}
E2E_SPLIT_TEST(StandardStreams, UnusableStandardOutput,
               unusable_standard_output)

} // namespace

// The option word and its operands decide the case and what is converted.
#include "harness.h"
#include "platform.h"

#include <gtest/gtest.h>

using namespace e2e;

namespace {

const Tree ONE = each(TEXT, {"a.txt"}), LO = each(LOWER, {"a.lo"});
const std::string A_LO = BANNER + progress("a.txt", "a.lo");

TEST(Invocation, OptionWord) {
  std::vector<Named> table;
  for (std::vector<std::string> args : {std::vector<std::string>{"-l"},
                                        {},
                                        {"-lu", "a.txt"},
                                        {"-ul", "a.txt"},
                                        {"l", "a.txt"}})
    table.push_back({"arguments that do not fit get the usage text",
                     {args, ONE, {}, BANNER + USAGE}});
  for (auto word : {"-L", "-", "-U"})
    table.push_back({"a word without letters prints only the banner",
                     make_case({word, "a.txt"}, ONE, {}, BANNER)});
  for (auto word : {"-f", "-lf", "-fl", "-xlx", "-lll"})
    table.push_back({"letters count anywhere; f alone converts to lower case",
                     make_case({word, "a.txt"}, ONE, LO, A_LO)});
  table.push_back(
      {"two files in operand order",
       make_case({"-u", "b.txt", "a.txt"}, ONE + Tree{{"b.txt", file("b\n")}},
                 each(UPPER, {"a.up"}) + Tree{{"b.up", file("B\r\n")}},
                 BANNER + progress("b.txt", "b.up") +
                     progress("a.txt", "a.up"))});
  run_all(table);
}

void star_and_pattern_operands() {
  const Tree tree = each(TEXT, {"a.txt", "b.c", "d/x.txt"}),
             with_sub = each(TEXT, {"a.txt", "d/x.txt"});
  const Tree dirs = each(TEXT, {"c.txt", "d/x.txt", "d/y.c", "e/z.txt"});
  const std::string dot_a = BANNER + walk(".", progress("a.txt", "a.lo")),
                    d_x = walk("d", progress("x.txt", "x.lo"));
  run_all(
      {{"d with the star asks for names",
        make_case({"-ld", "*"}, tree, {}, BANNER + "need dirname(s)\r\n")},
       {"d takes a pattern for a directory",
        make_case({"-ld", "*.txt"}, each(TEXT, {"*.txt/X.TXT"}),
                  each(LOWER, {"*.txt/X.lo"}),
                  BANNER + walk("*.txt", progress("X.TXT", "X.lo")))},
       {"the star walks the current directory once; more operands are ignored",
        make_case({"-l", "*", "d"}, with_sub, LO, dot_a)},
       {"the star with f",
        make_case({"-fu", "*"}, with_sub, each(UPPER, {"a.up"}),
                  BANNER + walk(".", progress("a.txt", "a.up")))},
       {"the star without a letter converts to lower case",
        make_case({"-x", "*"}, with_sub, LO, dot_a)},
       {"a star without a dot is a file name",
        make_case({"-l", "x*y"}, each(TEXT, {"x*y"}), each(LOWER, {"x*y.lo"}),
                  BANNER + progress("x*y", "x*y.lo"))},
       {"star and dot anywhere make a pattern",
        make_case({"-l", "a*.txt"}, each(TEXT, {"a*.txt"}), {},
                  BANNER + walk(".", ""))},
       {"a pattern alone walks the current directory",
        make_case({"-l", "*.txt"}, tree, LO, dot_a)},
       {"a pattern alone with f", make_case({"-f", "*.txt"}, tree, LO, dot_a)},
       {"a pattern then directories",
        make_case({"-l", "*.txt", "d", "e"}, dirs,
                  each(LOWER, {"d/x.lo", "e/z.lo"}),
                  BANNER + d_x + walk("e", progress("z.txt", "z.lo")))},
       {"a pattern then a directory with f",
        make_case({"-lf", "*.txt", "d"}, dirs, each(LOWER, {"d/x.lo"}),
                  BANNER + d_x)}});
}
E2E_SPLIT_TEST(Invocation, StarAndPatternOperands, star_and_pattern_operands)

TEST(Invocation, RecursionAndDirectoryLetters) {
  const Tree chain = each(TEXT, {"d/s/x.txt"}),
             made = each(LOWER, {"d/s/x.lo"});
  const std::string d_s_x = walk("d", walk("s", progress("x.txt", "x.lo")));
  run_all(
      {{"r", make_case({"-lr", "d"}, chain, made, BANNER + d_s_x)},
       {"R", make_case({"-lR", "d"}, chain, made, BANNER + d_s_x)},
       {"r wins over d", make_case({"-lrd", "d"}, chain, made, BANNER + d_s_x)},
       {"r with the star walks the current tree; more operands are ignored",
        make_case({"-lr", "*", "zz"}, chain, made, BANNER + walk(".", d_s_x))},
       {"r with a pattern and directories",
        make_case({"-lr", "*.txt", "d", "e"},
                  each(TEXT, {"c.txt", "d/s/x.txt", "d/s/y.c", "e/z.txt"}),
                  each(LOWER, {"d/s/x.lo", "e/z.lo"}),
                  BANNER + d_s_x + walk("e", progress("z.txt", "z.lo")))},
       {"r with a pattern alone walks the current tree",
        make_case({"-lr", "*.txt"}, each(TEXT, {"a.txt", "s/x.txt", "s/y.c"}),
                  each(LOWER, {"a.lo", "s/x.lo"}),
                  BANNER + walk(".", progress("a.txt", "a.lo") +
                                         walk("s", progress("x.txt", "x.lo"))),
                  "", 0,
                  {BANNER + walk(".", walk("s", progress("x.txt", "x.lo")) +
                                          progress("a.txt", "a.lo"))})},
       {"d wins over f and passes subdirectories",
        make_case({"-udf", "d"}, each(TEXT, {"d/x.txt", "d/s/y.txt"}),
                  each(UPPER, {"d/x.up"}),
                  BANNER + walk("d", progress("x.txt", "x.up")))},
       {"D", make_case({"-uD", "d"}, each(TEXT, {"d/x.txt"}),
                       each(UPPER, {"d/x.up"}),
                       BANNER + walk("d", progress("x.txt", "x.up")))}});
}

// Each operand reaches the program as one word, exactly as typed, and the
// program expands no wildcard. Where the program splits its command line
// itself, `received` gives the words it makes of the line that the
// arguments become: under Wine the line shown beside each row.
TEST(Invocation, OperandsArriveAsTyped) {
  const std::string unable = "Unable to open directory",
                    missing = "No such file or directory";
  std::vector<Named> table;
  // No directory has these names: the opening line shows the word.
  for (std::vector<std::string> operands :
       {std::vector<std::string>{"*.txt"}, // *.txt, which a.txt would match
        {"a\"b"},                          // a\"b: a literal quote
        {"a\\\"b"},       // a\\\"b: only the last backslash is special
        {"a b\\", "c d"}, // "a b\\" "c d": the quote after a b\ is a
                          // literal one, so the stretch goes on to c
        {"x\\y"}}) {      // x\y: a plain backslash
    std::vector<std::string> args = {"-ld"};
    args.insert(args.end(), operands.begin(), operands.end());
    table.push_back(
        {"a missing directory",
         make_case(args, ONE, {}, BANNER + opening(received(args)[1]),
                   diag(unable, missing), 1)});
  }
  const Tree d_x = each(TEXT, {"d/x.txt"});
  table.push_back(
      {"a quoted operand with a blank",
       make_case({"-ld", "my dir"}, each(TEXT, {"my dir/x.txt"}),
                 each(LOWER, {"my dir/x.lo"}),
                 BANNER + walk("my dir", progress("x.txt", "x.lo")))});
  table.push_back({"a question mark is no wildcard",
                   make_case({"-l", "?.txt"}, ONE, {}, BANNER,
                             diag("Can't open input file.", missing))});
  table.push_back(
      {"a trailing backslash",
       platform().backslash_separates
           ? make_case({"-ld", "d\\"}, d_x, each(LOWER, {"d/x.lo"}),
                       BANNER + walk("d\\", progress("x.txt", "x.lo")))
           : make_case({"-ld", "d\\"}, d_x, {}, BANNER + opening("d\\"),
                       diag(unable, missing), 1)});
  table.push_back(
      {"the star passes over the program's own file",
       make_case({"-l", "*"}, ONE + each(TEXT, {"morvidex.exe"}), LO,
                 BANNER + walk(".", progress("a.txt", "a.lo")))});
  run_all(table);
}

} // namespace

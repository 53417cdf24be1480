// The option word and its operands decide the case and what is converted.
#include "harness.h"

#include <gtest/gtest.h>

using namespace e2e;

namespace {

const Tree ONE = each(TEXT, {"a.txt"}), LO = each(LOWER, {"a.lo"});
const std::string A_LO = BANNER + progress("a.txt", "a.lo");

TEST(CommandLine, OptionWord) {
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

TEST(CommandLine, StarAndPatternOperands) {
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

TEST(CommandLine, RecursionAndDirectoryLetters) {
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

} // namespace

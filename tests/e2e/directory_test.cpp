// Walking directories: which entries are converted, the opening and closing
// lines, and the failures that end the walk or the whole run.
#include "harness.h"
#include "platform.h"

#include <gtest/gtest.h>

using namespace e2e;

namespace {

const std::string EXISTS =
    diag("Can't open output file.", "File already exists");

// A source whose content names it, so that each target shows its source.
std::string body(const std::string &name) { return "Body of " + name + "\n"; }

TEST(DirectoryWalk, OwnOutputsAndProgramAreExcluded) {
  std::vector<Named> table = {{"lower", make_case({"-ld", "d"}, {}, {}, "")},
                              {"upper", make_case({"-ud", "d"}, {}, {}, "")}};
  for (auto &[mode, c] : table) {
    bool upper = mode == "upper";
    for (auto name : {"a.txt", "b.lo", "c.up", "d.LO", "e.b.lo", "readme",
                      "morvidex.exe", "MORVIDEX.EXE"})
      c.files[std::string("d/") + name] = file(body(name));
    for (auto [source, stem] :
         std::map<std::string, std::string>{{"a.txt", "a"},
                                            {"d.LO", "d"},
                                            {"e.b.lo", "e"},
                                            {"readme", "readme"},
                                            {"MORVIDEX.EXE", "MORVIDEX"}}) {
      std::string target = stem + (upper ? ".up" : ".lo");
      if (platform().case_blind && target == "d.lo") { // d.LO itself
        c.err += EXISTS;
        continue;
      }
      c.made["d/" + target] = file(convert(body(source), upper));
      c.out += progress(source, target);
    }
    c.out = BANNER + walk("d", c.out);
    c.any_order = true;
  }
  table[0].c.files["d/.lo"] =
      file(body(".lo")); // converted, but its target is itself
  table[0].c.err += EXISTS;
  run_all(table);
}

TEST(DirectoryWalk, PatternMatchesTheWholeExtension) {
  const std::string long_ext = "." + std::string(100, 'x');
  Tree files;
  for (std::string name : {"a.txt", "B.TXT", "c.txt.bak", "d.b.txt", "e.tar.gz",
                           "f.gz", "g", "h.*", ".lo", "i.lo"})
    if (can_hold(name)) // a star only where names can hold one
      files["d/" + name] = file(body(name));
  files["d/k" + long_ext] = file(body("k" + long_ext));
  struct Row {
    std::string pattern, source, target;
  };
  const std::vector<Row> table = {{"*.txt", "a.txt", "a.lo"},
                                  {"*.TXT", "B.TXT", "B.lo"},
                                  {"*.txt.bak", "c.txt.bak", "c.lo"},
                                  {"*.b.txt", "d.b.txt", "d.lo"},
                                  {"*.tar.gz", "e.tar.gz", "e.lo"},
                                  {"*.gz", "f.gz", "f.lo"},
                                  {"*.*", "h.*", "h.lo"},
                                  {"*" + long_ext, "k" + long_ext, "k.lo"},
                                  {"a*.txt", "", ""},
                                  {"*.lo", "", ""}};
  for (auto &row : table) {
    SCOPED_TRACE(row.pattern);
    Case c =
        make_case({"-l", row.pattern, "d"}, files, {}, BANNER + walk("d", ""));
    if (files.count("d/" + row.source)) {
      c.made["d/" + row.target] = file(convert(body(row.source), false));
      c.out = BANNER + walk("d", progress(row.source, row.target));
    }
    if (row.pattern ==
        "*.lo") // only the file named .lo qualifies, and its target is itself
      c.err = EXISTS;
    run(c);
  }
}

void structure() {
  const Tree docs = each(TEXT, {"docs/notes.txt", "docs/sub/x.c"});
  const std::string notes = progress("notes.txt", "notes.lo"),
                    sub = walk("sub", progress("x.c", "x.lo"));
  Case again = make_case({"-ud", "d"}, {}, {}, "");
  again.any_order = true;
  for (char i = 'a'; i <= 't'; ++i) {
    std::string stem = std::string(1, i) + "_file";
    again.files["d/" + stem + ".TXT"] = file(TEXT);
    again.made["d/" + stem + ".up"] = file(UPPER);
    again.out += progress(stem + ".TXT", stem + ".up");
  }
  again.out = BANNER + walk("d", again.out);
  run_all(
      {{"empty directory",
        make_case({"-ld", "e"}, {{"e", dir()}}, {}, BANNER + walk("e", ""))},
       {"trailing slash",
        make_case({"-ld", "d/"}, each(TEXT, {"d/x.txt"}),
                  each(LOWER, {"d/x.lo"}),
                  BANNER + walk("d/", progress("x.txt", "x.lo")))},
       {"recursion nests the subdirectory's lines",
        make_case({"-lr", "docs"}, docs,
                  each(LOWER, {"docs/notes.lo", "docs/sub/x.lo"}),
                  BANNER + walk("docs", notes + sub), "", 0,
                  {BANNER + walk("docs", sub + notes)})},
       {"without recursion subdirectories pass silently",
        make_case({"-ld", "docs"}, docs, each(LOWER, {"docs/notes.lo"}),
                  BANNER + walk("docs", notes))},
       {"directories named like excluded files are walked",
        make_case({"-lr", "top"}, each(TEXT, {"top/x.lo/morvidex.exe/a.TXT"}),
                  each(LOWER, {"top/x.lo/morvidex.exe/a.lo"}),
                  BANNER + walk("top", walk("x.lo",
                                            walk("morvidex.exe",
                                                 progress("a.TXT", "a.lo")))))},
       {"hidden files and directories; .lo, old or new, is its own target",
        make_case({"-lr", "d"},
                  each(TEXT, {"d/.hid/.x.TXT"}) + each("Old\n", {"d/.hid/.lo"}),
                  each(LOWER, {"d/.hid/.lo"}),
                  BANNER + walk("d", walk(".hid", progress(".x.TXT", ".lo"))),
                  EXISTS)},
       {"files the walk writes are not converted again", again},
       {"relative operands resolve from where the run started",
        make_case({"-ld", "a", "b"},
                  each(TEXT, {"a/x.txt", "a/b/y.txt", "b/z.txt"}),
                  each(LOWER, {"a/x.lo", "b/z.lo"}),
                  BANNER + walk("a", progress("x.txt", "x.lo")) +
                      walk("b", progress("z.txt", "z.lo")))},
       {"relative operands resolve from where the run started, after recursion",
        make_case({"-lr", "a", "b"}, each(TEXT, {"a/b/y.txt", "b/z.txt"}),
                  each(LOWER, {"a/b/y.lo", "b/z.lo"}),
                  BANNER + walk("a", walk("b", progress("y.txt", "y.lo"))) +
                      walk("b", progress("z.txt", "z.lo")))},
       {"fifo, socket and device skipped",
        make_case({"-lr", "d"},
                  each(TEXT, {"d/a.txt"}) + Tree{{"d/p", fifo()},
                                                 {"d/s", socket()},
                                                 {"d/n", symlink("/dev/null")}},
                  each(LOWER, {"d/a.lo"}),
                  BANNER + walk("d", progress("a.txt", "a.lo")))},
       {"links to directories are never walked, a link to a file is converted",
        make_case({"-lr", "d"},
                  each(TEXT, {"o/o.txt"}) + each("Real\n", {"real.txt"}) +
                      Tree{{"d/ln", symlink("../o")},
                           {"d/loop", symlink(".")},
                           {"d/up", symlink("..")},
                           {"d/f.TXT", symlink("../real.txt")}},
                  each("real\r\n", {"d/f.lo"}),
                  BANNER + walk("d", progress("f.TXT", "f.lo")))},
       {"dangling link",
        make_case({"-ld", "d"}, {{"d/dang", symlink("nowhere")}}, {},
                  BANNER + walk("d", ""),
                  diag("stat", "No such file or directory"))},
       {"ring of links",
        make_case({"-lr", "d"},
                  {{"d/l1", symlink("l2")}, {"d/l2", symlink("l1")}}, {},
                  BANNER + walk("d", ""),
                  diag("stat", "Invalid argument") +
                      diag("stat", "Invalid argument"))}});
}
E2E_SPLIT_TEST(DirectoryWalk, Structure, structure)

void failures_that_end_the_walk_or_the_run() {
  const std::string unable = "Unable to open directory";
  Case unlistable =
      make_case({"-lr", "first", "top", "later"},
                each(TEXT, {"first/a.txt", "top/locked/f.txt", "later/b.txt"}) +
                    Tree{{"top/locked", dir(0)}},
                each(LOWER, {"first/a.lo"}),
                BANNER + walk("first", progress("a.txt", "a.lo")) +
                    opening("top") + opening("locked"),
                diag(unable, "Permission denied"), 1);
  Case unenterable =
      make_case({"-lr", "top", "after"},
                each(TEXT, {"top/nox/f.txt", "after/b.txt"}) +
                    Tree{{"top/nox", dir(0444)}},
                each(LOWER, {"after/b.lo"}),
                BANNER + opening("top") + opening("nox") + closing("top") +
                    walk("after", progress("b.txt", "b.lo")),
                diag("chdir", "Permission denied"));
  unlistable.unprivileged = unenterable.unprivileged = true;
  const Tree two = each(TEXT, {"d1/a.txt", "d2/b.txt"});
  run_all(
      {{"a missing operand ends the run",
        make_case({"-ld", "d1", "missing", "d2"}, two, each(LOWER, {"d1/a.lo"}),
                  BANNER + walk("d1", progress("a.txt", "a.lo")) +
                      opening("missing"),
                  diag(unable, "No such file or directory"), 1)},
       {"a file operand ends the run",
        make_case({"-ld", "d1/a.txt", "d2"}, two, {},
                  BANNER + opening("d1/a.txt"),
                  diag(unable, platform().not_a_directory), 1)},
       {"an empty operand cannot be entered",
        make_case({"-ld", "", "d2"}, two, each(LOWER, {"d2/b.lo"}),
                  BANNER + opening("") + walk("d2", progress("b.txt", "b.lo")),
                  diag("chdir", "No such file or directory"))},
       {"an unlistable subdirectory ends the run", unlistable},
       {"a subdirectory that cannot be entered is passed", unenterable}});
}
E2E_SPLIT_TEST(DirectoryWalk, FailuresThatEndTheWalkOrTheRun,
               failures_that_end_the_walk_or_the_run)

// A removed directory lists nothing, not even "." and "..": it cannot be
// listed, which ends the run; a file operand is simply missing there.
TEST(DirectoryWalk, RemovedCurrentDirectory) {
  const std::string gone =
      diag("Unable to open directory", "No such file or directory");
  std::vector<Named> table = {
      {"star", make_case({"-l", "*"}, {}, {}, BANNER + opening("."), gone, 1)},
      {"dot", make_case({"-ld", "."}, {}, {}, BANNER + opening("."), gone, 1)},
      {"pattern, recursive",
       make_case({"-lr", "*.txt"}, {}, {}, BANNER + opening("."), gone, 1)},
      {"a file operand",
       make_case({"-l", "a.txt"}, {}, {}, BANNER,
                 diag("Can't open input file.", "No such file or directory"))}};
  for (auto &row : table)
    row.c.cwd_removed = true;
  run_all(table);
}

void length_of_the_current_directory() {
  const Tree one = each(TEXT, {"a.txt"}), deep = each(TEXT, {"abc/def/y.txt"});
  const std::string too_long = diag("getcwd", "Not enough memory");
  std::vector<Named> table = {
      {"259 bytes", make_case({"-l", "*"}, one, each(LOWER, {"a.lo"}),
                              BANNER + walk(".", progress("a.txt", "a.lo")))},
      {"260 bytes",
       make_case({"-l", "*"}, one, {}, BANNER + opening("."), too_long, 1)},
      {"1000 bytes",
       make_case({"-l", "*"}, one, {}, BANNER + opening("."), too_long, 1)},
      {"descending to 259 bytes",
       make_case(
           {"-lr", "*"}, deep, each(LOWER, {"abc/def/y.lo"}),
           BANNER +
               walk(".", walk("abc", walk("def", progress("y.txt", "y.lo")))))},
      {"descending from 260 bytes",
       make_case({"-lr", "*"}, deep, {},
                 BANNER + opening(".") + opening("abc") + opening("def"),
                 too_long, 1)}};
  const size_t lengths[] = {259, 260, 1000, 255, 256};
  for (size_t i = 0; i < table.size(); ++i)
    table[i].c.cwd_length = lengths[i];
  run_all(table);
}
E2E_SPLIT_TEST(DirectoryWalk, LengthOfTheCurrentDirectory,
               length_of_the_current_directory)

} // namespace

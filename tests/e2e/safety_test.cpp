// A source is never destroyed, a failed copy never passes for a good one, and
// unusual names reach the system unchanged.
#include "harness.h"
#include "platform.h"

#include <gtest/gtest.h>

#include <array>

using namespace e2e;

namespace {

const std::string OUT_FAILED = "Can't open output file.",
                  WRITE_FAILED = "Can't write output file.";
const Tree A_TXT = each(TEXT, {"a.txt"});

struct Row {
  std::string name;
  std::vector<std::string>
      args; // z.txt follows: it is converted whatever went before
  Tree files;
  std::string err;
  long fsize_limit = -1;
  bool unprivileged = false;
};

void run_rows(const std::vector<Row> &table) {
  for (auto &row : table) {
    SCOPED_TRACE(row.name);
    bool upper = row.args[0] == "-u";
    std::string z = upper ? "z.up" : "z.lo";
    Case c{row.args, row.files + each(TEXT, {"z.txt"}),
           each(convert(TEXT, upper), {z}), BANNER + progress("z.txt", z),
           row.err};
    c.args.push_back("z.txt");
    c.fsize_limit = row.fsize_limit;
    c.unprivileged = row.unprivileged;
    run(c);
  }
}

TEST(Safety, TargetThatIsTheSourceIsRefused) {
  const std::string exists = diag(OUT_FAILED, "File already exists");
  run_rows({{"lower case of a .lo file",
             {"-l", "notes.lo"},
             each("Keep Me\n", {"notes.lo"}),
             exists},
            {"upper case of a .up file",
             {"-u", "notes.up"},
             each("Keep Me\n", {"notes.up"}),
             exists},
            {"no letter, .lo file",
             {"-f", "notes.lo"},
             each("Keep Me\n", {"notes.lo"}),
             exists},
            {"in a subdirectory",
             {"-l", "d/n.lo"},
             each("Keep Me\n", {"d/n.lo"}),
             exists},
            {"target is a hard link",
             {"-l", "a.txt"},
             A_TXT + Tree{{"a.lo", hardlink("a.txt")}},
             exists},
            {"target is a symlink",
             {"-l", "a.txt"},
             A_TXT + Tree{{"a.lo", symlink("a.txt")}},
             exists},
            {"target is a roundabout symlink",
             {"-l", "a.txt"},
             A_TXT + Tree{{"d", dir()}, {"a.lo", symlink("d/../a.txt")}},
             exists}});
  run(make_case({"-ld", "d"}, each("Keep Me\n", {"d/.lo"}), {},
                BANNER + walk("d", ""), exists));
  // Where names that differ only in case are one file, the target is the
  // source itself; elsewhere it is a new file.
  for (auto [option, source, target] :
       {std::array<std::string, 3>{"-l", "NOTES.LO", "NOTES.lo"},
        {"-u", "Notes.Up", "Notes.up"}}) {
    const Tree keep = each("Keep Me\n", {source});
    run(platform().case_blind
            ? make_case({option, source}, keep, {}, BANNER, exists)
            : make_case({option, source}, keep,
                        each(convert("Keep Me\n", option == "-u"), {target}),
                        BANNER + progress(source, target)));
  }
}

void failed_writes_remove_the_target() {
  const std::string full = diag(WRITE_FAILED, "No space left on device"),
                    big = diag(WRITE_FAILED, "File too large");
  const Tree to_full = {{"a.lo", symlink("/dev/full")}};
  const std::string q2000(2000, 'Q'), q200000(200000, 'Q');
  run_rows(
      {{"a link to a full device is left alone",
        {"-l", "a.txt"},
        A_TXT + to_full,
        full},
       {"a full device met by the last line, without a line end",
        {"-l", "a.txt"},
        each("No line end", {"a.txt"}) + to_full,
        full},
       {"a full device met amid the copy",
        {"-l", "a.txt"},
        each(q200000, {"a.txt"}) + to_full,
        full},
       {"a source over the size limit",
        {"-l", "a.txt"},
        each(q2000, {"a.txt"}),
        big,
        1000},
       {"the size limit met amid the copy",
        {"-l", "a.txt"},
        each(q200000, {"a.txt"}),
        big,
        100000},
       // Through a link, the file written is emptied and every name
       // is left: the link and both names of a hard-linked file.
       {"a symlinked target over the size limit",
        {"-l", "a.txt"},
        each(q200000, {"a.txt"}) + Tree{{"a.lo", symlink("keep/real.dat")},
                                        {"keep/real.dat", file("")}},
        big,
        4096},
       {"a hard-linked target over the size limit",
        {"-l", "a.txt"},
        each(q200000, {"a.txt"}) + Tree{{"a.lo", hardlink("keep/real.dat")},
                                        {"keep/real.dat", file("")}},
        big,
        4096},
       {"line ends pass the size limit",
        {"-l", "a.txt"},
        each(std::string(501, '\n'), {"a.txt"}),
        big,
        1000}});
  Case fits =
      make_case({"-l", "a.txt"}, each(std::string(500, '\n'), {"a.txt"}),
                each(crlf(std::string(500, '\n')), {"a.lo"}),
                BANNER + progress("a.txt", "a.lo"));
  fits.fsize_limit = 1000; // exactly reached
  Case new_behind_link =
      make_case({"-l", "a.txt"},
                each(q200000, {"a.txt"}) +
                    Tree{{"a.lo", symlink("keep/new.dat")}, {"keep", dir()}},
                each("", {"keep/new.dat"}), BANNER, big);
  new_behind_link.fsize_limit = 4096;
  run_all({{"exactly at the size limit", fits},
           {"a symlink to a new target over the size limit", new_behind_link}});
}
E2E_SPLIT_TEST(Safety, FailedWritesRemoveTheTarget,
               failed_writes_remove_the_target)

TEST(Safety, PermissionsAreRespected) {
  const std::string denied = diag(OUT_FAILED, "Permission denied");
  const Tree locked = each(TEXT, {"d/a.txt"}) + Tree{{"d", dir(0555)}};
  run_rows(
      {{"unreadable source",
        {"-l", "a.txt"},
        {{"a.txt", file(TEXT, 0)}},
        diag("Can't open input file.", "Permission denied"),
        -1,
        true},
       {"unwritable directory", {"-l", "d/a.txt"}, locked, denied, -1, true},
       {"read-only target",
        {"-l", "a.txt"},
        A_TXT + Tree{{"a.lo", file("Old\r\n", 0444)}},
        denied,
        -1,
        true},
       // Not writable, so the open's own refusal comes first, also when the
       // target is the source.
       {"read-only target that is the source",
        {"-l", "notes.lo"},
        {{"notes.lo", file("Keep Me\n", 0444)}},
        denied,
        -1,
        true},
       {"read-only target that is a hard link of the source",
        {"-l", "a.txt"},
        {{"a.txt", file(TEXT, 0444)}, {"a.lo", hardlink("a.txt")}},
        denied,
        -1,
        true}});
  Case walked =
      make_case({"-ld", "d"}, locked, {}, BANNER + walk("d", ""), denied);
  walked.unprivileged = true;
  run(walked);
}

void unusual_names_pass_unchanged() {
  const std::vector<std::pair<std::string, std::string>> names = {
      {"my notes.txt", "my notes.lo"},
      {"it's \"q\".txt", "it's \"q\".lo"},
      {"line\nbreak.txt", "line\nbreak.lo"},
      {"-dash.txt", "-dash.lo"},
      {"tab\there.txt", "tab\there.lo"},
      {"back\\slash.txt", "back\\slash.lo"},
      {"100%s.txt", "100%s.lo"},
      {"\200\304\344\377.TXT", "\200\304\344\377.lo"}};
  for (auto &[source, target] : names) {
    SCOPED_TRACE(source);
    run(make_case({"-l", "z.txt", source}, each(TEXT, {"z.txt", source}),
                  each(LOWER, {"z.lo", target}),
                  BANNER + progress("z.txt", "z.lo") +
                      progress(source, target)));
    run(make_case({"-ld", "d"}, each(TEXT, {"d/" + source}),
                  each(LOWER, {"d/" + target}),
                  BANNER + walk("d", progress(source, target))));
  }
}
E2E_SPLIT_TEST(Safety, UnusualNamesPassUnchanged, unusual_names_pass_unchanged)

} // namespace

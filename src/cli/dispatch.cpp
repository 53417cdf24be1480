#include "cli/dispatch.h"

#include <cstring>

#include "translate/translate.h"

namespace morvidex {

namespace {

const char NEED_DIRNAMES[] = "need dirname(s)\n";
const char STAR[] = "*";
const char CURRENT_DIR[] = ".";
const char PATTERN_MARK[] = "*.";

constexpr int OPTION_WORD = 1;
constexpr int FIRST_OPERAND = 2;

// What the first operand is.
enum operand_kind : unsigned {
  OPERAND_STAR = 1,          // exactly "*"
  OPERAND_PATTERN_ALONE = 2, // holds "*.", no operand after it
  OPERAND_PATTERN_MORE = 4,  // holds "*.", directories follow
  OPERAND_OTHER = 8,
};

constexpr unsigned OPERAND_NOT_STAR =
    OPERAND_PATTERN_ALONE | OPERAND_PATTERN_MORE | OPERAND_OTHER;

enum action {
  WALK_CURRENT,    // walk "."
  WALK_OPERANDS,   // walk each operand (after the pattern, if one is used)
  TRANSLATE_FILES, // convert each operand as a file
  SAY_NEED_DIRNAMES,
};

struct dispatch_row {
  const char *letters; // the row applies if the word holds any; "" always
  unsigned operands;   // the first-operand kinds it takes
  action what;
  int recurse;
  bool with_pattern; // the first operand is the pattern
  bool needs_mode;   // does nothing with MODE_NONE
};

// The first row whose letters and operand kind fit is taken, so "r" and
// "R" win over "d" and "D", which win over "f".
const dispatch_row DISPATCH_TABLE[] = {
    {"rR", OPERAND_STAR, WALK_CURRENT, 1, false, false},
    {"rR", OPERAND_PATTERN_ALONE, WALK_CURRENT, 1, true, false},
    {"rR", OPERAND_PATTERN_MORE, WALK_OPERANDS, 1, true, false},
    {"rR", OPERAND_OTHER, WALK_OPERANDS, 1, false, false},
    {"dD", OPERAND_STAR, SAY_NEED_DIRNAMES, 0, false, false},
    {"dD", OPERAND_NOT_STAR, WALK_OPERANDS, 0, false, false},
    {"f", OPERAND_STAR, WALK_CURRENT, 0, false, false},
    {"f", OPERAND_PATTERN_ALONE, WALK_CURRENT, 0, true, false},
    {"f", OPERAND_PATTERN_MORE, WALK_OPERANDS, 0, true, false},
    {"f", OPERAND_OTHER, TRANSLATE_FILES, 0, false, false},
    {"", OPERAND_STAR, WALK_CURRENT, 0, false, false},
    {"", OPERAND_PATTERN_ALONE, WALK_CURRENT, 0, true, false},
    {"", OPERAND_PATTERN_MORE, WALK_OPERANDS, 0, true, false},
    {"", OPERAND_OTHER, TRANSLATE_FILES, 0, false, true},
};

bool holds_any(const char *word, const char *letters) {
  if (*letters == '\0')
    return true;
  return std::strpbrk(word, letters) != nullptr;
}

operand_kind classify(int argc, const char *first) {
  if (std::strcmp(first, STAR) == 0)
    return OPERAND_STAR;
  if (std::strstr(first, PATTERN_MARK) == nullptr)
    return OPERAND_OTHER;
  return argc == FIRST_OPERAND + 1 ? OPERAND_PATTERN_ALONE
                                   : OPERAND_PATTERN_MORE;
}

const dispatch_row &find_row(const char *word, operand_kind kind) {
  for (const dispatch_row &row : DISPATCH_TABLE) {
    if (holds_any(word, row.letters) && (row.operands & kind) != 0)
      return row;
  }
  // The last row takes every word and every remaining kind.
  return DISPATCH_TABLE[sizeof DISPATCH_TABLE / sizeof DISPATCH_TABLE[0] - 1];
}

} // namespace

bool wants_usage(int argc, const char *const *argv) {
  if (argc <= FIRST_OPERAND)
    return true;
  const char *word = argv[OPTION_WORD];
  if (word[0] != '-')
    return true;
  return std::strchr(word, 'l') != nullptr && std::strchr(word, 'u') != nullptr;
}

int choose_case_mode(const char *option_word) {
  if (std::strchr(option_word, 'l') != nullptr)
    return MODE_LOWER;
  if (std::strchr(option_word, 'u') != nullptr)
    return MODE_UPPER;
  return MODE_NONE;
}

void dispatch(int argc, const char *const *argv, const translators &calls) {
  const char *word = argv[OPTION_WORD];
  int case_mode = choose_case_mode(word);
  const dispatch_row &row = find_row(word, classify(argc, argv[FIRST_OPERAND]));
  const char *pattern = row.with_pattern ? argv[FIRST_OPERAND] : nullptr;
  int first = row.with_pattern ? FIRST_OPERAND + 1 : FIRST_OPERAND;
  if (row.needs_mode && case_mode == MODE_NONE)
    return;
  switch (row.what) {
  case WALK_CURRENT:
    calls.directory(CURRENT_DIR, row.recurse, case_mode, pattern);
    break;
  case WALK_OPERANDS:
    for (int i = first; i < argc; i++)
      calls.directory(argv[i], row.recurse, case_mode, pattern);
    break;
  case TRANSLATE_FILES:
    for (int i = first; i < argc; i++)
      calls.file(argv[i], case_mode);
    break;
  case SAY_NEED_DIRNAMES:
    calls.say(NEED_DIRNAMES);
    break;
  }
}

} // namespace morvidex

// The decision from the command line to the conversions it asks for.
#ifndef MORVIDEX_CLI_DISPATCH_H
#define MORVIDEX_CLI_DISPATCH_H

namespace morvidex {

// What a dispatch row calls: the translators, and a line to print.
struct translators {
  void (*file)(const char *path, int case_mode);
  void (*directory)(const char *dir, int recurse, int case_mode,
                    const char *pattern);
  void (*say)(const char *text);
};

// True when the arguments do not fit: no option word or no operand after
// it, an option word not starting with "-", or one holding both l and u.
bool wants_usage(int argc, const char *const *argv);

// MODE_LOWER for an "l" anywhere in the word, else MODE_UPPER for a "u",
// else MODE_NONE.
int choose_case_mode(const char *option_word);

// Runs the first dispatch row that fits the option word and the first
// operand, calling the translators in operand order.
void dispatch(int argc, const char *const *argv, const translators &calls);

} // namespace morvidex

#endif

#include <cstring>

#include "cli/console.h"
#include "cli/diagnostics.h"
#include "cli/exit.h"
#include "platform/platform.h"
#include "translate/translate.h"

namespace morvidex {

namespace {

const char OPENING_LINE[] = "+ translate files in directory: '%s' +\n";
const char CLOSING_LINE[] = "- '%s' is scaned -\n";

const char LABEL_OPEN_DIR[] = "Unable to open directory";
const char LABEL_GETCWD[] = "getcwd";
const char LABEL_CHDIR[] = "chdir";
const char LABEL_STAT[] = "stat";
const char LABEL_CLOSE_DIR[] = "Unable to close directory";

// The walk returns to the saved directory by its absolute path, which must
// fit this buffer with its terminating zero.
constexpr std::size_t SAVED_DIR_SIZE = 260;

// Never converted by a walk: the program's own file.
const char SELF_NAME[] = "morvidex.exe";

// Shorter names are never taken for a conversion's output: a file called
// exactly ".lo" is converted.
constexpr std::size_t MIN_SIBLING_LENGTH = 4;

bool is_dot_name(const char *name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// Decides on one entry of the listing, the current directory being the
// listed one.  A link to a directory is never walked, so a walk always
// ends; FIFOs, sockets and devices are passed over without a word.
void visit_entry(const char *name, file_kind hint, bool is_link, int recurse,
                 int case_mode, const char *pattern) {
  file_status status{};
  int code = platform_entry_status(name, hint, is_link, &status);
  if (code != 0) {
    report_failure(LABEL_STAT, code);
    return;
  }
  if (is_dot_name(name))
    return;
  if (status.kind == KIND_DIRECTORY) {
    if (recurse != 0 && !status.is_link)
      translate_directory(name, recurse, case_mode, pattern);
    return;
  }
  if (status.kind == KIND_REGULAR && is_eligible(name, pattern))
    translate_file(name, case_mode);
}

} // namespace

bool is_eligible(const char *name, const char *pattern) {
  const char *dot = std::strchr(name, '.');
  const char *extension = dot != nullptr ? dot : "";
  if (std::strcmp(name, SELF_NAME) == 0)
    return false;
  if (std::strlen(name) >= MIN_SIBLING_LENGTH &&
      (std::strcmp(extension, SUFFIX_LOWER) == 0 ||
       std::strcmp(extension, SUFFIX_UPPER) == 0))
    return false;
  if (pattern == nullptr)
    return true;
  return pattern[0] == '*' && std::strcmp(pattern + 1, extension) == 0;
}

void translate_directory(const char *dir, int recurse, int case_mode,
                         const char *pattern) {
  printf(OPENING_LINE, dir);
  platform_dir *listing = nullptr;
  int code = platform_opendir(dir, &listing);
  if (code != 0) {
    report_failure(LABEL_OPEN_DIR, code);
    exit(1);
  }
  char saved[SAVED_DIR_SIZE];
  if (platform_getcwd(saved, sizeof saved) != 0) {
    error_number = ERROR_NO_MEMORY;
    print_diagnostic(LABEL_GETCWD);
    exit(1);
  }
  code = platform_chdir(dir);
  if (code != 0) {
    report_failure(LABEL_CHDIR, code);
    platform_closedir(listing);
    return;
  }
  file_kind hint = KIND_UNKNOWN;
  bool is_link = false;
  while (const char *name = platform_readdir(listing, &hint, &is_link))
    visit_entry(name, hint, is_link, recurse, case_mode, pattern);
  code = platform_chdir(saved);
  if (code != 0)
    report_failure(LABEL_CHDIR, code);
  code = platform_closedir(listing);
  if (code != 0)
    report_failure(LABEL_CLOSE_DIR, code);
  printf(CLOSING_LINE, dir);
}

} // namespace morvidex

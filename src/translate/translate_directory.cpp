#include "translate/translate.h"

#include <cstring>

#include "platform/platform.h"
#include "report/console.h"
#include "report/diagnostics.h"
#include "report/exit.h"

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

bool walk(const char *dir, int recurse, int case_mode, const char *pattern);

// Decides on one entry of the listing.  A link to a directory is never
// walked, so a walk always ends; FIFOs, sockets and devices are passed over
// without a word.  The listing's entry type stands in for a status call
// only while the current directory is the listed one (in_listed); once a
// nested walk could not come back, the name is looked up where the process
// now is.  Returns false when a nested walk could not come back.
bool visit_entry(const char *name, file_kind hint, bool is_link, bool in_listed,
                 int recurse, int case_mode, const char *pattern) {
  file_status status{};
  int code = in_listed
                 ? platform_entry_status(name, hint, is_link, &status)
                 : platform_entry_status(name, KIND_UNKNOWN, false, &status);
  if (code != 0) {
    report_failure(LABEL_STAT, code);
    return true;
  }
  if (is_dot_name(name))
    return true;
  if (status.kind == KIND_DIRECTORY) {
    if (recurse != 0 && !status.is_link)
      return walk(name, recurse, case_mode, pattern);
    return true;
  }
  if (status.kind == KIND_REGULAR && is_eligible(name, pattern))
    translate_file(name, case_mode);
  return true;
}

// The walk of one directory.  Returns false when it could not return to
// the directory that was current when it began.
bool walk(const char *dir, int recurse, int case_mode, const char *pattern) {
  printf(OPENING_LINE, dir);
  platform_dir *listing = nullptr;
  int code = platform_opendir(dir, &listing);
  if (code != 0) {
    report_failure(LABEL_OPEN_DIR, code);
    exit(1);
  }
  char saved[SAVED_DIR_SIZE];
  if (platform_getcwd(saved, sizeof saved) != 0) {
    // Whatever the system says, a current directory that cannot be read
    // into the buffer counts as memory running out.
    report_failure(LABEL_GETCWD, CODE_NO_MEMORY);
    exit(1);
  }
  code = platform_chdir(dir);
  if (code != 0) {
    report_failure(LABEL_CHDIR, code);
    platform_closedir(listing);
    return true;
  }
  file_kind hint = KIND_UNKNOWN;
  bool is_link = false;
  bool in_listed = true;
  while (const char *name = platform_readdir(listing, &hint, &is_link))
    in_listed = visit_entry(name, hint, is_link, in_listed, recurse, case_mode,
                            pattern) &&
                in_listed;
  int back = platform_chdir(saved);
  if (back != 0)
    report_failure(LABEL_CHDIR, back);
  code = platform_closedir(listing);
  if (code != 0)
    report_failure(LABEL_CLOSE_DIR, code);
  printf(CLOSING_LINE, dir);
  return back == 0;
}

} // namespace

bool is_eligible(const char *name, const char *pattern) {
  const char *extension = extension_of(name);
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
  walk(dir, recurse, case_mode, pattern);
}

} // namespace morvidex

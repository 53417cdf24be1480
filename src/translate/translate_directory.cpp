#include "translate/scheduler.h"
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

// The walk of one operand's tree, whose lines, diagnostics and
// conversions are scheduled in order.
scheduler walked;

// What one level of the walk keeps while it reads its listing.  Its lines
// and diagnostics are scheduled with its conversions, and printed in that
// order.
struct level {
  scheduler *s;
  platform_dir *listing;
  conversion_dir *conversions; // the listed directory, for conversions
  bool in_listed;              // the current directory is the listed one
  bool saw_unknown;            // an entry came without its type
};

bool walk(scheduler *s, const char *dir, level *parent, int recurse,
          int case_mode, const char *pattern);

// Decides on one entry of the listing.  A link to a directory is never
// walked, so a walk always ends; FIFOs, sockets and devices are passed over
// without a word.  The listing's entry type stands in for a status call
// only while the current directory is the listed one; once a nested walk
// could not come back, the name is looked up where the process now is,
// and the files there are converted one at a time.
void visit_entry(level *at, const char *name, file_kind hint, bool is_link,
                 int recurse, int case_mode, const char *pattern) {
  file_status status{};
  at->saw_unknown = at->saw_unknown || hint == KIND_UNKNOWN;
  int code = at->in_listed
                 ? platform_entry_status(name, hint, is_link, &status)
                 : platform_entry_status(name, KIND_UNKNOWN, false, &status);
  if (code != 0) {
    schedule_failure(at->s, LABEL_STAT, code);
    return;
  }
  if (is_dot_name(name))
    return;
  if (status.kind == KIND_DIRECTORY) {
    if (recurse != 0 && !status.is_link && at->in_listed &&
        !walk(at->s, name, at, recurse, case_mode, pattern)) {
      at->in_listed = false;
      close_conversion_dir(at->s, at->conversions);
      at->conversions = nullptr;
    } else if (recurse != 0 && !status.is_link && !at->in_listed) {
      walk(at->s, name, at, recurse, case_mode, pattern);
    }
    return;
  }
  if (status.kind == KIND_REGULAR && is_eligible(name, pattern))
    schedule_conversion(at->s, at->in_listed ? &at->conversions : nullptr, name,
                        case_mode, !status.is_link);
}

// The listing of dir to open: an operand by its path, an entry in the
// parent's listed directory, or in the current one once the parent could
// not return there.
struct named_listing {
  listing_opener o; // first: the scheduler hands it back
  const char *dir;
  const level *parent;
  platform_dir *listing;
};

int open_named(listing_opener *o) {
  auto *n = reinterpret_cast<named_listing *>(o);
  const level *parent = n->parent;
  int code =
      parent == nullptr
          ? platform_opendir(n->dir, &n->listing)
          : platform_opendir_in(parent->in_listed ? parent->listing : nullptr,
                                n->dir, &n->listing);
  o->id_known = code == 0 && platform_listing_id(n->listing, &o->id) == 0;
  return code;
}

void close_named(listing_opener *o) {
  platform_closedir(reinterpret_cast<named_listing *>(o)->listing);
}

// The identity of the current directory, which the walk that begins must
// come back to: the parent's listed directory while the process is there.
// An identity that cannot be read is none, which no return can reach.
file_id starting_point(level *parent) {
  file_id id{0, 0};
  if (parent != nullptr && parent->in_listed)
    platform_listing_id(parent->listing, &id);
  else
    platform_current_id(&id);
  return id;
}

// Returns to saved, checked to be the directory called start.  Should it
// be another (a directory on the path was renamed or replaced by a link),
// the process goes back to where the walk is, by a handle: the listed
// directory, or the one a nested walk that could not return left it in.
int return_to(const char *saved, const file_id &start, const level *at) {
  file_handle here = NO_HANDLE;
  file_id ignored{};
  if (at->in_listed)
    return platform_return(saved, start, platform_listing_handle(at->listing));
  if (platform_open_directory(".", &here, &ignored) != 0)
    here = NO_HANDLE;
  int code = platform_return(saved, start, here);
  if (here != NO_HANDLE)
    platform_close(here);
  return code;
}

// Reads the entries one by one.  A read of the directory that may bring
// entries that were there before, or any read once entries came without
// their type (a name this walk created and removed again would be looked
// up), waits for every conversion scheduled: what it gives depends on the
// files there when it is made.
void read_entries(level *at, int recurse, int case_mode, const char *pattern) {
  file_kind hint = KIND_UNKNOWN;
  bool is_link = false;
  for (;;) {
    listing_read next = platform_listing_next_read(at->listing);
    if (next == READ_MORE || (next == READ_NEW_ONLY && at->saw_unknown))
      report_scheduled(at->s);
    const char *name = platform_readdir(at->listing, &hint, &is_link);
    if (name == nullptr)
      return;
    visit_entry(at, name, hint, is_link, recurse, case_mode, pattern);
  }
}

// The walk of one directory: an operand, or an entry of parent's listing.
// It is entered through the handle its listing opened, never by name
// again.  Returns false when it could not return to the directory that
// was current when it began.
bool walk(scheduler *s, const char *dir, level *parent, int recurse,
          int case_mode, const char *pattern) {
  schedule_line(s, OPENING_LINE, dir);
  named_listing named{
      {open_named, close_named, {0, 0}, false}, dir, parent, nullptr};
  int code = open_listing(s, &named.o);
  if (code != 0) {
    report_scheduled(s);
    report_failure(LABEL_OPEN_DIR, code);
    exit(1);
  }
  level at{s, named.listing, nullptr, true, false};
  char saved[SAVED_DIR_SIZE];
  if (platform_getcwd(saved, sizeof saved) != 0) {
    // Whatever the system says, a current directory that cannot be read
    // into the buffer counts as memory running out.
    report_scheduled(s);
    report_failure(LABEL_GETCWD, CODE_NO_MEMORY);
    exit(1);
  }
  file_id start = starting_point(parent);
  schedule_directory_change(s);
  // An empty name lists the current directory but enters none.
  code = *dir == '\0' ? platform_chdir(dir) : platform_enter(at.listing);
  if (code != 0) {
    schedule_failure(s, LABEL_CHDIR, code);
    platform_closedir(at.listing);
    return true;
  }
  read_entries(&at, recurse, case_mode, pattern);
  close_conversion_dir(s, at.conversions);
  schedule_directory_change(s);
  int back = return_to(saved, start, &at);
  if (back != 0)
    schedule_failure(s, LABEL_CHDIR, back);
  code = platform_closedir(at.listing);
  if (code != 0)
    schedule_failure(s, LABEL_CLOSE_DIR, code);
  schedule_line(s, CLOSING_LINE, dir);
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
  scheduler_init(&walked, &FILE_CONVERSIONS, platform_processors());
  walk(&walked, dir, nullptr, recurse, case_mode, pattern);
  scheduler_end(&walked);
}

} // namespace morvidex

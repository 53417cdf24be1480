#include "translate/convert.h"
#include "translate/translate.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "report/console.h"
#include "report/diagnostics.h"
#include "textio/block_copy.h"
#include "textio/stream.h"
#include "translate/blocks.h"

namespace morvidex {

namespace {

const char LABEL_OPEN_INPUT[] = "Can't open input file.";
const char LABEL_OPEN_OUTPUT[] = "Can't open output file.";
const char LABEL_READ_INPUT[] = "Can't read input file.";
const char LABEL_WRITE_OUTPUT[] = "Can't write output file.";
const char PROGRESS_LINE[] = "Translate file '%s' to file '%s'\n";

// The label of each failed outcome, by conversion_result.  A target found
// taken is converted again in turn before it is reported; should it reach
// a report, it is an output that could not be opened.
const char *const FAILURE_LABELS[] = {
    nullptr,          LABEL_OPEN_INPUT,   LABEL_OPEN_OUTPUT,
    LABEL_READ_INPUT, LABEL_WRITE_OUTPUT, LABEL_OPEN_OUTPUT};

// Discards what a failed copy wrote into a regular file, open as h: it is
// emptied through the handle, and its name is removed, in the directory
// dir has open, only when it still leads straight to that file and is its
// one name; so no link of the user's is lost and no partial text stays
// behind one.  With the handle already closed (its close failed), the
// name is all there is to go by: it is removed when it is a regular
// file's one name, and otherwise what it leads to is emptied when it is
// the file written, id (unknown, {0, 0}, for a file the open created).
void discard(const char *name, file_handle h, const file_id &id,
             file_handle dir) {
  if (h != NO_HANDLE)
    platform_empty(name, h, dir, nullptr);
  if (platform_is_sole_name(name, h, dir))
    platform_remove(name, dir);
  else if (h == NO_HANDLE && id.index != 0)
    platform_empty(name, NO_HANDLE, dir, &id);
  if (h != NO_HANDLE)
    platform_close(h);
}

// Closes both streams and tells what the copy came to.  A copy that did
// not complete is never taken for done: what it wrote into a regular file
// is discarded (a device is left alone).  The last characters are written
// out before the close, so that a failure there still finds the handle.
conversion_outcome finish(const char *name, text_stream *source,
                          text_stream *target, file_handle dir) {
  bool read_failed = ferror(source) != 0;
  bool write_failed = ferror(target) != 0;
  if (!read_failed && !write_failed && target->count > 0)
    write_failed = write_out(target) != 0;
  int code = read_failed ? source->code : target->code;
  bool regular = target->regular;
  file_id written = target->id;
  int close_code = 0;
  if ((read_failed || write_failed) && regular) {
    discard(name, target->handle, written, dir);
    target->handle = NO_HANDLE;
  }
  if (fclose(target, &close_code) != 0 && !read_failed && !write_failed) {
    write_failed = true;
    code = close_code;
    if (regular)
      discard(name, NO_HANDLE, written, dir);
  }
  fclose(source, &close_code);
  if (read_failed || write_failed)
    return {read_failed ? READ_FAILED : WRITE_FAILED, code};
  return {CONVERTED, 0};
}

// The conversion once the source is open: opens the target, refused when
// it turns out to be the source (the same name, a link), since writing it
// would destroy the source; copies; closes both.
conversion_outcome convert_open(text_stream *source, const char *name,
                                int case_mode, crew *helpers, file_handle dir,
                                bool new_only) {
  int code = 0;
  text_stream *target =
      fopen(name, new_only ? "wxt" : "wt", &code, source, dir);
  if (target == nullptr) {
    int ignored = 0;
    fclose(source, &ignored);
    if (new_only && platform_is_existing(code))
      return {TARGET_EXISTS, code};
    return {OPEN_OUTPUT_FAILED, code};
  }
  letter_case to = case_mode == MODE_UPPER ? TO_UPPER : TO_LOWER;
  if (helpers == nullptr || !convert_side_by_side(source, target, to, helpers))
    copy_mapped(source, target, to);
  return finish(name, source, target, dir);
}

void close_dir(file_handle dir) {
  if (dir != NO_HANDLE)
    platform_close(dir);
}

} // namespace

const char *extension_of(const char *name) {
  return name + std::strcspn(name, ".");
}

std::size_t output_name_size(const char *path) {
  return static_cast<std::size_t>(extension_of(path) - path) +
         sizeof SUFFIX_LOWER;
}

void output_name(const char *path, int case_mode, char *name) {
  std::size_t stem = static_cast<std::size_t>(extension_of(path) - path);
  std::memcpy(name, path, stem);
  std::memcpy(name + stem,
              case_mode == MODE_UPPER ? SUFFIX_UPPER : SUFFIX_LOWER,
              sizeof SUFFIX_LOWER);
}

conversion_outcome convert_file(const char *path, const char *name,
                                int case_mode, crew *helpers, file_handle dir,
                                bool new_only) {
  int code = 0;
  text_stream *source = fopen(path, "rt", &code, nullptr, dir);
  if (source == nullptr)
    return {OPEN_INPUT_FAILED, code};
  return convert_open(source, name, case_mode, helpers, dir, new_only);
}

void report_conversion(const char *path, const char *name,
                       const conversion_outcome &outcome) {
  if (outcome.result == CONVERTED)
    printf(PROGRESS_LINE, path, name);
  else
    report_failure(FAILURE_LABELS[outcome.result], outcome.code);
}

void convert_and_report(const char *path, int case_mode, crew *helpers) {
  // Each name is looked up once, in a handle of the directory that holds
  // it, so that no rename of a directory on the way between the opens can
  // lead the target, or the removal of a failed one, elsewhere.
  file_handle dir = NO_HANDLE;
  const char *leaf = path;
  int code = platform_open_parent(path, &dir, &leaf);
  text_stream *source =
      code == 0 ? fopen(leaf, "rt", &code, nullptr, dir) : nullptr;
  // The sibling's name is taken once the source is open, as the failures
  // of running out of memory are reported in this order.
  auto *name = source != nullptr
                   ? static_cast<char *>(std::malloc(output_name_size(path)))
                   : nullptr;
  if (source == nullptr || name == nullptr) {
    if (source != nullptr)
      fclose(source, &code);
    close_dir(dir);
    report_failure(source == nullptr ? LABEL_OPEN_INPUT : LABEL_OPEN_OUTPUT,
                   source == nullptr ? code : CODE_NO_MEMORY);
    return;
  }
  output_name(path, case_mode, name);
  // The sibling lies beside the source unless the first "." comes before
  // the source's own name, as in "docs.old/readme": then it has its own.
  file_handle target_dir = dir;
  const char *target_leaf = name + (leaf - path);
  if (std::strchr(leaf, '/') != nullptr || extension_of(path) < leaf)
    code = platform_open_parent(name, &target_dir, &target_leaf);
  conversion_outcome outcome = {OPEN_OUTPUT_FAILED, code};
  int ignored = 0;
  if (code == 0)
    outcome = convert_open(source, target_leaf, case_mode, helpers, target_dir,
                           false);
  else
    fclose(source, &ignored);
  report_conversion(path, name, outcome);
  if (target_dir != dir)
    close_dir(target_dir);
  close_dir(dir);
  std::free(name);
}

} // namespace morvidex

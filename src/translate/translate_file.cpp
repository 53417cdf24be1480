#include "translate/schedule.h"
#include "translate/translate.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "report/console.h"
#include "report/diagnostics.h"
#include "textio/block_copy.h"
#include "textio/stream.h"

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

// Discards what a failed copy wrote into a regular file.  Removing the
// name discards it only when the name leads straight to that file and is
// its one name; otherwise the file is emptied and every name is left, so
// that no link of the user's is lost and no partial text stays behind it.
// With the handle already closed, the name is all there is to go by.
void discard(const char *name, file_handle h, file_handle dir) {
  if (platform_is_sole_name(name, h, dir)) {
    if (h != NO_HANDLE)
      platform_close(h);
    platform_remove(name, dir);
    return;
  }
  platform_empty(name, h, dir);
  if (h != NO_HANDLE)
    platform_close(h);
}

// Closes both streams and tells what the copy came to.  A copy that did
// not complete is never taken for done: what it wrote into a regular file
// is discarded (a device is left alone).
conversion_outcome finish(const char *name, text_stream *source,
                          text_stream *target, file_handle dir) {
  bool read_failed = ferror(source) != 0;
  bool write_failed = ferror(target) != 0;
  int code = read_failed ? source->code : target->code;
  bool regular = target->regular;
  int close_code = 0;
  if ((read_failed || write_failed) && regular) {
    discard(name, target->handle, dir);
    target->handle = NO_HANDLE;
  }
  if (fclose(target, &close_code) != 0 && !read_failed && !write_failed) {
    write_failed = true;
    code = close_code;
    if (regular)
      discard(name, NO_HANDLE, dir);
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
                                int case_mode, bool side_by_side,
                                file_handle dir, bool new_only) {
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
  copy_mapped(source, target, case_mode == MODE_UPPER ? TO_UPPER : TO_LOWER,
              side_by_side);
  return finish(name, source, target, dir);
}

// The current directory, for the conversions of file operands.
conversion_dir *operand_dir = nullptr;

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
                                int case_mode, bool side_by_side,
                                file_handle dir, bool new_only) {
  int code = 0;
  text_stream *source = fopen(path, "rt", &code, nullptr, dir);
  if (source == nullptr)
    return {OPEN_INPUT_FAILED, code};
  return convert_open(source, name, case_mode, side_by_side, dir, new_only);
}

void report_conversion(const char *path, const char *name,
                       const conversion_outcome &outcome) {
  if (outcome.result == CONVERTED)
    printf(PROGRESS_LINE, path, name);
  else
    report_failure(FAILURE_LABELS[outcome.result], outcome.code);
}

void translate_file(const char *path, int case_mode) {
  schedule_conversion(&operand_dir, path, case_mode, false);
}

void finish_translations() {
  report_scheduled();
  close_conversion_dir(operand_dir);
  operand_dir = nullptr;
}

void translate_file_now(const char *path, int case_mode) {
  int code = 0;
  text_stream *source = fopen(path, "rt", &code);
  if (source == nullptr) {
    report_failure(LABEL_OPEN_INPUT, code);
    return;
  }
  // The sibling's name is taken once the source is open, as the failures
  // of running out of memory are reported in this order.
  auto *name = static_cast<char *>(std::malloc(output_name_size(path)));
  if (name == nullptr) {
    fclose(source, &code);
    report_failure(LABEL_OPEN_OUTPUT, CODE_NO_MEMORY);
    return;
  }
  output_name(path, case_mode, name);
  report_conversion(
      path, name,
      convert_open(source, name, case_mode, true, NO_HANDLE, false));
  std::free(name);
}

} // namespace morvidex

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

// Closes both streams.  A copy that did not complete is never reported as
// done: its target is removed (unless it is a device) and the failure is
// reported instead of the progress line.
void finish(const char *path, const char *name, text_stream *source,
            text_stream *target) {
  bool read_failed = ferror(source) != 0;
  bool write_failed = ferror(target) != 0;
  int code = read_failed ? source->code : target->code;
  bool regular = target->regular;
  int close_code = 0;
  if (fclose(target, &close_code) != 0 && !read_failed && !write_failed) {
    write_failed = true;
    code = close_code;
  }
  fclose(source, &close_code);
  if (read_failed || write_failed) {
    if (regular)
      platform_remove(name);
    report_failure(read_failed ? LABEL_READ_INPUT : LABEL_WRITE_OUTPUT, code);
    return;
  }
  printf(PROGRESS_LINE, path, name);
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

void translate_file(const char *path, int case_mode) {
  int code = 0;
  text_stream *source = fopen(path, "rt", &code);
  if (source == nullptr) {
    report_failure(LABEL_OPEN_INPUT, code);
    return;
  }
  // The target is refused when it turns out to be the source (the same
  // name, a link): writing it would destroy the source.
  auto *name = static_cast<char *>(std::malloc(output_name_size(path)));
  text_stream *target = nullptr;
  code = CODE_NO_MEMORY;
  if (name != nullptr) {
    output_name(path, case_mode, name);
    target = fopen(name, "wt", &code, source);
  }
  if (target == nullptr) {
    report_failure(LABEL_OPEN_OUTPUT, code);
    fclose(source, &code);
    std::free(name);
    return;
  }
  copy_mapped(source, target, case_mode == MODE_UPPER ? TO_UPPER : TO_LOWER,
              true);
  finish(path, name, source, target);
  std::free(name);
}

} // namespace morvidex

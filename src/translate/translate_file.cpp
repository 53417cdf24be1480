#include "translate/scheduler.h"
#include "translate/translate.h"

namespace morvidex {

namespace {

// The conversions of file operands, scheduled one operand after another
// until the run finishes them.
scheduler operands;
bool operands_started = false;

// The current directory, for the conversions of file operands.
conversion_dir *operand_dir = nullptr;

} // namespace

void translate_file(const char *path, int case_mode) {
  if (!operands_started) {
    scheduler_init(&operands, &FILE_CONVERSIONS, platform_processors());
    operands_started = true;
  }
  schedule_conversion(&operands, &operand_dir, path, case_mode, false);
}

void finish_translations() {
  if (!operands_started)
    return;
  report_scheduled(&operands);
  close_conversion_dir(&operands, operand_dir);
  operand_dir = nullptr;
  scheduler_end(&operands);
  operands_started = false;
}

} // namespace morvidex

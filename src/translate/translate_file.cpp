#include "translate/schedule.h"
#include "translate/translate.h"

namespace morvidex {

namespace {

// The current directory, for the conversions of file operands.
conversion_dir *operand_dir = nullptr;

} // namespace

void translate_file(const char *path, int case_mode) {
  schedule_conversion(&operand_dir, path, case_mode, false);
}

void finish_translations() {
  report_scheduled();
  close_conversion_dir(operand_dir);
  operand_dir = nullptr;
}

} // namespace morvidex

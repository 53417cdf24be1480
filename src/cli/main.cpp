// morvidex: converts the letters of text files to lower or upper case,
// writing each converted file beside its source.
#include "cli/command_line.h"
#include "cli/dispatch.h"
#include "cli/version.h"
#include "report/console.h"
#include "report/diagnostics.h"
#include "report/exit.h"
#include "translate/translate.h"

namespace {

const char BANNER[] =
    "morvidex " MORVIDEX_VERSION " - converts the letters of text files to "
    "lower or upper case\n";

const char USAGE[] =
    "usage:\n"
    "    morvidex -{l|u}[f] filename - translate file(s)\n"
    "    morvidex -{l|u} *\t\t- translate file(s) in current directory\n"
    "    morvidex -{l|u}{d|D} dirname(s) - translate file(s) in "
    "directory(ies)\n"
    "    morvidex -{l|u}{r|R} dirname(s) - recursive translate file(s)\n"
    "\t\t\t\t\t\tin directory(ies)\n"
    "\n"
    "\tl - to lower register;\n"
    "\tu - to upper register\n"
    "\n";

void say(const char *text) { morvidex::printf(text); }

const morvidex::translators TRANSLATORS = {morvidex::translate_file,
                                           morvidex::translate_directory, say};

} // namespace

int main(int argc, char **argv) {
  morvidex::start_console();
  const char *const *args = nullptr;
  int count = morvidex::program_arguments(argc, argv, &args);
  if (count < 0) {
    morvidex::report_failure(nullptr, morvidex::CODE_NO_MEMORY);
    morvidex::exit(1);
  }
  morvidex::printf(BANNER);
  if (morvidex::wants_usage(count, args)) {
    morvidex::printf(USAGE);
    morvidex::exit(0);
  }
  morvidex::dispatch(count, args, TRANSLATORS);
  morvidex::finish_translations();
  morvidex::exit(0);
}

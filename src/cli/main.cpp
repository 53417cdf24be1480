// morvidex: converts the letters of text files to lower or upper case,
// writing each converted file beside its source.
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/console.h"
#include "cli/dispatch.h"
#include "cli/exit.h"
#include "platform/platform.h"
#include "translate/translate.h"

namespace {

const char BANNER[] = "morvidex 1.0 - converts the letters of text files to "
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

// Room for the program's own path, element 0 of the argument vector.
constexpr std::size_t PROGRAM_PATH_SIZE = 4096;

void say(const char *text) { morvidex::printf(text); }

// The words the program works on: those the caller passed, or, where the
// platform hands over one command line, the program's own words from it,
// element 0 being the full path of the program's file.
std::vector<const char *> arguments(int argc, char **argv,
                                    std::vector<std::string> *words) {
  const char *line = morvidex::platform_command_line();
  if (line == nullptr)
    return std::vector<const char *>(argv, argv + argc);
  *words = morvidex::split_command_line(line, morvidex::platform_is_lead_byte);
  char path[PROGRAM_PATH_SIZE] = "";
  morvidex::platform_program_path(path, sizeof path);
  if (words->empty())
    words->emplace_back();
  (*words)[0] = path;
  std::vector<const char *> args;
  for (const std::string &word : *words)
    args.push_back(word.c_str());
  return args;
}

const morvidex::translators TRANSLATORS = {morvidex::translate_file,
                                           morvidex::translate_directory, say};

} // namespace

int main(int argc, char **argv) {
  morvidex::start_console();
  std::vector<std::string> words;
  std::vector<const char *> args = arguments(argc, argv, &words);
  int count = static_cast<int>(args.size());
  morvidex::printf(BANNER);
  if (morvidex::wants_usage(count, args.data())) {
    morvidex::printf(USAGE);
    morvidex::exit(0);
  }
  morvidex::dispatch(count, args.data(), TRANSLATORS);
  morvidex::exit(0);
}

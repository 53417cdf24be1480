#include "cli/command_line.h"

#include "platform/platform.h"

namespace morvidex {

namespace {

// Room for the program's own path.
constexpr std::size_t PROGRAM_PATH_SIZE = 4096;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

} // namespace

std::vector<std::string>
split_command_line(const char *line, bool (*is_lead_byte)(unsigned char)) {
  std::vector<std::string> words;
  const char *p = line;
  for (;;) {
    while (is_blank(*p))
      p++;
    if (*p == '\0')
      return words;
    std::string word;
    bool quoted = false;
    while (*p != '\0' && (quoted || !is_blank(*p))) {
      if (p[0] == '\\' && p[1] == '"') {
        word += '"';
        p += 2;
      } else if (*p == '"') {
        quoted = !quoted;
        p++;
      } else if (is_lead_byte(static_cast<unsigned char>(*p)) && p[1] != '\0') {
        word.append(p, 2);
        p += 2;
      } else {
        word += *p++;
      }
    }
    words.push_back(word);
  }
}

std::vector<const char *> program_arguments(int argc, char **argv,
                                            std::vector<std::string> *words) {
  const char *line = platform_command_line();
  if (line == nullptr)
    return std::vector<const char *>(argv, argv + argc);
  *words = split_command_line(line, platform_is_lead_byte);
  char path[PROGRAM_PATH_SIZE] = "";
  platform_program_path(path, sizeof path);
  if (words->empty())
    words->emplace_back();
  (*words)[0] = path;
  std::vector<const char *> args;
  for (const std::string &word : *words)
    args.push_back(word.c_str());
  return args;
}

} // namespace morvidex

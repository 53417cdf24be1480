#include "cli/command_line.h"

namespace morvidex {

namespace {

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

} // namespace morvidex

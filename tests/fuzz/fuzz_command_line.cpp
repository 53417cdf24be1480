// The command-line splitter against a reference written from its rules.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/command_line.h"

using namespace morvidex;

namespace {

unsigned char lead_from = 0xFF;

bool is_lead(unsigned char c) { return c >= 0x80 && c >= lead_from; }

bool blank(char c) { return c == ' ' || c == '\t'; }

// Blanks and tabs separate words; quotes open and close stretches in which
// they do not, and are dropped; a backslash before a quote gives a quote;
// a lead byte takes the next byte with it.
std::vector<std::string> reference_split(const std::string &line) {
  std::vector<std::string> words;
  std::size_t i = 0;
  const std::size_t n = line.size();
  for (;;) {
    while (i < n && blank(line[i]))
      i++;
    if (i == n)
      return words;
    std::string word;
    bool quoted = false;
    while (i < n && (quoted || !blank(line[i]))) {
      unsigned char c = static_cast<unsigned char>(line[i]);
      if (is_lead(c) && i + 1 < n) {
        word += line.substr(i, 2);
        i += 2;
      } else if (c == '\\' && i + 1 < n && line[i + 1] == '"') {
        word += '"';
        i += 2;
      } else if (c == '"') {
        quoted = !quoted;
        i++;
      } else {
        word += line[i++];
      }
    }
    words.push_back(word);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  if (size < 1)
    return 0;
  lead_from = data[0];
  std::string line(reinterpret_cast<const char *>(data) + 1, size - 1);
  line = line.substr(0, line.find('\0'));
  std::vector<char> bytes(split_bytes_size(line.size()));
  std::vector<const char *> words(split_words_size(line.size()) + 1);
  std::size_t count =
      split_command_line(line.c_str(), is_lead, bytes.data(), words.data());
  std::vector<std::string> got(words.begin(), words.begin() + count);
  if (got != reference_split(line))
    __builtin_trap();
  return 0;
}

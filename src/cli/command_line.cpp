#include "cli/command_line.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace morvidex {

namespace {

// Room for the program's own path.
constexpr std::size_t PROGRAM_PATH_SIZE = 4096;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Copies one word from *p into out; returns the end of its bytes.
char *take_word(const char **p, bool (*is_lead_byte)(unsigned char),
                char *out) {
  const char *in = *p;
  bool quoted = false;
  while (*in != '\0' && (quoted || !is_blank(*in))) {
    if (in[0] == '\\' && in[1] == '"') {
      *out++ = '"';
      in += 2;
    } else if (*in == '"') {
      quoted = !quoted;
      in++;
    } else if (is_lead_byte(static_cast<unsigned char>(*in)) && in[1] != '\0') {
      *out++ = *in++;
      *out++ = *in++;
    } else {
      *out++ = *in++;
    }
  }
  *p = in;
  return out;
}

} // namespace

std::size_t split_command_line(const char *line,
                               bool (*is_lead_byte)(unsigned char), char *bytes,
                               const char **words) {
  // A word takes at least one character of the line and words stand
  // apart by at least one blank, which bounds the room needed.
  std::size_t count = 0;
  const char *p = line;
  for (;;) {
    while (is_blank(*p))
      p++;
    if (*p == '\0')
      return count;
    words[count++] = bytes;
    bytes = take_word(&p, is_lead_byte, bytes);
    *bytes++ = '\0';
  }
}

int program_arguments(int argc, char **argv, const char *const **args) {
  const char *line = platform_command_line();
  if (line == nullptr) {
    *args = argv;
    return argc;
  }
  // One block holds the program's path, the words and their pointers (one
  // more for element 0 should the line hold no word, one for the end).
  std::size_t n = std::strlen(line);
  std::size_t slots = split_words_size(n) + 2;
  std::size_t bytes = PROGRAM_PATH_SIZE + split_bytes_size(n);
  auto *words =
      static_cast<const char **>(std::malloc(slots * sizeof(char *) + bytes));
  if (words == nullptr)
    return -1;
  char *path = reinterpret_cast<char *>(words + slots);
  path[0] = '\0';
  platform_program_path(path, PROGRAM_PATH_SIZE);
  std::size_t count = split_command_line(line, platform_is_lead_byte,
                                         path + PROGRAM_PATH_SIZE, words);
  if (count == 0)
    count = 1;
  words[0] = path;
  words[count] = nullptr;
  *args = words;
  return static_cast<int>(count);
}

} // namespace morvidex

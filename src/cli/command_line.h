// The argument vector on a platform that hands the program its command
// line as one string.
#ifndef MORVIDEX_CLI_COMMAND_LINE_H
#define MORVIDEX_CLI_COMMAND_LINE_H

#include <cstddef>

namespace morvidex {

// Room that split_command_line needs for a line of length n: bytes for the
// words' characters with their terminating zeros, and word pointers.
constexpr std::size_t split_bytes_size(std::size_t n) { return n + 1; }
constexpr std::size_t split_words_size(std::size_t n) { return (n + 1) / 2; }

// Splits a command line into words.  Blanks and tabs separate words; a
// double quote opens a stretch, ended by the next double quote or the end
// of the line, within which blanks and tabs belong to the word; the quotes
// are dropped, and a word may join quoted and unquoted stretches, so ""
// alone is an empty word.  A backslash directly followed by a double quote
// gives a literal quote; every other backslash is an ordinary character.
// A byte for which is_lead_byte holds takes the next byte with it, so that
// byte never counts as a blank, a quote or a backslash.  Nothing is
// expanded.  The words go into bytes, each terminated, with a pointer to
// each in words; returns their count.
std::size_t split_command_line(const char *line,
                               bool (*is_lead_byte)(unsigned char), char *bytes,
                               const char **words);

// The words the program works on: those the caller passed, or, where the
// platform hands over one command line, the words split from it, element 0
// being the full path of the program's file.  Returns their count, or -1
// when there is no memory for them; nothing is allocated where the caller
// passed the words.
int program_arguments(int argc, char **argv, const char *const **args);

} // namespace morvidex

#endif

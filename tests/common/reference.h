// The byte rules of the program's text and its fixed lines, written once
// for every test that needs a reference: a plain byte-at-a-time statement
// of them, with its own case mapping, so that it shares nothing with the
// code it checks.
#ifndef MORVIDEX_TESTS_COMMON_REFERENCE_H
#define MORVIDEX_TESTS_COMMON_REFERENCE_H

#include <string>

namespace common {

// The data a text stream reads from raw bytes: everything before the first
// 0x1A, with every CR removed.
std::string text_data(const std::string &raw);

// A whole source as the program must convert it: its text data, with only
// A-Z (to lower case) or a-z (to upper case) changed and every LF written
// as CR LF.
std::string converted(const std::string &raw, bool upper);

// The program's own lines as they reach a file, every LF as CR LF: the
// banner, a progress line, a diagnostic line, the lines that open and close
// a directory's walk and a walk with its lines between them.
inline const std::string BANNER =
    "morvidex 1.0 - converts the letters of text files to lower or upper "
    "case\r\n";
std::string crlf(const std::string &s);
std::string progress(const std::string &from, const std::string &to);
std::string diag(const std::string &label, const std::string &text);
std::string opening(const std::string &dir);
std::string closing(const std::string &dir);
std::string walk(const std::string &dir, const std::string &lines);

} // namespace common

#endif

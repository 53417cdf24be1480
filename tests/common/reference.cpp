#include "common/reference.h"

namespace common {

std::string text_data(const std::string &raw) {
  std::string data;
  for (char ch : raw.substr(0, raw.find('\x1a')))
    if (ch != '\r')
      data += ch;
  return data;
}

std::string converted(const std::string &raw, bool upper) {
  std::string out;
  for (char ch : text_data(raw)) {
    if (ch == '\n')
      out += '\r';
    if (upper && ch >= 'a' && ch <= 'z')
      ch = static_cast<char>(ch - 'a' + 'A');
    if (!upper && ch >= 'A' && ch <= 'Z')
      ch = static_cast<char>(ch - 'A' + 'a');
    out += ch;
  }
  return out;
}

std::string crlf(const std::string &s) {
  std::string r;
  for (char ch : s)
    r += ch == '\n' ? "\r\n" : std::string(1, ch);
  return r;
}

std::string progress(const std::string &from, const std::string &to) {
  return crlf("Translate file '" + from + "' to file '" + to + "'\n");
}

std::string diag(const std::string &label, const std::string &text) {
  return label + ": " + text + "\r\n";
}

std::string opening(const std::string &dir) {
  return crlf("+ translate files in directory: '" + dir + "' +\n");
}
std::string closing(const std::string &dir) {
  return crlf("- '" + dir + "' is scaned -\n");
}
std::string walk(const std::string &dir, const std::string &lines) {
  return opening(dir) + lines + closing(dir);
}

} // namespace common

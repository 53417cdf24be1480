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

} // namespace common

// The text transforms against the tests' shared reference: convert_text on
// every vector unit at every alignment, and text_read at every block size,
// so that CR, CR LF and 0x1A fall on every edge.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/reference.h"
#include "textio/stream.h"

using namespace morvidex;

namespace {

void check_convert(const std::string &raw, letter_case to, std::size_t offset) {
  std::string text = raw;
  for (char &c : text)
    if (c == '\x1a')
      c = 'x';
  std::vector<unsigned char> src(offset + text.size());
  std::copy(text.begin(), text.end(), src.begin() + offset);
  std::vector<unsigned char> dst(2 * text.size() + 1);
  std::size_t n =
      convert_text(dst.data(), src.data() + offset, text.size(), to);
  if (std::string(dst.begin(), dst.begin() + n) !=
      common::converted(text, to == TO_UPPER))
    __builtin_trap();
}

void check_read(const std::string &raw, std::size_t block) {
  int fd = memfd_create("fuzz_text", 0);
  if (fd < 0 ||
      write(fd, raw.data(), raw.size()) != static_cast<ssize_t>(raw.size()) ||
      lseek(fd, 0, SEEK_SET) != 0)
    __builtin_trap();
  std::string got;
  std::vector<unsigned char> buffer(block);
  bool marker = false;
  int code = 0;
  for (long n; (n = text_read(fd, buffer.data(), block, &marker, &code)) > 0;)
    got.append(buffer.begin(), buffer.begin() + n);
  close(fd);
  if (code != 0 || got != common::text_data(raw))
    __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  if (size < 3)
    return 0;
  letter_case to = (data[0] & 1) != 0 ? TO_UPPER : TO_LOWER;
  std::string raw(reinterpret_cast<const char *>(data) + 3, size - 3);
  for (int unit = UNIT_SCALAR; unit <= best_vector_unit(); unit++) {
    use_vector_unit(static_cast<vector_unit>(unit));
    check_convert(raw, to, data[1] % 32);
  }
  check_read(raw, 1 + data[2] % 64);
  return 0;
}

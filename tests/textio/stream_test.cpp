#include "textio/stream.h"

#include "textio/block_copy.h"

#include "common/reference.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace morvidex {
namespace {

namespace fs = std::filesystem;

// A fresh directory per test, removed afterwards.
class StreamTest : public ::testing::Test {
protected:
  void SetUp() override {
    char name[] = "/tmp/morvidex-stream-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(name));
    dir = name;
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string path(const std::string &name) const { return dir / name; }
  std::string put(const std::string &name, const std::string &bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
    return path(name);
  }
  std::string get(const std::string &name) const {
    std::ifstream in(path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  fs::path dir;
};

// What a conversion must write, by the reference shared by all tests.
std::string expected_text(const std::string &raw, letter_case to) {
  return common::converted(raw, to == TO_UPPER);
}

// Random text over the bytes that matter at block and chunk edges.
std::string random_text(std::size_t n, unsigned seed, bool marker) {
  static const char ALPHABET[] = "aZ\r\n\r\n\r\n9\xC4 mQ\x00";
  std::mt19937 gen(seed);
  std::string s(n, ' ');
  for (char &c : s)
    c = ALPHABET[gen() % (sizeof ALPHABET - 1)];
  if (marker && n > 0)
    s[gen() % n] = static_cast<char>(EOF_MARKER);
  return s;
}

TEST_F(StreamTest, TextReadDropsCrAndStopsAtTheMarker) {
  struct {
    const char *name;
    std::string raw;
    std::size_t block;
    std::vector<std::string> reads;
  } const cases[] = {
      {"lone CR", "a\rb", 8, {"ab"}},
      {"CR LF split by a block edge", "ab\r\ncd", 3, {"ab", "\ncd"}},
      {"CR last in a block", "abc\r", 4, {"abc"}},
      {"CR first in a block", "abc\rd", 3, {"abc", "d"}},
      {"block of nothing but CR", "\r\r\r\rxy", 4, {"xy"}},
      {"only CRs", "\r\r\r", 2, {}},
      {"marker mid-block",
       std::string("ab\x1a"
                   "cd\n"),
       8,
       {"ab"}},
      {"marker first",
       std::string("\x1a"
                   "abc"),
       8,
       {}},
      {"marker in a later block",
       std::string("abcde\x1a"
                   "f"),
       4,
       {"abcd", "e"}},
      {"CR before the marker", std::string("a\r\x1a"), 8, {"a"}},
      {"CR then marker alone",
       std::string("\r\x1a"
                   "zz"),
       4,
       {}},
      {"NUL and high bytes",
       std::string("\0\xff\r", 3),
       8,
       {std::string("\0\xff", 2)}},
  };
  for (const auto &t : cases) {
    SCOPED_TRACE(t.name);
    file_handle h = NO_HANDLE;
    file_status status{};
    ASSERT_EQ(0, platform_open_read(put("in", t.raw).c_str(), &h, &status));
    std::vector<std::string> reads;
    unsigned char data[16];
    bool marker = false;
    int code = 0;
    long n;
    while ((n = text_read(h, data, t.block, &marker, &code)) > 0)
      reads.emplace_back(reinterpret_cast<char *>(data), n);
    EXPECT_EQ(0, n);
    EXPECT_EQ(t.reads, reads);
    platform_close(h);
  }
}

TEST_F(StreamTest, TextWriteFillsStagingAreasWithoutSplittingCrLf) {
  struct {
    const char *name;
    std::string data;
    std::size_t staging;
    std::vector<std::string> writes;
  } const cases[] = {
      {"short", "abc", 128, {"abc"}},
      {"LF", "a\nb", 128, {"a\r\nb"}},
      {"CR and marker unchanged", "\r\x1a", 128, {"\r\x1a"}},
      {"area exactly full",
       std::string(126, 'x') + "\n",
       128,
       {std::string(126, 'x') + "\r\n"}},
      {"CR LF waits for the next area",
       std::string(127, 'x') + "\n",
       128,
       {std::string(127, 'x'), "\r\n"}},
      {"two areas",
       std::string(200, 'x'),
       128,
       {std::string(128, 'x'), std::string(72, 'x')}},
      {"smallest area", "\n\n", 2, {"\r\n", "\r\n"}},
  };
  for (const auto &t : cases) {
    SCOPED_TRACE(t.name);
    // Each write of a sequenced-packet socket is one message.
    int fds[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds));
    std::vector<unsigned char> staging(t.staging);
    EXPECT_EQ(0,
              text_write(fds[0],
                         reinterpret_cast<const unsigned char *>(t.data.data()),
                         t.data.size(), staging.data(), staging.size()));
    close(fds[0]);
    std::vector<std::string> writes;
    char message[512];
    ssize_t n;
    while ((n = recv(fds[1], message, sizeof message, 0)) > 0)
      writes.emplace_back(message, n);
    close(fds[1]);
    EXPECT_EQ(t.writes, writes);
  }
}

// Text of CR LF lines every `line` bytes, with a lone CR or LF now and
// then: pairs fall in every lane of a vector step and across its edges.
std::string crlf_lines(std::size_t n, std::size_t line, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s;
  while (s.size() < n) {
    s += std::string(line, "aBzQ9 "[gen() % 6]);
    s += gen() % 8 == 0 ? (gen() % 2 ? "\r" : "\n") : "\r\n";
  }
  return s.substr(0, n);
}

// Every vector unit this processor has, and the narrower ones, against
// the byte rules at every step edge.
TEST_F(StreamTest, ConvertTextMatchesTheByteRules) {
  for (int unit = UNIT_SCALAR; unit <= best_vector_unit(); unit++) {
    SCOPED_TRACE("vector unit " + std::to_string(unit));
    use_vector_unit(static_cast<vector_unit>(unit));
    for (std::size_t n = 0; n < 450; n++) {
      for (unsigned seed = 0; seed < 40; seed++) {
        std::string raw = seed < 4 ? random_text(n, seed * 1000 + n, false)
                                   : crlf_lines(n, seed - 4, seed + n);
        for (letter_case to : {TO_LOWER, TO_UPPER}) {
          std::vector<unsigned char> out(2 * n + 1);
          std::size_t m = convert_text(
              out.data(), reinterpret_cast<const unsigned char *>(raw.data()),
              n, to);
          ASSERT_EQ(expected_text(raw, to),
                    std::string(reinterpret_cast<char *>(out.data()), m))
              << "n=" << n << " seed=" << seed;
        }
      }
    }
  }
  use_vector_unit(best_vector_unit());
}

// Copies in through a stream pair, either a character at a time or with
// copy_mapped, and checks the target against the byte rules.
TEST_F(StreamTest, CopiesAreExactAcrossBlockEdges) {
  const std::size_t sizes[] = {0,
                               1,
                               511,
                               512,
                               513,
                               1024,
                               FILE_BLOCK - 1,
                               FILE_BLOCK,
                               FILE_BLOCK + 1,
                               2 * FILE_BLOCK + 1,
                               3 * FILE_BLOCK + 300};
  for (std::size_t size : sizes) {
    for (bool marker : {false, true}) {
      std::string raw = random_text(size, static_cast<unsigned>(size), marker);
      if (size > FILE_BLOCK) {
        raw[FILE_BLOCK - 1] = '\r'; // a CR LF split by the block edge
        raw[FILE_BLOCK] = '\n';
      }
      for (const char *way : {"per character", "bulk"}) {
        SCOPED_TRACE(std::to_string(size) + (marker ? " marker " : " ") + way);
        int code = 0;
        text_stream *in = fopen(put("in.txt", raw).c_str(), "rt", &code);
        text_stream *out = fopen(path("out.lo").c_str(), "wt", &code);
        ASSERT_TRUE(in != nullptr && out != nullptr);
        if (way[0] != 'p') {
          copy_mapped(in, out, TO_UPPER);
        } else {
          while (!feof(in) && !ferror(in)) {
            int c = fgetc(in);
            if (feof(in) || ferror(in))
              break;
            ASSERT_NE(-1, fputc(toupper(c), out));
          }
        }
        EXPECT_TRUE(feof(in));
        EXPECT_FALSE(ferror(in));
        EXPECT_FALSE(ferror(out));
        EXPECT_EQ(0, fclose(out, &code));
        EXPECT_EQ(0, fclose(in, &code));
        EXPECT_EQ(expected_text(raw, TO_UPPER), get("out.lo"));
      }
    }
  }
}

// A file whose size says 0 and whose reads are short, as those of /proc
// are, is read to its end all the same.
TEST_F(StreamTest, FileLongerThanItsSizeIsReadWhole) {
  const char *name = "/proc/kallsyms";
  std::ifstream raw(name, std::ios::binary);
  std::string bytes(std::istreambuf_iterator<char>(raw), {});
  ASSERT_GT(bytes.size(), 2 * FILE_BLOCK);
  int code = 0;
  text_stream *in = fopen(name, "rt", &code);
  text_stream *out = fopen(path("out").c_str(), "wt", &code);
  ASSERT_TRUE(in != nullptr && out != nullptr);
  copy_mapped(in, out, TO_UPPER);
  EXPECT_TRUE(feof(in));
  fclose(out, &code);
  fclose(in, &code);
  EXPECT_EQ(expected_text(bytes, TO_UPPER).size(), get("out").size());
}

TEST_F(StreamTest, IndicationsOfEmptyAndWrongWayStreams) {
  int code = 0;
  text_stream *in = fopen(put("empty", "").c_str(), "rt", &code);
  ASSERT_NE(nullptr, in);
  EXPECT_EQ(-1, fgetc(in));
  EXPECT_TRUE(feof(in));
  EXPECT_FALSE(ferror(in));
  EXPECT_EQ(-1, fputc('a', in));
  EXPECT_TRUE(ferror(in));
  fclose(in, &code);

  text_stream *out = fopen(path("out").c_str(), "wt", &code);
  ASSERT_NE(nullptr, out);
  EXPECT_EQ(0xE4, fputc(0x1E4, out));
  EXPECT_EQ(-1, fgetc(out));
  EXPECT_TRUE(ferror(out));
  EXPECT_EQ(0, fclose(out, &code));
  EXPECT_EQ("\xE4", get("out"));
}

TEST_F(StreamTest, ReadFailureIsAnErrorNotTheEnd) {
  int code = 0;
  text_stream *in =
      fopen(put("in", std::string(70000, 'a')).c_str(), "rt", &code);
  ASSERT_NE(nullptr, in);
  EXPECT_EQ('a', fgetc(in));
  // The rest of the file can no longer be read: a directory takes the
  // handle's place.
  in->next = in->end;
  int dir_fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_NE(-1, dup2(dir_fd, static_cast<int>(in->handle)));
  close(dir_fd);
  EXPECT_EQ(-1, fgetc(in));
  EXPECT_TRUE(ferror(in));
  EXPECT_FALSE(feof(in));
  EXPECT_EQ(EISDIR, in->code);
  EXPECT_EQ(-1, fgetc(in));
  fclose(in, &code);
}

TEST_F(StreamTest, WriteFailureOnADevice) {
  int code = 0;
  text_stream *out = fopen("/dev/full", "wt", &code);
  ASSERT_NE(nullptr, out);
  EXPECT_TRUE(out->line_buffered);
  EXPECT_EQ('a', fputc('a', out));
  EXPECT_EQ(-1, fputc('\n', out)); // a line end writes a device's line out
  EXPECT_TRUE(ferror(out));
  EXPECT_EQ(ENOSPC, out->code);
  fclose(out, &code);
}

TEST_F(StreamTest, TargetLeadingToTheSourceIsRefused) {
  int code = 0;
  text_stream *in = fopen(put("a.txt", "Keep").c_str(), "rt", &code);
  ASSERT_NE(nullptr, in);
  ASSERT_EQ(0, link(path("a.txt").c_str(), path("hard.lo").c_str()));
  ASSERT_EQ(0, symlink("a.txt", path("soft.lo").c_str()));
  for (const char *name : {"a.txt", "hard.lo", "soft.lo"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(nullptr, fopen(path(name).c_str(), "wt", &code, in));
    EXPECT_EQ(EEXIST, code);
  }
  // Another file, existing or reached through a link that leads nowhere
  // yet, is emptied and written.
  put("other.lo", "Old content, longer than the new");
  ASSERT_EQ(0, symlink("new.txt", path("dangling.lo").c_str()));
  for (const char *name : {"other.lo", "dangling.lo"}) {
    SCOPED_TRACE(name);
    text_stream *other = fopen(path(name).c_str(), "wt", &code, in);
    ASSERT_NE(nullptr, other);
    EXPECT_EQ('x', fputc('x', other));
    EXPECT_EQ(0, fclose(other, &code));
    EXPECT_EQ("x", get(name));
  }
  fclose(in, &code);
  EXPECT_EQ("Keep", get("a.txt"));
}

TEST_F(StreamTest, OpenFailures) {
  put("file", "x");
  fs::create_directory(path("sub"));
  ASSERT_EQ(0, mkfifo(path("fifo").c_str(), 0600));
  struct {
    std::string name;
    const char *mode;
    int code;
  } const cases[] = {
      {"missing", "rt", ENOENT},    {"sub", "rt", EACCES},
      {"sub", "wt", EACCES},        {"fifo", "rt", EACCES},
      {"fifo", "wt", ENXIO},        {"nodir/x.lo", "wt", ENOENT},
      {"file/x.lo", "wt", ENOTDIR}, {std::string(300, 'n'), "rt", ENAMETOOLONG},
  };
  for (const auto &t : cases) {
    SCOPED_TRACE(t.name.substr(0, 20) + " " + t.mode);
    int code = 0;
    EXPECT_EQ(nullptr, fopen(path(t.name).c_str(), t.mode, &code));
    EXPECT_EQ(t.code, code);
  }
}

} // namespace
} // namespace morvidex

// The dispatch decision against a reference written as plain conditions.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cli/dispatch.h"

using namespace morvidex;

namespace {

std::vector<std::string> calls;

void record_file(const char *path, int mode) {
  calls.push_back("file " + std::string(path) + " " + std::to_string(mode));
}

void record_dir(const char *dir, int recurse, int mode, const char *pattern) {
  calls.push_back("dir " + std::string(dir) + " " + std::to_string(recurse) +
                  " " + std::to_string(mode) + " " +
                  (pattern != nullptr ? pattern : "-"));
}

void record_say(const char *text) { calls.push_back("say " + std::string(text)); }

bool has(const std::string &word, const char *letters) {
  return word.find_first_of(letters) != std::string::npos;
}

// What a run with these words must convert, usage aside.
std::vector<std::string> reference(const std::vector<std::string> &argv) {
  std::vector<std::string> want;
  const std::string &word = argv[1], &first = argv[2];
  int mode = has(word, "l") ? 1 : has(word, "u") ? 2 : 0;
  bool star = first == "*";
  bool pattern = first.find("*.") != std::string::npos;
  bool alone = argv.size() == 3;
  int recurse = has(word, "rR") ? 1 : 0;
  auto dir = [&](const std::string &d, const char *p) {
    want.push_back("dir " + d + " " + std::to_string(recurse) + " " +
                   std::to_string(mode) + " " + p);
  };
  if (!recurse && has(word, "dD")) {
    if (star)
      want.push_back("say need dirname(s)\n");
    else
      for (std::size_t i = 2; i < argv.size(); i++)
        dir(argv[i], "-");
  } else if (star) {
    dir(".", "-");
  } else if (pattern && alone) {
    dir(".", first.c_str());
  } else if (pattern) {
    for (std::size_t i = 3; i < argv.size(); i++)
      dir(argv[i], first.c_str());
  } else if (recurse) {
    for (std::size_t i = 2; i < argv.size(); i++)
      dir(argv[i], "-");
  } else if (has(word, "f") || mode != 0) {
    for (std::size_t i = 2; i < argv.size(); i++)
      want.push_back("file " + argv[i] + " " + std::to_string(mode));
  }
  return want;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  std::vector<std::string> words = {"morvidex"};
  std::string all(reinterpret_cast<const char *>(data), size);
  for (std::size_t at = 0; at <= all.size() && words.size() < 8;) {
    std::size_t end = std::min(all.find('\0', at), all.size());
    words.push_back(all.substr(at, end - at));
    at = end + 1;
  }
  std::vector<const char *> argv;
  for (const std::string &w : words)
    argv.push_back(w.c_str());
  int argc = static_cast<int>(argv.size());
  bool usage = argc < 3 || words[1].empty() || words[1][0] != '-' ||
               (has(words[1], "l") && has(words[1], "u"));
  if (wants_usage(argc, argv.data()) != usage)
    __builtin_trap();
  if (usage)
    return 0;
  calls.clear();
  dispatch(argc, argv.data(), translators{record_file, record_dir, record_say});
  if (calls != reference(words))
    __builtin_trap();
  return 0;
}

// The text conversion alone, one 256 KiB block at a time as a copy into a
// regular file does it, for each vector unit the processor has, on CR LF
// text and on LF text: the part of a conversion that is the program's own
// work rather than the system's.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "textio/stream.h"
#include "textio/text_format.h"

namespace {

using namespace morvidex;

// Lines of 20 to 120 letters, digits and punctuation, ended as asked.
std::string text_block(const char *line_end) {
  static const char chars[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 .,;";
  std::mt19937 gen(12345);
  std::string s;
  while (s.size() < FILE_BLOCK) {
    std::size_t len = 20 + gen() % 101;
    for (std::size_t i = 0; i < len; i++)
      s += chars[gen() % (sizeof chars - 1)];
    s += line_end;
  }
  s.resize(FILE_BLOCK);
  return s;
}

void convert(benchmark::State &state, const char *line_end) {
  auto unit = static_cast<vector_unit>(state.range(0));
  if (unit > best_vector_unit()) {
    state.SkipWithError("the processor lacks this vector unit");
    return;
  }
  use_vector_unit(unit);
  std::string block = text_block(line_end);
  std::vector<unsigned char> out(2 * block.size());
  for (auto _ : state) {
    std::size_t n = convert_text(
        out.data(), reinterpret_cast<const unsigned char *>(block.data()),
        block.size(), TO_LOWER);
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(block.size()));
  use_vector_unit(best_vector_unit());
}

void crlf_text(benchmark::State &state) { convert(state, "\r\n"); }
void lf_text(benchmark::State &state) { convert(state, "\n"); }

// Argument: the vector unit, 0 scalar, 1 SSE2, 2 AVX2.
BENCHMARK(crlf_text)->DenseRange(UNIT_SCALAR, UNIT_AVX2);
BENCHMARK(lf_text)->DenseRange(UNIT_SCALAR, UNIT_AVX2);

} // namespace

BENCHMARK_MAIN();

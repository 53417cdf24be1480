#include "textio/text_format.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#endif

namespace morvidex {

namespace {

// The written form of n bytes of raw text, one byte at a time.
std::size_t convert_bytes(unsigned char *dst, const unsigned char *src,
                          std::size_t n, letter_case to) {
  std::size_t out = 0;
  for (std::size_t i = 0; i < n; i++) {
    unsigned char b = src[i];
    if (b == CR)
      continue;
    if (b == LF)
      dst[out++] = CR;
    dst[out++] = map_byte(to, b);
  }
  return out;
}

// How a vector step of `width` bytes goes out.  crs and lfs mark the lanes
// that hold CR and LF; carry is 1 when the step before ended in a CR whose
// LF opens this one.  When every CR is directly followed by an LF and
// every LF directly preceded by a CR, the step comes out as it went in,
// letters mapped: each CR dropped and its LF written as CR LF is the same
// pair (paired).  *carry_out tells whether its last lane is a CR whose LF
// opens the next step.
bool plan_step(std::uint64_t crs, std::uint64_t lfs, unsigned carry,
               std::size_t width, bool next_is_lf, unsigned *carry_out) {
  std::uint64_t want_lf = (crs << 1) | carry;
  bool last_cr = (want_lf >> width) != 0;
  std::uint64_t lanes = (std::uint64_t{1} << width) - 1;
  *carry_out = last_cr ? 1 : 0;
  return (want_lf & lanes) == lfs && (!last_cr || next_is_lf);
}

// A step that is not paired, byte by byte, after the LF that a carried CR
// still owes.
std::size_t convert_unpaired(unsigned char *dst, const unsigned char *src,
                             std::size_t width, unsigned carry,
                             letter_case to) {
  std::size_t out = 0;
  if (carry != 0)
    dst[out++] = LF;
  return out + convert_bytes(dst + out, src + carry, width - carry, to);
}

#if defined(__i386__) || defined(__x86_64__)
#define MORVIDEX_X86_VECTORS 1

// Letters land below the signed limit after the shift; their case bit
// flips.  The constants for a step to `to`.
char letter_shift(letter_case to) {
  return static_cast<char>(to == TO_LOWER ? 0x80 - 'A' : 0x80 - 'a');
}
constexpr char LETTER_LIMIT = static_cast<char>(0x80 + 26);
constexpr char CASE_BIT = 0x20;

constexpr std::size_t SSE2_STEP = 16;
constexpr std::size_t AVX2_STEP = 32;

// Whole 16-byte steps of src[0..n); *done is the count of source bytes
// taken, the result the count written.
__attribute__((target("sse2"))) std::size_t
convert_sse2(unsigned char *dst, const unsigned char *src, std::size_t n,
             letter_case to, std::size_t *done) {
  const __m128i cr = _mm_set1_epi8(static_cast<char>(CR));
  const __m128i lf = _mm_set1_epi8(static_cast<char>(LF));
  const __m128i shift = _mm_set1_epi8(letter_shift(to));
  const __m128i limit = _mm_set1_epi8(LETTER_LIMIT);
  const __m128i case_bit = _mm_set1_epi8(CASE_BIT);
  std::size_t in = 0, out = 0;
  unsigned carry = 0;
  for (; in + SSE2_STEP <= n; in += SSE2_STEP) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + in));
    auto crs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, cr)));
    auto lfs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)));
    unsigned next = 0;
    bool next_is_lf = in + SSE2_STEP < n && src[in + SSE2_STEP] == LF;
    if (!plan_step(crs, lfs, carry, SSE2_STEP, next_is_lf, &next)) {
      out += convert_unpaired(dst + out, src + in, SSE2_STEP, carry, to);
      carry = 0;
      continue;
    }
    __m128i letters = _mm_cmplt_epi8(_mm_add_epi8(v, shift), limit);
    v = _mm_xor_si128(v, _mm_and_si128(letters, case_bit));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + out), v);
    out += SSE2_STEP;
    carry = next;
  }
  if (carry != 0)
    dst[out++] = LF;
  *done = in + carry;
  return out;
}

// The same in whole 32-byte steps.
__attribute__((target("avx2"))) std::size_t
convert_avx2(unsigned char *dst, const unsigned char *src, std::size_t n,
             letter_case to, std::size_t *done) {
  const __m256i cr = _mm256_set1_epi8(static_cast<char>(CR));
  const __m256i lf = _mm256_set1_epi8(static_cast<char>(LF));
  const __m256i shift = _mm256_set1_epi8(letter_shift(to));
  const __m256i limit = _mm256_set1_epi8(LETTER_LIMIT);
  const __m256i case_bit = _mm256_set1_epi8(CASE_BIT);
  std::size_t in = 0, out = 0;
  unsigned carry = 0;
  for (; in + AVX2_STEP <= n; in += AVX2_STEP) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + in));
    auto crs = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(v, cr)));
    auto lfs = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(v, lf)));
    unsigned next = 0;
    bool next_is_lf = in + AVX2_STEP < n && src[in + AVX2_STEP] == LF;
    if (!plan_step(crs, lfs, carry, AVX2_STEP, next_is_lf, &next)) {
      out += convert_unpaired(dst + out, src + in, AVX2_STEP, carry, to);
      carry = 0;
      continue;
    }
    __m256i letters = _mm256_cmpgt_epi8(limit, _mm256_add_epi8(v, shift));
    v = _mm256_xor_si256(v, _mm256_and_si256(letters, case_bit));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + out), v);
    out += AVX2_STEP;
    carry = next;
  }
  if (carry != 0)
    dst[out++] = LF;
  *done = in + carry;
  return out;
}

// The widest unit the processor reports, asked once.
vector_unit detect_vector_unit() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2"))
    return UNIT_AVX2;
  if (__builtin_cpu_supports("sse2"))
    return UNIT_SSE2;
  return UNIT_SCALAR;
}
#else
vector_unit detect_vector_unit() { return UNIT_SCALAR; }
#endif

const vector_unit BEST_UNIT = detect_vector_unit();
vector_unit active_unit = BEST_UNIT;

} // namespace

std::size_t cut_at_marker(const unsigned char *data, std::size_t n,
                          bool *marker_seen) {
  const auto *marker =
      static_cast<const unsigned char *>(std::memchr(data, EOF_MARKER, n));
  if (marker == nullptr)
    return n;
  *marker_seen = true;
  return static_cast<std::size_t>(marker - data);
}

std::size_t drop_cr(unsigned char *data, std::size_t n) {
  unsigned char *end = data + n;
  auto *out = static_cast<unsigned char *>(std::memchr(data, CR, n));
  if (out == nullptr)
    return n;
  const unsigned char *in = out + 1;
  while (in < end) {
    const auto *cr = static_cast<const unsigned char *>(
        std::memchr(in, CR, static_cast<std::size_t>(end - in)));
    const unsigned char *stop = cr != nullptr ? cr : end;
    std::size_t run = static_cast<std::size_t>(stop - in);
    std::memmove(out, in, run);
    out += run;
    in = stop + 1;
  }
  return static_cast<std::size_t>(out - data);
}

std::size_t expand_line_ends(unsigned char *dst, std::size_t size,
                             const unsigned char *src, std::size_t n,
                             std::size_t *made) {
  std::size_t used = 0;
  std::size_t taken = 0;
  while (taken < n && used < size) {
    std::size_t span = std::min(n - taken, size - used);
    const auto *lf =
        static_cast<const unsigned char *>(std::memchr(src + taken, LF, span));
    std::size_t run =
        lf != nullptr ? static_cast<std::size_t>(lf - (src + taken)) : span;
    std::memcpy(dst + used, src + taken, run);
    used += run;
    taken += run;
    if (lf == nullptr)
      continue;
    if (size - used < 2)
      break;
    dst[used++] = CR;
    dst[used++] = LF;
    taken++;
  }
  *made = used;
  return taken;
}

std::size_t convert_text(unsigned char *dst, const unsigned char *src,
                         std::size_t n, letter_case to) {
  std::size_t done = 0;
  std::size_t out = 0;
#if defined(MORVIDEX_X86_VECTORS)
  if (active_unit == UNIT_AVX2)
    out = convert_avx2(dst, src, n, to, &done);
  else if (active_unit == UNIT_SSE2)
    out = convert_sse2(dst, src, n, to, &done);
#endif
  return out + convert_bytes(dst + out, src + done, n - done, to);
}

vector_unit best_vector_unit() { return BEST_UNIT; }

void use_vector_unit(vector_unit unit) {
  active_unit = unit < BEST_UNIT ? unit : BEST_UNIT;
}

} // namespace morvidex

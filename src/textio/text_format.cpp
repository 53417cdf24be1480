#include "textio/text_format.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
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

#if defined(__SSE2__)
// Bytes the SSE2 step takes at a time, and its lane mask.
constexpr std::size_t SSE2_STEP = 16;
constexpr unsigned SSE2_LANES = 0xFFFF;

// The letters of v with their case flipped to `to`.  After the shift,
// exactly the letters of the other case land below the signed limit.
__m128i map_letters_sse2(__m128i v, letter_case to) {
  const __m128i shift = _mm_set1_epi8(
      static_cast<char>(to == TO_LOWER ? 0x80 - 'A' : 0x80 - 'a'));
  const __m128i limit = _mm_set1_epi8(static_cast<char>(0x80 + 26));
  __m128i letters = _mm_cmplt_epi8(_mm_add_epi8(v, shift), limit);
  return _mm_xor_si128(v, _mm_and_si128(letters, _mm_set1_epi8(0x20)));
}

// Converts whole 16-byte steps of src[0..n); sets *done to the count of
// source bytes taken and returns the count written.  A step in which every
// CR is directly followed by an LF and every LF directly preceded by a CR
// comes out as it went in, letters mapped: the CR is dropped and the LF
// written as CR LF.  Any other step goes byte by byte.
std::size_t convert_sse2(unsigned char *dst, const unsigned char *src,
                         std::size_t n, letter_case to, std::size_t *done) {
  const __m128i cr = _mm_set1_epi8(static_cast<char>(CR));
  const __m128i lf = _mm_set1_epi8(static_cast<char>(LF));
  std::size_t in = 0;
  std::size_t out = 0;
  // A CR in the last lane may pair with an LF that opens the next step: it
  // then goes out as it is, and that LF with it (carry).
  unsigned carry = 0;
  for (; in + SSE2_STEP <= n; in += SSE2_STEP) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + in));
    unsigned crs =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, cr)));
    unsigned lfs =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)));
    unsigned want_lf = (crs << 1) | carry;
    bool last_cr = (want_lf >> SSE2_STEP) != 0;
    bool paired = (want_lf & SSE2_LANES) == lfs &&
                  (!last_cr || (in + SSE2_STEP < n && src[in + SSE2_STEP] == LF));
    if (!paired) {
      if (carry != 0)
        dst[out++] = LF;
      out += convert_bytes(dst + out, src + in + carry, SSE2_STEP - carry, to);
      carry = 0;
      continue;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + out),
                     map_letters_sse2(v, to));
    out += SSE2_STEP;
    carry = last_cr ? 1 : 0;
  }
  if (carry != 0) {
    dst[out++] = LF;
    in++;
  }
  *done = in;
  return out;
}
#endif

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
#if defined(__SSE2__)
  out = convert_sse2(dst, src, n, to, &done);
#endif
  return out + convert_bytes(dst + out, src + done, n - done, to);
}

} // namespace morvidex

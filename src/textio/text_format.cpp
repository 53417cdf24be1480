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

#if defined(__i386__) || defined(__x86_64__)
#define MORVIDEX_X86_VECTORS 1

// The vector steps take the text a group of GROUP bytes at a time.  A
// group is paired when each of its CRs is directly followed by an LF and
// each of its LFs directly preceded by a CR, the byte after the group
// counted: dropping each CR and writing its LF as CR LF then gives the
// same pair, so the group goes out as it came in, letters mapped.  Any
// other group goes a lane step at a time through place_lanes.  carry is 1
// when the group before was paired and ended in a CR: the LF that opens
// this group is its pair, owed but not to be expanded again.
constexpr std::size_t GROUP = 128;

// Whether a group whose CRs and LFs pair up inside it also opens right:
// with an LF exactly when a carried CR owes one.
bool opens_paired(const unsigned char *group, unsigned carry) {
  return (group[0] == LF) == (carry != 0);
}

// Writes one step of Width lanes by the byte rules, the letters already
// mapped in lanes[0..Width): lanes marked in crs are dropped, lanes marked
// in lfs written as CR LF, and the first `skip` lanes (0 or 1) are already
// written.  Each run between marks goes out as one Width-byte copy, so
// lanes[Width..2 Width) must be readable and dst needs room for 3 Width
// bytes; only the count returned is the step's.
template <std::size_t Width>
std::size_t place_lanes(unsigned char *dst, const unsigned char *lanes,
                        std::uint32_t crs, std::uint32_t lfs, unsigned skip) {
  std::uint32_t marks = (crs | lfs) & ~std::uint32_t{skip};
  std::size_t out = 0;
  std::size_t from = skip;
  while (marks != 0) {
    auto lane = static_cast<std::size_t>(__builtin_ctz(marks));
    std::memcpy(dst + out, lanes + from, Width);
    out += lane - from;
    if ((lfs >> lane) & 1) {
      dst[out++] = CR;
      dst[out++] = LF;
    }
    from = lane + 1;
    marks &= marks - 1;
  }
  std::memcpy(dst + out, lanes + from, Width);
  return out + Width - from;
}

// Letters land below the signed limit after the shift; their case bit
// flips.  The constants for a step to `to`.
char letter_shift(letter_case to) {
  return static_cast<char>(to == TO_LOWER ? 0x80 - 'A' : 0x80 - 'a');
}
constexpr char LETTER_LIMIT = static_cast<char>(0x80 + 26);
constexpr char CASE_BIT = 0x20;

// The instructions of one vector unit, for the steps below: a step is
// WIDTH lanes; eq and less give all ones in the lanes where they hold; mask
// takes each lane's top bit, none tells whether a vector is all zeros.
// Each is a static wrapper compiled for its unit and always inlined, so it
// only builds into steps compiled for the same unit.
#define MORVIDEX_SSE2 __attribute__((target("sse2"), always_inline)) static
#define MORVIDEX_AVX2 __attribute__((target("avx2"), always_inline)) static

struct sse2_ops {
  using vec = __m128i;
  static constexpr std::size_t WIDTH = 16;
  MORVIDEX_SSE2 vec load(const unsigned char *p) {
    return _mm_loadu_si128(reinterpret_cast<const vec *>(p));
  }
  MORVIDEX_SSE2 void store(unsigned char *p, vec v) {
    _mm_storeu_si128(reinterpret_cast<vec *>(p), v);
  }
  MORVIDEX_SSE2 vec splat(char c) { return _mm_set1_epi8(c); }
  MORVIDEX_SSE2 vec add(vec a, vec b) { return _mm_add_epi8(a, b); }
  MORVIDEX_SSE2 vec eq(vec a, vec b) { return _mm_cmpeq_epi8(a, b); }
  MORVIDEX_SSE2 vec less(vec a, vec b) { return _mm_cmplt_epi8(a, b); }
  MORVIDEX_SSE2 vec bit_and(vec a, vec b) { return _mm_and_si128(a, b); }
  MORVIDEX_SSE2 vec bit_or(vec a, vec b) { return _mm_or_si128(a, b); }
  MORVIDEX_SSE2 vec bit_xor(vec a, vec b) { return _mm_xor_si128(a, b); }
  MORVIDEX_SSE2 std::uint32_t mask(vec v) {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(v));
  }
  MORVIDEX_SSE2 bool none(vec v) { return _mm_movemask_epi8(v) == 0; }
};

struct avx2_ops {
  using vec = __m256i;
  static constexpr std::size_t WIDTH = 32;
  MORVIDEX_AVX2 vec load(const unsigned char *p) {
    return _mm256_loadu_si256(reinterpret_cast<const vec *>(p));
  }
  MORVIDEX_AVX2 void store(unsigned char *p, vec v) {
    _mm256_storeu_si256(reinterpret_cast<vec *>(p), v);
  }
  MORVIDEX_AVX2 vec splat(char c) { return _mm256_set1_epi8(c); }
  MORVIDEX_AVX2 vec add(vec a, vec b) { return _mm256_add_epi8(a, b); }
  MORVIDEX_AVX2 vec eq(vec a, vec b) { return _mm256_cmpeq_epi8(a, b); }
  MORVIDEX_AVX2 vec less(vec a, vec b) { return _mm256_cmpgt_epi8(b, a); }
  MORVIDEX_AVX2 vec bit_and(vec a, vec b) { return _mm256_and_si256(a, b); }
  MORVIDEX_AVX2 vec bit_or(vec a, vec b) { return _mm256_or_si256(a, b); }
  MORVIDEX_AVX2 vec bit_xor(vec a, vec b) { return _mm256_xor_si256(a, b); }
  MORVIDEX_AVX2 std::uint32_t mask(vec v) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
  }
  MORVIDEX_AVX2 bool none(vec v) { return _mm256_testz_si256(v, v); }
};

// A step with its letters mapped, shift being letter_shift in every lane.
template <class Ops>
typename Ops::vec map_step(typename Ops::vec v, typename Ops::vec shift) {
  auto letters = Ops::less(Ops::add(v, shift), Ops::splat(LETTER_LIMIT));
  return Ops::bit_xor(v, Ops::bit_and(letters, Ops::splat(CASE_BIT)));
}

// One step by the byte rules, from its raw lanes; the first `skip` lanes
// are already written.  Writes up to 3 steps' bytes; lanes is place_lanes'
// room of 2 steps.  Inlined into both loops below, like the wrappers.
template <class Ops>
__attribute__((always_inline)) inline std::size_t
place_step(unsigned char *dst, typename Ops::vec raw, typename Ops::vec shift,
           unsigned skip, unsigned char *lanes) {
  auto crs = Ops::mask(Ops::eq(raw, Ops::splat(static_cast<char>(CR))));
  auto lfs = Ops::mask(Ops::eq(raw, Ops::splat(static_cast<char>(LF))));
  Ops::store(lanes, map_step<Ops>(raw, shift));
  return place_lanes<Ops::WIDTH>(dst, lanes, crs, lfs, skip);
}

// Whole groups of src[0..n), then whole lane steps, for as long as room
// remains for what place_lanes writes past its count and, for a group, the
// byte after it that its pairing looks at; *done is the count of source
// bytes taken, the result the count written.
template <class Ops>
std::size_t convert_steps(unsigned char *dst, const unsigned char *src,
                          std::size_t n, letter_case to, std::size_t *done) {
  constexpr std::size_t STEP = Ops::WIDTH;
  const auto cr = Ops::splat(static_cast<char>(CR));
  const auto lf = Ops::splat(static_cast<char>(LF));
  const auto shift = Ops::splat(letter_shift(to));
  unsigned char lanes[2 * STEP] = {};
  std::size_t in = 0, out = 0;
  unsigned carry = 0;
  for (; in + GROUP + STEP <= n; in += GROUP) {
    const unsigned char *group = src + in;
    typename Ops::vec v[GROUP / STEP];
    auto odd = Ops::splat(0);
    for (std::size_t k = 0; k < GROUP / STEP; k++) {
      v[k] = Ops::load(group + k * STEP);
      auto after = Ops::load(group + k * STEP + 1);
      odd =
          Ops::bit_or(odd, Ops::bit_xor(Ops::eq(v[k], cr), Ops::eq(after, lf)));
    }
    if (Ops::none(odd) && opens_paired(group, carry)) {
      for (std::size_t k = 0; k < GROUP / STEP; k++)
        Ops::store(dst + out + k * STEP, map_step<Ops>(v[k], shift));
      out += GROUP;
      carry = group[GROUP - 1] == CR ? 1 : 0;
      continue;
    }
    if (carry != 0)
      dst[out++] = LF;
    for (std::size_t k = 0; k < GROUP / STEP; k++)
      out += place_step<Ops>(dst + out, v[k], shift, k == 0 ? carry : 0, lanes);
    carry = 0;
  }
  // The rest a step at a time while place_step has room.
  if (carry != 0)
    dst[out++] = LF;
  in += carry;
  for (; in + 2 * STEP <= n; in += STEP)
    out += place_step<Ops>(dst + out, Ops::load(src + in), shift, 0, lanes);
  *done = in;
  return out;
}

// A template cannot take its target from its parameters, so each unit's
// instances are declared here, before their first use, with that unit's
// target: its wrappers inline into them, and the SSE2 ones hold no AVX2
// instruction.
template __attribute__((target("sse2")))
__m128i map_step<sse2_ops>(__m128i, __m128i);
template __attribute__((target("sse2"))) std::size_t
place_step<sse2_ops>(unsigned char *, __m128i, __m128i, unsigned,
                     unsigned char *);
template __attribute__((target("sse2"))) std::size_t
convert_steps<sse2_ops>(unsigned char *, const unsigned char *, std::size_t,
                        letter_case, std::size_t *);
template __attribute__((target("avx2")))
__m256i map_step<avx2_ops>(__m256i, __m256i);
template __attribute__((target("avx2"))) std::size_t
place_step<avx2_ops>(unsigned char *, __m256i, __m256i, unsigned,
                     unsigned char *);
template __attribute__((target("avx2"))) std::size_t
convert_steps<avx2_ops>(unsigned char *, const unsigned char *, std::size_t,
                        letter_case, std::size_t *);

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
    out = convert_steps<avx2_ops>(dst, src, n, to, &done);
  else if (active_unit == UNIT_SSE2)
    out = convert_steps<sse2_ops>(dst, src, n, to, &done);
#endif
  return out + convert_bytes(dst + out, src + done, n - done, to);
}

vector_unit best_vector_unit() { return BEST_UNIT; }

void use_vector_unit(vector_unit unit) {
  active_unit = unit < BEST_UNIT ? unit : BEST_UNIT;
}

} // namespace morvidex

#include "extract/text/compact.h"

#include <cstring>

#include "extract/text/walk.h"
#include "platform/cpu.h"
#include "platform/splat.h"

#if defined(__SSE2__)
#include <emmintrin.h>
// The AVX2 walk where the processor has it, chosen when the program runs;
// KURIBO_NO_AVX2 leaves it out, so that the SSE2 one can be tried anywhere.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && !defined(KURIBO_NO_AVX2)
#define KURIBO_AVX2 1
#include <immintrin.h>
#else
#define KURIBO_AVX2 0
#endif
#endif

namespace kuribo {
namespace {

constexpr int32_t kInputLimit = 1'000'000;
constexpr int32_t kStopAbove = 999'998;

#if defined(__SSE2__)

// Bit i set where lo <= b[i] <= hi (unsigned).
inline __m128i InRange(__m128i v, unsigned char lo, unsigned char hi) {
  const __m128i d = _mm_sub_epi8(v, _mm_set1_epi8((char)lo));
  return _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8((char)(hi - lo))), d);
}

inline uint64_t Bits(__m128i a, __m128i b, __m128i c, __m128i d) {
  return (uint64_t)(uint32_t)_mm_movemask_epi8(a) | (uint64_t)(uint32_t)_mm_movemask_epi8(b) << 16 |
         (uint64_t)(uint32_t)_mm_movemask_epi8(c) << 32 |
         (uint64_t)(uint32_t)_mm_movemask_epi8(d) << 48;
}

struct Classes {
  uint64_t lead = 0;     // 0x81-0x9F, 0xE0-0xFC
  uint64_t text = 0;     // printable single bytes other than the space
  uint64_t fwPair = 0;   // 0x81 followed by 0x40
  uint64_t is20 = 0;
  uint64_t special = 0;  // '<' in HTML, ',' in CSV
  uint64_t close = 0;    // '>' in HTML
  // Where known (the AVX2 classes), for telling a block the walk leaves as it
  // is: control bytes, the space, 0x7F and 0xFD-0xFF; 0x80 and 0xA0, text
  // only as trail bytes.
  uint64_t control = ~0ULL;
  uint64_t loose = 0;
};

// The classes of the 64 bytes from b; b[64] is read too.
template <walk::Mode mode>
inline Classes Classify(const unsigned char* b) {
  __m128i lead[4], text[4], fw[4], e20[4], sp[4], gt[4];
  for (int k = 0; k < 4; ++k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16 * k));
    const __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16 * k + 1));
    lead[k] = _mm_or_si128(InRange(v, 0x81, 0x9F), InRange(v, 0xE0, 0xFC));
    text[k] = _mm_or_si128(InRange(v, 0x21, 0x7E), InRange(v, 0xA1, 0xDF));
    fw[k] = _mm_and_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8((char)0x81)), _mm_cmpeq_epi8(after, _mm_set1_epi8(0x40)));
    e20[k] = _mm_cmpeq_epi8(v, _mm_set1_epi8(0x20));
    if constexpr (mode != walk::Mode::kCompact) {
      sp[k] = _mm_cmpeq_epi8(v, _mm_set1_epi8(mode == walk::Mode::kHtml ? '<' : ','));
    }
    if constexpr (mode == walk::Mode::kHtml) gt[k] = _mm_cmpeq_epi8(v, _mm_set1_epi8('>'));
  }
  Classes c;
  c.lead = Bits(lead[0], lead[1], lead[2], lead[3]);
  c.text = Bits(text[0], text[1], text[2], text[3]);
  c.fwPair = Bits(fw[0], fw[1], fw[2], fw[3]);
  c.is20 = Bits(e20[0], e20[1], e20[2], e20[3]);
  if constexpr (mode != walk::Mode::kCompact) c.special = Bits(sp[0], sp[1], sp[2], sp[3]);
  if constexpr (mode == walk::Mode::kHtml) c.close = Bits(gt[0], gt[1], gt[2], gt[3]);
  return c;
}

struct Sse2 {
  static constexpr bool kCompress = false;
  template <walk::Mode mode>
  Classes Of(const unsigned char* b) const {
    return Classify<mode>(b);
  }
};

#if KURIBO_AVX2
// For each 8-bit mask the positions of its bits, lowest first.
struct CompressTable {
  alignas(8) unsigned char at[256][8];
  constexpr CompressTable() : at() {
    for (int m = 0; m < 256; ++m) {
      int n = 0;
      for (int i = 0; i < 8; ++i) {
        if (m >> i & 1) at[m][n++] = (unsigned char)i;
      }
    }
  }
};
constexpr CompressTable kCompressTable;

// Bytes of 0xFF where the 32 bits of m are set.
__attribute__((target("avx2"))) inline __m256i ByteMask(uint32_t m) {
  const __m256i spread = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2,
                                          3, 3, 3, 3, 3, 3, 3, 3);
  const __m256i bit = _mm256_set1_epi64x((long long)0x8040201008040201ULL);
  const __m256i v = _mm256_shuffle_epi8(_mm256_set1_epi32((int)m), spread);
  return _mm256_cmpeq_epi8(_mm256_and_si256(v, bit), bit);
}

__attribute__((target("avx2"))) inline uint64_t MaskBits(__m256i m) { return (uint32_t)_mm256_movemask_epi8(m); }

// The same classes from two 32-byte halves, and the kept bytes of a block
// packed eight at a time by byte shuffles.
struct Avx2 {
  static constexpr bool kCompress = true;

  // Writes the bytes of b[0, 64) kept, those blanked as spaces, to dst in
  // 8-byte stores that may run up to 8 bytes past them; returns their count.
  __attribute__((target("avx2,popcnt"))) static int32_t Compress(const unsigned char* b, uint64_t keep,
                                                                 uint64_t blank, unsigned char* dst) {
    const __m256i space = _mm256_set1_epi8(' ');
    const __m256i half[2] = {
        _mm256_blendv_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(b)), space, ByteMask((uint32_t)blank)),
        _mm256_blendv_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 32)), space,
                           ByteMask((uint32_t)(blank >> 32)))};
    const __m128i eight = _mm_set1_epi8(8);
    int32_t n = 0;
    for (int j = 0; j < 4; ++j) {
      const __m128i x = j & 1 ? _mm256_extracti128_si256(half[j >> 1], 1) : _mm256_castsi256_si128(half[j >> 1]);
      const unsigned lo = (unsigned)(keep >> (16 * j)) & 0xFF, hi = (unsigned)(keep >> (16 * j + 8)) & 0xFF;
      const __m128i ilo = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kCompressTable.at[lo]));
      const __m128i ihi = _mm_add_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(kCompressTable.at[hi])), eight);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + n), _mm_shuffle_epi8(x, ilo));
      n += __builtin_popcount(lo);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + n), _mm_shuffle_epi8(x, ihi));
      n += __builtin_popcount(hi);
    }
    return n;
  }

  template <walk::Mode mode>
  __attribute__((target("avx2"))) Classes Of(const unsigned char* b) const {
    const splat::Consts& k = consts;
    Classes c;
    c.control = 0;
    uint64_t loose = 0;
    for (int h = 0; h < 2; ++h) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 32 * h));
      const __m256i after = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 32 * h + 1));
      // Complements and wrapped ranges, so that the compares take their
      // constants from memory: 0xFD-0x20 is one range modulo 256.
      const __m256i notLead = _mm256_and_si256(k.Out(v, 0x81, 0x9F), k.Out(v, 0xE0, 0xFC));
      const __m256i ctl = _mm256_or_si256(_mm256_xor_si256(k.Out(v, 0xFD, 0x20), k.K(0xFF)), k.Is(v, 0x7F));
      const __m256i fw = _mm256_and_si256(k.Is(v, 0x81), k.Is(after, 0x40));
      const int at = 32 * h;
      c.lead |= (~MaskBits(notLead) & 0xFFFFFFFFu) << at;
      c.control |= MaskBits(ctl) << at;
      loose |= MaskBits(_mm256_or_si256(k.Is(v, 0x80), k.Is(v, 0xA0))) << at;
      c.fwPair |= MaskBits(fw) << at;
      c.is20 |= MaskBits(k.Is(v, 0x20)) << at;
      if constexpr (mode != walk::Mode::kCompact) {
        c.special |= MaskBits(k.Is(v, mode == walk::Mode::kHtml ? '<' : ',')) << at;
      }
      if constexpr (mode == walk::Mode::kHtml) c.close |= MaskBits(k.Is(v, '>')) << at;
    }
    c.loose = loose;
    c.text = ~c.lead & ~c.control & ~loose;
    return c;
  }

  splat::Consts consts;
};

#endif

// Trail positions of a 64-byte block that starts on a character: a lead-class
// byte at a character start takes the next byte with it whatever it is. This is
// the odd-run carry trick used for escape characters.
inline uint64_t TrailBits(uint64_t lead) {
  constexpr uint64_t kEven = 0x5555555555555555ULL;
  const uint64_t follows = lead << 1;
  const uint64_t oddStarts = lead & ~kEven & ~follows;
  const uint64_t evenSeq = oddStarts + lead;
  return (kEven ^ (evenSeq << 1)) & follows;
}

// Bits 0..i.
inline uint64_t UpTo(int i) { return (2ULL << i) - 1; }

// Walks 64-byte blocks of s while the whole block lies below `limit` (with the
// byte after it still inside the text) and, in kCompact mode, cannot reach the
// emission stop, writing from p[w] (p may be s itself). Every block is 64
// bytes; a pair across its end is carried into the next, and finished when
// the walk ends there. A tag closed inside the block is skipped there; one
// running past the block is skipped by memchr. Commas are settled in the block
// too: a comma is kept after something emitted, and leaves the space state as
// it found it.
// Inlined into one function per instruction set, with the classes made by Isa.
template <walk::Mode mode, class Isa>
[[gnu::always_inline]] inline void BlocksWith(const unsigned char* s, unsigned char* p, int32_t& rr, int32_t& ww,
                                              int32_t limit, int32_t length) {
  const Isa isa;
  int32_t r = rr, w = ww;
  alignas(16) unsigned char out[64];
  // Whether the last byte emitted is a space (or nothing was), carried from
  // block to block in a register: reading it back from the output would make
  // every block wait for the stores of the one before.
  uint64_t carry = (w == 0 || p[w - 1] == ' ') ? 1 : 0;
  // A pair begun at the last byte of the block before: its trail is byte 0
  // here (inTrail), and whether it is a full-width space (inFw). Carried so
  // that every block is 64 bytes and the next block's loads need not wait for
  // this one's masks.
  uint64_t inTrail = 0, inFw = 0;
  while (r + 64 < limit && (mode != walk::Mode::kCompact || w + 64 <= kStopAbove)) {
    const Classes c = isa.template Of<mode>(s + r);
    uint64_t trail = TrailBits(c.lead & ~inTrail) | inTrail;
    if ((c.control | c.fwPair | c.special | c.close | (c.loose & ~trail) | inFw) == 0) {
      // Most blocks of text hold nothing the walk changes: copied whole, or
      // left where they are.
      if (w != r || s != p) {
        __m128i v[4];
        for (int k = 0; k < 4; ++k) v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + r + 16 * k));
        for (int k = 0; k < 4; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(p + w + 16 * k), v[k]);
      }
      carry = 0;  // the block holds no space
      inTrail = (c.lead & ~trail) >> 63;
      w += 64;
      r += 64;
      continue;
    }
    uint64_t tag = 0, open = 0;  // every byte of a tag; its '<'
    int32_t next = -1;           // where the walk goes on after a tag left open
    if (mode == walk::Mode::kHtml && c.special) {
      // The character positions hold after a tag whatever it holds: its '>'
      // is no lead byte, so the byte after it starts a character either way.
      // Where the block's '<' and '>' alternate, '<' first, the tags are the
      // difference of the two masks (a last '<' left open borrows up to the
      // top); otherwise they go one by one.
      const uint64_t lt = c.special & ~trail;
      const uint64_t inside = c.close - lt;
      if ((inside & ~(inside << 1)) == lt && (~inside & (inside << 1)) == c.close) {
        tag = inside | c.close;
        open = lt;
      } else {
        for (uint64_t at = lt; at;) {
          const int t = __builtin_ctzll(at);
          open |= 1ULL << t;
          const uint64_t gt = c.close & ~UpTo(t);
          if (!gt) {
            tag |= ~0ULL << t;
            break;
          }
          const int g = __builtin_ctzll(gt);
          tag |= UpTo(g) & (~0ULL << t);
          at &= ~UpTo(g);
        }
      }
      trail &= ~tag;
      if (tag >> 63 && !(c.close >> 63)) {
        // A tag left open at the end of the block: its '>' lies beyond.
        const int32_t at = r + 64;
        const void* close = std::memchr(s + at, '>', (size_t)(length - at));
        next = close ? (int32_t)(static_cast<const unsigned char*>(close) - s) + 1 : length;
      }
    }
    const uint64_t start = ~trail & ~tag;
    const uint64_t leadStart = c.lead & start;
    const uint64_t spaceLike = (start & ~c.lead & ~c.text) | open;  // space, non-text byte or tag
    const uint64_t fw = leadStart & c.fwPair;
    const uint64_t fwTrail = fw << 1 | inFw;
    // After byte i the last emitted byte is a space (or nothing was emitted).
    uint64_t endsSpace = spaceLike | fw | fwTrail | (trail & c.is20) | tag;
    uint64_t drop = tag & ~open;
    if constexpr (mode == walk::Mode::kCsv) {
      // A run of commas takes the space state from the byte before it: the
      // carry of adding that state at the run's first comma clears the run.
      const uint64_t comma = c.special & start;
      const uint64_t seed = ((endsSpace << 1) | carry) & comma;
      const uint64_t dropped = comma & ~(comma + seed);
      endsSpace |= dropped;
      drop |= dropped;
    }
    const uint64_t prevSpace = (endsSpace << 1) | carry;
    drop |= ((spaceLike | fw) & prevSpace) | fwTrail;
    const uint64_t keep = ~drop;
    const uint64_t blank = ((spaceLike & ~c.is20) | fw) & keep;
    if (keep) carry = ((blank | c.is20) >> (63 - __builtin_clzll(keep))) & 1;
    inTrail = leadStart >> 63;
    inFw = fw >> 63;

    if (keep == ~0ULL && blank == 0 && w == r && s == p) {
      w += 64;  // nothing changes and nothing has moved yet
    } else if (keep == ~0ULL && blank == 0) {
      __m128i v[4];
      for (int k = 0; k < 4; ++k) v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + r + 16 * k));
      for (int k = 0; k < 4; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(p + w + 16 * k), v[k]);
      w += 64;
    } else if ((s == p ? w + 16 <= r : w + 80 <= limit) && (Isa::kCompress || r + 80 <= length)) {
      // The stores may run past the bytes kept. In place that needs the
      // output 16 bytes behind the block, so that every store ends before the
      // bytes still to be read; into another buffer, 16 bytes short of the
      // limit after the block.
      if constexpr (Isa::kCompress) {
        w += Isa::Compress(s + r, keep, blank, p + w);
      } else {
        // Each run of kept bytes in 16-byte copies from the text, its blanked
        // bytes then set.
        for (uint64_t m = keep; m;) {
          const int a = __builtin_ctzll(m);
          const uint64_t rest = m | ~(~0ULL << a);
          const int b = ~rest ? __builtin_ctzll(~rest) : 64;
          for (int k = a; k < b; k += 16) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p + w + (k - a)),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + r + k)));
          }
          const uint64_t run = b == 64 ? m : m & ~(~0ULL << b);
          for (uint64_t z = blank & run; z; z &= z - 1) p[w + __builtin_ctzll(z) - a] = ' ';
          w += b - a;
          m &= ~run;
        }
      }
    } else {
      // Byte by byte: a dropped byte is stored at p[w] and overwritten by the
      // next kept one; p[w] lies at or below the byte read.
      std::memcpy(out, s + r, 64);
      for (uint64_t m = blank; m; m &= m - 1) out[__builtin_ctzll(m)] = ' ';
      for (int i = 0; i < 64; ++i) {
        p[w] = out[i];
        w += (int32_t)((keep >> i) & 1);
      }
    }
    r = next >= 0 ? next : r + 64;
  }
  if (inTrail) {
    // The pair begun in the last block is finished here: its lead may lie
    // under the output already, so it is not read again. A full-width space
    // has been walked with its lead; any other trail is kept.
    if (!inFw) p[w++] = s[r];
    ++r;
    if (mode == walk::Mode::kCompact && w > kStopAbove) r = limit;  // the byte walk stops after the pair too
  }
  rr = r;
  ww = w;
}

template <walk::Mode mode>
void BlocksSse2(const unsigned char* s, unsigned char* p, int32_t& r, int32_t& w, int32_t limit, int32_t length) {
  BlocksWith<mode, Sse2>(s, p, r, w, limit, length);
}

#if KURIBO_AVX2
template <walk::Mode mode>
__attribute__((target("avx2,popcnt"))) void BlocksAvx2(const unsigned char* s, unsigned char* p, int32_t& r, int32_t& w,
                                                int32_t limit, int32_t length) {
  BlocksWith<mode, Avx2>(s, p, r, w, limit, length);
}
#endif

template <walk::Mode mode>
void Blocks(const unsigned char* s, unsigned char* p, int32_t& r, int32_t& w, int32_t limit, int32_t length) {
#if KURIBO_AVX2
  if (UseWideVectors()) return BlocksAvx2<mode>(s, p, r, w, limit, length);
#endif
  BlocksSse2<mode>(s, p, r, w, limit, length);
}

#endif

}  // namespace

int32_t CompactText(char* buf, int32_t length) {
  if (length <= 0) return 0;
  const int32_t limit = length < kInputLimit ? length : kInputLimit;
  unsigned char* p = reinterpret_cast<unsigned char*>(buf);
  int32_t r = 0, w = 0;
#if defined(__SSE2__)
  Blocks<walk::Mode::kCompact>(p, p, r, w, limit, length);
#endif
  return walk::Walk<walk::Mode::kCompact>(p, r, w, limit, length);
}

namespace walk {

template <Mode mode>
int32_t FastWalk(const unsigned char* s, unsigned char* p, int32_t limit, int32_t length) {
  static_assert(mode != Mode::kCompact, "the compaction has its own emission stop");
  int32_t r = 0, w = 0;
#if defined(__SSE2__)
  Blocks<mode>(s, p, r, w, limit, length);
#endif
  return Walk<mode>(s, p, r, w, limit, length);
}

template int32_t FastWalk<Mode::kHtml>(const unsigned char*, unsigned char*, int32_t, int32_t);
template int32_t FastWalk<Mode::kCsv>(const unsigned char*, unsigned char*, int32_t, int32_t);

}  // namespace walk

}  // namespace kuribo

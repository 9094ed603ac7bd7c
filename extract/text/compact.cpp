#include "extract/text/compact.h"

#include <cstring>

#include "extract/text/walk.h"

#if defined(__SSE2__)
#include <emmintrin.h>
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
  uint64_t lead = 0;    // 0x81-0x9F, 0xE0-0xFC
  uint64_t text = 0;    // printable single bytes other than the space
  uint64_t is81 = 0;
  uint64_t is40 = 0;
  uint64_t is20 = 0;
  uint64_t special = 0;  // '<' in HTML, ',' in CSV
};

template <walk::Mode mode>
inline Classes Classify(const __m128i v[4]) {
  __m128i lead[4], text[4], e81[4], e40[4], e20[4], sp[4];
  for (int k = 0; k < 4; ++k) {
    lead[k] = _mm_or_si128(InRange(v[k], 0x81, 0x9F), InRange(v[k], 0xE0, 0xFC));
    text[k] = _mm_or_si128(InRange(v[k], 0x21, 0x7E), InRange(v[k], 0xA1, 0xDF));
    e81[k] = _mm_cmpeq_epi8(v[k], _mm_set1_epi8((char)0x81));
    e40[k] = _mm_cmpeq_epi8(v[k], _mm_set1_epi8(0x40));
    e20[k] = _mm_cmpeq_epi8(v[k], _mm_set1_epi8(0x20));
    if constexpr (mode != walk::Mode::kCompact) {
      sp[k] = _mm_cmpeq_epi8(v[k], _mm_set1_epi8(mode == walk::Mode::kHtml ? '<' : ','));
    }
  }
  Classes c;
  c.lead = Bits(lead[0], lead[1], lead[2], lead[3]);
  c.text = Bits(text[0], text[1], text[2], text[3]);
  c.is81 = Bits(e81[0], e81[1], e81[2], e81[3]);
  c.is40 = Bits(e40[0], e40[1], e40[2], e40[3]);
  c.is20 = Bits(e20[0], e20[1], e20[2], e20[3]);
  if constexpr (mode != walk::Mode::kCompact) c.special = Bits(sp[0], sp[1], sp[2], sp[3]);
  return c;
}

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

// Compacts 64-byte blocks of s while the whole block lies below `limit` (with
// the byte after it still inside the text) and cannot reach the emission stop,
// writing from p[w] (p may be s itself). Each block ends on a character
// boundary: a lead byte at its last position is left for the next block. In
// the HTML and CSV walks a block with a tag, or with a comma that the space
// rule would drop, is left to the byte walk: the blocks stop before it.
template <walk::Mode mode>
void CompactBlocks(const unsigned char* s, unsigned char* p, int32_t& rr, int32_t& ww, int32_t limit) {
  int32_t r = rr, w = ww;
  alignas(16) unsigned char out[64];
  while (r + 64 < limit && w + 64 <= kStopAbove) {
    __m128i v[4];
    for (int k = 0; k < 4; ++k) v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + r + 16 * k));
    const Classes c = Classify<mode>(v);
    const uint64_t trail = TrailBits(c.lead);
    const uint64_t start = ~trail;
    const uint64_t leadStart = c.lead & start;
    uint64_t valid = ~0ULL;
    int32_t consumed = 64;
    if (leadStart >> 63) {
      valid >>= 1;
      consumed = 63;
    }
    const uint64_t spaceLike = start & ~c.lead & ~c.text;  // space or non-text byte
    const uint64_t fw = leadStart & c.is81 & (c.is40 >> 1);
    const uint64_t fwTrail = fw << 1;
    // After byte i the last emitted byte is a space (or nothing was emitted).
    const uint64_t endsSpace = spaceLike | fw | fwTrail | (trail & c.is20);
    const uint64_t carry = (w == 0 || p[w - 1] == ' ') ? 1 : 0;
    const uint64_t prevSpace = (endsSpace << 1) | carry;
    if constexpr (mode != walk::Mode::kCompact) {
      // The block is taken up to its first tag, or its first comma that the
      // space rule drops (a comma after something emitted is kept like a
      // letter); the byte walk takes that one.
      uint64_t stop = c.special & start & valid;
      if constexpr (mode == walk::Mode::kCsv) stop &= prevSpace;
      if (stop) {
        const int at = __builtin_ctzll(stop);
        if (at == 0) break;
        valid = (1ULL << at) - 1;
        consumed = at;
      }
    }
    const uint64_t drop = ((spaceLike | fw) & prevSpace) | fwTrail;
    const uint64_t keep = ~drop & valid;
    const uint64_t blank = ((spaceLike & ~c.is20) | fw) & keep;

    if (keep == valid && blank == 0 && w == r && s == p) {
      w += consumed;  // nothing changes and nothing has moved yet
    } else {
      // Bytes to emit at their input positions, the blanked ones as spaces.
      for (int k = 0; k < 4; ++k) _mm_store_si128(reinterpret_cast<__m128i*>(out + 16 * k), v[k]);
      for (uint64_t m = blank; m; m &= m - 1) out[__builtin_ctzll(m)] = ' ';
      if (keep == ~0ULL) {
        std::memcpy(p + w, out, 64);
        w += 64;
      } else {
        for (int g = 0; g < 64; g += 16) {
          const unsigned gk = (unsigned)(keep >> g) & 0xFFFF;
          if (gk == 0xFFFF) {
            std::memcpy(p + w, out + g, 16);
            w += 16;
          } else {
            for (int i = 0; i < 16; ++i) {
              p[w] = out[g + i];
              w += (gk >> i) & 1;
            }
          }
        }
      }
      // The group loop also stores each dropped byte at p[w]; where that is
      // the first byte not consumed (nothing moved yet), it gets its own back.
      if (s == p && w == r + consumed && consumed < 64) p[w] = out[consumed];
    }
    r += consumed;
  }
  rr = r;
  ww = w;
}

// The HTML walk in 64-byte blocks with its tags skipped inside the block: after
// a tag the rest of the block goes on from the classes already made, so a tag
// costs a memchr, not another block. The same result as Walk from the start; s
// may be p itself. Stops where fewer than 65 bytes are left below `limit`.
void HtmlBlocks(const unsigned char* s, unsigned char* p, int32_t& rr, int32_t& ww, int32_t limit,
                int32_t length) {
  int32_t r = rr, w = ww;
  alignas(16) unsigned char out[64];
  while (r + 64 < limit) {
    __m128i v[4];
    for (int k = 0; k < 4; ++k) v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + r + 16 * k));
    const Classes all = Classify<walk::Mode::kHtml>(v);
    bool stored = false;
    int q = 0;  // where the current character starts in the block
    for (;;) {
      const int avail = 64 - q;
      const uint64_t availMask = avail == 64 ? ~0ULL : (1ULL << avail) - 1;
      const uint64_t lead = all.lead >> q, text = all.text >> q;
      const uint64_t is81 = all.is81 >> q, is40 = all.is40 >> q, is20 = all.is20 >> q;
      const uint64_t trail = TrailBits(lead) & availMask;
      const uint64_t start = ~trail & availMask;
      const uint64_t leadStart = lead & start;
      uint64_t valid = availMask;
      int consumed = avail;
      if ((leadStart >> (avail - 1)) & 1) {
        valid >>= 1;
        consumed = avail - 1;
      }
      const uint64_t spaceLike = start & ~lead & ~text;
      const uint64_t fw = leadStart & is81 & (is40 >> 1);
      const uint64_t fwTrail = fw << 1;
      const uint64_t endsSpace = spaceLike | fw | fwTrail | (trail & is20);
      const uint64_t carry = (w == 0 || p[w - 1] == ' ') ? 1 : 0;
      const uint64_t prevSpace = (endsSpace << 1) | carry;
      const uint64_t stop = (all.special >> q) & start & valid;
      if (stop) {
        consumed = __builtin_ctzll(stop);
        valid = consumed == 0 ? 0 : (1ULL << consumed) - 1;
      }
      const uint64_t drop = ((spaceLike | fw) & prevSpace) | fwTrail;
      const uint64_t keep = ~drop & valid;
      const uint64_t blank = ((spaceLike & ~is20) | fw) & keep;
      if (keep == valid && blank == 0 && w == r + q && s == p) {
        w += consumed;  // nothing changes and nothing has moved yet
      } else if (keep) {
        if (!stored) {
          for (int k = 0; k < 4; ++k) _mm_store_si128(reinterpret_cast<__m128i*>(out + 16 * k), v[k]);
          stored = true;
        }
        unsigned char* src = out + q;
        for (uint64_t m = blank; m; m &= m - 1) src[__builtin_ctzll(m)] = ' ';
        // A dropped byte is stored at p[w] and overwritten by the next kept
        // one; the last such store lies below the bytes consumed.
        for (int g = 0; g < consumed; g += 16) {
          const int len = consumed - g < 16 ? consumed - g : 16;
          const unsigned gk = (unsigned)(keep >> g) & 0xFFFF;
          if (len == 16 && gk == 0xFFFF) {
            std::memcpy(p + w, src + g, 16);
            w += 16;
          } else {
            for (int i = 0; i < len; ++i) {
              p[w] = src[g + i];
              w += (gk >> i) & 1;
            }
          }
        }
      }
      if (!stop) {
        r += q + consumed;
        break;
      }
      // The tag: up to its '>' (or the end of the text), as one space.
      const int32_t at = r + q + consumed;
      const void* close = std::memchr(s + at, '>', (size_t)(length - at));
      const int32_t next = close ? (int32_t)(static_cast<const unsigned char*>(close) - s) + 1 : length;
      if (w > 0 && p[w - 1] != ' ') p[w++] = ' ';
      if (next >= r + 64) {
        r = next;
        break;
      }
      q = next - r;
    }
  }
  rr = r;
  ww = w;
}

#endif

}  // namespace

int32_t CompactText(char* buf, int32_t length) {
  if (length <= 0) return 0;
  const int32_t limit = length < kInputLimit ? length : kInputLimit;
  unsigned char* p = reinterpret_cast<unsigned char*>(buf);
  int32_t r = 0, w = 0;
#if defined(__SSE2__)
  CompactBlocks<walk::Mode::kCompact>(p, p, r, w, limit);
#endif
  return walk::Walk<walk::Mode::kCompact>(p, r, w, limit, length);
}

namespace walk {

template <Mode mode>
int32_t FastWalk(const unsigned char* s, unsigned char* p, int32_t limit, int32_t length) {
  static_assert(mode != Mode::kCompact, "the compaction has its own emission stop");
  int32_t r = 0, w = 0;
#if defined(__SSE2__)
  for (;;) {
    if constexpr (mode == Mode::kHtml) {
      HtmlBlocks(s, p, r, w, limit, length);
    } else {
      CompactBlocks<mode>(s, p, r, w, limit);
    }
    if (r + 64 >= limit) break;
    // The tag or comma the blocks stopped at: byte by byte, then blocks again.
    w = Walk<mode>(s, p, r, w, r + 1, length);
  }
#endif
  return Walk<mode>(s, p, r, w, limit, length);
}

template int32_t FastWalk<Mode::kHtml>(const unsigned char*, unsigned char*, int32_t, int32_t);
template int32_t FastWalk<Mode::kCsv>(const unsigned char*, unsigned char*, int32_t, int32_t);

}  // namespace walk

}  // namespace kuribo

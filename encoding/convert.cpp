#include "encoding/convert.h"

#include <unistd.h>

#include <array>
#include <cstring>
#include <memory>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__) && defined(__SSE2__)
#include <immintrin.h>
#define KURIBO_AVX2_RUNS 1
#endif

#include "encoding/codepage_tables.h"
#include "encoding/sjis.h"
#include "platform/cpu.h"
#include "platform/splat.h"
#include "platform/fs.h"

namespace kuribo {
namespace {

constexpr unsigned char kEsc = 0x1B;
// Input is read and converted this many bytes at a time; detection looks at one
// such window from the first byte that is not ASCII.
constexpr size_t kChunk = 64 * 1024;

// ---------------------------------------------------------------------------
// Code tables

// Half-width katakana 0xA1-0xDF as full-width Shift_JIS codes.
constexpr uint16_t kFullWidthKana[63] = {
    0x8142, 0x8175, 0x8176, 0x8141, 0x8145, 0x8392, 0x8340, 0x8342, 0x8344, 0x8346, 0x8348,
    0x8383, 0x8385, 0x8387, 0x8362, 0x815B, 0x8341, 0x8343, 0x8345, 0x8347, 0x8349, 0x834A,
    0x834C, 0x834E, 0x8350, 0x8352, 0x8354, 0x8356, 0x8358, 0x835A, 0x835C, 0x835E, 0x8360,
    0x8363, 0x8365, 0x8367, 0x8369, 0x836A, 0x836B, 0x836C, 0x836D, 0x836E, 0x8371, 0x8374,
    0x8377, 0x837A, 0x837D, 0x837E, 0x8380, 0x8381, 0x8382, 0x8384, 0x8386, 0x8388, 0x8389,
    0x838A, 0x838B, 0x838C, 0x838D, 0x838F, 0x8393, 0x814A, 0x814B};

// ｶ-ﾄ and ﾊ-ﾎ take the voiced mark (the full-width code plus one), ﾊ-ﾎ also the
// semi-voiced mark (plus two); ｳ takes the voiced mark as ヴ.
bool TakesVoiced(unsigned k) { return k == 0xB3 || (k >= 0xB6 && k <= 0xC4) || (k >= 0xCA && k <= 0xCE); }
bool TakesSemiVoiced(unsigned k) { return k >= 0xCA && k <= 0xCE; }

// JIS X 0208 row/cell bytes (0x21-0x7E each) to the Shift_JIS code.
unsigned JisToSjis(unsigned j1, unsigned j2) {
  const unsigned s1 = ((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0);
  const unsigned s2 = (j1 & 1) ? j2 + (j2 <= 0x5F ? 0x1F : 0x20) : j2 + 0x7E;
  return s1 << 8 | s2;
}

// A two-byte code as the one code page 932 uses for its character (duplicates
// such as the NEC-selected rows fold onto one code, as keywords are converted);
// 0 when the code has no character.
// Built once for all codes, since every two-byte character of a legacy text
// passes here.
const uint16_t* CanonicalTable() {
  static const std::unique_ptr<uint16_t[]> table = [] {
    std::unique_ptr<uint16_t[]> t(new uint16_t[65536]());
    const int32_t* toU = Cp932ToUtf16Table();
    const int32_t* fromU = Utf16ToCp932Table();
    for (unsigned code = 0x100; code < 65536; ++code) {
      const int u = toU[code];
      if (u < 0) continue;
      const int c = fromU[u];
      t[code] = (uint16_t)(c >= 0x100 ? (unsigned)c : code);
    }
    return t;
  }();
  return table.get();
}

// Code page 932 codes by BMP code point in 16 bits (kNoForm where there is
// none): half the cache footprint of the 32-bit table the UTF-8 runs would
// otherwise read for every character.
constexpr uint16_t kNoForm = 0xFFFF;  // 0xFF is no lead byte
const uint16_t* NarrowFromUnicodeTable() {
  static const std::unique_ptr<uint16_t[]> table = [] {
    std::unique_ptr<uint16_t[]> t(new uint16_t[65536]);
    const int32_t* fromU = Utf16ToCp932Table();
    for (unsigned cp = 0; cp < 65536; ++cp) t[cp] = fromU[cp] < 0 ? kNoForm : (uint16_t)fromU[cp];
    return t;
  }();
  return table.get();
}

// Bit `code` set where CanonicalTable gives the code itself: 8 KiB that stay
// in the first-level cache, where the scattered kanji of a text would
// otherwise miss in the 128 KiB table; the table is read for the rest.
const uint64_t* SameCodeBits() {
  static const std::unique_ptr<uint64_t[]> bits = [] {
    std::unique_ptr<uint64_t[]> b(new uint64_t[65536 / 64]());
    const uint16_t* canonical = CanonicalTable();
    for (unsigned code = 0x100; code < 65536; ++code) {
      if (canonical[code] == code) b[code >> 6] |= 1ULL << (code & 63);
    }
    return b;
  }();
  return bits.get();
}

inline unsigned Canonical(const uint64_t* same, const uint16_t* canonical, unsigned code) {
  return (same[code >> 6] >> (code & 63)) & 1 ? code : canonical[code];
}

// JIS X 0212 (EUC-JP 0x8F rows, ISO-2022-JP-1) to code page 932 where it has a
// form (its IBM extension characters), from the generated iconv table.
class Jis0212Table {
 public:
  static unsigned Get(unsigned j1, unsigned j2) {
    static const std::unique_ptr<Jis0212Table> t = std::make_unique<Jis0212Table>();
    return t->codes_[(j1 - 0x21) * 94 + (j2 - 0x21)];
  }
  Jis0212Table() {
    codes_.fill(0);
    for (size_t i = 0; i < tables::kJis0212DecodeCount; ++i) {
      const int c = Utf16ToCp932((char16_t)tables::kJis0212Decode[2 * i + 1]);
      if (c >= 0x100) codes_[tables::kJis0212Decode[2 * i]] = (uint16_t)c;
    }
  }

 private:
  std::array<uint16_t, 94 * 94> codes_;
};

// ---------------------------------------------------------------------------
// Output: half-width katakana folding and the byte cap

class Output {
 public:
  explicit Output(char* out) : out_(out) {}

  // A Shift_JIS code: below 0x100 one byte, else lead << 8 | trail.
  void Code(unsigned code) {
    if (code >= 0x100 && !kana_ && n_ + 2 <= kConvertedTextCap) {
      out_[n_] = (char)(code >> 8);
      out_[n_ + 1] = (char)(code & 0xFF);
      n_ += 2;
      return;
    }
    Slow(code);
  }
  // A run of ASCII bytes, as Code on each of them.
  void Ascii(const unsigned char* p, size_t k) {
    if (k == 0) return;
    if (kana_) {
      Code(*p++);
      --k;
    }
    const size_t room = (size_t)(kConvertedTextCap - n_);
    if (k > room) k = room;
    std::memcpy(out_ + n_, p, k);
    n_ += (int32_t)k;
  }
  void Invalid() {}
  void NoForm(bool) {}
  void Sequence(unsigned) {}

  void Finish() {
    if (kana_) Two(kFullWidthKana[kana_ - 0xA1]);
    kana_ = 0;
  }
  bool Full() const { return n_ >= kConvertedTextCap; }
  int32_t Count() const { return n_; }

  // Direct writing for the decoders' run loops, while no half-width kana waits
  // for its mark: the next free byte, the end of the room, and the new count.
  bool Clear() const { return kana_ == 0; }
  unsigned char* Cursor() { return reinterpret_cast<unsigned char*>(out_) + n_; }
  unsigned char* End() { return reinterpret_cast<unsigned char*>(out_) + kConvertedTextCap; }
  void Advance(unsigned char* cursor) { n_ = (int32_t)(cursor - reinterpret_cast<unsigned char*>(out_)); }

 private:
  void Slow(unsigned code) {
    if (code >= 0x100 && !kana_) return Two(code);
    if (kana_) {
      const unsigned k = kana_;
      kana_ = 0;
      const unsigned full = kFullWidthKana[k - 0xA1];
      if (code == 0xDE && TakesVoiced(k)) return Two(k == 0xB3 ? 0x8394 : full + 1);
      if (code == 0xDF && TakesSemiVoiced(k)) return Two(full + 2);
      Two(full);
    }
    if (code >= 0xA1 && code <= 0xDF) {
      if (TakesVoiced(code)) {
        kana_ = code;  // wait for a mark that may follow
      } else {
        Two(kFullWidthKana[code - 0xA1]);
      }
    } else if (code < 0x100) {
      Byte(code);
    } else {
      Two(code);
    }
  }
  void Byte(unsigned b) {
    if (n_ < kConvertedTextCap) out_[n_++] = (char)b;
  }
  void Two(unsigned code) {
    if (n_ + 2 <= kConvertedTextCap) {
      out_[n_] = (char)(code >> 8);
      out_[n_ + 1] = (char)(code & 0xFF);
      n_ += 2;
      return;
    }
    Byte(code >> 8);
    Byte(code & 0xFF);
  }

  char* out_;
  int32_t n_ = 0;
  unsigned kana_ = 0;
};

// Length of the run of bytes below 0x80 at p[0, n).
inline size_t AsciiRun(const unsigned char* p, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16) {
    const unsigned m = (unsigned)_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
    if (m) return i + (size_t)__builtin_ctz(m);
  }
#endif
  while (i < n && p[i] < 0x80) ++i;
  return i;
}

#if defined(__SSE2__)
// SSE2 helpers for the run loops, which read 16 bytes (and the byte after them)
// at a time and keep to the byte loop wherever a window holds anything unusual.
namespace lanes {

// 0xFF in the lanes where lo <= b <= hi (unsigned): the range moved to the
// bottom of the signed bytes, one compare.
inline __m128i InRange(__m128i v, unsigned char lo, unsigned char hi) {
  const __m128i moved = _mm_add_epi8(v, _mm_set1_epi8((char)(0x80 - lo)));
  return _mm_cmplt_epi8(moved, _mm_set1_epi8((char)(hi - lo + 1 - 0x80)));
}
inline __m128i Is(__m128i v, unsigned char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8((char)c)); }
inline uint32_t Bits(__m128i m) { return (uint32_t)_mm_movemask_epi8(m); }
inline __m128i Load(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(unsigned char* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// The lanes where lead l and trail t form a code that code page 932 keeps as
// it is (its character's own code): kana, punctuation and the kanji rows,
// nearly all of Japanese text. A subset of the codes that do; the rest go
// through the tables. The tests hold it to the tables.
inline __m128i KeptPair(__m128i l, __m128i t) {
  // Kanji rows 0x88-0x9F and 0xE0-0xE9, less the empty cells of 0x88 and 0x98.
  const __m128i kanji = _mm_andnot_si128(
      _mm_or_si128(_mm_and_si128(Is(l, 0x88), InRange(t, 0x40, 0x9E)), _mm_and_si128(Is(l, 0x98), InRange(t, 0x73, 0x9E))),
      _mm_or_si128(InRange(l, 0x88, 0x9F), InRange(l, 0xE0, 0xE9)));
  // Row 0x82: digits, letters and hiragana, with the gaps between them.
  const __m128i gaps82 = _mm_or_si128(_mm_or_si128(InRange(t, 0x59, 0x5F), InRange(t, 0x7A, 0x80)), InRange(t, 0x9B, 0x9E));
  const __m128i row82 = _mm_andnot_si128(gaps82, _mm_and_si128(Is(l, 0x82), InRange(t, 0x4F, 0xF1)));
  const __m128i rows = _mm_or_si128(_mm_or_si128(_mm_and_si128(kanji, InRange(t, 0x40, 0xFC)),
                                                 _mm_and_si128(Is(l, 0x81), InRange(t, 0x40, 0xAC))),
                                    _mm_and_si128(Is(l, 0x83), InRange(t, 0x40, 0x96)));
  return _mm_or_si128(_mm_andnot_si128(Is(t, 0x7F), rows), row82);
}

// Bit i set where byte i of a window that starts on a character is the trail
// of a two-byte character, given the bits of the bytes that are leads when
// they start one (runs of them alternate lead and trail).
inline uint32_t TrailsOf(uint32_t lead) {
  constexpr uint32_t kEven = 0x55555555u;
  const uint32_t follows = lead << 1;
  const uint32_t evenSeq = (lead & ~kEven & ~follows) + lead;
  return (kEven ^ (evenSeq << 1)) & follows;
}

// 0xFF in lane i where bit i of m (16 bits) is set.
inline __m128i Lanes(uint32_t m) {
  const __m128i bits = _mm_set_epi8((char)0x80, 0x40, 0x20, 0x10, 8, 4, 2, 1, (char)0x80, 0x40, 0x20, 0x10, 8, 4, 2, 1);
  const __m128i lo = _mm_set1_epi8((char)(m & 0xFF)), hi = _mm_set1_epi8((char)(m >> 8));
  const __m128i bytes = _mm_unpacklo_epi64(lo, hi);
  return _mm_cmpeq_epi8(_mm_and_si128(bytes, bits), bits);
}

}  // namespace lanes
#endif

#if defined(KURIBO_AVX2_RUNS)
// Code page 932 codes of the BMP by code point, as the two bytes to store;
// 0, 0 where the character is not a plain two-byte code (a half-width kana to
// fold, or no form at all). Two spare bytes at the end, as the gather reads four.
const unsigned char* Utf8PairTable() {
  static const std::unique_ptr<unsigned char[]> table = [] {
    std::unique_ptr<unsigned char[]> t(new unsigned char[2 * 65536 + 2]());
    const uint16_t* narrow = NarrowFromUnicodeTable();
    for (unsigned cp = 0; cp < 65536; ++cp) {
      const unsigned code = narrow[cp];
      if (code < 0x100 || code == kNoForm) continue;
      t[2 * cp] = (unsigned char)(code >> 8);
      t[2 * cp + 1] = (unsigned char)code;
    }
    return t;
  }();
  return table.get();
}

#define KURIBO_TARGET_AVX2 __attribute__((target("avx2")))

namespace wide {

// The run loops' constants, and the kept-code test with them.
class Consts : public splat::Consts {
 public:
  KURIBO_TARGET_AVX2 __m256i NotKeptPair(__m256i l, __m256i t) const;
};

KURIBO_TARGET_AVX2 inline uint32_t Bits(__m256i m) { return (uint32_t)_mm256_movemask_epi8(m); }
KURIBO_TARGET_AVX2 inline __m256i Load(const unsigned char* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
KURIBO_TARGET_AVX2 inline void Store(unsigned char* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
KURIBO_TARGET_AVX2 inline __m256i Or(__m256i a, __m256i b) { return _mm256_or_si256(a, b); }
KURIBO_TARGET_AVX2 inline __m256i And(__m256i a, __m256i b) { return _mm256_and_si256(a, b); }
// a & ~b
KURIBO_TARGET_AVX2 inline __m256i AndNot(__m256i a, __m256i b) { return _mm256_andnot_si256(b, a); }

// The lanes where lead l and trail t do not form a code kept as it is:
// lanes::KeptPair on 32 lanes, turned inside out so that every constant is
// a memory operand.
KURIBO_TARGET_AVX2 inline __m256i Consts::NotKeptPair(__m256i l, __m256i t) const {
  const __m256i notKanjiRow = And(Out(l, 0x88, 0x9F), Out(l, 0xE0, 0xE9));
  const __m256i emptyCells = Or(AndNot(Is(l, 0x88), Out(t, 0x40, 0x9E)), AndNot(Is(l, 0x98), Out(t, 0x73, 0x9E)));
  const __m256i notKanji = Or(Or(notKanjiRow, emptyCells), Out(t, 0x40, 0xFC));
  const __m256i rows81and83 = Or(AndNot(Is(l, 0x81), Out(t, 0x40, 0xAC)), AndNot(Is(l, 0x83), Out(t, 0x40, 0x96)));
  const __m256i notRows = Or(AndNot(notKanji, rows81and83), Is(t, 0x7F));
  // Row 0x82: digits, letters and hiragana, with the gaps between them.
  const __m256i outsideGaps = And(And(Out(t, 0x59, 0x5F), Out(t, 0x7A, 0x80)), Out(t, 0x9B, 0x9E));
  const __m256i row82 = AndNot(And(Is(l, 0x82), outsideGaps), Out(t, 0x4F, 0xF1));
  return AndNot(notRows, row82);
}

// 0xFF in lane i where bit i of m is set.
KURIBO_TARGET_AVX2 inline __m256i Lanes(uint32_t m) {
  const __m256i spread = _mm256_shuffle_epi8(_mm256_set1_epi32((int)m),
                                             _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2,
                                                              2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3));
  const __m256i bits = _mm256_set1_epi64x((long long)0x8040201008040201ULL);
  return _mm256_cmpeq_epi8(_mm256_and_si256(spread, bits), bits);
}

}  // namespace wide

// The Shift_JIS run of Decoder::Run, 32 bytes at a time: while every character
// of a window is ASCII or a code kept as it is, the window is its own output.
// Stops at the first character that needs the tables (or near the end) and
// returns its position.
// `walked`: for the conversion that walks as it goes, which also stops at
// ASCII the walk changes (spaces, controls, '<' in HTML) and the full-width
// space, for the caller to take.
template <bool walked = false, bool html = false>
KURIBO_TARGET_AVX2 size_t SjisRunsAvx2(const unsigned char* p, size_t i, size_t n, unsigned char** cursor,
                                const unsigned char* end) {
  unsigned char* o = *cursor;
  const wide::Consts c;
  // Whether the window starts on the trail of a pair begun in the one before.
  // Carried as a bit, so that the step is fixed and the next window's loads
  // need not wait for this one's masks.
  uint32_t carry = 0;
  while (i + 33 <= n && end - o >= 33) {
    const __m256i v = wide::Load(p + i), t = wide::Load(p + i + 1);
    const uint32_t lead = ~wide::Bits(wide::And(c.Out(v, 0x81, 0x9F), c.Out(v, 0xE0, 0xFC)));
    const uint32_t start = ~(lanes::TrailsOf(lead & ~carry) | carry);
    // ASCII is kept; a high byte that starts a character must lead a kept pair.
    const uint32_t high = wide::Bits(v);
    uint32_t bad = start & high & (~lead | wide::Bits(c.NotKeptPair(v, t)));
    if constexpr (walked) {
      __m256i other = c.Out(v, 0x21, 0x7E);
      if constexpr (html) other = wide::Or(other, c.Is(v, '<'));
      const uint32_t fw = wide::Bits(wide::And(c.Is(v, 0x81), c.Is(t, 0x40)));
      bad |= start & ((wide::Bits(other) & ~high) | (lead & fw));
    }
    wide::Store(o, v);
    if (__builtin_expect(bad != 0, 0)) {
      const unsigned at = (unsigned)__builtin_ctz(bad);
      *cursor = o + at;
      return i + at;
    }
    carry = (lead & start) >> 31;
    o += 32;
    i += 32;
  }
  // A pair begun in the last window is left whole to the caller.
  *cursor = o - carry;
  return i - carry;
}

// The EUC-JP run of Decoder::Run, 32 bytes at a time: JIS X 0208 pairs turned
// into Shift_JIS lane by lane, ASCII kept. Stops as SjisRunsAvx2 does.
template <bool walked = false, bool html = false>
KURIBO_TARGET_AVX2 size_t EucRunsAvx2(const unsigned char* p, size_t i, size_t n, unsigned char** cursor,
                               const unsigned char* end) {
  unsigned char* o = *cursor;
  const wide::Consts c;
  const __m256i k80 = c.K(0x80), one = c.K(1);
  // As in SjisRunsAvx2: whether the window starts on the trail of a pair begun
  // in the one before, whose converted trail is lane 31 of prev.
  uint32_t carry = 0;
  __m256i prev = _mm256_setzero_si256();
  while (i + 33 <= n && end - o >= 33) {
    const __m256i v = wide::Load(p + i), t = wide::Load(p + i + 1);
    const uint32_t high = wide::Bits(v);  // a high byte that starts a character leads a pair
    const uint32_t trail = lanes::TrailsOf(high & ~carry) | carry;
    const uint32_t leads = high & ~trail;
    const __m256i j1 = _mm256_sub_epi8(v, k80), j2 = _mm256_sub_epi8(t, k80);
    const __m256i low = _mm256_cmpeq_epi8(_mm256_min_epu8(j1, c.K(0x5E)), j1);
    const __m256i s1 = _mm256_add_epi8(_mm256_avg_epu8(j1, _mm256_setzero_si256()), _mm256_blendv_epi8(c.K(0xB0), c.K(0x70), low));
    const __m256i odd = _mm256_cmpeq_epi8(_mm256_and_si256(j1, one), one);
    const __m256i low2 = _mm256_cmpeq_epi8(_mm256_min_epu8(j2, c.K(0x5F)), j2);
    const __m256i addOdd = _mm256_sub_epi8(c.K(0x20), _mm256_and_si256(low2, one));
    const __m256i s2 = _mm256_add_epi8(j2, _mm256_blendv_epi8(c.K(0x7E), addOdd, odd));
    const __m256i notPair = wide::Or(wide::Or(c.Out(v, 0xA1, 0xFE), c.Out(t, 0xA1, 0xFE)), c.NotKeptPair(s1, s2));
    uint32_t bad = leads & wide::Bits(notPair);
    if constexpr (walked) {
      __m256i other = c.Out(v, 0x21, 0x7E);
      if constexpr (html) other = wide::Or(other, c.Is(v, '<'));
      const uint32_t fw = wide::Bits(wide::And(c.Is(v, 0xA1), c.Is(t, 0xA1)));
      bad |= (wide::Bits(other) & ~high & ~trail) | (leads & fw);
    }
    // s2 moved up one lane, across the halves, to the trail lanes; lane 0
    // from the window before.
    const __m256i s2Up = _mm256_alignr_epi8(s2, _mm256_permute2x128_si256(s2, prev, 0x03), 15);
    const __m256i leadLanes = wide::Lanes(leads), trailLanes = wide::Lanes(trail);
    const __m256i out = _mm256_blendv_epi8(_mm256_blendv_epi8(v, s2Up, trailLanes), s1, leadLanes);
    wide::Store(o, out);
    if (__builtin_expect(bad != 0, 0)) {
      const unsigned at = (unsigned)__builtin_ctz(bad);
      *cursor = o + at;
      return i + at;
    }
    carry = leads >> 31;
    prev = s2;
    o += 32;
    i += 32;
  }
  // A pair begun in the last window is left whole to the caller.
  *cursor = o - carry;
  return i - carry;
}

// Eight three-byte sequences at a time (24 bytes, 32 readable) while they are
// characters with plain two-byte codes, and the ASCII between them; returns
// where it stopped. The rest is left to the portable loop. `walked`: for the
// conversion that walks as it goes, which takes ASCII itself and stops at the
// full-width space too.
template <bool walked, bool html = false>
KURIBO_TARGET_AVX2 size_t Utf8RunsAvx2(const unsigned char* p, size_t i, size_t n, unsigned char** cursor,
                                const unsigned char* end, const unsigned char* table,
                                const unsigned char* start = nullptr) {
  unsigned char* o = *cursor;
  [[maybe_unused]] const wide::Consts c;
  // Each sequence to a 32-bit lane: lead, trail, trail, 0.
  const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2, -1, 3,
                                          4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  // Lead E1-EF, trails 80-BF, the spare byte 0; ED (surrogates) is left out.
  const __m256i low = _mm256_set1_epi32(0x008080E1), span = _mm256_set1_epi32(0x003F3F0E);
  const __m256i ed = _mm256_set1_epi32((int)0xFFFFFFED);
  // The two code bytes of each gathered lane, packed into the low half.
  const __m256i pack = _mm256_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 4, 5, 8, 9,
                                        12, 13, -1, -1, -1, -1, -1, -1, -1, -1);
  while (i + 32 <= n && end - o >= 16) {
    const __m256i raw = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + i + 12),
                                            reinterpret_cast<const __m128i*>(p + i));
    const __m256i w = _mm256_shuffle_epi8(raw, spread);
    const __m256i d = _mm256_sub_epi8(w, low);
    const __m256i inRange = _mm256_cmpeq_epi8(_mm256_min_epu8(d, span), d);
    const __m256i bad = _mm256_or_si256(_mm256_xor_si256(inRange, _mm256_set1_epi8(-1)), _mm256_cmpeq_epi8(w, ed));
    // The code point: kana and kanji near in it are near in the table too.
    const __m256i index = _mm256_or_si256(
        _mm256_or_si256(_mm256_slli_epi32(_mm256_and_si256(w, _mm256_set1_epi32(0x0F)), 12),
                        _mm256_srli_epi32(_mm256_and_si256(w, _mm256_set1_epi32(0x3F00)), 2)),
        _mm256_srli_epi32(_mm256_and_si256(w, _mm256_set1_epi32(0x3F0000)), 16));
    const __m256i codes = _mm256_i32gather_epi32(reinterpret_cast<const int*>(table), index, 2);
    // A lead byte of 0 marks a character the portable loop must take.
    __m256i zero = _mm256_cmpeq_epi32(_mm256_and_si256(codes, _mm256_set1_epi32(0xFF)), _mm256_setzero_si256());
    if constexpr (walked) {
      zero = _mm256_or_si256(zero, _mm256_cmpeq_epi32(_mm256_and_si256(codes, _mm256_set1_epi32(0xFFFF)),
                                                      _mm256_set1_epi32(0x4081)));
    }
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(codes, pack), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm256_castsi256_si128(packed));
    // Four mask bits a sequence. The whole window is the likely case, and
    // taking it as a branch keeps the next window's loads from waiting on this
    // one's lookups. A window that stops at ASCII (once a sentence in mixed
    // text) is told from the bytes alone, so the branch that guesses it wrong
    // is settled before the lookups come back.
    const uint32_t broken = (uint32_t)_mm256_movemask_epi8(bad);
    const uint32_t unplain = (uint32_t)_mm256_movemask_epi8(zero);
    if (__builtin_expect(unplain != 0, 0)) {
      const unsigned at = (unsigned)__builtin_ctz(unplain);
      if (broken == 0 || at < ((unsigned)__builtin_ctz(broken) & ~3u)) {
        o += at / 2;
        i += at / 4 * 3;
        break;  // a character the portable loop must take
      }
    }
    if (__builtin_expect(broken != 0, 0)) {
      const unsigned good = (unsigned)__builtin_ctz(broken) / 4;  // taken up to its first bad sequence
      o += 2 * good;
      i += 3 * good;
      // ASCII between the characters (a tag, a line end, digits) is copied
      // here too, so mixed text stays in this loop.
      if (i + 32 > n || end - o < 32) break;
      const __m256i a = wide::Load(p + i);
      const uint32_t high = wide::Bits(a);
      if (high & 1) break;  // a character the portable loop must take
      const unsigned run = high ? (unsigned)__builtin_ctz(high) : 32;
      if constexpr (walked) {
        // Walked: a stretch of printable ASCII is its own text; one of
        // spaces, line ends and (in HTML) tags closed inside it is one space.
        // Anything else is left to the portable loop.
        if (!high) break;
        const uint32_t within = (1u << run) - 1;
        const uint32_t other = wide::Bits(c.Out(a, 0x21, 0x7E)) & within;  // not printable, or the space
        uint32_t lt = 0, gt = 0;
        if constexpr (html) {
          lt = wide::Bits(c.Is(a, '<')) & within;
          gt = wide::Bits(c.Is(a, '>')) & within;
        }
        if ((other | lt) == 0) {
          wide::Store(o, a);
          o += run;
          i += run;
          continue;
        }
        // A tag from each '<' to the '>' after it, where they alternate.
        const uint32_t inside = gt - lt;
        if ((inside & ~(inside << 1)) != lt || (~inside & (inside << 1)) != gt) break;
        if ((inside & ~within) || ((inside | gt | other) & within) != within) break;  // left open, or text in it
        if (o > start && o[-1] != ' ') *o++ = ' ';
        i += run;
        continue;
      } else {
        wide::Store(o, a);
        o += run;
        i += run;
        continue;
      }
    }
    o += 16;
    i += 24;
  }
  *cursor = o;
  return i;
}
#endif


// Kanji frequent in office documents: the first school grades and the words of
// quotes, invoices, contracts and addresses. A decoding that yields them is more
// likely right than one that yields rare kanji or strings of half-width kana.
constexpr const char kFrequentKanji[] =
    "一右雨円王音下火花学気九休金空月見五口校左三山子四字耳七車手十出女小上森人水正生青"
    "夕石赤千川先早草足村大男中町天田土二日入年白八百文木本名目立力林六引羽雲園遠何科夏家"
    "歌画回会海絵外角楽活間丸岩顔記帰牛魚京強教近兄形計元言原戸古午後語工公広交光考行高黄"
    "合国黒今才細作算止市思紙寺自時室社弱首秋週春書少場色食心新親図数西声星晴切雪船線前組"
    "走多太体台地池知茶昼長鳥朝直通弟店点電冬当東答頭同道読内南肉馬売買半番父風分聞米歩母"
    "方北毎妹万明毛門夜野友用曜来里理話悪安暗医委意育員院飲運駅央横屋温化荷界開階寒感漢館"
    "岸起期客究急級宮球去橋業曲局銀区苦具君係軽決研県庫向幸港号根祭仕死使始指次事持式実写"
    "者主守取酒受州終習集住重宿所暑助消商章勝乗植申身神真深進世整全相送想息速族他打対待代"
    "第題短談着注丁帳調追定庭鉄転都度投島登等動農波配倍箱発反坂板表秒病品負部服福物平返勉"
    "放味命面問役薬由油有遊予洋葉陽様落流旅両緑礼列練路和積請求納契約株営経総務報告資料計"
    "設件額税込費付限支払振座担確認承提成変更追加削除管録処検査結果情利価格量単位在注仕入称"
    "備考摘要容項以記知依頼連絡郵便氏御殿各府道区町村丁係課長部署法律規則条件期間内外製造"
    "販売購入品質保証修理交換返品送料合計小計消費請求書領収証明細番号日付金額単価数量備考"
    "与失損職退断診賞席欠応対策案件務員業績費用役員";

class FrequentKanji {
 public:
  static bool Has(unsigned code) {
    static const std::unique_ptr<FrequentKanji> t = std::make_unique<FrequentKanji>();
    return code >= 0x8800 && code < 0xA000 && t->bits_[code - 0x8800];
  }
  FrequentKanji() {
    const std::string s = Utf8ToSjis(kFrequentKanji);
    for (size_t i = 0; i + 1 < s.size(); i += 2) {
      const unsigned c = (unsigned char)s[i] << 8 | (unsigned char)s[i + 1];
      if (c >= 0x8800 && c < 0xA000) bits_[c - 0x8800] = true;
    }
  }

 private:
  std::array<bool, 0xA000 - 0x8800> bits_{};
};

// What a two-byte character adds to a score.
int TwoByteScore(unsigned c) {
  const unsigned lead = c >> 8;
  if (c >= 0x829F && c <= 0x82F1) return 12;  // hiragana
  if (c >= 0x8340 && c <= 0x8396) return 12;  // katakana
  // Punctuation, symbols, full-width letters and digits.
  if (lead == 0x81 || (c >= 0x824F && c <= 0x829A)) return 8;
  if (FrequentKanji::Has(c)) return 12;
  if (c >= 0x889F && c <= 0x9872) return 4;  // first-level kanji
  if (c >= 0x989F && c <= 0xEAA4) return 2;  // second-level kanji
  if (lead >= 0xF0 && lead <= 0xF9) return -4;  // user-defined area
  return 0;
}

// The same for every code at once: one load per character instead of a chain
// of range tests, which mispredict on the wrong decodings detection tries.
const int8_t* TwoByteScoreTable() {
  static const std::unique_ptr<int8_t[]> table = [] {
    std::unique_ptr<int8_t[]> t(new int8_t[65536]());
    for (unsigned c = 0x100; c < 65536; ++c) t[c] = (int8_t)TwoByteScore(c);
    return t;
  }();
  return table.get();
}

// Detection: how much a decoding of the window looks like Japanese text.
class Score {
 public:
  Score() : twoByte_(TwoByteScoreTable()) {}
  void Code(unsigned c) {
    const unsigned prev = prev_;
    prev_ = c;
    if (c < 0x80) return;
    if (c < 0x100) {
      score_ += 3;  // half-width katakana: weak on their own
      if ((c == 0xDE && TakesVoiced(prev)) || (c == 0xDF && TakesSemiVoiced(prev))) score_ += 10;
      // A small kana or the long-vowel mark right after a kana.
      if (c >= 0xA7 && c <= 0xB0 && prev >= 0xB1 && prev <= 0xDD) score_ += 4;
      return;
    }
    score_ += twoByte_[c & 0xFFFF];
  }
  // An ASCII run adds nothing; only its last byte matters to what follows.
  void Ascii(const unsigned char* p, size_t k) {
    if (k) prev_ = p[k - 1];
  }
  void Invalid() { score_ -= 16; }
  // A well-formed character without a code page 932 form: harmless in Unicode,
  // suspicious in a legacy Japanese encoding.
  void NoForm(bool legacy) {
    if (legacy) score_ -= 8;
  }
  // A UTF-8 sequence (or an EUC-JP half-width katakana) of `bytes` bytes:
  // random bytes seldom form one.
  void Sequence(unsigned bytes) { score_ += bytes == 2 ? 6 : 18; }
  void Finish() {}
  bool Full() const { return false; }
  long Value() const { return score_; }

 private:
  long score_ = 0;
  unsigned prev_ = 0;
  const int8_t* twoByte_;
};

// Whole ASCII runs go to the output (or the score) at once; other sinks see
// each byte.
template <class Out>
inline void AsciiTo(Out& out, const unsigned char* p, size_t k) {
  if constexpr (std::is_same_v<Out, Output> || std::is_same_v<Out, Score>) {
    out.Ascii(p, k);
  } else {
    for (size_t i = 0; i < k; ++i) out.Code(p[i]);
  }
}

// ---------------------------------------------------------------------------
// Decoders: byte-at-a-time state machines, so chunk boundaries fall anywhere.

class Decoder {
 public:
  explicit Decoder(TextEncoding enc)
      : enc_(enc),
        canonical_(CanonicalTable()),
        same_(SameCodeBits()),
        fromUnicode_(Utf16ToCp932Table()),
        narrow_(enc == TextEncoding::kUtf8 ? NarrowFromUnicodeTable() : nullptr) {
#if defined(KURIBO_AVX2_RUNS)
    avx2_ = UseWideVectors();
    if (enc == TextEncoding::kUtf8 && avx2_) utf8Pairs_ = Utf8PairTable();
#endif
  }

  template <class Out>
  void Feed(const unsigned char* p, size_t n, Out& out) {
    // The fast paths below handle whole characters with no state pending and
    // give exactly what the state machines would; once the output is full the
    // rest is dropped anyway.
    switch (enc_) {
      case TextEncoding::kAscii:
        for (size_t i = 0; i < n; ++i) out.Code(p[i]);
        break;
      case TextEncoding::kShiftJis:
        FeedWhole(p, n, out, pending_, [&](size_t i) -> size_t {
          if (i + 1 < n && SjisLead(p[i]) && SjisTrail(p[i + 1])) {
            Legacy((unsigned)p[i] << 8 | p[i + 1], out);
            return 2;
          }
          return 0;
        }, [&](unsigned char c) { ShiftJis(c, out); });
        break;
      case TextEncoding::kEucJp:
        FeedWhole(p, n, out, pending_, [&](size_t i) -> size_t {
          const unsigned char c = p[i];
          // A JIS X 0208 pair: row and cell straight to the Shift_JIS code.
          if (i + 1 < n && c >= 0xA1 && c <= 0xFE && p[i + 1] >= 0xA1 && p[i + 1] <= 0xFE) {
            Legacy(JisToSjis(c - 0x80u, p[i + 1] - 0x80u), out);
            return 2;
          }
          return 0;
        }, [&](unsigned char c) { EucJp(c, out); });
        break;
      case TextEncoding::kIso2022Jp:
        for (size_t i = 0; i < n; ++i) Iso2022Jp(p[i], out);
        break;
      case TextEncoding::kUtf8:
        FeedWhole(p, n, out, need_, [&](size_t i) -> size_t {
          const unsigned char c = p[i];
          if (c >= 0xE0 && c <= 0xEF && i + 2 < n) {
            const unsigned char b1 = p[i + 1], b2 = p[i + 2];
            const unsigned char lo = c == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
            const unsigned char hi = c == 0xED ? 0x9F : 0xBF;  // no surrogates
            if (b1 >= lo && b1 <= hi && (b2 & 0xC0) == 0x80) {
              out.Sequence(3);
              Unicode((uint32_t)(c & 0x0F) << 12 | (uint32_t)(b1 & 0x3F) << 6 | (b2 & 0x3F), out);
              return 3;
            }
          } else if (c >= 0xC2 && c <= 0xDF && i + 1 < n && (p[i + 1] & 0xC0) == 0x80) {
            out.Sequence(2);
            Unicode((uint32_t)(c & 0x1F) << 6 | (p[i + 1] & 0x3F), out);
            return 2;
          }
          return 0;
        }, [&](unsigned char c) { Utf8(c, out); });
        break;
      case TextEncoding::kUtf16Le:
      case TextEncoding::kUtf16Be:
        for (size_t i = 0; i < n; ++i) Utf16(p[i], out);
        break;
    }
  }

  // The loop the multi-byte decoders share. While no state is pending
  // (`state` is 0): the output's own fast run, ASCII runs whole, and `whole(i)`,
  // which decodes a whole character at i and returns the bytes it took (0 for
  // none). Anything else goes through the state machine `step` a byte at a time.
  template <class Out, class Whole, class Step>
  void FeedWhole(const unsigned char* p, size_t n, Out& out, const unsigned& state, Whole whole,
                 Step step) {
    for (size_t i = 0; i < n;) {
      if (out.Full()) return;
      if constexpr (std::is_same_v<Out, Output>) {
        if (state == 0 && out.Clear()) {
          i = Run(p, i, n, out);
          if (i >= n) break;
        }
      }
      if (state == 0) {
        size_t k;
        if (p[i] < 0x80) {
          k = AsciiRun(p + i, n - i);
          AsciiTo(out, p + i, k);
        } else {
          k = whole(i);
        }
        if (k) {
          i += k;
          continue;
        }
      }
      step(p[i++]);
    }
  }

  // Whole characters decoded straight into the output while nothing is pending
  // on either side: ASCII runs copied whole, Shift_JIS pairs and EUC-JP pairs
  // (row and cell arithmetic) through the canonical table, UTF-8 two- and
  // three-byte sequences through the flat Unicode table. Stops at the first
  // byte that needs the state machines (or a character that is not a plain
  // two-byte code) and returns its position.
  size_t Run(const unsigned char* p, size_t i, size_t n, Output& out) {
    unsigned char* o = out.Cursor();
    unsigned char* const end = out.End();
    // Locals: the byte stores below could alias the members, which would then
    // be loaded again for every character.
    const uint16_t* const canonical = canonical_;
    const uint16_t* const narrow = narrow_;
    const uint64_t* const same = same_;
    auto ascii = [&] {
#if defined(__SSE2__)
      // A short run (a line end, a digit between Japanese words) is stored a
      // window at a time, without a copy call.
      while (i + 16 <= n && end - o >= 16) {
        const __m128i v = lanes::Load(p + i);
        const uint32_t high = lanes::Bits(v);
        lanes::Store(o, v);
        const size_t k = high ? (size_t)__builtin_ctz(high) : 16;
        o += k;
        i += k;
        if (high) return;
      }
      if (i >= n || p[i] >= 0x80) return;
#endif
      if (i + 1 < n && p[i + 1] >= 0x80) {
        *o++ = p[i++];
        return;
      }
      size_t k = AsciiRun(p + i, n - i);
      if (k > (size_t)(end - o)) k = (size_t)(end - o);
      std::memcpy(o, p + i, k);
      o += k;
      i += k;
    };
    switch (enc_) {
      case TextEncoding::kShiftJis:
        while (i + 1 < n && end - o >= 2) {
#if defined(KURIBO_AVX2_RUNS)
          if (avx2_) {
            const size_t from = i;
            i = SjisRunsAvx2(p, i, n, &o, end);
            if (i != from) continue;
          }
#endif
#if defined(__SSE2__)
          if (i + 17 <= n && end - o >= 17) {
            // A window of ASCII and codes kept as they are is its own output.
            const __m128i v = lanes::Load(p + i), t = lanes::Load(p + i + 1);
            const uint32_t lead = lanes::Bits(_mm_or_si128(lanes::InRange(v, 0x81, 0x9F), lanes::InRange(v, 0xE0, 0xFC)));
            const uint32_t start = ~lanes::TrailsOf(lead) & 0xFFFF;
            const uint32_t kept = (~lanes::Bits(v) & 0xFFFF) | (lead & lanes::Bits(lanes::KeptPair(v, t)));
            const uint32_t bad = start & ~kept;
            if (bad == 0) {
              lanes::Store(o, v);
              const size_t k = (lead & start) >> 15 ? 17 : 16;  // a pair may end on the next byte
              o[16] = p[i + 16];
              o += k;
              i += k;
              continue;
            }
            const unsigned at = (unsigned)__builtin_ctz(bad);  // where a character needs the tables
            if (at) {
              lanes::Store(o, v);
              o += at;
              i += at;
              continue;
            }
          }
#endif
          const unsigned char c = p[i];
          if (c < 0x80) {
            ascii();
            continue;
          }
          if (!SjisLead(c) || !SjisTrail(p[i + 1])) break;
          const unsigned code = Canonical(same, canonical, (unsigned)c << 8 | p[i + 1]);
          i += 2;
          if (code) {  // always a two-byte code; 0 has no character
            o[0] = (unsigned char)(code >> 8);
            o[1] = (unsigned char)code;
            o += 2;
          }
        }
        break;
      case TextEncoding::kEucJp:
        while (i + 1 < n && end - o >= 2) {
#if defined(KURIBO_AVX2_RUNS)
          if (avx2_) {
            const size_t from = i;
            i = EucRunsAvx2(p, i, n, &o, end);
            if (i != from) continue;
          }
#endif
#if defined(__SSE2__)
          if (i + 17 <= n && end - o >= 17) {
            // JIS X 0208 pairs turned into Shift_JIS lane by lane; ASCII stays.
            const __m128i v = lanes::Load(p + i), t = lanes::Load(p + i + 1);
            const uint32_t high = lanes::Bits(v);  // a high byte that starts a character leads a pair
            const uint32_t trail = lanes::TrailsOf(high) & 0xFFFF;
            const uint32_t leads = high & ~trail;
            const __m128i k80 = _mm_set1_epi8((char)0x80);
            const __m128i j1 = _mm_sub_epi8(v, k80), j2 = _mm_sub_epi8(t, k80);
            const __m128i low = _mm_cmpeq_epi8(_mm_min_epu8(j1, _mm_set1_epi8(0x5E)), j1);
            const __m128i s1 = _mm_add_epi8(_mm_avg_epu8(j1, _mm_setzero_si128()),
                                            _mm_or_si128(_mm_and_si128(low, _mm_set1_epi8(0x70)),
                                                         _mm_andnot_si128(low, _mm_set1_epi8((char)0xB0))));
            const __m128i odd = _mm_cmpeq_epi8(_mm_and_si128(j1, _mm_set1_epi8(1)), _mm_set1_epi8(1));
            const __m128i low2 = _mm_cmpeq_epi8(_mm_min_epu8(j2, _mm_set1_epi8(0x5F)), j2);
            const __m128i addOdd = _mm_sub_epi8(_mm_set1_epi8(0x20), _mm_and_si128(low2, _mm_set1_epi8(1)));
            const __m128i s2 = _mm_add_epi8(j2, _mm_or_si128(_mm_and_si128(odd, addOdd),
                                                             _mm_andnot_si128(odd, _mm_set1_epi8(0x7E))));
            const __m128i pair = _mm_and_si128(_mm_and_si128(lanes::InRange(v, 0xA1, 0xFE), lanes::InRange(t, 0xA1, 0xFE)),
                                               lanes::KeptPair(s1, s2));
            const uint32_t bad = leads & ~lanes::Bits(pair);
            const uint32_t upTo = bad ? (uint32_t)__builtin_ctz(bad) : 16;  // where a character needs the tables
            if (upTo) {
              const __m128i leadLanes = lanes::Lanes(leads), trailLanes = lanes::Lanes(trail);
              const __m128i outv = _mm_or_si128(
                  _mm_or_si128(_mm_and_si128(leadLanes, s1), _mm_and_si128(trailLanes, _mm_slli_si128(s2, 1))),
                  _mm_andnot_si128(_mm_or_si128(leadLanes, trailLanes), v));
              lanes::Store(o, outv);
              size_t k = upTo;
              if (!bad && (leads >> 15)) {  // the last pair ends on the next byte
                const unsigned code = JisToSjis(p[i + 15] - 0x80u, p[i + 16] - 0x80u);
                o[15] = (unsigned char)(code >> 8);
                o[16] = (unsigned char)code;
                k = 17;
              }
              o += k;
              i += k;
              continue;
            }
          }
#endif
          const unsigned char c = p[i];
          if (c < 0x80) {
            ascii();
            continue;
          }
          const unsigned char d = p[i + 1];
          if (c < 0xA1 || c == 0xFF || d < 0xA1 || d == 0xFF) break;
          const unsigned code = Canonical(same, canonical, JisToSjis(c - 0x80u, d - 0x80u));
          i += 2;
          if (code) {
            o[0] = (unsigned char)(code >> 8);
            o[1] = (unsigned char)code;
            o += 2;
          }
        }
        break;
      case TextEncoding::kUtf8: {
#if defined(KURIBO_AVX2_RUNS)
        [[maybe_unused]] const bool utf8Avx2 = utf8Pairs_ != nullptr;
#else
        [[maybe_unused]] constexpr bool utf8Avx2 = false;
#endif
        while (i + 1 < n && end - o >= 2) {
#if defined(KURIBO_AVX2_RUNS)
          if (utf8Avx2) {
            const size_t from = i;
            i = Utf8RunsAvx2<false>(p, i, n, &o, end, utf8Pairs_);
            if (i != from) continue;
          }
#endif
#if defined(__SSE2__)
          if (!utf8Avx2 && i + 32 <= n && end - o >= 20) {
            // Up to ten three-byte sequences in a row, checked at once and all
            // ten decoded without a branch; the window is taken up to its first
            // sequence that is not one or whose character is not a plain
            // two-byte code.
            const __m128i v0 = lanes::Load(p + i), v1 = lanes::Load(p + i + 16);
            auto leadE = [](__m128i v) {
              return lanes::Bits(_mm_andnot_si128(lanes::Is(v, 0xED), lanes::InRange(v, 0xE1, 0xEF)));
            };
            auto cont = [](__m128i v) { return lanes::Bits(lanes::InRange(v, 0x80, 0xBF)); };
            const uint32_t lead = leadE(v0) | leadE(v1) << 16, follow = cont(v0) | cont(v1) << 16;
            const uint32_t whole = lead & (follow >> 1) & (follow >> 2);
            const unsigned chars = (unsigned)__builtin_ctz(~whole & 0x49249249u) / 3;
            uint32_t bad = 1u << chars;
            for (unsigned k = 0; k < 10; ++k) {
              const unsigned char* q = p + i + 3 * k;
              const unsigned code = narrow[(q[0] & 0x0Fu) << 12 | (q[1] & 0x3Fu) << 6 | (q[2] & 0x3Fu)];
              bad |= (uint32_t)((code - 0x100u) >= 0xFEFFu) << k;  // a single byte (kana to fold) or no form
              o[2 * k] = (unsigned char)(code >> 8);
              o[2 * k + 1] = (unsigned char)code;
            }
            if (__builtin_expect(bad == 1u << 10, 1)) {  // the whole window, as a predicted branch
              o += 20;
              i += 30;
              continue;
            }
            const unsigned good = (unsigned)__builtin_ctz(bad);
            if (good) {
              o += 2 * good;
              i += 3 * good;
              continue;
            }
          }
#endif
          const unsigned char c = p[i];
          if (c < 0x80) {
            ascii();
            continue;
          }
          uint32_t cp;
          size_t len;
          if (c >= 0xE0 && c <= 0xEF && i + 2 < n) {
            const unsigned char b1 = p[i + 1], b2 = p[i + 2];
            const unsigned char lo = c == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
            const unsigned char hi = c == 0xED ? 0x9F : 0xBF;  // no surrogates
            if (b1 < lo || b1 > hi || (b2 & 0xC0) != 0x80) break;
            cp = (uint32_t)(c & 0x0F) << 12 | (uint32_t)(b1 & 0x3F) << 6 | (b2 & 0x3F);
            len = 3;
          } else if (c >= 0xC2 && c <= 0xDF && (p[i + 1] & 0xC0) == 0x80) {
            cp = (uint32_t)(c & 0x1F) << 6 | (p[i + 1] & 0x3F);
            len = 2;
          } else {
            break;
          }
          const unsigned code = narrow[cp];
          if (code < 0x100) break;  // a single byte: half-width kana fold
          i += len;
          if (code != kNoForm) {
            o[0] = (unsigned char)(code >> 8);
            o[1] = (unsigned char)code;
            o += 2;
          }
        }
        break;
      }
      default:
        break;
    }
    out.Advance(o);
    return i;
  }

  // The same decoding one byte at a time through the state machines only: the
  // yardstick the fast paths are tested against.
  template <class Out>
  void FeedStepwise(const unsigned char* p, size_t n, Out& out) {
    for (size_t i = 0; i < n; ++i) {
      switch (enc_) {
        case TextEncoding::kAscii: out.Code(p[i]); break;
        case TextEncoding::kShiftJis: ShiftJis(p[i], out); break;
        case TextEncoding::kEucJp: EucJp(p[i], out); break;
        case TextEncoding::kIso2022Jp: Iso2022Jp(p[i], out); break;
        case TextEncoding::kUtf8: Utf8(p[i], out); break;
        case TextEncoding::kUtf16Le:
        case TextEncoding::kUtf16Be: Utf16(p[i], out); break;
      }
    }
  }

  // The text ends: a character cut off is malformed.
  template <class Out>
  void End(Out& out) {
    if (pending_ != 0 || need_ != 0 || esc_ != 0 || highSurrogate_) out.Invalid();
    pending_ = need_ = esc_ = 0;
    highSurrogate_ = false;
    out.Finish();
  }

 private:
  static bool SjisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
  static bool SjisTrail(unsigned char c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }

  template <class Out>
  void Legacy(unsigned code, Out& out) {
    const unsigned c = Canonical(same_, canonical_, code & 0xFFFF);
    if (c) {
      out.Code(c);
    } else {
      out.NoForm(true);
    }
  }

  template <class Out>
  void Unicode(uint32_t cp, Out& out) {
    if (cp < 0x80) return out.Code(cp);
    const int c = cp < 0x10000 ? fromUnicode_[cp] : -1;
    if (c >= 0) {
      out.Code((unsigned)c);
    } else {
      out.NoForm(false);
    }
  }

  template <class Out>
  void ShiftJis(unsigned char c, Out& out) {
    if (pending_) {
      const unsigned lead = pending_;
      pending_ = 0;
      if (SjisTrail(c)) return Legacy(lead << 8 | c, out);
      out.Invalid();  // the lead byte is dropped; this byte stands on its own
    }
    if (c < 0x80) {
      out.Code(c);
    } else if (c >= 0xA1 && c <= 0xDF) {
      out.Code(c);
    } else if (SjisLead(c)) {
      pending_ = c;
    } else {
      out.Invalid();
    }
  }

  template <class Out>
  void EucJp(unsigned char c, Out& out) {
    if (pending_ == 0x8E) {
      pending_ = 0;
      if (c >= 0xA1 && c <= 0xDF) {
        out.Sequence(2);  // the 0x8E prefix is as telling as a UTF-8 sequence
        return out.Code(c);
      }
      out.Invalid();
    } else if (pending_ == 0x8F) {
      if (c >= 0xA1 && c <= 0xFE) {
        pending_ = 0x8F00 | c;
        return;
      }
      pending_ = 0;
      out.Invalid();
    } else if (pending_ > 0x8F00) {
      const unsigned j1 = (pending_ & 0xFF) - 0x80;
      pending_ = 0;
      if (c >= 0xA1 && c <= 0xFE) {
        const unsigned code = Jis0212Table::Get(j1, c - 0x80u);
        if (code) return out.Code(code);
        return out.NoForm(true);
      }
      out.Invalid();
    } else if (pending_) {
      const unsigned j1 = pending_ - 0x80;
      pending_ = 0;
      if (c >= 0xA1 && c <= 0xFE) return Legacy(JisToSjis(j1, c - 0x80u), out);
      out.Invalid();
    }
    if (c < 0x80) {
      out.Code(c);
    } else if (c == 0x8E || c == 0x8F || (c >= 0xA1 && c <= 0xFE)) {
      pending_ = c;
    } else {
      out.Invalid();
    }
  }

  enum Set : uint8_t { kRoman, kKana, kJis0208, kJis0212, kOther2 };

  template <class Out>
  void Iso2022Jp(unsigned char c, Out& out) {
    // Escape sequences: ESC $ @, ESC $ B, ESC $ ( D/O/Q/P, ESC ( B/J/H/I, ESC & @.
    if (esc_) {
      const unsigned seq = esc_;
      esc_ = 0;
      if (seq == kEsc) {
        if (c == '$' || c == '(' || c == '&') {
          esc_ = kEsc << 8 | c;
          return;
        }
      } else if (seq == (kEsc << 8 | '$')) {
        if (c == '@' || c == 'B') return Designate(kJis0208);
        if (c == 'A' || c == 'C') return Designate(kOther2);
        if (c == '(') {
          esc_ = seq << 8 | c;
          return;
        }
      } else if (seq == (kEsc << 8 | '(')) {
        if (c == 'B' || c == 'J' || c == 'H') return Designate(kRoman);
        if (c == 'I') return Designate(kKana);
      } else if (seq == (kEsc << 8 | '&')) {
        if (c == '@') return;  // announces the 1990 set, which follows
      } else if (seq == ((kEsc << 8 | '$') << 8 | '(')) {
        if (c == 'D') return Designate(kJis0212);
        if (c == 'B' || c == 'O' || c == 'Q') return Designate(kJis0208);
        return Designate(kOther2);
      }
      out.Invalid();  // an unknown sequence: its bytes after ESC are read as text
    }
    if (c == kEsc) {
      DropPending(out);
      esc_ = kEsc;
      return;
    }
    if (c == 0x0E) {  // SO: katakana until SI
      DropPending(out);
      shifted_ = true;
      return;
    }
    if (c == 0x0F) {
      DropPending(out);
      shifted_ = false;
      return;
    }
    if (c >= 0xA1 && c <= 0xDF) {  // eight-bit katakana
      DropPending(out);
      return out.Code(c);
    }
    if (c >= 0x80) {
      DropPending(out);
      return out.Invalid();
    }
    const Set set = shifted_ ? kKana : set_;
    if (c <= 0x20 || c == 0x7F || set == kRoman) {
      // Controls and the space pass in any set: line ends are not always
      // preceded by a return to ASCII.
      DropPending(out);
      return out.Code(c);
    }
    if (set == kKana) {
      if (c <= 0x5F) return out.Code(c + 0x80u);
      return out.Invalid();
    }
    if (!pending_) {
      pending_ = c;
      return;
    }
    const unsigned j1 = pending_;
    pending_ = 0;
    if (set == kJis0208) return Legacy(JisToSjis(j1, c), out);
    if (set == kJis0212) {
      const unsigned code = Jis0212Table::Get(j1, c);
      if (code) return out.Code(code);
    }
    out.NoForm(false);
  }
  void Designate(Set s) {
    set_ = s;
    shifted_ = false;
  }
  template <class Out>
  void DropPending(Out& out) {
    if (pending_) {
      pending_ = 0;
      out.Invalid();
    }
  }

  template <class Out>
  void Utf8(unsigned char c, Out& out) {
    if (need_) {
      if (c >= lo_ && c <= hi_) {
        cp_ = cp_ << 6 | (c & 0x3F);
        lo_ = 0x80;
        hi_ = 0xBF;
        if (--need_ == 0) {
          out.Sequence(cp_ < 0x800 ? 2 : cp_ < 0x10000 ? 3 : 4);
          Unicode(cp_, out);
        }
        return;
      }
      need_ = 0;
      out.Invalid();  // the cut sequence is dropped; this byte starts afresh
    }
    lo_ = 0x80;
    hi_ = 0xBF;
    if (c < 0x80) {
      out.Code(c);
    } else if (c >= 0xC2 && c <= 0xDF) {
      cp_ = c & 0x1F;
      need_ = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      cp_ = c & 0x0F;
      need_ = 2;
      if (c == 0xE0) lo_ = 0xA0;  // no overlong forms
      if (c == 0xED) hi_ = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      cp_ = c & 0x07;
      need_ = 3;
      if (c == 0xF0) lo_ = 0x90;
      if (c == 0xF4) hi_ = 0x8F;
    } else {
      out.Invalid();
    }
  }

  template <class Out>
  void Utf16(unsigned char c, Out& out) {
    if (!need_) {
      pending_ = c;
      need_ = 1;
      return;
    }
    need_ = 0;
    const unsigned unit =
        enc_ == TextEncoding::kUtf16Le ? (pending_ | c << 8) : (pending_ << 8 | c);
    pending_ = 0;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (highSurrogate_) out.Invalid();
      highSurrogate_ = true;
      return;
    }
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
      if (highSurrogate_) {
        highSurrogate_ = false;
        return out.NoForm(false);  // beyond the Basic Multilingual Plane
      }
      return out.Invalid();
    }
    if (highSurrogate_) {
      highSurrogate_ = false;
      out.Invalid();
    }
    Unicode(unit, out);
  }

  TextEncoding enc_;
  unsigned pending_ = 0;  // lead byte(s) waiting for the rest of a character
  unsigned need_ = 0;     // UTF-8 continuation bytes still due; UTF-16 odd byte
  unsigned esc_ = 0;      // the escape sequence read so far
  uint32_t cp_ = 0;
  unsigned char lo_ = 0x80, hi_ = 0xBF;
  Set set_ = kRoman;
  bool shifted_ = false;
  bool highSurrogate_ = false;
  const uint16_t* canonical_;
  const uint64_t* same_;
  const int32_t* fromUnicode_;
  const uint16_t* narrow_;  // UTF-8 only
#if defined(KURIBO_AVX2_RUNS)
  const unsigned char* utf8Pairs_ = nullptr;  // UTF-8 on processors with AVX2
  bool avx2_ = false;
#endif
};

// ---------------------------------------------------------------------------
// Detection

// ESC $ @, ESC $ B, ESC $ (, ESC ( I, ESC ( J at p[0]: the text is ISO-2022-JP.
// -1 when more bytes are needed to tell.
int IsoDesignation(const unsigned char* p, size_t n) {
  if (n < 3) return -1;
  if (p[1] == '$') return p[2] == '@' || p[2] == 'B' || p[2] == '(';
  if (p[1] == '(') return p[2] == 'I' || p[2] == 'J';
  return 0;
}

// The candidate decodings in the order that breaks ties.
constexpr TextEncoding kCandidates[] = {TextEncoding::kUtf8, TextEncoding::kShiftJis,
                                        TextEncoding::kEucJp};

// The best of the candidates' scores, with the lead it has over the runner-up
// (counted from 0 up, unless the best overtook an earlier candidate).
TextEncoding Pick(const long (&scores)[3], long* lead) {
  TextEncoding best = TextEncoding::kShiftJis;
  long bestScore = 0, second = 0;
  bool first = true;
  for (int k = 0; k < 3; ++k) {
    const long v = scores[k];
    if (first || v > bestScore) {
      if (!first) second = bestScore;
      best = kCandidates[k];
      bestScore = v;
      first = false;
    } else if (v > second) {
      second = v;
    }
  }
  *lead = bestScore - second;
  return best;
}

// The score of one candidate through the converter's own decoder: the
// yardstick of the lean scorers below.
long ReferenceScore(TextEncoding e, const unsigned char* p, size_t n, bool complete) {
  Decoder d(e);
  Score s;
  d.Feed(p, n, s);
  if (complete) d.End(s);
  return s.Value();
}

TextEncoding ReferenceScoreWindow(const unsigned char* p, size_t n, bool complete, long* lead) {
  long scores[3];
  for (int k = 0; k < 3; ++k) scores[k] = ReferenceScore(kCandidates[k], p, n, complete);
  return Pick(scores, lead);
}

// Lean scorers: each candidate decoding as its own byte-at-a-time machine
// that adds to the score straight from tables folding a character's code page
// 932 form and its score into one load. Detection runs them on every text, so
// they skip the decoders' generic paths; they add exactly what a Decoder
// feeding a Score adds, fed in any number of pieces.

// Of the code before: whether a voiced mark, a semi-voiced mark, a small kana
// or the long-vowel mark after it scores more (Score's `prev_`, reduced to
// what it is asked).
constexpr unsigned kAfterVoiced = 1, kAfterSemiVoiced = 2, kAfterKana = 4;

// A pair's entry when the code has no character (NoForm(true)); no character
// scores -8.
constexpr int kPairNoForm = -8;
// A Shift_JIS pair's entry when the second byte is no trail byte.
constexpr int kNotTrail = 127;
// A UTF-8 entry: what the sequence and its character add (0-31), with a flag
// where the character has no code page 932 form (what Score keeps of the code
// before stays) and one where its form is one byte (half-width kana and the
// like: the code point is looked at again).
constexpr unsigned kUtf8Add = 31, kUtf8NoForm = 32, kUtf8OneByte = 64;

// Ceilings: the most each decoding can score over a probe, from what its
// bytes are alone, so that detection need not run a decoding that cannot
// catch up. Every byte adds its share, offset by 16 so that no share is
// negative; the sums are four fields of one word.
//
// UTF-8: a lead adds at most what its sequence and character add (31 for
// three bytes, a half-width kana and its mark among them; 19 for two; 18 for
// four); C0, C1 and F5-FF add -16 wherever they stand; a continuation byte is
// either taken by a lead (two at most by a three-byte one, one by a two-byte
// one, three by a four-byte one) or adds -16. The first field sums share + 16
// (never -16), the second continuation bytes less what leads can take, + 3.
// Shift_JIS: a pair adds at most 12, shared by its two bytes; a half-width
// kana at most 13 after its kana (a mark) or 7 (a small kana); FD-FF add -16.
// EUC-JP: a pair or three-byte code adds at most 12, 6 for each row byte; 8E
// with its kana 19; 80-8D, 90-A0 and FF add -16 wherever they stand.
constexpr unsigned kCeilingBits[4] = {0, 16, 32, 48};
constexpr size_t kCeilingProbe = 1024;  // no field can carry into the next over this many bytes

constexpr uint64_t CeilingShares(unsigned c) {
  const bool cont = c >= 0x80 && c <= 0xBF;
  const unsigned utf8 = c >= 0xE0 && c <= 0xEF ? 31 : c >= 0xC2 && c <= 0xDF ? 19 : c >= 0xF0 && c <= 0xF4 ? 18 : 0;
  const bool never = c == 0xC0 || c == 0xC1 || c >= 0xF5;
  const unsigned taken = c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xF0 && c <= 0xF4 ? 3 : 0;
  const unsigned u = never ? 0 : utf8 + 16;            // 0-47
  const unsigned d = (cont ? 1 : 0) + 3 - taken;       // 0-4
  const bool kana = c >= 0xA1 && c <= 0xDF;
  const bool pairByte = c >= 0x40 && c <= 0xFC && c != 0x7F;  // a lead or a trail
  const int sjis = c >= 0xFD ? -16 : c == 0xDE || c == 0xDF ? 13 : c >= 0xA7 && c <= 0xB0 ? 7 : kana || pairByte ? 6 : 0;
  const bool eucBad = (c >= 0x80 && c <= 0xA0 && c != 0x8E && c != 0x8F) || c == 0xFF;
  const int euc = eucBad ? -16 : c == 0x8E ? 19 : c >= 0xA1 ? 6 : 0;
  return (uint64_t)u << kCeilingBits[0] | (uint64_t)d << kCeilingBits[1] | (uint64_t)(sjis + 16) << kCeilingBits[2] |
         (uint64_t)(euc + 16) << kCeilingBits[3];
}

struct DetectTables {
  uint8_t after[256];         // kAfter* of a code below 0x100
  int8_t single[8][256];      // what Score::Code adds for a code below 0x100, by kAfter* before
  uint8_t sjisRow[256];       // Shift_JIS lead byte to its row of sjisPair, 0 for none
  int8_t sjisPair[61][256];   // what a pair adds, kPairNoForm, kNotTrail
  int8_t sjisSingle[8][256];  // what a byte 0x80-0xFF that is no lead adds, by kAfter*
  uint8_t sjisAfter[8][256];  // and the kAfter* it leaves
  int8_t eucPair[94 * 94];    // what a JIS X 0208 pair adds, or kPairNoForm
  uint8_t utf8[65536];        // kUtf8* of a BMP character
  uint64_t ceiling[256];      // a byte's share of each decoding's ceiling (Ceilings)
};

const DetectTables& Tables() {
  static const std::unique_ptr<DetectTables> tables = [] {
    auto t = std::make_unique<DetectTables>();
    for (unsigned c = 0; c < 256; ++c) {
      t->after[c] = (uint8_t)((TakesVoiced(c) ? kAfterVoiced : 0) |
                              (TakesSemiVoiced(c) ? kAfterSemiVoiced : 0) |
                              (c >= 0xB1 && c <= 0xDD ? kAfterKana : 0));
    }
    for (unsigned a = 0; a < 8; ++a) {
      for (unsigned c = 0; c < 256; ++c) {
        int v = 0;
        if (c >= 0x80) {
          v = 3;
          if ((c == 0xDE && (a & kAfterVoiced)) || (c == 0xDF && (a & kAfterSemiVoiced))) v += 10;
          if (c >= 0xA7 && c <= 0xB0 && (a & kAfterKana)) v += 4;
        }
        t->single[a][c] = (int8_t)v;
        const bool kana = c >= 0xA1 && c <= 0xDF;
        t->sjisSingle[a][c] = (int8_t)(kana ? v : -16);
        t->sjisAfter[a][c] = (uint8_t)(kana ? t->after[c] : a);
      }
    }
    const int8_t* twoByte = TwoByteScoreTable();
    const uint16_t* canonical = CanonicalTable();
    const uint64_t* same = SameCodeBits();
    auto legacy = [&](unsigned code) {
      const unsigned c = Canonical(same, canonical, code & 0xFFFF);
      return (int8_t)(c ? twoByte[c] : kPairNoForm);
    };
    std::memset(t->sjisRow, 0, sizeof t->sjisRow);
    unsigned row = 0;
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
      if (lead >= 0xA0 && lead <= 0xDF) continue;
      t->sjisRow[lead] = (uint8_t)++row;
      for (unsigned c = 0; c < 256; ++c) {
        const bool trail = c >= 0x40 && c <= 0xFC && c != 0x7F;
        t->sjisPair[row][c] = trail ? legacy(lead << 8 | c) : (int8_t)kNotTrail;
      }
    }
    for (unsigned j1 = 0; j1 < 94; ++j1) {
      for (unsigned j2 = 0; j2 < 94; ++j2) {
        t->eucPair[j1 * 94 + j2] = legacy(JisToSjis(j1 + 0x21, j2 + 0x21));
      }
    }
    for (unsigned c = 0; c < 256; ++c) t->ceiling[c] = CeilingShares(c);
    const int32_t* fromU = Utf16ToCp932Table();
    for (unsigned cp = 0; cp < 65536; ++cp) {
      const int sequence = cp < 0x800 ? 6 : 18;
      const int c = fromU[cp];
      t->utf8[cp] = (uint8_t)(c < 0 ? kUtf8NoForm | sequence
                              : c < 0x80 ? sequence
                              : c < 0x100 ? kUtf8OneByte | sequence
                                          : sequence + twoByte[c]);
    }
    return t;
  }();
  return *tables;
}

// Score's sum and what it keeps of the code before.
struct Tally {
  long score = 0;
  unsigned after = 0;

  void Single(const DetectTables& t, unsigned c) {
    score += t.single[after][c];
    after = t.after[c];
  }
  void Pair(int v) {
    score += v;
    if (v != kPairNoForm) after = 0;
  }
};

// The bytes below 0x80 from p[i] on (p[i] is one): a lone one, such as a
// trail byte of another encoding, without the run scan.
inline size_t LeanAsciiRun(const unsigned char* p, size_t i, size_t n) {
  return i + 1 < n && p[i + 1] >= 0x80 ? 1 : AsciiRun(p + i, n - i);
}

class SjisScorer {
 public:
  void Feed(const unsigned char* p, size_t n) {
    const DetectTables& t = Tables();
    Tally s = s_;
    size_t i = 0;
    while (lead_ && i < n) Step(t, s, p[i++]);
    while (i < n) {
      const unsigned c = p[i];
      if (c < 0x80) {
        s.after = 0;
        i += LeanAsciiRun(p, i, n);
        continue;
      }
      if (const unsigned row = t.sjisRow[c]) {
        if (i + 1 == n) {
          lead_ = c;
          break;
        }
        const int v = t.sjisPair[row][p[i + 1]];
        if (v != kNotTrail) {
          s.Pair(v);
          i += 2;
        } else {
          s.score -= 16;  // the lead is dropped; the next byte stands on its own
          ++i;
        }
        continue;
      }
      s.score += t.sjisSingle[s.after][c];
      s.after = t.sjisAfter[s.after][c];
      ++i;
    }
    s_ = s;
  }
  void End() {
    if (lead_) s_.score -= 16;
    lead_ = 0;
  }
  long Value() const { return s_.score; }

 private:
  // The Shift_JIS state machine on one byte.
  void Step(const DetectTables& t, Tally& s, unsigned c) {
    if (lead_) {
      const int v = t.sjisPair[t.sjisRow[lead_]][c];
      lead_ = 0;
      if (v != kNotTrail) return s.Pair(v);
      s.score -= 16;
    }
    if (c < 0x80) {
      s.after = 0;
    } else if (t.sjisRow[c]) {
      lead_ = c;
    } else {
      s.score += t.sjisSingle[s.after][c];
      s.after = t.sjisAfter[s.after][c];
    }
  }

  Tally s_;
  unsigned lead_ = 0;
};

class EucScorer {
 public:
  void Feed(const unsigned char* p, size_t n) {
    const DetectTables& t = Tables();
    Tally s = s_;
    size_t i = 0;
    while (i < n) {
      if (pending_) {
        Step(t, s, p[i++]);
        continue;
      }
      const unsigned c = p[i];
      if (c < 0x80) {
        s.after = 0;
        i += LeanAsciiRun(p, i, n);
        continue;
      }
      if (c >= 0xA1 && c <= 0xFE && i + 1 < n) {
        const unsigned d = p[i + 1];
        if (d >= 0xA1 && d <= 0xFE) {
          s.Pair(t.eucPair[(c - 0xA1) * 94 + (d - 0xA1)]);
          i += 2;
        } else {
          s.score -= 16;  // the row byte is dropped; the next byte stands on its own
          ++i;
        }
        continue;
      }
      if (c == 0x8E && i + 1 < n) {
        const unsigned d = p[i + 1];
        if (d >= 0xA1 && d <= 0xDF) {
          s.score += 6;  // as telling as a UTF-8 sequence
          s.Single(t, d);
          i += 2;
        } else {
          s.score -= 16;
          ++i;
        }
        continue;
      }
      if (c != 0x8E && c != 0x8F && (c < 0xA1 || c == 0xFF)) {
        s.score -= 16;  // no lead byte
        ++i;
        continue;
      }
      Step(t, s, p[i++]);
    }
    s_ = s;
  }
  void End() {
    if (pending_) s_.score -= 16;
    pending_ = 0;
  }
  long Value() const { return s_.score; }

 private:
  // The EUC-JP state machine on one byte.
  void Step(const DetectTables& t, Tally& s, unsigned c) {
    if (pending_) {
      const unsigned q = pending_;
      pending_ = 0;
      const bool row = c >= 0xA1 && c <= 0xFE;
      if (q >= 0xA1 && q <= 0xFE) {
        if (row) return s.Pair(t.eucPair[(q - 0xA1) * 94 + (c - 0xA1)]);
      } else if (q == 0x8E) {
        if (c >= 0xA1 && c <= 0xDF) {
          s.score += 6;  // as telling as a UTF-8 sequence
          return s.Single(t, c);
        }
      } else if (q == 0x8F) {
        if (row) {
          pending_ = 0x8F00 | c;
          return;
        }
      } else if (row) {
        const unsigned code = Jis0212Table::Get((q & 0xFF) - 0x80, c - 0x80);
        return s.Pair(code ? TwoByteScoreTable()[code] : kPairNoForm);
      }
      s.score -= 16;
    }
    if (c < 0x80) {
      s.after = 0;
    } else if (c == 0x8E || c == 0x8F || (c >= 0xA1 && c <= 0xFE)) {
      pending_ = c;
    } else {
      s.score -= 16;
    }
  }

  Tally s_;
  unsigned pending_ = 0;  // 0x8E, 0x8F, 0x8F00 | row, or a JIS X 0208 row byte
};

class Utf8Scorer {
 public:
  void Feed(const unsigned char* p, size_t n) {
    const DetectTables& t = Tables();
    Tally s = s_;
    size_t i = 0;
    while (i < n) {
      if (need_) {
        Step(t, s, p[i++]);
        continue;
      }
      const unsigned c = p[i];
      if (c < 0x80) {
        s.after = 0;
        i += LeanAsciiRun(p, i, n);
        continue;
      }
      if (c >= 0xE0 && c <= 0xEF && i + 2 < n) {
        const unsigned b1 = p[i + 1], b2 = p[i + 2];
        const unsigned lo = c == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        const unsigned hi = c == 0xED ? 0x9F : 0xBF;  // no surrogates
        // A cut sequence is dropped where it breaks off; the byte that breaks
        // it starts afresh.
        s.score -= 16;
        if (b1 < lo || b1 > hi) {
          ++i;
        } else if ((b2 & 0xC0) != 0x80) {
          i += 2;
        } else {
          s.score += 16;
          Char(t, s, (c & 0x0F) << 12 | (b1 & 0x3F) << 6 | (b2 & 0x3F));
          i += 3;
        }
        continue;
      } else if (c >= 0xC2 && c <= 0xDF) {
        if (i + 1 < n) {
          if ((p[i + 1] & 0xC0) == 0x80) {
            Char(t, s, (c & 0x1F) << 6 | (p[i + 1] & 0x3F));
            i += 2;
          } else {
            s.score -= 16;
            ++i;
          }
          continue;
        }
      } else if (c < 0xC2 || c > 0xF4) {
        s.score -= 16;  // no lead byte
        ++i;
        continue;
      }
      Step(t, s, p[i++]);
    }
    s_ = s;
  }
  void End() {
    if (need_) s_.score -= 16;
    need_ = 0;
  }
  long Value() const { return s_.score; }

 private:
  // The UTF-8 state machine on one byte.
  void Step(const DetectTables& t, Tally& s, unsigned c) {
    if (need_) {
      if (c >= lo_ && c <= hi_) {
        cp_ = cp_ << 6 | (c & 0x3F);
        lo_ = 0x80;
        hi_ = 0xBF;
        if (--need_ == 0) Char(t, s, cp_);
        return;
      }
      need_ = 0;
      s.score -= 16;  // the cut sequence is dropped; this byte starts afresh
    }
    lo_ = 0x80;
    hi_ = 0xBF;
    if (c < 0x80) {
      s.after = 0;
    } else if (c >= 0xC2 && c <= 0xDF) {
      cp_ = c & 0x1F;
      need_ = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      cp_ = c & 0x0F;
      need_ = 2;
      if (c == 0xE0) lo_ = 0xA0;
      if (c == 0xED) hi_ = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      cp_ = c & 0x07;
      need_ = 3;
      if (c == 0xF0) lo_ = 0x90;
      if (c == 0xF4) hi_ = 0x8F;
    } else {
      s.score -= 16;
    }
  }

  // A whole sequence: what Sequence and the character's code add.
  static void Char(const DetectTables& t, Tally& s, uint32_t cp) {
    if (cp >= 0x10000) {
      s.score += 18;  // four bytes, and no form
      return;
    }
    const unsigned v = t.utf8[cp];
    s.score += v & kUtf8Add;
    if (v & kUtf8OneByte) return s.Single(t, (unsigned)Utf16ToCp932Table()[cp]);
    // Without a branch: in the wrong decodings characters without a form come at random.
    s.after &= 0u - ((v & kUtf8NoForm) >> 5);
  }

  Tally s_;
  unsigned need_ = 0, lo_ = 0x80, hi_ = 0xBF;
  uint32_t cp_ = 0;
};

// The ceilings of the three decodings over p[0, n), n at most kCeilingProbe,
// in kCandidates order.
void Ceilings(const unsigned char* p, size_t n, long (&out)[3]) {
  const uint64_t* share = Tables().ceiling;
  uint64_t a = 0, b = 0;
  size_t i = 0;
  for (; i + 2 <= n; i += 2) {
    a += share[p[i]];
    b += share[p[i + 1]];
  }
  if (i < n) a += share[p[i]];
  const uint64_t sum = a + b;
  auto field = [&](int k) { return (long)(sum >> kCeilingBits[k] & 0xFFFF); };
  const long count = (long)n, loose = field(1) - 3 * count;  // continuation bytes no lead takes
  out[0] = field(0) - 16 * count - 16 * (loose > 0 ? loose : 0);
  out[1] = field(2) - 16 * count;
  out[2] = field(3) - 16 * count;
}

// The three candidates scored side by side, in pieces.
class Candidates {
 public:
  // Scores p[0, n) from fresh scorers, the likeliest decoding first, and stops
  // as soon as one leads every other's score or ceiling by kDecisiveLead:
  // true with it in *best. False when none does; all three are fed then.
  bool Settle(const unsigned char* p, size_t n, long decisive, TextEncoding* best) {
    long value[3];
    Ceilings(p, n, value);
    bool exact[3] = {false, false, false};
    for (int round = 0; round < 3; ++round) {
      int k = -1;
      for (int j = 0; j < 3; ++j) {
        if (!exact[j] && (k < 0 || value[j] > value[k])) k = j;
      }
      if (k == 0) utf8_.Feed(p, n), value[0] = utf8_.Value();
      if (k == 1) sjis_.Feed(p, n), value[1] = sjis_.Value();
      if (k == 2) euc_.Feed(p, n), value[2] = euc_.Value();
      exact[k] = true;
      for (int x = 0; x < 3; ++x) {
        if (!exact[x]) continue;
        // As Pick counts the lead: from 0 up when the first candidate is best.
        bool leads = x != 0 || value[0] >= decisive;
        for (int j = 0; j < 3; ++j) leads = leads && (j == x || value[x] - value[j] >= decisive);
        if (leads) {
          *best = kCandidates[x];
          return true;
        }
      }
    }
    return false;
  }

  void Feed(const unsigned char* p, size_t n) {
    utf8_.Feed(p, n);
    sjis_.Feed(p, n);
    euc_.Feed(p, n);
  }
  // The same for text that may be mostly ASCII. Of a run of ASCII bytes only
  // the first two can change a score: they end a character pending in any
  // decoding and clear what Score keeps of the code before. So the scorers are
  // fed up to there, and the rest of a long run is passed over once for the
  // three.
  void FeedSparse(const unsigned char* p, size_t n) {
    constexpr size_t kBlock = 16, kLongRun = 4 * kBlock;
    size_t from = 0;
    for (size_t i = 0; i + kLongRun <= n;) {
      const size_t k = AsciiRun(p + i, n - i);
      if (k < kLongRun) {
        i += k < kBlock ? kBlock : k;
        continue;
      }
      Feed(p + from, i + 2 - from);
      i += k;
      from = i;
    }
    Feed(p + from, n - from);
  }
  void End() {
    utf8_.End();
    sjis_.End();
    euc_.End();
  }
  TextEncoding Best(long* lead) const {
    const long scores[3] = {utf8_.Value(), sjis_.Value(), euc_.Value()};
    return Pick(scores, lead);
  }
  long Value(TextEncoding e) const {
    if (e == TextEncoding::kUtf8) return utf8_.Value();
    return e == TextEncoding::kShiftJis ? sjis_.Value() : euc_.Value();
  }

 private:
  Utf8Scorer utf8_;
  SjisScorer sjis_;
  EucScorer euc_;
};

constexpr size_t kProbe = 1024;
static_assert(kProbe <= kCeilingProbe && 47 * kCeilingProbe < 0x10000, "a ceiling field would carry");
constexpr long kDecisiveLead = 512;

// The encoding of a window that starts at the first byte that is not ASCII.
// A kilobyte usually settles it; the whole window is scored only when it
// does not, going on from where the kilobyte left the scorers.
TextEncoding DetectWindow(const unsigned char* p, size_t n, bool complete) {
  if (n > 0 && p[0] == kEsc) return TextEncoding::kIso2022Jp;
  Candidates c;
  long lead = 0;
  size_t done = 0;
  if (n > 2 * kProbe) {
    TextEncoding e;
    if (c.Settle(p, kProbe, kDecisiveLead, &e)) return e;
    done = kProbe;
  }
  c.FeedSparse(p + done, n - done);
  if (complete) c.End();
  return c.Best(&lead);
}

// The same through the converter's decoders, scoring the whole window afresh.
TextEncoding ReferenceDetectWindow(const unsigned char* p, size_t n, bool complete) {
  if (n > 0 && p[0] == kEsc) return TextEncoding::kIso2022Jp;
  long lead = 0;
  if (n > 2 * kProbe) {
    const TextEncoding e = ReferenceScoreWindow(p, kProbe, false, &lead);
    if (lead >= kDecisiveLead) return e;
  }
  return ReferenceScoreWindow(p, n, complete, &lead);
}

// UTF-16 without a byte-order mark, recognised only where it is unmistakable:
// at least half of the units are ASCII with their zero byte all on one side.
TextEncoding Utf16WithoutMark(const unsigned char* p, size_t n) {
  const size_t units = (n < 4096 ? n : 4096) / 2;
  if (units < 2) return TextEncoding::kAscii;
  // Most texts have no zero byte at all, which no count below could change.
  if (!std::memchr(p, 0, 2 * units)) return TextEncoding::kAscii;
  size_t zeroEven = 0, zeroOdd = 0;
  for (size_t i = 0; i < units; ++i) {
    zeroEven += p[2 * i] == 0;
    zeroOdd += p[2 * i + 1] == 0;
  }
  if (zeroEven == 0 && zeroOdd * 2 >= units) return TextEncoding::kUtf16Le;
  if (zeroOdd == 0 && zeroEven * 2 >= units) return TextEncoding::kUtf16Be;
  return TextEncoding::kAscii;
}

// The encoding announced at the start of the text, with the bytes to skip.
TextEncoding FromStart(const unsigned char* p, size_t n, size_t& skip) {
  skip = 0;
  if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
    skip = 3;
    return TextEncoding::kUtf8;
  }
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    skip = 2;
    return TextEncoding::kUtf16Le;
  }
  if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF) {
    skip = 2;
    return TextEncoding::kUtf16Be;
  }
  return Utf16WithoutMark(p, n);
}

}  // namespace

// The hooks of tests and fuzzing.

TextEncoding DetectTextEncodingReference(const unsigned char* data, size_t size, bool complete) {
  size_t skip = 0;
  const TextEncoding start = FromStart(data, size, skip);
  if (start != TextEncoding::kAscii) return start;
  for (size_t t = 0; t < size; ++t) {
    if (data[t] >= 0x80 || (data[t] == kEsc && IsoDesignation(data + t, size - t) == 1)) {
      const size_t n = size - t < kChunk ? size - t : kChunk;
      return ReferenceDetectWindow(data + t, n, complete && n == size - t);
    }
  }
  return TextEncoding::kAscii;
}

long DetectionScore(TextEncoding enc, const unsigned char* p, size_t n, size_t cut, bool complete) {
  Candidates c;
  if (cut > n) cut = n;
  c.Feed(p, cut);
  c.FeedSparse(p + cut, n - cut);
  if (complete) c.End();
  return c.Value(enc);
}

long DetectionScoreCeiling(TextEncoding enc, const unsigned char* p, size_t n) {
  long value[3];
  Ceilings(p, n < kCeilingProbe ? n : kCeilingProbe, value);
  return value[enc == TextEncoding::kUtf8 ? 0 : enc == TextEncoding::kShiftJis ? 1 : 2];
}

long DetectionScoreReference(TextEncoding enc, const unsigned char* p, size_t n, bool complete) {
  return ReferenceScore(enc, p, n, complete);
}

namespace {

// ---------------------------------------------------------------------------
// Reading

class Source {
 public:
  virtual ~Source() = default;
  // Up to `cap` bytes; 0 at the end.
  virtual size_t Read(unsigned char* dst, size_t cap) = 0;
};

class FileSource : public Source {
 public:
  explicit FileSource(int fd) : fd_(fd) {}
  ~FileSource() override { ::close(fd_); }
  size_t Read(unsigned char* dst, size_t cap) override { return ReadFully(fd_, dst, cap); }

 private:
  int fd_;
};

// Bytes already read from the start of a file, then the rest from its descriptor.
class PrefixedFileSource : public Source {
 public:
  PrefixedFileSource(const unsigned char* p, size_t n, int fd) : p_(p), n_(n), fd_(fd) {}
  size_t Read(unsigned char* dst, size_t cap) override {
    if (n_ == 0) return ReadFully(fd_, dst, cap);
    const size_t k = cap < n_ ? cap : n_;
    std::memcpy(dst, p_, k);
    p_ += k;
    n_ -= k;
    return k;
  }

 private:
  const unsigned char* p_;
  size_t n_;
  int fd_;
};

class MemorySource : public Source {
 public:
  MemorySource(const unsigned char* p, size_t n) : p_(p), n_(n) {}
  size_t Read(unsigned char* dst, size_t cap) override {
    const size_t k = cap < n_ ? cap : n_;
    if (k) std::memcpy(dst, p_, k);
    p_ += k;
    n_ -= k;
    return k;
  }

 private:
  const unsigned char* p_;
  size_t n_;
};

// Fills dst[0, cap) as far as the source goes; returns the bytes read.
size_t Fill(Source& src, unsigned char* dst, size_t cap) {
  size_t got = 0;
  while (got < cap) {
    const size_t k = src.Read(dst + got, cap - got);
    if (k == 0) break;
    got += k;
  }
  return got;
}

int32_t Convert(Source& src, char* out) {
  alignas(64) unsigned char buf[kChunk];  // read(2) copies fastest into an aligned destination
  Output sink(out);
  size_t len = Fill(src, buf, kChunk);
  bool eof = len < kChunk;
  size_t pos = 0;
  TextEncoding enc = FromStart(buf, len, pos);
  Decoder decoder(enc);
  bool detected = enc != TextEncoding::kAscii;

  for (;;) {
    if (!detected) {
      // ASCII passes as it is until the first byte that tells the encoding.
      size_t t = pos;
      bool needMore = false;
      for (; t < len; ++t) {
        if (buf[t] >= 0x80) break;
        if (buf[t] == kEsc) {
          const int d = IsoDesignation(buf + t, len - t);
          if (d == 1) break;
          if (d < 0 && !eof) {
            needMore = true;
            break;
          }
        }
      }
      sink.Ascii(buf + pos, t - pos);
      if (t == len) {
        if (eof || sink.Full()) break;
        len = Fill(src, buf, kChunk);
        eof = len < kChunk;
        pos = 0;
        continue;
      }
      // Move the window to the front and fill the rest, so detection sees as
      // much as there is.
      std::memmove(buf, buf + t, len - t);
      len -= t;
      pos = 0;
      if (!eof) {
        const size_t got = Fill(src, buf + len, kChunk - len);
        eof = len + got < kChunk;
        len += got;
      }
      if (needMore) continue;  // the escape sequence is now whole
      enc = DetectWindow(buf, len, eof);
      decoder = Decoder(enc);
      detected = true;
    }
    decoder.Feed(buf + pos, len - pos, sink);
    if (eof || sink.Full()) break;
    len = Fill(src, buf, kChunk);
    eof = len < kChunk;
    pos = 0;
  }
  decoder.End(sink);
  return sink.Count();
}

// Where the conversion of a whole text in memory starts: the encoding, the
// bytes a byte-order mark takes ([0, pos)), and the ASCII that passes as it is
// before the first byte that tells the encoding ([pos, ascii)). It sees the
// text as the chunked conversion does (detection windows of kChunk bytes from
// the first byte that is not ASCII), so both give the same bytes.
TextEncoding SpanEncoding(const unsigned char* data, size_t size, size_t& pos, size_t& ascii) {
  pos = 0;
  TextEncoding enc = FromStart(data, size < kChunk ? size : kChunk, pos);
  ascii = pos;
  if (enc != TextEncoding::kAscii) return enc;
  size_t t = pos;
  for (; t < size; ++t) {
    if (data[t] >= 0x80) break;
    if (data[t] == kEsc && IsoDesignation(data + t, size - t) == 1) break;
  }
  ascii = t;
  if (t < size) {
    const size_t rest = size - t;
    enc = DetectWindow(data + t, rest < kChunk ? rest : kChunk, rest < kChunk);
  }
  return enc;
}

// The conversion of a whole text in memory, read where it lies, from where
// SpanEncoding puts its start.
template <bool stepwise>
int32_t ConvertSpanFrom(const unsigned char* data, size_t size, TextEncoding enc, size_t pos, size_t t, char* out) {
  Output sink(out);
  if constexpr (stepwise) {
    for (size_t i = pos; i < t; ++i) sink.Code(data[i]);
  } else {
    sink.Ascii(data + pos, t - pos);
  }
  pos = t;
  Decoder decoder(enc);
  if (pos < size) {
    if constexpr (stepwise) {
      decoder.FeedStepwise(data + pos, size - pos, sink);
    } else {
      decoder.Feed(data + pos, size - pos, sink);
    }
  }
  decoder.End(sink);
  return sink.Count();
}

template <bool stepwise>
int32_t ConvertSpan(const unsigned char* data, size_t size, char* out) {
  size_t pos = 0, t = 0;
  const TextEncoding enc = SpanEncoding(data, size, pos, t);
  return ConvertSpanFrom<stepwise>(data, size, enc, pos, t, out);
}

// ---------------------------------------------------------------------------
// Converted and walked in one pass: each character of the converted text goes
// straight through the compaction or HTML walk rules, so the walk never reads
// the text again. A UTF-8 or EUC-JP text no longer than this converts to at
// most as many bytes (Shift_JIS to at most twice as many), so the converter's
// cap cannot cut it.
constexpr size_t kWalkedSizeLimit = (size_t)kConvertedTextCap - 1;

// Whether p[i, i + 3) is a three-byte sequence the run loops take (lead
// E1-EF but ED, so neither overlong forms nor surrogates) whose character
// has a plain two-byte code; that code.
inline bool PlainThreeByte(const unsigned char* p, size_t i, size_t n, const uint16_t* narrow, unsigned* code) {
  if (i + 2 >= n) return false;
  const unsigned c = p[i], b1 = p[i + 1], b2 = p[i + 2];
  if (c < 0xE1 || c > 0xEF || c == 0xED || (b1 & 0xC0) != 0x80 || (b2 & 0xC0) != 0x80) return false;
  *code = narrow[(c & 0x0F) << 12 | (b1 & 0x3F) << 6 | (b2 & 0x3F)];
  return *code - 0x100u < 0xFEFFu;  // neither a single byte (kana to fold) nor no form
}

template <TextEncoding enc, TextWalk walk>
int32_t ConvertWalked(const unsigned char* p, size_t i, size_t n, char* outText) {
  static_assert(enc == TextEncoding::kUtf8 || enc == TextEncoding::kShiftJis || enc == TextEncoding::kEucJp);
  constexpr bool html = walk == TextWalk::kHtml;
  unsigned char* const out = reinterpret_cast<unsigned char*>(outText);
  unsigned char* o = out;
  unsigned char* const end = out + kConvertedTextCap;
  const uint16_t* const narrow = NarrowFromUnicodeTable();
  [[maybe_unused]] const uint16_t* const canonical = CanonicalTable();
  [[maybe_unused]] const uint64_t* const same = SameCodeBits();
#if defined(KURIBO_AVX2_RUNS)
  const unsigned char* const pairs = enc == TextEncoding::kUtf8 && UseWideVectors() ? Utf8PairTable() : nullptr;
#endif
  // The walks' one rule for whatever is no text: one space, never two in a
  // row and none first.
  auto space = [&] {
    if (o > out && o[-1] != ' ') *o++ = ' ';
  };
  auto pair = [&](unsigned code) {
    if (code == 0x8140) return space();  // the full-width space
    o[0] = (unsigned char)(code >> 8);
    o[1] = (unsigned char)code;
    o += 2;
  };
  while (i < n) {
    unsigned c = p[i];
    if (c < 0x80) {
#if defined(__SSE2__)
      // Printable ASCII other than the space (and '<' in HTML) is its own
      // walked text: copied a window at a time up to the first other byte.
      while (i + 16 <= n && end - o >= 16) {
        const __m128i v = lanes::Load(p + i);
        __m128i other = _mm_xor_si128(lanes::InRange(v, 0x21, 0x7E), _mm_set1_epi8(-1));
        if constexpr (html) other = _mm_or_si128(other, lanes::Is(v, '<'));
        const uint32_t stop = lanes::Bits(other);
        lanes::Store(o, v);
        const size_t k = stop ? (size_t)__builtin_ctz(stop) : 16;
        o += k;
        i += k;
        if (stop) break;
      }
      if (i >= n) break;
      c = p[i];
      if (c >= 0x80) continue;
#endif
      ++i;
      if (html && c == '<') {
        // A tag, up to the next '>' or the end, is one space. No character
        // but '>' itself converts to a '>' byte, so the next one in the
        // input ends the tag in the converted text too.
        space();
#if defined(__SSE2__)
        if (i + 16 <= n) {  // most tags are short
          const uint32_t gt = lanes::Bits(lanes::Is(lanes::Load(p + i), '>'));
          if (gt) {
            i += (size_t)__builtin_ctz(gt) + 1;
            continue;
          }
        }
#endif
        const void* close = std::memchr(p + i, '>', n - i);
        i = close ? (size_t)(static_cast<const unsigned char*>(close) - p) + 1 : n;
      } else if (c == ' ' || !IsPrintableSingle((unsigned char)c)) {
        space();
      } else {
        *o++ = (unsigned char)c;
      }
      continue;
    }
#if defined(KURIBO_AVX2_RUNS)
    // The 256-bit runs, taken to the first character they leave to the loop.
    {
      const size_t from = i;
      if constexpr (enc == TextEncoding::kUtf8) {
        if (pairs) i = Utf8RunsAvx2<true, html>(p, i, n, &o, end, pairs, out);
      } else if constexpr (enc == TextEncoding::kShiftJis) {
        i = SjisRunsAvx2<true, html>(p, i, n, &o, end);
      } else {
        i = EucRunsAvx2<true, html>(p, i, n, &o, end);
      }
      if (i != from) continue;
    }
#endif
    size_t j = i + 1;
    if constexpr (enc == TextEncoding::kUtf8) {
      unsigned code = 0;
      if (PlainThreeByte(p, i, n, narrow, &code)) {
        pair(code);
        i += 3;
        continue;
      }
      // Anything else (two- and four-byte sequences, kana to fold, characters
      // without a form, broken sequences) goes through the decoder, up to the
      // next ASCII byte or plain character. The decoder starts afresh at either,
      // and neither is a mark that folds into a kana before it, so decoding the
      // piece on its own gives what it gives inside the text.
      while (j < n && p[j] >= 0x80 && !PlainThreeByte(p, j, n, narrow, &code)) ++j;
    } else if constexpr (enc == TextEncoding::kShiftJis) {
      // Up to the next ASCII character or pair with a character, stepping as
      // the decoder does (a lead byte without a trail byte stands alone). The
      // decoder starts afresh at either, and a kana waiting for its mark waits
      // across a dropped pair but not across these.
      auto kept = [&](size_t at) {
        return IsLeadByte(p[at]) && at + 1 < n && IsTrailByte(p[at + 1]) &&
               Canonical(same, canonical, (unsigned)p[at] << 8 | p[at + 1]) != 0;
      };
      j = i;
      do {
        j += IsLeadByte(p[j]) && j + 1 < n && IsTrailByte(p[j + 1]) ? 2 : 1;
      } while (j < n && p[j] >= 0x80 && !kept(j));
    } else {
      // The same for EUC-JP, stepping as its decoder does.
      auto row = [&](size_t at) { return at < n && p[at] >= 0xA1 && p[at] != 0xFF; };
      auto kept = [&](size_t at) {
        return row(at) && row(at + 1) &&
               Canonical(same, canonical, JisToSjis(p[at] - 0x80u, p[at + 1] - 0x80u)) != 0;
      };
      j = i;
      do {
        const unsigned b = p[j];
        if (b == 0x8E) {
          j += j + 1 < n && p[j + 1] >= 0xA1 && p[j + 1] <= 0xDF ? 2 : 1;
        } else if (b == 0x8F) {
          j += row(j + 1) ? (row(j + 2) ? 3 : 2) : 1;
        } else {
          j += row(j) && row(j + 1) ? 2 : 1;
        }
      } while (j < n && p[j] >= 0x80 && !kept(j));
    }
    Decoder decoder(enc);
    Output sink(reinterpret_cast<char*>(o));
    decoder.Feed(p + i, j - i, sink);
    decoder.End(sink);
    // Its converted bytes, walked where they lie: whole characters, and no
    // '<' (only UTF-8 has characters that fold to ASCII: 0x5C and 0x7E).
    const unsigned char* const s = o;
    const size_t m = (size_t)sink.Count();
    for (size_t r = 0; r < m;) {
      const unsigned char b = s[r];
      if (IsLeadByte(b) && r + 1 < m) {
        pair((unsigned)b << 8 | s[r + 1]);
        r += 2;
      } else {
        ++r;
        if (b == ' ' || !IsPrintableSingle(b)) {
          space();
        } else {
          *o++ = b;
        }
      }
    }
    i = j;
  }
  return (int32_t)(o - out);
}

}  // namespace

TextEncoding DetectTextEncoding(const unsigned char* data, size_t size, bool complete) {
  size_t skip = 0;
  const TextEncoding start = FromStart(data, size, skip);
  if (start != TextEncoding::kAscii) return start;
  for (size_t t = 0; t < size; ++t) {
    if (data[t] >= 0x80 || (data[t] == kEsc && IsoDesignation(data + t, size - t) == 1)) {
      const size_t n = size - t < kChunk ? size - t : kChunk;
      return DetectWindow(data + t, n, complete && n == size - t);
    }
  }
  return TextEncoding::kAscii;
}

int32_t ConvertToShiftJis(const unsigned char* data, size_t size, char* out) {
  return ConvertSpan<false>(data, size, out);
}

int32_t ConvertToShiftJisWalked(const unsigned char* data, size_t size, TextWalk walk, char* out, bool* walked) {
  size_t pos = 0, t = 0;
  const TextEncoding enc = SpanEncoding(data, size, pos, t);
  const bool html = walk == TextWalk::kHtml;
  *walked = true;
  // ASCII converts to itself, which the UTF-8 walk does too. Shift_JIS and
  // EUC-JP take the one pass only with the 256-bit runs, which carry them;
  // a half-width kana of Shift_JIS converts to two bytes.
  if ((enc == TextEncoding::kUtf8 || enc == TextEncoding::kAscii) && size <= kWalkedSizeLimit) {
    return html ? ConvertWalked<TextEncoding::kUtf8, TextWalk::kHtml>(data, pos, size, out)
                : ConvertWalked<TextEncoding::kUtf8, TextWalk::kCompact>(data, pos, size, out);
  }
#if defined(KURIBO_AVX2_RUNS)
  if (UseWideVectors()) {
    // The ASCII before the first byte that tells the encoding passes as it is
    // in these too.
    if (enc == TextEncoding::kShiftJis && size <= kWalkedSizeLimit / 2) {
      return html ? ConvertWalked<TextEncoding::kShiftJis, TextWalk::kHtml>(data, pos, size, out)
                  : ConvertWalked<TextEncoding::kShiftJis, TextWalk::kCompact>(data, pos, size, out);
    }
    if (enc == TextEncoding::kEucJp && size <= kWalkedSizeLimit) {
      return html ? ConvertWalked<TextEncoding::kEucJp, TextWalk::kHtml>(data, pos, size, out)
                  : ConvertWalked<TextEncoding::kEucJp, TextWalk::kCompact>(data, pos, size, out);
    }
  }
#endif
  *walked = false;
  return ConvertSpanFrom<false>(data, size, enc, pos, t, out);
}

int32_t ConvertToShiftJisStepwise(const unsigned char* data, size_t size, char* out) {
  return ConvertSpan<true>(data, size, out);
}

int32_t ConvertToShiftJisChunked(const unsigned char* data, size_t size, char* out) {
  MemorySource src(data, size);
  return Convert(src, out);
}

int32_t ConvertFileStartToShiftJis(const unsigned char* head, size_t size, int fd, char* out) {
  if (fd < 0) return ConvertSpan<false>(head, size, out);
  PrefixedFileSource src(head, size, fd);
  return Convert(src, out);
}

int32_t ConvertFileToShiftJis(const std::string& path, std::string_view options, char* out) {
  (void)options;  // "-s" is the only behaviour: Shift_JIS out, input detected
  const int fd = OpenFileForReading(path);
  if (fd < 0) return -1;
  FileSource src(fd);
  return Convert(src, out);
}

}  // namespace kuribo

#include "app/keywords.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <unordered_set>

#include "encoding/sjis.h"
#include "platform/cpu.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__) && defined(__SSE2__)
#include <immintrin.h>
#endif

namespace kuribo {
namespace {

struct HalfKana {
  unsigned char len;
  unsigned char b[2];
};

// Half-width forms of the full-width katakana 0x83 0x40 (ァ) to 0x83 0x94 (ヴ),
// indexed by the trail byte minus 0x40. The core of the table is ア to ン; ァ
// and ヴ sit at its two ends so that ﾌｧｲﾙ and ｳﾞｨｰﾅｽ widen to the right words
// instead of losing a letter. ヮ, ヰ, ヱ have no half-width form and map to
// themselves; the hole at 0x7F holds "・".
constexpr unsigned char kKanaFirstTrail = 0x40;
constexpr unsigned char kKanaLastTrail = 0x94;
constexpr HalfKana kHalfKana[] = {
    {1, {0xA7}},        // ァ
    {1, {0xB1}},        // ア
    {1, {0xA8}},        // ィ
    {1, {0xB2}},        // イ
    {1, {0xA9}},        // ゥ
    {1, {0xB3}},        // ウ
    {1, {0xAA}},        // ェ
    {1, {0xB4}},        // エ
    {1, {0xAB}},        // ォ
    {1, {0xB5}},        // オ
    {1, {0xB6}},        // カ
    {2, {0xB6, 0xDE}},  // ガ
    {1, {0xB7}},        // キ
    {2, {0xB7, 0xDE}},  // ギ
    {1, {0xB8}},        // ク
    {2, {0xB8, 0xDE}},  // グ
    {1, {0xB9}},        // ケ
    {2, {0xB9, 0xDE}},  // ゲ
    {1, {0xBA}},        // コ
    {2, {0xBA, 0xDE}},  // ゴ
    {1, {0xBB}},        // サ
    {2, {0xBB, 0xDE}},  // ザ
    {1, {0xBC}},        // シ
    {2, {0xBC, 0xDE}},  // ジ
    {1, {0xBD}},        // ス
    {2, {0xBD, 0xDE}},  // ズ
    {1, {0xBE}},        // セ
    {2, {0xBE, 0xDE}},  // ゼ
    {1, {0xBF}},        // ソ
    {2, {0xBF, 0xDE}},  // ゾ
    {1, {0xC0}},        // タ
    {2, {0xC0, 0xDE}},  // ダ
    {1, {0xC1}},        // チ
    {2, {0xC1, 0xDE}},  // ヂ
    {1, {0xAF}},        // ッ
    {1, {0xC2}},        // ツ
    {2, {0xC2, 0xDE}},  // ヅ
    {1, {0xC3}},        // テ
    {2, {0xC3, 0xDE}},  // デ
    {1, {0xC4}},        // ト
    {2, {0xC4, 0xDE}},  // ド
    {1, {0xC5}},        // ナ
    {1, {0xC6}},        // ニ
    {1, {0xC7}},        // ヌ
    {1, {0xC8}},        // ネ
    {1, {0xC9}},        // ノ
    {1, {0xCA}},        // ハ
    {2, {0xCA, 0xDE}},  // バ
    {2, {0xCA, 0xDF}},  // パ
    {1, {0xCB}},        // ヒ
    {2, {0xCB, 0xDE}},  // ビ
    {2, {0xCB, 0xDF}},  // ピ
    {1, {0xCC}},        // フ
    {2, {0xCC, 0xDE}},  // ブ
    {2, {0xCC, 0xDF}},  // プ
    {1, {0xCD}},        // ヘ
    {2, {0xCD, 0xDE}},  // ベ
    {2, {0xCD, 0xDF}},  // ペ
    {1, {0xCE}},        // ホ
    {2, {0xCE, 0xDE}},  // ボ
    {2, {0xCE, 0xDF}},  // ポ
    {1, {0xCF}},        // マ
    {1, {0xD0}},        // ミ
    {2, {0x81, 0x45}},  // (no character)
    {1, {0xD1}},        // ム
    {1, {0xD2}},        // メ
    {1, {0xD3}},        // モ
    {1, {0xAC}},        // ャ
    {1, {0xD4}},        // ヤ
    {1, {0xAD}},        // ュ
    {1, {0xD5}},        // ユ
    {1, {0xAE}},        // ョ
    {1, {0xD6}},        // ヨ
    {1, {0xD7}},        // ラ
    {1, {0xD8}},        // リ
    {1, {0xD9}},        // ル
    {1, {0xDA}},        // レ
    {1, {0xDB}},        // ロ
    {2, {0x83, 0x8E}},  // ヮ
    {1, {0xDC}},        // ワ
    {2, {0x83, 0x90}},  // ヰ
    {2, {0x83, 0x91}},  // ヱ
    {1, {0xA6}},        // ヲ
    {1, {0xDD}},        // ン
    {2, {0xB3, 0xDE}},  // ヴ
};
static_assert(sizeof(kHalfKana) / sizeof(kHalfKana[0]) == kKanaLastTrail - kKanaFirstTrail + 1);

enum Slot {
  kFullUpper,
  kFullLower,
  kHalfUpper,
  kHalfLower,
  kFullCapital,
  kHalfCapital,
  kFullKana,
  kHalfKanaSlot,
  kFullNumber,
  kHalfNumber,
  kFullGrouped,
  kHalfGrouped,
  kSlotCount
};

bool InRange(unsigned c, unsigned lo, unsigned hi) { return c >= lo && c <= hi; }
bool IsDigit(unsigned x) { return InRange(x, '0', '9'); }
bool IsUpper(unsigned x) { return InRange(x, 'A', 'Z'); }
bool IsLower(unsigned x) { return InRange(x, 'a', 'z'); }

void Put(std::string& s, unsigned a) { s.push_back(static_cast<char>(a)); }
void Put(std::string& s, unsigned a, unsigned b) {
  s.push_back(static_cast<char>(a));
  s.push_back(static_cast<char>(b));
}

struct Variants {
  std::string slot[kSlotCount];
  bool fullCapitalDone = false;
  bool halfCapitalDone = false;
  bool allNumeric = true;
};

void AddTwoByte(Variants& v, unsigned c1, unsigned c2) {
  std::string* s = v.slot;
  const bool fw = c1 == 0x82;
  const bool fwDigit = fw && InRange(c2, 0x4F, 0x58);
  const bool fwUpper = fw && InRange(c2, 0x60, 0x79);
  const bool fwLower = fw && InRange(c2, 0x81, 0x9A);

  if (fwLower) Put(s[kFullUpper], c1, c2 - 0x21);
  else Put(s[kFullUpper], c1, c2);

  if (fwUpper) Put(s[kFullLower], c1, c2 + 0x21);
  else Put(s[kFullLower], c1, c2);

  // 0x4F-0x79 deliberately includes the unassigned cells between Ｚ and ０.
  if (fw && InRange(c2, 0x4F, 0x79)) Put(s[kHalfUpper], c2 - 0x1F);
  else if (fwLower) Put(s[kHalfUpper], c2 - 0x40);
  else Put(s[kHalfUpper], c1, c2);

  if (fwDigit) Put(s[kHalfLower], c2 - 0x1F);
  else if (fwUpper) Put(s[kHalfLower], c2 + 1);
  else if (fwLower) Put(s[kHalfLower], c2 - 0x20);
  else Put(s[kHalfLower], c1, c2);

  if (fwUpper) {
    if (v.fullCapitalDone) {
      Put(s[kFullCapital], c1, c2 + 0x21);
    } else {
      Put(s[kFullCapital], c1, c2);
      v.fullCapitalDone = true;
    }
  } else if (fwLower) {
    if (v.fullCapitalDone) {
      Put(s[kFullCapital], c1, c2);
    } else {
      Put(s[kFullCapital], c1, c2 - 0x21);
      v.fullCapitalDone = true;
    }
  } else {
    Put(s[kFullCapital], c1, c2);
  }

  if (fwDigit) {
    Put(s[kHalfCapital], c2 - 0x1F);
  } else if (fwUpper) {
    Put(s[kHalfCapital], v.halfCapitalDone ? c2 + 1 : c2 - 0x1F);
    v.halfCapitalDone = true;
  } else if (fwLower) {
    Put(s[kHalfCapital], v.halfCapitalDone ? c2 - 0x20 : c2 - 0x40);
    v.halfCapitalDone = true;
  } else {
    Put(s[kHalfCapital], c1, c2);
  }

  Put(s[kFullKana], c1, c2);

  if (c1 == 0x81 && c2 == 0x5B) {
    Put(s[kHalfKanaSlot], 0xB0);
  } else if (c1 == 0x83 && InRange(c2, kKanaFirstTrail, kKanaLastTrail)) {
    const HalfKana& k = kHalfKana[c2 - kKanaFirstTrail];
    s[kHalfKanaSlot].append(reinterpret_cast<const char*>(k.b), k.len);
  } else {
    Put(s[kHalfKanaSlot], c1, c2);
  }

  if (fwDigit || (c1 == 0x81 && c2 == 0x44)) {
    Put(s[kFullNumber], c1, c2);
    Put(s[kHalfNumber], fwDigit ? c2 - 0x1F : '.');
  } else if (!(c1 == 0x81 && c2 == 0x43)) {
    v.allNumeric = false;
  }
}

void AddOneByte(Variants& v, const unsigned char* kw, size_t pos, size_t len) {
  std::string* s = v.slot;
  const unsigned x = kw[pos];
  const bool digit = IsDigit(x), upper = IsUpper(x), lower = IsLower(x);

  if (digit || upper) Put(s[kFullUpper], 0x82, x + 0x1F);
  else if (lower) Put(s[kFullUpper], 0x82, x - 1);
  else Put(s[kFullUpper], x);

  if (digit) Put(s[kFullLower], 0x82, x + 0x1F);
  else if (upper) Put(s[kFullLower], 0x82, x + 0x40);
  else if (lower) Put(s[kFullLower], 0x82, x + 0x20);
  else Put(s[kFullLower], x);

  Put(s[kHalfUpper], lower ? x - 0x20 : x);
  Put(s[kHalfLower], upper ? x + 0x20 : x);

  if (digit) {
    Put(s[kFullCapital], 0x82, x + 0x1F);
  } else if (upper) {
    Put(s[kFullCapital], 0x82, v.fullCapitalDone ? x + 0x40 : x + 0x1F);
    v.fullCapitalDone = true;
  } else if (lower) {
    Put(s[kFullCapital], 0x82, v.fullCapitalDone ? x + 0x20 : x - 1);
    v.fullCapitalDone = true;
  } else {
    Put(s[kFullCapital], x);
  }

  if (upper) {
    Put(s[kHalfCapital], v.halfCapitalDone ? x + 0x20 : x);
    v.halfCapitalDone = true;
  } else if (lower) {
    Put(s[kHalfCapital], v.halfCapitalDone ? x : x - 0x20);
    v.halfCapitalDone = true;
  } else {
    Put(s[kHalfCapital], x);
  }

  if (x == 0xB0) {
    Put(s[kFullKana], 0x81, 0x5B);
  } else if (InRange(x, 0xA6, 0xDF)) {
    // From the last entry down, so that a letter followed by ﾞ or ﾟ takes the
    // voiced entry; the mark itself then matches nothing and adds nothing.
    for (int i = static_cast<int>(std::size(kHalfKana)) - 1; i >= 0; --i) {
      const HalfKana& k = kHalfKana[i];
      if (pos + k.len <= len && std::memcmp(k.b, kw + pos, k.len) == 0) {
        Put(s[kFullKana], 0x83, kKanaFirstTrail + i);
        break;
      }
    }
  } else {
    Put(s[kFullKana], x);
  }

  Put(s[kHalfKanaSlot], x);

  if (digit) {
    Put(s[kFullNumber], 0x82, x + 0x1F);
    Put(s[kHalfNumber], x);
  } else if (x == '.') {
    Put(s[kFullNumber], 0x81, 0x44);
    Put(s[kHalfNumber], x);
  } else if (x != ',') {
    v.allNumeric = false;
  }
}

void BuildNumberSlots(Variants& v) {
  std::string* s = v.slot;
  if (!v.allNumeric || std::count(s[kHalfNumber].begin(), s[kHalfNumber].end(), '.') >= 2) {
    s[kFullNumber].clear();
    s[kHalfNumber].clear();
    return;
  }
  const std::string& half = s[kHalfNumber];
  const size_t dot = half.find('.');
  const size_t w = dot == std::string::npos ? half.size() : dot;
  for (size_t k = 0; k < half.size(); ++k) {
    if (k > 0 && k < w && (w - k) % 3 == 0) {
      Put(s[kFullGrouped], 0x81, 0x43);
      Put(s[kHalfGrouped], ',');
    }
    const unsigned b = static_cast<unsigned char>(half[k]);
    Put(s[kHalfGrouped], b);
    if (b == '.') Put(s[kFullGrouped], 0x81, 0x44);
    else Put(s[kFullGrouped], 0x82, b + 0x1F);
  }
}

int ClampToInt(int64_t v) { return v > INT_MAX ? INT_MAX : static_cast<int>(v); }

constexpr size_t kNotFound = static_cast<size_t>(-1);

// Next occurrence of kw (m >= 2 bytes) starting at or after `from`, found by a
// byte scan for its first byte.
size_t FindScalar(const unsigned char* t, size_t n, const unsigned char* kw, size_t m, size_t from) {
  while (from + m <= n) {
    const void* p = std::memchr(t + from, kw[0], n - m + 1 - from);
    if (!p) return kNotFound;
    const size_t pos = static_cast<const unsigned char*>(p) - t;
    if (std::memcmp(t + pos + 1, kw + 1, m - 1) == 0) return pos;
    from = pos + 1;
  }
  return kNotFound;
}

#if defined(__GNUC__) && defined(__x86_64__) && defined(__SSE2__)
#define KURIBO_FIND_AVX2 1
// The alignments of t[0, 32) where the keyword's first and last bytes stand.
__attribute__((target("avx2"))) inline uint32_t CandidatesAvx2(const unsigned char* t, size_t m, __m256i first,
                                                               __m256i last) {
  const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t));
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + m - 1));
  return static_cast<uint32_t>(
      _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(a, first), _mm256_cmpeq_epi8(b, last))));
}

// The first part of Find thirty-two alignments at a time; returns the match,
// or kNotFound with `from` moved to where the 16-byte loop goes on.
__attribute__((target("avx2"))) size_t FindAvx2(const unsigned char* t, size_t n, const unsigned char* kw,
                                                size_t m, size_t& from) {
  const __m256i firstByte = _mm256_set1_epi8(static_cast<char>(kw[0]));
  const __m256i lastByte = _mm256_set1_epi8(static_cast<char>(kw[m - 1]));
  auto verify = [&](size_t at, uint64_t mask) {
    for (; mask; mask &= mask - 1) {
      const size_t pos = at + static_cast<size_t>(__builtin_ctzll(mask));
      if (m == 2 || std::memcmp(t + pos + 1, kw + 1, m - 2) == 0) return pos;
    }
    return kNotFound;
  };
  size_t i = from;
  // Sixty-four alignments a round, so the common round without a candidate
  // costs one branch.
  while (n >= m + 63 && i <= n - m - 63) {
    const uint64_t mask = CandidatesAvx2(t + i, m, firstByte, lastByte) |
                          static_cast<uint64_t>(CandidatesAvx2(t + i + 32, m, firstByte, lastByte)) << 32;
    if (mask) {
      const size_t pos = verify(i, mask);
      if (pos != kNotFound) return pos;
    }
    i += 64;
  }
  while (n >= m + 31 && i <= n - m - 31) {
    const size_t pos = verify(i, CandidatesAvx2(t + i, m, firstByte, lastByte));
    if (pos != kNotFound) return pos;
    i += 32;
  }
  from = i;
  return kNotFound;
}
#endif

// Same result as FindScalar. Sixteen alignments at a time (thirty-two with
// AVX2) are tested on the keyword's first and last bytes; only the survivors
// are compared in full.
size_t Find(const unsigned char* t, size_t n, const unsigned char* kw, size_t m, size_t from) {
#if defined(KURIBO_FIND_AVX2)
  if (UseWideVectors()) {
    const size_t pos = FindAvx2(t, n, kw, m, from);
    if (pos != kNotFound) return pos;
  }
#endif
#if defined(__SSE2__)
  const __m128i firstByte = _mm_set1_epi8(static_cast<char>(kw[0]));
  const __m128i lastByte = _mm_set1_epi8(static_cast<char>(kw[m - 1]));
  auto candidates = [&](size_t i) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i + m - 1));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, firstByte), _mm_cmpeq_epi8(b, lastByte))));
  };
  auto verify = [&](size_t i, unsigned mask) -> size_t {
    while (mask) {
      const size_t pos = i + static_cast<size_t>(__builtin_ctz(mask));
      if (m == 2 || std::memcmp(t + pos + 1, kw + 1, m - 2) == 0) return pos;
      mask &= mask - 1;
    }
    return kNotFound;
  };
  size_t i = from;
  // Two blocks per round: one branch per 32 alignments in the common no-candidate case.
  while (n >= m + 31 && i <= n - m - 31) {
    const unsigned lo = candidates(i), hi = candidates(i + 16);
    if (lo | hi) {
      size_t pos = verify(i, lo);
      if (pos == kNotFound) pos = verify(i + 16, hi);
      if (pos != kNotFound) return pos;
    }
    i += 32;
  }
  if (n >= m + 15 && i <= n - m - 15) {
    const size_t pos = verify(i, candidates(i));
    if (pos != kNotFound) return pos;
    i += 16;
  }
  return FindScalar(t, n, kw, m, i);
#else
  return FindScalar(t, n, kw, m, from);
#endif
}

bool IsSecondByteContext(unsigned char c) { return InRange(c, 0x80, 0x9F) || InRange(c, 0xE0, 0xEF); }

}  // namespace

void ExpandKeywords(KeywordList& keywords) {
  std::unordered_set<std::string> present(keywords.begin(), keywords.end());
  const size_t userCount = keywords.size();
  for (size_t n = 0; n < userCount; ++n) {
    // Copy: appending may move the list's storage.
    const std::string keyword = keywords[n];
    const auto* kw = reinterpret_cast<const unsigned char*>(keyword.data());
    const size_t len = keyword.size();
    Variants v;
    for (size_t i = 0; i < len;) {
      if (IsLeadByte(kw[i]) && i + 1 < len) {
        AddTwoByte(v, kw[i], kw[i + 1]);
        i += 2;
      } else {
        AddOneByte(v, kw, i, len);
        i += 1;
      }
    }
    BuildNumberSlots(v);
    for (std::string& s : v.slot) {
      // Widening can push a variant past what a keyword may hold; such a
      // variant is dropped rather than cut in the middle of a character.
      if (s.empty() || s.size() > kMaxKeywordBytes) continue;
      if (present.insert(s).second) keywords.push_back(std::move(s));
    }
  }
}

namespace {

// CountMatches; `zeroFree`: the caller knows the text holds no zero byte.
int CountIn(const char* text, size_t textLength, const char* keyword, size_t keywordLength, int* first,
            bool zeroFree) {
  if (first) *first = -1;
  if (!text || !keyword) return 0;
  const size_t m = strnlen(keyword, keywordLength);
  const size_t n = std::min(textLength, static_cast<size_t>(INT_MAX));
  if (m == 0 || m > n) return 0;
  const auto* t = reinterpret_cast<const unsigned char*>(text);
  const auto* kw = reinterpret_cast<const unsigned char*>(keyword);

  // The text ends at its first zero byte. The keyword holds none, so no match
  // spans one: a zero byte is looked for only before each match found.
  size_t checked = 0;
  auto beforeEnd = [&](size_t pos) {
    if (zeroFree) return true;
    if (pos > checked && std::memchr(t + checked, 0, pos - checked)) return false;
    checked = pos + m;
    return true;
  };

  int count = 0;
  if (m == 1) {
    for (size_t i = 0; i < n;) {
      const void* p = std::memchr(t + i, kw[0], n - i);
      if (!p) break;
      const size_t pos = static_cast<const unsigned char*>(p) - t;
      if (!beforeEnd(pos)) break;
      // A byte after a lead byte is taken for the second byte of a character.
      if (pos == 0 || !IsSecondByteContext(t[pos - 1])) {
        if (count == 0 && first) *first = static_cast<int>(pos);
        ++count;
      }
      i = pos + 1;
    }
    return count;
  }

  for (size_t from = 0;;) {
    const size_t pos = Find(t, n, kw, m, from);
    if (pos == kNotFound || !beforeEnd(pos)) break;
    if (count == 0 && first) *first = static_cast<int>(pos + m - 2);
    ++count;
    // Two matches may share one byte, no more.
    from = pos + m - 1;
  }
  return count;
}

}  // namespace

int CountMatches(const char* text, size_t textLength, const char* keyword, size_t keywordLength,
                 int* first) {
  return CountIn(text, textLength, keyword, keywordLength, first, false);
}

int MatchFile(const std::string& sjisPath, const char* text, int32_t textLength,
              const KeywordList& keywords, char* snippet) {
  if (snippet) snippet[0] = '\0';
  const size_t length = text && textLength > 0 ? strnlen(text, static_cast<size_t>(textLength)) : 0;
  int64_t hits = 0;
  int best = -1;
  for (const std::string& k : keywords) {
    hits += CountMatches(sjisPath.data(), sjisPath.size(), k.data(), k.size());
    int p = -1;
    // The text is cut at its first zero byte already.
    if (length > 0) hits += CountIn(text, length, k.data(), k.size(), &p, true);
    if (p >= 0 && (best < 0 || p < best)) best = p;
  }
  if (snippet && length > 0) {
    size_t start = 0;
    if (best >= 11) {
      const auto* t = reinterpret_cast<const unsigned char*>(text);
      const unsigned char b11 = t[best - 11], b10 = t[best - 10], b9 = t[best - 9];
      // Step back one more byte only when that keeps a two-byte character whole.
      const bool tenIsStart =
          !IsLeadByte(b11) || !IsTrailByte(b10) || (IsLeadByte(b10) && IsTrailByte(b9));
      start = static_cast<size_t>(best) - (tenIsStart ? 10 : 11);
    }
    const size_t count = std::min(static_cast<size_t>(kMaxSnippetBytes), length - start);
    std::memcpy(snippet, text + start, count);
    snippet[count] = '\0';
  }
  return ClampToInt(hits);
}

namespace {

// Length of the UTF-8 sequence starting with c; 1 for a byte that starts none.
size_t Utf8SequenceLength(unsigned char c) {
  if (c >= 0xF0 && c <= 0xF4) return 4;
  if (c >= 0xE0) return 3;
  if (c >= 0xC2 && c < 0xE0) return 2;
  return 1;
}

// The characters of utf8 that have no Shift_JIS form, for the user to see.
std::string UnrepresentableCharacters(const std::string& utf8) {
  std::string list;
  std::unordered_set<std::string> seen;
  for (size_t i = 0; i < utf8.size();) {
    const size_t len = std::min(Utf8SequenceLength(static_cast<unsigned char>(utf8[i])), utf8.size() - i);
    const std::string ch = utf8.substr(i, len);
    i += len;
    bool ok = false;
    const std::string converted = Utf8ToSjis(ch, ' ', &ok);
    if (ok && converted[0] != '\0') continue;
    if (!seen.insert(ch).second) continue;
    if (!list.empty()) list += ' ';
    // A character without a form converts to one replacement; broken UTF-8 to one per byte.
    if (ok) list += "U+0000";
    else if (ch.size() == 1 || converted.size() != 1) list += "(不正なバイト)";
    else list += ch;
  }
  return list;
}

}  // namespace

bool KeywordToSjis(const std::string& utf8, std::string* sjis, std::string* error) {
  auto refuse = [&](std::string message) {
    if (error) *error = std::move(message);
    return false;
  };
  if (utf8.empty()) return refuse("キーワードが空です");
  bool lossless = false;
  std::string converted = Utf8ToSjis(utf8, ' ', &lossless);
  // A zero byte would end the keyword early wherever it is matched.
  if (!lossless || converted.find('\0') != std::string::npos)
    return refuse("Shift_JISで表せない文字が含まれています: " + UnrepresentableCharacters(utf8));
  if (converted.size() > kMaxKeywordBytes) return refuse("キーワードが長すぎます（127バイトまで）");
  if (sjis) *sjis = std::move(converted);
  return true;
}

}  // namespace kuribo

#include "extract/text/compact.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "extract/text/walk.h"
#include "platform/cpu.h"
#include "support/reference_walk.h"

namespace kuribo {
namespace {

// Compacts a copy held in a buffer of exactly its size, so that a read past the
// text shows up under AddressSanitizer.
std::string Compact(const std::string& in) {
  std::vector<char> buf(in.begin(), in.end());
  const int32_t n = CompactText(buf.data(), (int32_t)buf.size());
  return std::string(buf.data(), (size_t)n);
}

std::string Reference(const std::string& in) {
  return test::ReferenceWalk(in, test::WalkRules::kCompact);
}

TEST(CompactTextRules, FullWidthSpaceBecomesOneSpaceAndNeverLeads) {
  EXPECT_EQ(Compact("\x81\x40" "abc"), "abc");
  EXPECT_EQ(Compact("a\x81\x40\x81\x40" "b"), "a b");
  EXPECT_EQ(Compact("a \x81\x40 b"), "a b");
  // 0x40 only pairs with 0x81 as a full-width space when 0x81 starts a character.
  EXPECT_EQ(Compact("\x82\x81\x40"), std::string("\x82\x81@"));
}

TEST(CompactTextRules, ControlBytesAndLineEndsBecomeSingleSpaces) {
  EXPECT_EQ(Compact("A\r\nB"), "A B");
  EXPECT_EQ(Compact(std::string("\t\r\n \x00\x1F\x7F\x80\xA0\xFD\xFF", 11)), "");
  EXPECT_EQ(Compact("x\t\ty\x7Fz "), "x y z ");
  EXPECT_EQ(Compact(""), "");
  char b[1] = {'a'};
  EXPECT_EQ(CompactText(b, 0), 0);
  EXPECT_EQ(CompactText(b, -5), 0);
}

TEST(CompactTextRules, HalfWidthKatakanaIsText) {
  EXPECT_EQ(Compact("\xB6\xDE\xB2\xC4\xDE"), "\xB6\xDE\xB2\xC4\xDE");
}

TEST(CompactTextRules, ExtensionKanjiStayWhole) {
  // 髙 (0xFBFC), 﨑 (0xFAB1) and the user-defined row 0xF040 are characters;
  // 0xFD-0xFF are not lead bytes.
  EXPECT_EQ(Compact("\xFB\xFC\x8B\xB4"), "\xFB\xFC\x8B\xB4");
  EXPECT_EQ(Compact("x\xFA\xB1 \xF0\x40"), "x\xFA\xB1 \xF0\x40");
  EXPECT_EQ(Compact("x\xFD\x41"), "x A");
}

TEST(CompactTextRules, LeadByteTakesWhateverFollows) {
  EXPECT_EQ(Compact("\x82\n\x82 a"), "\x82\n\x82 a");
  // The trail was a space, so the next space is not emitted.
  EXPECT_EQ(Compact("\x82  a"), "\x82 a");
  EXPECT_EQ(Compact("\x88\x9F\xE0\x81"), "\x88\x9F\xE0\x81");
}

TEST(CompactTextRules, LoneLeadByteAtTheEndIsDropped) {
  EXPECT_EQ(Compact("ab\x82"), "ab");
  EXPECT_EQ(Compact("ab \x81"), "ab ");
  EXPECT_EQ(Compact("\x88\x9F\x88"), "\x88\x9F");
}

TEST(CompactTextRules, ReadsAtMostAMillionBytesAndStopsAfter999998) {
  std::string ascii(1'500'000, 'a');
  EXPECT_EQ(Compact(ascii).size(), 999'999u);

  std::string kanji;
  for (int i = 0; i < 750'000; ++i) kanji += "\x8C\xA9";
  const std::string out = Compact(kanji);
  EXPECT_EQ(out.size(), 1'000'000u);
  EXPECT_EQ(out, kanji.substr(0, 1'000'000));

  // Spaces shorten the output, so the input limit, not the emission stop, ends it.
  std::string spaced;
  while (spaced.size() < 1'500'000) spaced += "ab  ";
  EXPECT_EQ(Compact(spaced).size(), 750'000u);

  // A lead byte at the last position read (999,999) takes its trail from beyond it.
  const std::string edge = " " + std::string(999'998, 'a') + "\x8C\xA9zz";
  const std::string out2 = Compact(edge);
  EXPECT_EQ(out2.size(), 1'000'000u);
  EXPECT_EQ(out2.substr(999'998), "\x8C\xA9");
}

std::string RandomText(std::mt19937& rng, size_t n) {
  // Bytes weighted towards the ones the rules treat specially.
  static const unsigned char kPicks[] = {0x81, 0x40, 0x20, 0x20, 0x0A, 0x0D, 0x82, 0xA0, 0x88,
                                         0x9F, 0xE0, 0xEF, 0xF0, 0xFA, 0x41, 0x61, 0xB6, 0xDE,
                                         0x00, 0x7F, 0x80, 0x3C, 0x2C, 0x65};
  std::string s(n, '\0');
  const int mode = (int)(rng() % 3);
  for (auto& c : s) {
    const uint32_t x = rng();
    if (mode == 0) {
      c = (char)(x & 0xFF);
    } else if (mode == 1) {
      c = (char)kPicks[x % sizeof kPicks];
    } else {
      // Mostly plain text with an occasional special byte.
      c = (x % 8) ? (char)(0x61 + (x >> 8) % 26) : (char)kPicks[(x >> 16) % sizeof kPicks];
    }
  }
  return s;
}

TEST(CompactTextRules, BlockWalkMatchesTheByteRules) {
  std::mt19937 rng(20240601);
  for (int iter = 0; iter < 4000; ++iter) {
    const size_t n = rng() % 700;
    const std::string in = RandomText(rng, n);
    ASSERT_EQ(Compact(in), Reference(in)) << "iteration " << iter;
  }
}

TEST(CompactTextRules, BlockWalkMatchesTheByteRulesNearTheLimits) {
  std::mt19937 rng(7);
  for (int iter = 0; iter < 6; ++iter) {
    // Japanese-like text: two-byte characters with a few spaces and line ends,
    // long enough to reach the input limit or the emission stop.
    std::string in;
    const size_t n = 999'900 + rng() % 300;
    while (in.size() < n) {
      const uint32_t x = rng();
      if (x % 50 == 0) {
        in += "\r\n";
      } else if (x % 61 == 0) {
        in += "\x81\x40";
      } else if (x % 13 == 0) {
        in += (char)('a' + x % 26);
      } else {
        in += (char)(0x88 + x % 8);
        in += (char)(0x40 + (x >> 8) % 0xBC);
      }
    }
    if (iter % 2) in += std::string(rng() % 200, 'x');
    ASSERT_EQ(Compact(in), Reference(in)) << "iteration " << iter;
  }
}

TEST(CompactTextRules, WorksInPlaceOnTheSameBuffer) {
  std::string in;
  for (int i = 0; i < 5000; ++i) in += (i % 7) ? "\x82\xA0 " : "  \r\n\x81\x40";
  std::vector<char> buf(in.begin(), in.end());
  const int32_t n = CompactText(buf.data(), (int32_t)buf.size());
  EXPECT_EQ(std::string(buf.data(), (size_t)n), Reference(in));
}

// Shift_JIS-like text built from pieces: characters whose trail is a '<', ','
// or '>', tags short and longer than a block or never closed, comma runs.
std::string WalkPieces(std::mt19937& rng, size_t n) {
  static const char* const kPieces[] = {
      "\x8c\xa9", "\x82\xa0", "\x82\xa0", "\x81\x40", "\x81\x42", "\x82<", "\x82,", "\x82>", "\x81 ",
      "<p>",        "</p>\n",   "<",        ">",        ",",        ",,",    " ",     "\r\n", "a",
      "\xb6\xde", "\x82",      "\x7f",     "<a href=\"\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9"
      "\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9"
      "\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\x8c\xa9\">"};
  std::string s;
  while (s.size() < n) {
    const uint32_t x = rng();
    s += (x & 0x300) ? kPieces[x % 3] : kPieces[x % (sizeof kPieces / sizeof *kPieces)];
  }
  s.resize(n);
  return s;
}

// The HTML and CSV block walks of `in` against the byte walk, in place and
// into another buffer as small as it may be: one more byte for a character
// across the limit.
void ExpectFastWalksMatch(const std::string& in, int32_t limit, const std::string& what) {
  using walk::Mode;
  const int32_t length = (int32_t)in.size();
  const auto* src = reinterpret_cast<const unsigned char*>(in.data());
  for (const Mode mode : {Mode::kHtml, Mode::kCsv}) {
    const size_t room = (size_t)limit + (limit < length);
    std::vector<unsigned char> want(room), apart(room), same(src, src + in.size());
    int32_t r = 0;
    const int32_t n = mode == Mode::kHtml ? walk::Walk<Mode::kHtml>(src, want.data(), r, 0, limit, length)
                                          : walk::Walk<Mode::kCsv>(src, want.data(), r, 0, limit, length);
    const auto fast = mode == Mode::kHtml ? walk::FastWalk<Mode::kHtml> : walk::FastWalk<Mode::kCsv>;
    ASSERT_EQ(fast(src, apart.data(), limit, length), n) << what;
    ASSERT_EQ(fast(same.data(), same.data(), limit, length), n) << what;
    ASSERT_EQ(std::string(apart.begin(), apart.begin() + n), std::string(want.begin(), want.begin() + n)) << what;
    ASSERT_EQ(std::string(same.begin(), same.begin() + n), std::string(want.begin(), want.begin() + n)) << what;
  }
}

// The block walks against the byte walk from the start, in place and from one
// buffer into another, with the walk limit short of the text's end at times.
TEST(FastWalk, MatchesTheByteWalk) {
  std::mt19937 rng(11);
  for (int iter = 0; iter < 3000; ++iter) {
    AllowWideVectors(iter % 3 != 0);  // the portable blocks too
    const std::string in = WalkPieces(rng, 1 + rng() % 700);
    const int32_t length = (int32_t)in.size();
    const int32_t limit = (iter & 1) ? length : length - (int32_t)(rng() % (in.size() < 80 ? in.size() : 80));
    ExpectFastWalksMatch(in, limit, std::to_string(iter));
  }
  AllowWideVectors(true);
}

// A pair across the end of a block, the last one walked or not, in place and
// apart: the block writes its output over its lead before the pair is done.
TEST(FastWalk, APairAcrossABlockEndIsWalkedWhole) {
  for (const bool wide : {true, false}) {
    AllowWideVectors(wide);
    for (const char* pair : {"\x81\x40", "\x82\xa0", "\x81 ", "\x82<", "\x82,"}) {
      for (size_t length = 64; length <= 200; ++length) {
        for (const size_t at : {62, 63, 64, 126, 127}) {
          if (at + 2 > length) continue;
          std::string in(length, 'a');
          in.replace(at, 2, pair);
          const std::string what = std::to_string(length) + " " + std::to_string(at) + (wide ? "" : " portable");
          ASSERT_EQ(Compact(in), Reference(in)) << what;
          ExpectFastWalksMatch(in, (int32_t)length, what);
        }
      }
    }
  }
  AllowWideVectors(true);
}

}  // namespace
}  // namespace kuribo

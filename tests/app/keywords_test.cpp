#include "app/keywords.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <set>

#include "encoding/sjis.h"

namespace kuribo {
namespace {

// Shift_JIS bytes of a UTF-8 literal.
std::string S(const std::string& utf8) {
  bool lossless = false;
  std::string s = Utf8ToSjis(utf8, ' ', &lossless);
  EXPECT_TRUE(lossless) << utf8;
  return s;
}

KeywordList Expanded(std::initializer_list<std::string> utf8Keywords) {
  KeywordList list;
  for (const std::string& k : utf8Keywords) list.push_back(S(k));
  ExpandKeywords(list);
  return list;
}

KeywordList SjisList(std::initializer_list<std::string> utf8) {
  KeywordList list;
  for (const std::string& k : utf8) list.push_back(S(k));
  return list;
}

bool Contains(const KeywordList& list, const std::string& sjis) {
  return std::find(list.begin(), list.end(), sjis) != list.end();
}

// Text in a heap block of exactly its size, so that a read past its end is caught.
struct ExactText {
  explicit ExactText(const std::string& s) : size(s.size()), bytes(new char[s.size() ? s.size() : 1]) {
    std::memcpy(bytes.get(), s.data(), s.size());
  }
  size_t size;
  std::unique_ptr<char[]> bytes;
};

int Count(const std::string& text, const std::string& keyword, int* first = nullptr) {
  ExactText t(text), k(keyword);
  return CountMatches(t.bytes.get(), t.size, k.bytes.get(), k.size, first);
}

// ---- Variants ----------------------------------------------------------------

TEST(KeywordVariants, LettersGetWidthAndCaseForms) {
  EXPECT_EQ(Expanded({"abc"}), SjisList({"abc", "ＡＢＣ", "ａｂｃ", "ABC", "Ａｂｃ", "Abc"}));
}

TEST(KeywordVariants, NumbersGetWidthAndThousandsSeparatorForms) {
  EXPECT_EQ(Expanded({"1234"}), SjisList({"1234", "１２３４", "１，２３４", "1,234"}));
  EXPECT_EQ(Expanded({"1,234"}), SjisList({"1,234", "１,２３４", "１２３４", "1234", "１，２３４"}));
  // Full-width input, separators only before the decimal point.
  EXPECT_EQ(Expanded({"１２３４５．６７"}),
            SjisList({"１２３４５．６７", "12345．67", "12345.67", "１２，３４５．６７", "12,345.67"}));
  EXPECT_EQ(Expanded({"１２３４５６"}), SjisList({"１２３４５６", "123456", "１２３，４５６", "123,456"}));
}

TEST(KeywordVariants, ADecimalNumberKeepsItsNumberFormsButTwoPointsDropThem) {
  EXPECT_EQ(Expanded({"12.5"}), SjisList({"12.5", "１２.５", "１２．５"}));
  EXPECT_EQ(Expanded({"1234.5"}), SjisList({"1234.5", "１２３４.５", "１２３４．５", "１，２３４．５", "1,234.5"}));
  EXPECT_EQ(Expanded({"1.2.3"}), SjisList({"1.2.3", "１.２.３"}));
}

TEST(KeywordVariants, KatakanaSwitchesWidthBothWays) {
  EXPECT_EQ(Expanded({"ｶﾞｲﾄﾞ"}), SjisList({"ｶﾞｲﾄﾞ", "ガイド"}));
  EXPECT_EQ(Expanded({"ガイド"}), SjisList({"ガイド", "ｶﾞｲﾄﾞ"}));
  EXPECT_EQ(Expanded({"ｺｰﾋﾟｰ"}), SjisList({"ｺｰﾋﾟｰ", "コーピー"}));
  EXPECT_EQ(Expanded({"コーヒー"}), SjisList({"コーヒー", "ｺｰﾋｰ"}));
}

TEST(KeywordVariants, SmallAAndVuConvertLikeTheOtherLetters) {
  EXPECT_EQ(Expanded({"ﾌｧｲﾙ"}), SjisList({"ﾌｧｲﾙ", "ファイル"}));
  EXPECT_EQ(Expanded({"ファイル"}), SjisList({"ファイル", "ﾌｧｲﾙ"}));
  EXPECT_EQ(Expanded({"ｳﾞｨｰﾅｽ"}), SjisList({"ｳﾞｨｰﾅｽ", "ヴィーナス"}));
  EXPECT_EQ(Expanded({"ヴィーナス"}), SjisList({"ヴィーナス", "ｳﾞｨｰﾅｽ"}));
}

TEST(KeywordVariants, EveryFullWidthKatakanaHasItsHalfWidthForm) {
  const std::pair<const char*, const char*> pairs[] = {
      {"ァ", "ｧ"},  {"ア", "ｱ"},  {"ィ", "ｨ"},  {"イ", "ｲ"},  {"ゥ", "ｩ"},  {"ウ", "ｳ"},  {"ェ", "ｪ"},
      {"エ", "ｴ"},  {"ォ", "ｫ"},  {"オ", "ｵ"},  {"カ", "ｶ"},  {"ガ", "ｶﾞ"}, {"キ", "ｷ"},  {"ギ", "ｷﾞ"},
      {"ク", "ｸ"},  {"グ", "ｸﾞ"}, {"ケ", "ｹ"},  {"ゲ", "ｹﾞ"}, {"コ", "ｺ"},  {"ゴ", "ｺﾞ"}, {"サ", "ｻ"},
      {"ザ", "ｻﾞ"}, {"シ", "ｼ"},  {"ジ", "ｼﾞ"}, {"ス", "ｽ"},  {"ズ", "ｽﾞ"}, {"セ", "ｾ"},  {"ゼ", "ｾﾞ"},
      {"ソ", "ｿ"},  {"ゾ", "ｿﾞ"}, {"タ", "ﾀ"},  {"ダ", "ﾀﾞ"}, {"チ", "ﾁ"},  {"ヂ", "ﾁﾞ"}, {"ッ", "ｯ"},
      {"ツ", "ﾂ"},  {"ヅ", "ﾂﾞ"}, {"テ", "ﾃ"},  {"デ", "ﾃﾞ"}, {"ト", "ﾄ"},  {"ド", "ﾄﾞ"}, {"ナ", "ﾅ"},
      {"ニ", "ﾆ"},  {"ヌ", "ﾇ"},  {"ネ", "ﾈ"},  {"ノ", "ﾉ"},  {"ハ", "ﾊ"},  {"バ", "ﾊﾞ"}, {"パ", "ﾊﾟ"},
      {"ヒ", "ﾋ"},  {"ビ", "ﾋﾞ"}, {"ピ", "ﾋﾟ"}, {"フ", "ﾌ"},  {"ブ", "ﾌﾞ"}, {"プ", "ﾌﾟ"}, {"ヘ", "ﾍ"},
      {"ベ", "ﾍﾞ"}, {"ペ", "ﾍﾟ"}, {"ホ", "ﾎ"},  {"ボ", "ﾎﾞ"}, {"ポ", "ﾎﾟ"}, {"マ", "ﾏ"},  {"ミ", "ﾐ"},
      {"ム", "ﾑ"},  {"メ", "ﾒ"},  {"モ", "ﾓ"},  {"ャ", "ｬ"},  {"ヤ", "ﾔ"},  {"ュ", "ｭ"},  {"ユ", "ﾕ"},
      {"ョ", "ｮ"},  {"ヨ", "ﾖ"},  {"ラ", "ﾗ"},  {"リ", "ﾘ"},  {"ル", "ﾙ"},  {"レ", "ﾚ"},  {"ロ", "ﾛ"},
      {"ワ", "ﾜ"},  {"ヲ", "ｦ"},  {"ン", "ﾝ"},  {"ヴ", "ｳﾞ"}, {"ー", "ｰ"}};
  for (const auto& [full, half] : pairs) {
    EXPECT_EQ(Expanded({full}), SjisList({full, half})) << full;
    EXPECT_EQ(Expanded({half}), SjisList({half, full})) << half;
  }
  // No half-width form: nothing to add.
  for (const char* full : {"ヮ", "ヰ", "ヱ", "ヵ", "ヶ"}) EXPECT_EQ(Expanded({full}), SjisList({full})) << full;
  // The hole between ミ and ム is no character; its entry is the middle dot.
  KeywordList hole = {"\x83\x7F"};
  ExpandKeywords(hole);
  EXPECT_EQ(hole, (KeywordList{"\x83\x7F", S("・")}));
}

TEST(KeywordVariants, LoneSoundMarksAddNothingAndAMarkOnAnUnvoicedLetterIsDropped) {
  EXPECT_EQ(Expanded({"ﾞﾟ"}), SjisList({"ﾞﾟ"}));
  EXPECT_EQ(Expanded({"ｱﾞ"}), SjisList({"ｱﾞ", "ア"}));
  // ｰ and the punctuation below ｦ are not letters of the table.
  EXPECT_EQ(Expanded({"｢ﾃｽﾄ｣"}), SjisList({"｢ﾃｽﾄ｣", "｢テスト｣"}));
}

TEST(KeywordVariants, KanjiAndHiraganaAddNothing) {
  EXPECT_EQ(Expanded({"見積書"}), SjisList({"見積書"}));
  EXPECT_EQ(Expanded({"ひらがな"}), SjisList({"ひらがな"}));
}

TEST(KeywordVariants, CapitalisedFormsTakeTheFirstLetterWhateverItsWidthOrCase) {
  EXPECT_EQ(Expanded({"aBC"}), SjisList({"aBC", "ＡＢＣ", "ａｂｃ", "ABC", "abc", "Ａｂｃ", "Abc"}));
  EXPECT_EQ(Expanded({"ａbＣ"}), SjisList({"ａbＣ", "ＡＢＣ", "ａｂｃ", "ABC", "abc", "Ａｂｃ", "Abc"}));
  EXPECT_EQ(Expanded({"ｈＥＬＬＯ"}),
            SjisList({"ｈＥＬＬＯ", "ＨＥＬＬＯ", "ｈｅｌｌｏ", "HELLO", "hello", "Ｈｅｌｌｏ", "Hello"}));
  // Digits do not take the capital; only the first letter does.
  const KeywordList mixed = Expanded({"2nd place"});
  EXPECT_TRUE(Contains(mixed, S("２Ｎｄ ｐｌａｃｅ")));
  EXPECT_TRUE(Contains(mixed, S("2Nd place")));
  // Letters next to kanji.
  const KeywordList kanji = Expanded({"第3版pdf"});
  EXPECT_EQ(kanji, SjisList({"第3版pdf", "第３版ＰＤＦ", "第３版ｐｄｆ", "第3版PDF", "第３版Ｐｄｆ", "第3版Pdf"}));
}

TEST(KeywordVariants, EntriesAreNeverAddedTwiceAndOnlyTheUsersKeywordsAreExpanded) {
  KeywordList list = Expanded({"abc", "ABC", "ａｂｃ"});
  EXPECT_EQ(list, SjisList({"abc", "ABC", "ａｂｃ", "ＡＢＣ", "Ａｂｃ", "Abc"}));
  const std::set<std::string> unique(list.begin(), list.end());
  EXPECT_EQ(unique.size(), list.size());
  // A second expansion treats the variants as keywords but adds nothing new.
  ExpandKeywords(list);
  EXPECT_EQ(list.size(), unique.size());
}

TEST(KeywordVariants, AVariantThatWouldOutgrowAKeywordIsDropped) {
  // 63 letters widen to 126 bytes and fit; 64 widen to 128 and do not.
  const KeywordList fits = Expanded({std::string(63, 'a')});
  EXPECT_EQ(fits.size(), 6u);
  EXPECT_TRUE(Contains(fits, S(std::string(63, 'A'))));
  EXPECT_EQ(std::count_if(fits.begin(), fits.end(), [](const std::string& s) { return s.size() == 126; }), 3);

  const KeywordList tooWide = Expanded({std::string(64, 'a')});
  EXPECT_EQ(tooWide, (KeywordList{std::string(64, 'a'), std::string(64, 'A'), "A" + std::string(63, 'a')}));
  for (const std::string& s : tooWide) EXPECT_LE(s.size(), kMaxKeywordBytes);

  // A longer keyword (from anywhere but the keyword box) stays as it is.
  EXPECT_EQ(Expanded({std::string(200, 'a')}), (KeywordList{std::string(200, 'a')}));

  // 96 digits: the half-width grouped form has 127 bytes and stays; the
  // full-width forms do not fit.
  const std::string digits(96, '7');
  KeywordList numbers = {digits};
  ExpandKeywords(numbers);
  ASSERT_EQ(numbers.size(), 2u);
  EXPECT_EQ(numbers[1].size(), 127u);
  EXPECT_EQ(numbers[1].substr(0, 4), "777,");
}

TEST(KeywordVariants, MalformedKeywordBytesAreWalkedSafely) {
  // A lead byte at the very end, an empty keyword and a lone comma.
  KeywordList list = {"a\x82", "", ","};
  ExpandKeywords(list);
  EXPECT_TRUE(Contains(list, "\x82\x60\x82"));
  EXPECT_TRUE(Contains(list, "A\x82"));
  for (size_t i = 3; i < list.size(); ++i) EXPECT_FALSE(list[i].empty());
}

// ---- CountMatches ------------------------------------------------------------

TEST(CountMatches, TwoCountedMatchesShareAtMostOneByte) {
  int first = 99;
  EXPECT_EQ(Count("aaaa", "aa", &first), 3);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(Count("aaaaaaa", "aaa", &first), 3);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(Count("abababab", "abab", &first), 2);
  EXPECT_EQ(first, 2);
  EXPECT_EQ(Count("abcabc", "abc"), 2);
}

TEST(CountMatches, FirstPositionIsTheSecondToLastByteOfTheFirstMatch) {
  int first = 99;
  EXPECT_EQ(Count("xxxxxhello world hello", "hello", &first), 2);
  EXPECT_EQ(first, 5 + 5 - 2);
  EXPECT_EQ(Count("xxabc", "abc", &first), 1);  // at the very end
  EXPECT_EQ(first, 3);
  EXPECT_EQ(Count("abc", "abc", &first), 1);  // text and keyword the same
  EXPECT_EQ(first, 1);
  EXPECT_EQ(Count("ab", "abc", &first), 0);  // keyword longer than text
  EXPECT_EQ(first, -1);
  EXPECT_EQ(Count("", "abc", &first), 0);
  EXPECT_EQ(first, -1);
  EXPECT_EQ(Count("abc", "", &first), 0);
  EXPECT_EQ(first, -1);
  EXPECT_EQ(CountMatches("abc", 3, "b", 1, nullptr), 1);
  EXPECT_EQ(CountMatches(nullptr, 0, "b", 1, &first), 0);
}

TEST(CountMatches, OneByteKeywordSkipsTheSecondByteOfATwoByteCharacter) {
  int first = 99;
  EXPECT_EQ(Count(S("ア"), "A", &first), 0);  // 0x83 0x41
  EXPECT_EQ(first, -1);
  EXPECT_EQ(Count("A" + S("ア") + "xA", "A", &first), 2);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(Count("xxA", "A", &first), 1);
  EXPECT_EQ(first, 2);
  // The byte before decides, with 0x80 and 0xE0-0xEF included and 0xF0 and 0xA0 not.
  EXPECT_EQ(Count("\x80" "A", "A"), 0);
  EXPECT_EQ(Count("\x9F" "A", "A"), 0);
  EXPECT_EQ(Count("\xE0" "A", "A"), 0);
  EXPECT_EQ(Count("\xEF" "A", "A"), 0);
  EXPECT_EQ(Count("\xF0" "A", "A"), 1);
  EXPECT_EQ(Count("\xA0" "A", "A"), 1);
  EXPECT_EQ(Count("\x7F" "A", "A"), 1);
}

TEST(CountMatches, LongerKeywordsMatchAcrossCharacterBoundaries) {
  int first = 99;
  EXPECT_EQ(Count("\x89\x83\x41", S("ア"), &first), 1);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(Count(S("解析") + S("ア"), S("ア")), 1);
}

TEST(CountMatches, TheTextEndsAtItsFirstZeroByte) {
  int first = 99;
  EXPECT_EQ(Count(std::string("abc\0abc", 7), "abc", &first), 1);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(Count(std::string("\0abc", 4), "abc", &first), 0);
  EXPECT_EQ(first, -1);
  EXPECT_EQ(Count(std::string("xA\0A", 4), "A"), 1);
  EXPECT_EQ(Count(std::string(100, 'y') + std::string("\0", 1) + std::string(100, 'z') + "zz", "zz"), 0);
  // A keyword ends at its first zero byte too.
  EXPECT_EQ(Count("xbxb", std::string("b\0c", 3)), 2);
}

TEST(CountMatches, FindsMatchesAnywhereInALongText) {
  // Matches in every alignment of a long text, including the last bytes.
  std::string text(5000, 'x');
  for (size_t pos : {0u, 13u, 29u, 45u, 1000u, 4978u, 4990u}) text.replace(pos, 10, "0123456789");
  int first = 0;
  EXPECT_EQ(Count(text, "0123456789", &first), 7);
  EXPECT_EQ(first, 8);
  EXPECT_EQ(Count(text, "89", &first), 7);
  EXPECT_EQ(first, 8);
  EXPECT_EQ(Count(text, "9x", &first), 6);  // the last one ends the text
  EXPECT_EQ(Count(text, "x0", &first), 6);  // the first one starts it
  EXPECT_EQ(first, 12);
}

// The counting rule written as plainly as possible.
int ReferenceCount(const std::string& textBytes, const std::string& keywordBytes, int* first) {
  const std::string text = textBytes.substr(0, textBytes.find('\0'));
  const std::string keyword = keywordBytes.substr(0, keywordBytes.find('\0'));
  const size_t n = text.size(), m = keyword.size();
  *first = -1;
  int count = 0;
  if (m == 0) return 0;
  if (m == 1) {
    for (size_t i = 0; i < n; ++i) {
      const unsigned char prev = i > 0 ? static_cast<unsigned char>(text[i - 1]) : 0;
      const bool afterLead = i > 0 && ((prev >= 0x80 && prev <= 0x9F) || (prev >= 0xE0 && prev <= 0xEF));
      if (text[i] == keyword[0] && !afterLead) {
        if (count++ == 0) *first = static_cast<int>(i);
      }
    }
    return count;
  }
  for (size_t s = 0; s + m <= n;) {
    if (text.compare(s, m, keyword) == 0) {
      if (count++ == 0) *first = static_cast<int>(s + m - 2);
      s += m - 1;
    } else {
      ++s;
    }
  }
  return count;
}

TEST(CountMatches, AgreesWithAPlainScanOnRandomBytes) {
  std::mt19937 rng(20261208);
  // Few distinct bytes make matches and overlaps frequent.
  const char alphabet[] = {'a', 'b', '\x83', 'A', '\x80', '\xE0', '\xF0', 'b', 'a', '\0'};
  for (int round = 0; round < 20000; ++round) {
    const int distinct = 2 + static_cast<int>(rng() % 8);
    const bool withZero = rng() % 8 == 0;
    auto randomBytes = [&](size_t len) {
      std::string s(len, ' ');
      for (char& c : s) {
        c = alphabet[rng() % distinct];
        if (c == '\0' && (!withZero || rng() % 4 != 0)) c = 'a';
      }
      return s;
    };
    const size_t textLength = rng() % (round % 10 == 0 ? 700 : 90);
    const std::string text = randomBytes(textLength);
    std::string keyword;
    if (rng() % 2 && textLength > 0) {
      const size_t start = rng() % textLength;
      keyword = text.substr(start, 1 + rng() % 20);
    } else {
      keyword = randomBytes(1 + rng() % 6);
    }
    int expectedFirst = 0, first = 0;
    const int expected = ReferenceCount(text, keyword, &expectedFirst);
    ASSERT_EQ(Count(text, keyword, &first), expected) << "round " << round;
    ASSERT_EQ(first, expectedFirst) << "round " << round;
  }
}

TEST(CountMatches, AgreesWithAPlainScanForLongKeywords) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    std::string text(200 + rng() % 3000, 'a');
    for (char& c : text) c = rng() % 16 == 0 ? 'b' : 'a';
    const size_t m = 2 + rng() % kMaxKeywordBytes;
    const std::string keyword = text.substr(rng() % (text.size() - m), m);
    int expectedFirst = 0, first = 0;
    const int expected = ReferenceCount(text, keyword, &expectedFirst);
    ASSERT_EQ(Count(text, keyword, &first), expected) << "round " << round;
    ASSERT_EQ(first, expectedFirst) << "round " << round;
  }
}

// ---- Matching one file -------------------------------------------------------

struct Match {
  int hits;
  std::string snippet;
};

Match MatchText(const std::string& path, const std::string& text, const KeywordList& keywords) {
  ExactText t(text + std::string(1, '\0'));
  char snippet[kSnippetBufferSize];
  std::memset(snippet, 'Q', sizeof snippet);
  const int hits = MatchFile(path, t.bytes.get(), static_cast<int32_t>(text.size()), keywords, snippet);
  EXPECT_LT(std::strlen(snippet), static_cast<size_t>(kMaxSnippetBytes) + 1);
  return {hits, snippet};
}

TEST(MatchFile, CountsEveryVariantButNotOtherCaseMixtures) {
  EXPECT_EQ(MatchText("/home/u/memo.txt", "ABC abc Abc aBc", Expanded({"abc"})).hits, 3);
  EXPECT_EQ(MatchText("/home/u/memo.txt", "abc ABC Abc", Expanded({"ａｂｃ"})).hits, 3);
  EXPECT_EQ(MatchText("/home/u/memo.txt", S("代金 1,234円 と １，２３４円"), Expanded({"1234"})).hits, 2);
  EXPECT_EQ(MatchText("/home/u/memo.txt", S("ｶﾞｲﾄﾞとガイド"), Expanded({"ガイド"})).hits, 2);
}

TEST(MatchFile, APathHitReportsAFileWithoutText) {
  const Match m = MatchText("/home/u/report_abc.txt", "", Expanded({"abc"}));
  EXPECT_EQ(m.hits, 1);
  EXPECT_EQ(m.snippet, "");
  // Path and text both count, per entry.
  EXPECT_EQ(MatchText("/d/ABC/report_abc.txt", "abc", Expanded({"abc"})).hits, 3);
}

TEST(MatchFile, SnippetStartsTenBytesBeforeTheEarliestHit) {
  const std::string pad(200, 'x');
  EXPECT_EQ(MatchText("/p", "xxxxxkey" + pad, {"key"}).snippet, ("xxxxxkey" + pad).substr(0, 100));
  // Two-byte keyword at byte 40: first position 40, snippet from 30.
  std::string text = pad;
  text.replace(40, 2, "QZ");
  EXPECT_EQ(MatchText("/p", text, {"QZ"}).snippet, text.substr(30, 100));
  // Six-byte keyword at 40: first position 44, snippet from 34.
  text = pad;
  text.replace(40, 6, "QZQZQZ");
  EXPECT_EQ(MatchText("/p", text, {"QZQZQZ"}).snippet, text.substr(34, 100));
  // The earliest first position of all entries decides.
  text = pad;
  text.replace(80, 3, "one");
  text.replace(60, 3, "two");
  EXPECT_EQ(MatchText("/p", text, {"one", "two"}).snippet, text.substr(51, 100));
  // No hit in the text: from the start.
  EXPECT_EQ(MatchText("/p/two", text, {"two!", "two"}).snippet, text.substr(51, 100));
  EXPECT_EQ(MatchText("/p/abc", text, {"abc"}).snippet, text.substr(0, 100));
}

TEST(MatchFile, SnippetStepsBackOneMoreByteToKeepATwoByteCharacterWhole) {
  auto snippetStart = [](unsigned char b11, unsigned char b10, unsigned char b9) {
    std::string text(200, 'x');
    text.replace(40, 2, "QZ");  // first position 40
    text[29] = static_cast<char>(b11);
    text[30] = static_cast<char>(b10);
    text[31] = static_cast<char>(b9);
    const std::string snippet = MatchText("/p", text, {"QZ"}).snippet;
    for (size_t start = 0; start < text.size(); ++start)
      if (text.compare(start, snippet.size(), snippet) == 0) return static_cast<int>(start);
    return -1;
  };
  EXPECT_EQ(snippetStart(0x88, 0x40, 'x'), 29);   // 0x88 0x40 is one character
  EXPECT_EQ(snippetStart(0x88, 0x9F, 0x20), 29);  // 0x88 0x9F, then a space
  EXPECT_EQ(snippetStart(0x88, 0x9F, 0x40), 30);  // 0x9F 0x40 could be a character of its own
  EXPECT_EQ(snippetStart(0x88, 0x20, 'x'), 30);   // no trail byte after the lead byte
  EXPECT_EQ(snippetStart('x', 0x88, 0x40), 30);   // byte 30 starts a character
  // In real text the cut lands on a character boundary. 末 is 0x96 0x96, so its
  // second byte could start a character: byte 24 (で) is taken.
  const std::string jp = S("見積書の提出期限は来月末です。新しい見積書");
  EXPECT_EQ(MatchText("/p", jp, {S("新しい")}).snippet, jp.substr(24));
  // First position 21 (the keyword has three bytes): byte 11 is the second
  // byte of か, so the snippet starts at か.
  const std::string kana = S("あいうえおかきくけこ新x");
  EXPECT_EQ(MatchText("/p", kana, {S("新x")}).snippet, kana.substr(10));
}

TEST(MatchFile, SnippetHasAtMostOneHundredBytesAndNeverPassesTheText) {
  std::string text(50, 'y');
  text.replace(45, 3, "hit");
  EXPECT_EQ(MatchText("/p", text, {"hit"}).snippet, text.substr(36));
  text = std::string(1000, 'y');
  text.replace(500, 3, "hit");
  EXPECT_EQ(MatchText("/p", text, {"hit"}).snippet.size(), 100u);
  // The cut ignores character boundaries.
  const std::string kana = S(std::string(60, 'x') + "あ" + "あいうえおかきくけこさしすせそたちつてとなにぬねの");
  const std::string snippet = MatchText("/p", kana, {"x"}).snippet;
  EXPECT_EQ(snippet, kana.substr(0, 100));
}

TEST(MatchFile, EmptyMissingOrZeroLeadingTextGivesAnEmptySnippet) {
  char snippet[kSnippetBufferSize] = "stale";
  EXPECT_EQ(MatchFile("/p/abc", nullptr, 0, {"abc"}, snippet), 1);
  EXPECT_STREQ(snippet, "");
  std::strcpy(snippet, "stale");
  EXPECT_EQ(MatchFile("/p/abc", "abc", -5, {"abc"}, snippet), 1);
  EXPECT_STREQ(snippet, "");
  const char zeroFirst[] = "\0abc";
  EXPECT_EQ(MatchFile("/p", zeroFirst, 4, {"abc"}, snippet), 0);
  EXPECT_STREQ(snippet, "");
  const char zeroLater[] = "ab\0abc";
  EXPECT_EQ(MatchFile("/p", zeroLater, 6, {"abc"}, snippet), 0);
  EXPECT_STREQ(snippet, "ab");
}

// ---- Keyword entry -----------------------------------------------------------

TEST(KeywordToSjis, ConvertsJapaneseKeywords) {
  std::string sjis, error;
  ASSERT_TRUE(KeywordToSjis("見積書ｶﾞｲﾄﾞ①", &sjis, &error));
  EXPECT_EQ(sjis, S("見積書ｶﾞｲﾄﾞ①"));
  EXPECT_TRUE(error.empty());
  // 63 kanji and one letter: 127 bytes, the most a keyword holds.
  std::string longest;
  for (int i = 0; i < 63; ++i) longest += "漢";
  ASSERT_TRUE(KeywordToSjis(longest + "a", &sjis, &error));
  EXPECT_EQ(sjis.size(), 127u);
}

TEST(KeywordToSjis, RefusesEmptyOverlongAndUnrepresentableKeywords) {
  std::string sjis = "untouched", error;
  EXPECT_FALSE(KeywordToSjis("", &sjis, &error));
  EXPECT_EQ(error, "キーワードが空です");

  std::string tooLong;
  for (int i = 0; i < 64; ++i) tooLong += "漢";
  EXPECT_FALSE(KeywordToSjis(tooLong, &sjis, &error));
  EXPECT_EQ(error, "キーワードが長すぎます（127バイトまで）");
  EXPECT_FALSE(KeywordToSjis(std::string(128, 'a'), &sjis, &error));

  EXPECT_FALSE(KeywordToSjis("報告😀한", &sjis, &error));
  EXPECT_EQ(error, "Shift_JISで表せない文字が含まれています: 😀 한");
  EXPECT_FALSE(KeywordToSjis("a\xFF" "b", &sjis, &error));
  EXPECT_EQ(error, "Shift_JISで表せない文字が含まれています: (不正なバイト)");
  EXPECT_FALSE(KeywordToSjis(std::string("a\0b", 3), &sjis, &error));
  EXPECT_EQ(error, "Shift_JISで表せない文字が含まれています: U+0000");
  EXPECT_EQ(sjis, "untouched");
}

}  // namespace
}  // namespace kuribo

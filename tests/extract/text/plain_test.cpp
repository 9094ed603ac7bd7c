#include "extract/text/plain.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "encoding/convert.h"
#include "encoding/sjis.h"
#include "extract/text/compact.h"
#include "support/cfb_writer.h"
#include "support/encode.h"
#include "support/reference_walk.h"
#include "support/temp_dir.h"

namespace kuribo {
namespace {

using test::TempDir;

// Walks a copy held in a buffer of exactly its size, so that a read past the
// text shows up under AddressSanitizer.
std::string Html(const std::string& in) {
  std::vector<char> buf(in.begin(), in.end());
  return std::string(buf.data(), (size_t)WalkHtmlText(buf.data(), (int32_t)buf.size()));
}
std::string Csv(const std::string& in) {
  std::vector<char> buf(in.begin(), in.end());
  return std::string(buf.data(), (size_t)WalkCsvText(buf.data(), (int32_t)buf.size()));
}

class PlainFiles : public ::testing::Test {
 protected:
  PlainFiles() : ctx_(MakeExtractionContext(dir_.path(), ConverterPresence{})) {}

  // Extracts a file holding `bytes` with the extractor dispatch picks for `name`.
  std::string Extract(const std::string& name, const std::string& bytes) {
    const std::string path = dir_.Write(name, bytes);
    return ExtractPath(path);
  }
  std::string ExtractPath(const std::string& path) {
    Extractor e = ChooseExtractor(LowerExtension(path), false, false);
    if (!e) return "<no extractor>";
    const int n = e(path, 0, *ctx_);
    return n > 0 ? std::string(ctx_->text.get(), (size_t)n) : std::string();
  }

  TempDir dir_;
  std::unique_ptr<ExtractionContext> ctx_;
};

TEST_F(PlainFiles, TextFilesAreCompacted) {
  EXPECT_EQ(Extract("a.txt", "\x81\x40" "abc"), "abc");
  EXPECT_EQ(Extract("b.txt", "A\r\nB"), "A B");
  EXPECT_EQ(Extract("c.txt", ""), "");
  EXPECT_EQ(Extract("d.txt", std::string(" \t\r\n\x01\x00\x1F \x7F", 10)), "");
  // Markup in a text file stays.
  EXPECT_EQ(Extract("e.txt", "<b>x</b>"), "<b>x</b>");
  // Any encoding: EUC-JP in, Shift_JIS out.
  EXPECT_EQ(Extract("f.txt", "\xb8\xab\xc0\xd1\r\n\xa4\xa2"), "\x8c\xa9\x90\xcf \x82\xa0");
}

TEST_F(PlainFiles, UnreadableFilesGiveNoText) {
  EXPECT_EQ(ExtractPath(dir_.path() + "missing.txt"), "");
  EXPECT_EQ(ExtractPath(dir_.path() + "missing.html"), "");
  EXPECT_EQ(ExtractPath(dir_.path() + "missing.csv"), "");
  for (const char* name : {"folder.txt", "folder.csv", "folder.htm"}) {
    std::string folder = dir_.MakeDir(name);
    if (folder.back() == '/') folder.pop_back();
    EXPECT_EQ(ExtractPath(folder), "") << name;
  }
}

TEST(HtmlTagWalk, EachTagYieldsOneSpace) {
  EXPECT_EQ(Html("<p>Hello</p>"), "Hello ");
  EXPECT_EQ(Html("<b>x</b><i>y</i>"), "x y ");
  EXPECT_EQ(Html("<html>\r\n<body>\r\n  <p>a</p>\r\n</body>"), "a ");
}

TEST(HtmlTagWalk, ALessThanWithoutAGreaterThanEndsTheText) {
  EXPECT_EQ(Html("abc<def"), "abc ");
  EXPECT_EQ(Html("<"), "");
  EXPECT_EQ(Html("x<\x82\xa0 y z"), "x ");
}

TEST(HtmlTagWalk, NothingElseOfHtmlIsInterpreted) {
  EXPECT_EQ(Html("a&amp;b&#12354;"), "a&amp;b&#12354;");
  // Script contents stay; a comment ends at its first ">".
  EXPECT_EQ(Html("<script>var a = 1 > 0;</script>"), "var a = 1 > 0; ");
  EXPECT_EQ(Html("x<!-- a > b -->c"), "x b -->c");
  EXPECT_EQ(Html("a>b"), "a>b");
}

TEST(HtmlTagWalk, ALessThanInsideATwoByteCharacterIsNoTag) {
  // A lead byte takes whatever follows it, "<" included.
  EXPECT_EQ(Html("\x82<b>"), "\x82<b>");
  EXPECT_EQ(Html("\x81\x40<p>\x81\x40\x82\xa0"), "\x82\xa0");
}

TEST(HtmlTagWalk, WalksAtMost999999Bytes) {
  EXPECT_EQ(Html(std::string(1'200'000, 'a')).size(), 999'999u);
  // A tag that starts inside the walk runs on to its ">" past it.
  std::string s(999'990, 'a');
  s += "<" + std::string(100, 'b') + ">cd";
  EXPECT_EQ(Html(s), std::string(999'990, 'a') + " ");
}

TEST(HtmlTagWalk, MatchesTheByteRulesOnRandomText) {
  std::mt19937 rng(3);
  const char picks[] = "<<>> \r\n\x81\x40\x82\xa0\x88\x9f\xfa\x41" "ab&;";
  for (int iter = 0; iter < 2000; ++iter) {
    std::string s(rng() % 300, '\0');
    for (auto& c : s) c = (rng() % 4) ? picks[rng() % (sizeof picks - 1)] : (char)rng();
    ASSERT_EQ(Html(s), test::ReferenceWalk(s, test::WalkRules::kHtml)) << iter;
  }
}

TEST_F(PlainFiles, HtmlFilesAreConvertedThenWalked) {
  // EUC-JP: <p>見積</p>
  EXPECT_EQ(Extract("a.html", "<p>\xb8\xab\xc0\xd1</p>"), "\x8c\xa9\x90\xcf ");
  EXPECT_EQ(Extract("b.htm", "<b>x</b><i>y</i>"), "x y ");
  EXPECT_EQ(Extract("c.HTM", "abc<def"), "abc ");
}

TEST(CsvCommaWalk, CommasFollowTheSpaceRule) {
  EXPECT_EQ(Csv("a , b"), "a b");
  EXPECT_EQ(Csv("a, b"), "a, b");
  EXPECT_EQ(Csv("a,,b"), "a,,b");
  EXPECT_EQ(Csv(",x"), "x");
  EXPECT_EQ(Csv("x, y"), "x, y");
  EXPECT_EQ(Csv("a,\r\n,b"), "a, b");
  EXPECT_EQ(Csv("\"a\",\"b\"\r\n\"c\""), "\"a\",\"b\" \"c\"");
}

TEST(CsvCommaWalk, FullWidthSpacesInAField) {
  EXPECT_EQ(Csv("\x8c\xa9\x81\x40\x90\xcf"), "\x8c\xa9 \x90\xcf");
  EXPECT_EQ(Csv("\x8c\xa9\x81\x40\x81\x40\x90\xcf"), "\x8c\xa9 \x90\xcf");
  EXPECT_EQ(Csv("a\x81\x40,b"), "a b");
  EXPECT_EQ(Csv("\x81\x40,a"), "a");
}

TEST(CsvCommaWalk, MatchesTheByteRulesOnRandomText) {
  std::mt19937 rng(4);
  const char picks[] = ",,, \r\n\x81\x40\x82\xa0\x88\xfa\x41\"ab";
  for (int iter = 0; iter < 2000; ++iter) {
    std::string s(rng() % 300, '\0');
    for (auto& c : s) c = (rng() % 4) ? picks[rng() % (sizeof picks - 1)] : (char)rng();
    ASSERT_EQ(Csv(s), test::ReferenceWalk(s, test::WalkRules::kCsv)) << iter;
  }
}

TEST_F(PlainFiles, CsvFilesInShiftJisAreReadAsTheyStand) {
  // Half-width katakana stay half-width: no conversion.
  EXPECT_EQ(Extract("a.csv", "\xC4\xB3\xB7\xAE\xB3\xC4,\x93\x8c\x8b\x9e\r\n"),
            "\xC4\xB3\xB7\xAE\xB3\xC4,\x93\x8c\x8b\x9e ");
  EXPECT_EQ(Extract("b.CSV", "a , b"), "a b");
}

TEST_F(PlainFiles, CsvFilesAreReadForTheirFirst999999Bytes) {
  std::string big(999'999, 'a');
  big += "ZZZZ";
  big += std::string(2'000'000 - big.size(), 'b');
  const std::string out = Extract("big.csv", big);
  EXPECT_EQ(out.size(), 999'999u);
  EXPECT_EQ(out.find('Z'), std::string::npos);
}

TEST_F(PlainFiles, CsvFilesInOtherEncodingsAreConvertedFirst) {
  const std::string utf8 = "\xEF\xBB\xBF品名,数量\r\n見積書,1\r\n";
  EXPECT_EQ(Extract("u.csv", utf8), Utf8ToSjis("品名,数量 見積書,1 "));
  EXPECT_EQ(Extract("e.csv", "\xb8\xab\xc0\xd1,1\n"), "\x8c\xa9\x90\xcf,1 ");
}

#ifdef KURIBO_CORPUS_DIR
TEST_F(PlainFiles, CorpusFilesGiveTheirWords) {
  const struct {
    const char* file;
    const char* words;
  } cases[] = {
      {"txt/chardet_SHIFT_JIS_ude_1.txt", "羅生門 芥川龍之介 或日の暮方の事である。"},
      {"txt/chardet_iso-2022-jp_ude_1.txt", "コンソール アプリケーション : universalchardet プロジェクトの概要"},
      {"html/chardet_EUC-JP_mozilla_bug431054_text.html", "ログイン"},
      {"html/chardet_utf-8_mozilla_bug426271_text-utf-8.html", "日本語エンコードテスト これはUTF-8です昔々、"},
      {"html/chardet_SHIFT_JIS_chromium_Shift-JIS_with_no_encoding_specified.html",
       "Shift_JIS 衆院議院運営委員会は９日午後の理事会で、"},
      {"html/tika_testHTML.html", "Title : Test Indexation Html"},
      {"csv/opendata_13TOKYO.CSV", "\"ﾄｳｷｮｳﾄ\",\"ﾁﾖﾀﾞｸ\""},
      {"csv/opendata_898.csv", "店舗名"},
  };
  bool any = false;
  for (const auto& c : cases) {
    const std::string path = std::string(KURIBO_CORPUS_DIR) + "/" + c.file;
    if (test::ReadFile(path).empty()) continue;
    any = true;
    const std::string text = ExtractPath(path);
    EXPECT_NE(text.find(Utf8ToSjis(c.words)), std::string::npos) << c.file;
    if (LowerExtension(path).rfind(".htm", 0) == 0) {
      EXPECT_EQ(text.find("<"), std::string::npos) << c.file;
    }
  }
  if (!any) GTEST_SKIP() << "corpus not found at " << KURIBO_CORPUS_DIR;
}
#endif

// Long texts with tags and commas sparse enough that whole 64-byte blocks are
// taken at once, so every block boundary falls somewhere: inside a two-byte
// character, a tag, a run of spaces, right after a comma.
std::string SparseText(std::mt19937& rng, size_t size, char special, unsigned every = 200) {
  const char picks[] = "\x8c\xa9\x90\xcf\x82\xa0\x82\xa2" "abcXYZ01\xb1\xde";
  std::string s(size, 'a');
  for (auto& c : s) {
    const unsigned k = rng() % every;
    c = k == 0 ? special : k == 1 ? '>' : k < 6 ? ' ' : k < 8 ? '\r' : k < 10 ? '\x81' : k < 12 ? '\x40'
        : k < 13 ? (char)rng() : picks[rng() % (sizeof picks - 1)];
  }
  return s;
}

TEST(BlockWalks, MatchTheByteRulesOnLongText) {
  std::mt19937 rng(5);
  for (int iter = 0; iter < 400; ++iter) {
    const size_t size = 64 + rng() % 3000;
    const std::string h = SparseText(rng, size, '<');
    ASSERT_EQ(Html(h), test::ReferenceWalk(h, test::WalkRules::kHtml)) << iter;
    const std::string c = SparseText(rng, size, ',');
    ASSERT_EQ(Csv(c), test::ReferenceWalk(c, test::WalkRules::kCsv)) << iter;
  }
}

// Several tags to a block: each is skipped inside the block, with the walk
// going on after its '>' at any offset, on a lead byte or a full-width space.
TEST(BlockWalks, DenseTagsMatchTheByteRules) {
  std::mt19937 rng(8);
  for (int iter = 0; iter < 400; ++iter) {
    const std::string h = SparseText(rng, 64 + rng() % 1000, '<', 14 + rng() % 40);
    ASSERT_EQ(Html(h), test::ReferenceWalk(h, test::WalkRules::kHtml)) << iter;
  }
}

TEST(BlockWalks, ATagOrACommaAtEveryOffsetOfABlock) {
  for (int at = 0; at < 130; ++at) {
    for (const char* run : {"<b>", "<" /* open to the end */, ",", " ,", "\x81\x40,", "\x82"}) {
      std::string s = std::string((size_t)at, 'x') + run + std::string(200, 'y');
      ASSERT_EQ(Html(s), test::ReferenceWalk(s, test::WalkRules::kHtml)) << at << run;
      ASSERT_EQ(Csv(s), test::ReferenceWalk(s, test::WalkRules::kCsv)) << at << run;
    }
  }
}

// A file's text through its extractor is the stepwise conversion followed by
// the byte rules, in every encoding, for files small and larger than the file
// buffer.
TEST_F(PlainFiles, ExtractorsGiveTheStepwiseBytesInEveryEncoding) {
  const char* const pieces[] = {"見積書を", "お送りします。", "<p>", "</p>\r\n", "ｶﾞｷﾞ", "ﾊﾟ", "ｱ", "ＡＢＣ",
                                "a, b,,c", " , ", "　", "①髙"};
  for (const std::string enc : {"UTF-8", "CP932", "EUC-JP"}) {
    std::mt19937 rng(6);
    std::string bytes;
    // Pieces the encoding lacks are left out.
    while (bytes.size() < 200'000) {
      const char* piece = pieces[rng() % (sizeof pieces / sizeof *pieces)];
      bytes += enc == "UTF-8" ? std::string(piece) : test::Encode(enc.c_str(), piece);
    }
    // The last one is longer than the file buffer: the rest is read from the file.
    for (const std::string& body : {bytes.substr(0, 1000 + rng() % 5000), bytes, std::string(5'000'001, '\xff') + bytes}) {
      std::vector<char> conv(kConvertedTextCap);
      const int32_t n = ConvertToShiftJisStepwise(reinterpret_cast<const unsigned char*>(body.data()), body.size(),
                                                  conv.data());
      const std::string sjis(conv.data(), (size_t)n);
      std::vector<char> compacted(conv);
      const std::string text(compacted.data(), (size_t)CompactText(compacted.data(), n));
      EXPECT_EQ(Extract("a.txt", body), text) << enc << " " << body.size();
      EXPECT_EQ(Extract("a.html", body), test::ReferenceWalk(sjis, test::WalkRules::kHtml)) << enc;
      if (body.size() <= 999'999) {
        // Shift_JIS CSV is walked as it stands, other encodings converted first.
        EXPECT_EQ(Extract("a.csv", body), test::ReferenceWalk(enc == "CP932" ? body : sjis, test::WalkRules::kCsv))
            << enc;
      }
    }
  }
}

TEST_F(PlainFiles, AShiftJisCsvFileIsWalkedFromTheFileBuffer) {
  std::mt19937 rng(7);
  for (int iter = 0; iter < 20; ++iter) {
    const std::string s = SparseText(rng, 100 + rng() % 20'000, ',');
    ASSERT_EQ(Extract("a.csv", s), test::ReferenceWalk(s, test::WalkRules::kCsv)) << iter;
  }
}

// The dispatcher skips the property sets of a file whose start its extractor
// read, only when that start is not a compound document.
TEST_F(PlainFiles, ACompoundDocumentNamedTxtStillGivesItsProperties) {
  const std::string summary = test::BuildPropertySetStream({test::PropertySection{
      test::kFmtidSummaryInformation, {test::CodePageProperty(932), test::LpstrProperty(2, "Budget")}}});
  const std::string path = dir_.Write("p.txt", test::BuildCompoundFile({{"\005SummaryInformation", summary}}));
  const int32_t n = ExtractDocument(path, 0, *ctx_);
  EXPECT_NE(std::string(ctx_->text.get(), (size_t)n).find("Budget"), std::string::npos);
  const std::string plain = dir_.Write("q.txt", "Title Budget");
  EXPECT_EQ(std::string(ctx_->text.get(), (size_t)ExtractDocument(plain, 0, *ctx_)), "Title Budget");
}

}  // namespace
}  // namespace kuribo

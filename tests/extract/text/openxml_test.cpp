#include "extract/text/openxml.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "app/keywords.h"
#include "encoding/sjis.h"
#include "support/temp_dir.h"
#include "support/zip_writer.h"

namespace kuribo {
namespace {

using test::BuildZip;
using test::ZipMember;
using test::ZipOptions;
using Way = test::ZipWay;

class OpenXmlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx_.text = std::make_unique<char[]>(kTextBufferSize);
    ctx_.file = MakeFileBuffer(kFileBufferSize);
  }

  std::string Write(const std::string& bytes, const std::string& name = "p.docx") {
    return dir_.Write(name, bytes);
  }
  // The extracted text; checks the length and the terminating zero byte.
  std::string Extract(const std::string& path) {
    const int n = ExtractOpenXmlFile(path, 0, ctx_);
    EXPECT_GE(n, 0);
    EXPECT_LE(n, kOpenXmlTextLimit);
    if (n < 0) return "<negative>";
    EXPECT_EQ(ctx_.text[n], '\0') << "not terminated";
    return std::string(ctx_.text.get(), (size_t)n);
  }
  std::string ExtractPackage(const std::vector<ZipMember>& members, ZipOptions options = {}) {
    return Extract(Write(BuildZip(members, options)));
  }

  test::TempDir dir_;
  ExtractionContext ctx_;
};

std::string Sjis(const char* utf8) { return Utf8ToSjis(utf8); }

// --- the text walk ---

TEST_F(OpenXmlTest, AdjacentTextElementsAreSeparatedBySpaces) {
  EXPECT_EQ(ExtractPackage({{"word/document.xml", "<w:t>ab</w:t><w:t>cd</w:t>"}}), "ab cd ");
}

TEST_F(OpenXmlTest, TextMembersFirstThenPropertiesThenTheRestWithOneSpaceBetween) {
  const char decl[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
  EXPECT_EQ(ExtractPackage({{"[Content_Types].xml", std::string(decl) + "<Types>types</Types>"},
                            {"docProps/core.xml", std::string(decl) + "<dc:title>Budget</dc:title>"},
                            {"word/footer1.xml", "<w:p><w:r><w:t>foot</w:t></w:r></w:p>"},
                            {"word/media/image1.png", "\x89PNG\r\n\x1A\nIHDR"},
                            {"word/document.xml", std::string(decl) + "<w:t>body</w:t>"},
                            {"xl/sharedStrings.xml", "<si><t>shared</t></si>"},
                            {"xl/worksheets/sheet1.xml", "<c><v>12</v></c>"},
                            {"xl/workbook.xml", "<sheet name=\"Sheet1\"/>"},
                            {"ppt/slides/slide1.xml", "<a:p><a:r><a:t>slide</a:t></a:r></a:p>"}}),
            "body Sheet1 slide shared 12 foot Budget types ");
}

TEST_F(OpenXmlTest, SpacesCollapseAcrossMembersAndEntitiesStayAsWritten) {
  EXPECT_EQ(ExtractPackage({{"a.xml", "one  \t\r\n"}, {"b.xml", "   two &amp; &#x3042;<x/>"}}),
            "one two &amp; &#x3042; ");
  // A tag left open at the end of a member runs to its end.
  EXPECT_EQ(ExtractPackage({{"a.xml", "x<unclosed attr"}, {"b.xml", "y"}}), "x y");
}

TEST_F(OpenXmlTest, JapaneseTextBecomesShiftJis) {
  EXPECT_EQ(ExtractPackage({{"a.xml", "<t>見積書　第２版</t>"}}), Sjis("見積書 第２版 "));
}

TEST_F(OpenXmlTest, HalfWidthKatakanaKeepsItsOneByteForm) {
  EXPECT_EQ(ExtractPackage({{"a.xml", "ｶﾀｶﾅ"}}), "\xB6\xC0\xB6\xC5");
}

TEST_F(OpenXmlTest, ByteOrderMarkGivesNoCharacter) {
  EXPECT_EQ(ExtractPackage({{"a.xml", "x"}, {"b.xml", "\xEF\xBB\xBFy"}}), "xy");
}

TEST_F(OpenXmlTest, CharacterWithoutShiftJisFormGivesOneSpace) {
  EXPECT_EQ(ExtractPackage({{"a.xml", "a한b"}}), "a b");
}

TEST_F(OpenXmlTest, CharacterBeyondBmpIsOneSpaceAndKeepsWhatFollows) {
  // U+20B9F then two characters that a three-byte reading would swallow.
  EXPECT_EQ(ExtractPackage({{"a.xml", "x𠮟る<t>😀ab</t>"}}), "x " + Sjis("る") + " ab ");
}

TEST_F(OpenXmlTest, MemberTextEndsAtItsFirstZeroByte) {
  EXPECT_EQ(ExtractPackage({{"a.dat1", std::string("PNG\0hidden", 10)}, {"b.xml", "z"}}), "PNGz");
  // Without sizes or a directory, the member's stream still ends where it ends.
  EXPECT_EQ(ExtractPackage({{"a.dat1", std::string("PNG\0hidden", 10), Way::kDeflateWithDescriptor},
                            {"b.xml", "<t>z</t>", Way::kDeflateWithDescriptor}},
                           {.centralDirectory = false}),
            "PNG z ");
}

TEST_F(OpenXmlTest, MembersThatCannotHoldTextAreSkipped) {
  std::vector<ZipMember> members;
  for (const char* name : {"word/media/image1.PNG", "ppt/media/media1.mp4", "word/fonts/font1.odttf",
                           "xl/embeddings/oleObject1.bin", "word/vbaProject.bin",
                           "ppt/embeddings/Sheet1.xlsx", "xl/media/image2.emf", "customXml/"})
    members.push_back({name, "<t>junk</t>"});
  members.push_back({"word/document.xml", "<w:t>kept</w:t>"});
  EXPECT_EQ(ExtractPackage(members), "kept ");
}

// Runs, paragraphs and the other boundaries, one member each.
TEST_F(OpenXmlTest, TagsInsideAParagraphGiveNoSpaceItsBoundariesDo) {
  const struct {
    const char* name;
    const char* xml;
    const char* text;
  } cases[] = {
      {"word/document.xml",
       "<w:body><w:p><w:pPr><w:rPr><w:rFonts w:hint=\"eastAsia\"/></w:rPr></w:pPr><w:r><w:t>売</w:t>"
       "</w:r><w:proofErr w:type=\"spellStart\"/><w:r w:rsidR=\"00A1\"><w:rPr><w:lang w:eastAsia="
       "\"ja-JP\"/></w:rPr><w:t>上</w:t></w:r><w:ins w:id=\"1\"><w:r><w:t>高</w:t></w:r></w:ins>"
       "<w:bookmarkEnd w:id=\"0\"/></w:p></w:body>",
       "売上高 "},
      {"word/document.xml", "<w:p><w:r><w:t>売上</w:t></w:r></w:p><w:p><w:r><w:t>高</w:t></w:r></w:p>",
       "売上 高 "},
      {"word/document.xml",
       "<w:p><w:r><w:t>a</w:t><w:tab/><w:t>b</w:t><w:br/><w:t>c</w:t><w:cr/><w:t>d</w:t></w:r></w:p>",
       "a b c d "},
      {"word/document.xml",
       "<w:tbl><w:tr><w:tc><w:p><w:r><w:t>x</w:t></w:r></w:p></w:tc><w:tc><w:p/><w:p><w:r><w:t>y"
       "</w:t></w:r></w:p></w:tc></w:tr></w:tbl>",
       "x y "},
      {"word/document.xml",
       "<w:p><w:r><w:t>前</w:t></w:r><w:r><w:pict><v:shape><v:textbox><w:txbxContent><w:p><w:r><w:t>"
       "箱</w:t></w:r></w:p></w:txbxContent></v:textbox></v:shape></w:pict></w:r><w:r><w:t>後</w:t>"
       "</w:r></w:p>",
       "前 箱 後 "},
      {"word/document.xml",
       "<w:p><w:r><w:t>前</w:t></w:r><w:r><w:drawing><wp:anchor><wp:positionH><wp:posOffset>3089910"
       "</wp:posOffset></wp:positionH><wp:positionV><wp:posOffset>1263650</wp:posOffset>"
       "</wp:positionV></wp:anchor></w:drawing></w:r><w:r><w:t>後</w:t></w:r></w:p>",
       "前 3089910 1263650 後 "},
      {"word/document.xml",
       "<w:p><w:r><w:ruby><w:rt><w:r><w:t>とうきょう</w:t></w:r></w:rt><w:rubyBase><w:r><w:t>東京"
       "</w:t></w:r></w:rubyBase></w:ruby></w:r></w:p>",
       "とうきょう 東京 "},
      {"ppt/slides/slide1.xml",
       "<p:txBody><a:p><a:r><a:t>売上</a:t></a:r><a:r><a:rPr lang=\"ja-JP\"/><a:t>高</a:t></a:r>"
       "<a:br/><a:r><a:t>次</a:t></a:r></a:p><a:p><a:r><a:t>x</a:t></a:r></a:p></p:txBody>",
       "売上高 次 x "},
      {"xl/sharedStrings.xml",
       "<sst><si><r><t>売上</t></r><r><rPr><b/></rPr><t>高</t></r><rPh sb=\"0\" eb=\"2\"><t>ウリアゲ"
       "</t></rPh><phoneticPr fontId=\"1\"/></si><si><t>次</t></si></sst>",
       "売上高 ウリアゲ 次 "},
      {"xl/worksheets/sheet1.xml",
       "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><r><t>売上</t></r><r><t>高</t></r></is></c>"
       "<c r=\"B1\"><v>42</v></c></row>",
       "売上高 42 "},
      {"xl/comments1.xml",
       "<comment ref=\"A1\"><text><r><t>売上</t></r><r><t>高</t></r></text></comment>", "売上高 "},
      // Outside paragraphs every tag separates, as in the property members.
      {"docProps/core.xml", "<cp:coreProperties><dc:title>Budget</dc:title><dc:creator>Sato"
                            "</dc:creator></cp:coreProperties>",
       "Budget Sato "},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ExtractPackage({{c.name, c.xml}}), Sjis(c.text)) << c.xml;
}

TEST_F(OpenXmlTest, WordSplitOverThreeRunsIsCountedOnce) {
  const std::string text = ExtractPackage(
      {{"word/document.xml", "<w:p><w:r><w:t>今期の売</w:t></w:r><w:r><w:rPr><w:b/></w:rPr><w:t>上"
                             "</w:t></w:r><w:proofErr/><w:r><w:t>高は</w:t></w:r></w:p>"}});
  const std::string word = Sjis("売上高");
  EXPECT_EQ(CountMatches(text.data(), text.size(), word.data(), word.size()), 1) << text;
}

TEST_F(OpenXmlTest, SharedStringCellsGiveNoIndexAndSheetNamesAreText) {
  EXPECT_EQ(ExtractPackage({{"xl/workbook.xml",
                             "<workbook><sheets><sheet name=\"売上表\" sheetId=\"1\" r:id=\"rId1\"/>"
                             "<sheet sheetId='2' name='R&amp;D'/></sheets></workbook>"},
                            {"xl/sharedStrings.xml", "<sst><si><t>東京</t></si></sst>"},
                            {"xl/worksheets/sheet1.xml",
                             "<sheetData><row r=\"1\"><c r=\"A1\" s=\"1\" t=\"s\"><v>907</v></c>"
                             "<c r=\"B1\"><v>3.5</v></c><c r=\"C1\" t=\"str\"><f>A1</f><v>文字"
                             "</v></c><c r=\"D1\" t=\"s\"/><c r=\"E1\" t=\"b\"><v>1</v></c>"
                             "</row></sheetData>"}}),
            Sjis("売上表 R&amp;D 東京 3.5 A1 文字 1 "));
}

// --- sizes, methods and limits ---

TEST_F(OpenXmlTest, StoredMemberIsCopied) {
  EXPECT_EQ(ExtractPackage({{"a.xml", "<t>stored</t>", Way::kStore}, {"b.xml", "<t>next</t>"}}),
            "stored next ");
}

TEST_F(OpenXmlTest, DataDescriptorSizesComeFromTheCentralDirectory) {
  EXPECT_EQ(ExtractPackage({{"a.xml", "<t>alpha</t>", Way::kDeflateWithDescriptor},
                            {"b.xml", "<t>beta</t>", Way::kStoreWithDescriptor},
                            {"c.xml", "<t>gamma</t>"}}),
            "alpha beta gamma ");
}

TEST_F(OpenXmlTest, DataDescriptorWithoutCentralDirectoryEndsWithTheDeflateStream) {
  EXPECT_EQ(ExtractPackage({{"a.xml", "<t>alpha</t>", Way::kDeflateWithDescriptor},
                            {"c.xml", "<t>gamma</t>"}},
                           {.centralDirectory = false}),
            "alpha gamma ");
}

TEST_F(OpenXmlTest, BrokenStreamWithoutSizesIsSteppedOverToTheNextHeader) {
  std::string package = BuildZip({{"a.xml", "<t>alpha</t>", Way::kDeflateWithDescriptor},
                                      {"b.xml", "<t>beta</t>", Way::kDeflateWithDescriptor},
                                      {"c.xml", "<t>gamma</t>"}},
                                     {.centralDirectory = false});
  package[35] = '\xFF';  // first member's data: an invalid block type
  const std::string got = Extract(Write(package));
  EXPECT_EQ(got.substr(got.size() - 6), "gamma ") << got;
}

TEST_F(OpenXmlTest, DirectoryWhoseOffsetsLeadNowhereFallsBackToTheLocalHeaders) {
  // Bytes before the archive shift every member away from its recorded offset.
  const std::string package =
      std::string(100, 'x') + BuildZip({{"word/document.xml", "<w:t>shifted</w:t>"}});
  EXPECT_EQ(Extract(Write(package)), "shifted ");
}

TEST_F(OpenXmlTest, DuplicateNamesTakeTheirOwnCentralEntry) {
  EXPECT_EQ(ExtractPackage({{"a.xml", "<t>first</t>", Way::kDeflateWithDescriptor},
                            {"a.xml", "<t>second copy</t>", Way::kDeflateWithDescriptor}}),
            "first second copy ");
}

TEST_F(OpenXmlTest, UnknownMethodGivesNothingAndTheNextMemberIsRead) {
  EXPECT_EQ(ExtractPackage({{"a.xml", std::string(40, '\xFF'), Way::kRawMethod, 12},
                            {"b.xml", "<t>after</t>"}}),
            "after ");
}

TEST_F(OpenXmlTest, EveryWayOfStoringMembersGivesTheirText) {
  const struct {
    Way way;
    ZipOptions options;
  } cases[] = {
      {Way::kDeflate, {}},
      {Way::kStore, {}},
      {Way::kDeflateWithDescriptor, {}},
      {Way::kStoreWithDescriptor, {}},
      {Way::kDeflate, {.zip64 = true}},
      {Way::kStore, {.zip64 = true}},
      {Way::kDeflateWithDescriptor, {.zip64 = true}},
      {Way::kDeflate, {.centralDirectory = false}},
      {Way::kStore, {.centralDirectory = false}},
      {Way::kDeflateWithDescriptor, {.centralDirectory = false}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExtractPackage({{"word/document.xml", "<w:p><w:r><w:t>売上</w:t></w:r><w:r><w:t>高"
                                                    "</w:t></w:r></w:p>", c.way},
                              {"docProps/core.xml", "<dc:title>題</dc:title>", c.way}},
                             c.options),
              Sjis("売上高 題 "))
        << (int)c.way << " zip64 " << c.options.zip64 << " directory " << c.options.centralDirectory;
  }
}

TEST_F(OpenXmlTest, WholePackageIsReadWhateverItsSize) {
  // An incompressible 6 MB picture before the document.
  std::mt19937 rng(7);
  std::string picture(6'000'000, '\0');
  for (char& c : picture) c = (char)rng();
  const std::string package = BuildZip({{"[Content_Types].xml", "<Types/>"},
                                        {"word/media/image1.jpeg", picture, Way::kStore},
                                        {"word/media/image2.png", picture},
                                        {"word/document.xml", "<w:p><w:r><w:t>売上高</w:t></w:r></w:p>"}});
  ASSERT_GT(package.size(), 12'000'000u);
  EXPECT_EQ(Extract(Write(package)), Sjis("売上高 "));
  // Without the directory the local headers are walked past the pictures.
  EXPECT_EQ(Extract(Write(package.substr(0, package.size() - 100))), Sjis("売上高 "));
}

TEST_F(OpenXmlTest, MemberThatDoesNotFitIsCutAndLaterSmallMembersStay) {
  const std::string a(600'000, 'a');
  std::string got = ExtractPackage({{"a.xml", a}, {"b.xml", std::string(400'000, 'b')}});
  EXPECT_EQ(got, a + std::string(399'995, 'b'));
  // A sheet of 1.2 MB of text does not crowd out the small members after it.
  std::string sheet;
  for (int i = 0; i < 200'000; ++i) sheet += "<c><v>12345</v></c>";
  got = SjisToUtf8(ExtractPackage({{"xl/worksheets/sheet1.xml", sheet},
                                   {"xl/worksheets/sheet2.xml", "<c t=\"inlineStr\"><is><t>売上高</t></is></c>"},
                                   {"docProps/core.xml", "<dc:title>題名</dc:title>"}}));
  EXPECT_LE(got.size(), (size_t)kOpenXmlTextLimit);
  EXPECT_GT(got.size(), 900'000u);
  EXPECT_NE(got.find("売上高"), std::string::npos);
  EXPECT_NE(got.find("題名"), std::string::npos);
}

TEST_F(OpenXmlTest, OversizedMemberGivesItsFirst999995Bytes) {
  std::string big(1'500'000, 'c');
  big[999'994] = 'd';
  big[999'995] = 'e';
  const std::string got = ExtractPackage({{"a.xml", big}, {"b.xml", "x"}});
  ASSERT_EQ(got.size(), 999'995u);
  EXPECT_EQ(got.back(), 'd');
}

// --- damaged and odd input ---

TEST_F(OpenXmlTest, UnreadableFileLeavesTheTextUntouched) {
  ctx_.text[0] = 'K';
  EXPECT_EQ(ExtractOpenXmlFile(dir_.path() + "missing.docx", 0, ctx_), 0);
  EXPECT_EQ(ctx_.text[0], 'K');
}

TEST_F(OpenXmlTest, NoLocalHeaderGivesEmptyText) {
  ctx_.text[0] = 'K';
  EXPECT_EQ(Extract(Write("plain text, not a package")), "");
  EXPECT_EQ(Extract(Write("")), "");
}

TEST_F(OpenXmlTest, CorruptDeflateDataYieldsWhatCameBeforeAndTheWalkGoesOn) {
  std::string package = BuildZip({{"a.xml", "<t>alpha</t>"}, {"b.xml", "<t>beta</t>"}});
  // Ruin the first member's data (it starts after the 30-byte header and name).
  for (size_t i = 35; i < 40; ++i) package[i] = '\xFF';
  const std::string got = Extract(Write(package));
  EXPECT_EQ(got.substr(got.size() - 5), "beta ") << got;
}

TEST_F(OpenXmlTest, TruncatedPackageKeepsTheMembersBeforeTheCut) {
  const std::string package = BuildZip(
      {{"a.xml", "<t>alpha</t>"}, {"b.xml", "<t>beta</t>"}, {"c.xml", "<t>gamma</t>"}});
  const std::string whole = Extract(Write(package));
  ASSERT_EQ(whole, "alpha beta gamma ");
  for (size_t len = 0; len < package.size(); ++len) {
    const std::string got = Extract(Write(package.substr(0, len)));
    EXPECT_EQ(whole.compare(0, got.size(), got), 0) << "cut at " << len << ": " << got;
  }
}

TEST_F(OpenXmlTest, HostileHeadersNeverReadOutsideTheBuffers) {
  const std::string good = BuildZip({{"a.xml", "<t>alpha</t>", Way::kDeflateWithDescriptor},
                                         {"b.xml", "<t>beta</t>", Way::kStoreWithDescriptor}});
  std::mt19937 rng(11);
  for (int round = 0; round < 400; ++round) {
    std::string bad = good;
    for (int k = 0; k < 3; ++k) bad[rng() % bad.size()] = (char)rng();
    const std::string got = Extract(Write(bad));
    EXPECT_LE(got.size(), 200u);
  }
}

// --- dispatch ---

TEST_F(OpenXmlTest, PackagesAndTheirMacroTwinsAreReadWithoutTheConverter) {
  const std::string package = BuildZip({{"ppt/slides/slide1.xml", "<a:t>slide</a:t>"}});
  for (const char* ext : {".docx", ".xlsx", ".pptx", ".docm", ".xlsm", ".PPTM"}) {
    const std::string path = Write(package, std::string("p") + ext);
    EXPECT_EQ(ExtractDocument(path, (int32_t)package.size(), ctx_), 6) << ext;
    EXPECT_STREQ(ctx_.text.get(), "slide ") << ext;
    EXPECT_EQ(ChooseExtractor(LowerExtension(path), true, false) == ExtractOpenXmlFile, false)
        << "the converter takes " << ext << " when it is present";
  }
}

// --- the conversion helpers ---

TEST(OpenXmlConversion, Utf8DecodesEveryLengthAndMarksMalformedBytes) {
  EXPECT_EQ(Utf8ToUtf16("a\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80z"), u"a\u00E9\u3042\U0001F600z");
  // Stray continuation, overlong form, encoded surrogate, invalid lead: one U+FFFD each
  // for the bytes that could not start a character, and the next character is kept.
  EXPECT_EQ(Utf8ToUtf16("\x80" "a\xC0\xAF" "b\xED\xA0\x80" "c\xFF" "d"),
            u"\uFFFDa\uFFFD\uFFFDb\uFFFD\uFFFD\uFFFDc\uFFFDd");
  // A sequence broken by an ASCII byte gives up only its valid prefix.
  EXPECT_EQ(Utf8ToUtf16("\xE3\x81" "a"), u"\uFFFDa");
}

TEST(OpenXmlConversion, CutShortSequenceNeverReadsPastTheInput) {
  // Exactly sized heap copies, so a read past the end is caught by AddressSanitizer.
  for (const std::string s : {"\xE3", "\xE3\x81", "\xF0\x9F\x98", "\xC3"}) {
    auto copy = std::make_unique<char[]>(s.size());
    std::memcpy(copy.get(), s.data(), s.size());
    EXPECT_EQ(Utf8ToUtf16(std::string_view(copy.get(), s.size())), u"\uFFFD");
    unsigned char out[4];
    EXPECT_EQ(Utf8ToShiftJis(reinterpret_cast<unsigned char*>(copy.get()), s.size(), out), 1u);
    EXPECT_EQ(out[0], ' ');
  }
}

TEST(OpenXmlConversion, Utf16ToShiftJisDropsOnlyALeadingMark) {
  EXPECT_EQ(Utf16ToShiftJis(u"\uFEFFa\uFEFFb"), "a b");
  EXPECT_EQ(Utf16ToShiftJis(u"\uFFFEa"), "a");
  const char16_t pairAndLone[] = {0xD842, 0xDF9F, u'x', 0xDC00, u'y'};
  EXPECT_EQ(Utf16ToShiftJis(std::u16string_view(pairAndLone, 5)), " x y");
  EXPECT_EQ(Utf16ToShiftJis(u"\uFF76\u3042"), "\xB6\x82\xA0");
}

TEST(OpenXmlConversion, OnePassEqualsTheTwoSteps) {
  const std::string samples[] = {
      "\xEF\xBB\xBF<t>見積書</t>", "ｶﾀｶﾅ한글 😀 ①～∥", "\x80\xC1\xBF\xE0\x80\x80\xF5\xF4\x90\x80\x80",
      std::string("a\0b", 3), "\xEF\xBF\xBE" "a", "\xC2\xA7\xC2\xA5\\~"};
  for (const std::string& s : samples) {
    EXPECT_EQ(Utf8ToShiftJis(s), Utf16ToShiftJis(Utf8ToUtf16(s))) << s;
    std::string inPlace = s;
    const size_t n = Utf8ToShiftJis(reinterpret_cast<const unsigned char*>(inPlace.data()),
                                    inPlace.size(), reinterpret_cast<unsigned char*>(inPlace.data()));
    EXPECT_EQ(inPlace.substr(0, n), Utf8ToShiftJis(s));
  }
}

// --- real packages ---

class CorpusOpenXmlTest : public OpenXmlTest {
 protected:
  // The text of a corpus file as UTF-8, or empty when the corpus is absent.
  bool Read(const char* name, std::string& utf8) {
    const std::string path = std::string(KURIBO_CORPUS_DIR) + "/" + name;
    if (!std::filesystem::exists(path)) return false;
    utf8 = SjisToUtf8(Extract(path));
    return true;
  }
};

#define CORPUS_TEXT_OR_SKIP(var, name) \
  std::string var;                     \
  if (!Read(name, var)) GTEST_SKIP() << "corpus file absent: " << name;

TEST_F(CorpusOpenXmlTest, WordPackages) {
  CORPUS_TEXT_OR_SKIP(business, "docx/poi_stress019.docx");
  EXPECT_NE(business.find("リーダーシップ"), std::string::npos);
  EXPECT_NE(business.find("Hiromichi Miyazaki"), std::string::npos) << "document properties";
  CORPUS_TEXT_OR_SKIP(ruby, "docx/tika_testWORD_phonetic.docx");
  EXPECT_NE(ruby.find("東京"), std::string::npos);
  EXPECT_NE(ruby.find("とうきょう"), std::string::npos);
  CORPUS_TEXT_OR_SKIP(various, "docx/tika_testWORD_various.docx");
  EXPECT_NE(various.find("ゾルゲと尾崎、淡々と最期"), std::string::npos);
  CORPUS_TEXT_OR_SKIP(macro, "docx/poi_SimpleMacro.docm");
  EXPECT_NE(macro.find("Javen ONeal"), std::string::npos);
}

TEST_F(CorpusOpenXmlTest, SpreadsheetPackages) {
  CORPUS_TEXT_OR_SKIP(lamps, "xlsx/xlsxwriter_unicode_shift_jis.xlsx");
  EXPECT_NE(lamps.find("ダイクロイックミラーランプ"), std::string::npos);
  EXPECT_NE(lamps.find("光源"), std::string::npos);
  CORPUS_TEXT_OR_SKIP(phonetic, "xlsx/poi_51519.xlsx");
  EXPECT_NE(phonetic.find("豊田車会社"), std::string::npos);
  CORPUS_TEXT_OR_SKIP(shapes, "xlsx/poi_50299.xlsx");
  EXPECT_NE(shapes.find("図形１"), std::string::npos);
  EXPECT_NE(shapes.find("びーぶれいくしすてむず"), std::string::npos);
}

TEST_F(CorpusOpenXmlTest, PresentationPackages) {
  CORPUS_TEXT_OR_SKIP(japanese, "pptx/poi_with_japanese.pptx");
  EXPECT_NE(japanese.find("ゾルゲと尾崎、淡々と最期"), std::string::npos);
  EXPECT_NE(japanese.find("（ＧＨＱ）"), std::string::npos);
  CORPUS_TEXT_OR_SKIP(macro, "pptx/poi_SimpleMacro.pptm");
  EXPECT_NE(macro.find("This is a macro slideshow"), std::string::npos);
}

}  // namespace
}  // namespace kuribo

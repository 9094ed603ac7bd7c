#include "extract/text/openxml.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "encoding/sjis.h"
#include "support/temp_dir.h"

namespace kuribo {
namespace {

enum class Way { kDeflate, kStore, kDeflateWithDescriptor, kStoreWithDescriptor, kRawMethod };

struct Member {
  std::string name;
  std::string data;
  Way way = Way::kDeflate;
  uint16_t method = 8;  // for kRawMethod: the method written, data taken as they are
};

void Add16(std::string& s, uint32_t v) {
  s.push_back((char)(v & 0xFF));
  s.push_back((char)((v >> 8) & 0xFF));
}
void Add32(std::string& s, uint32_t v) {
  Add16(s, v & 0xFFFF);
  Add16(s, v >> 16);
}

std::string RawDeflate(const std::string& data) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = (Bytef*)data.data();
  z.avail_in = (uInt)data.size();
  z.next_out = (Bytef*)out.data();
  z.avail_out = (uInt)out.size();
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// A ZIP package: local headers with their data (and data descriptors where
// asked), then the central directory and the end record unless left out.
std::string BuildPackage(const std::vector<Member>& members, bool centralDirectory = true) {
  std::string out, central;
  for (const Member& m : members) {
    const bool stored = m.way == Way::kStore || m.way == Way::kStoreWithDescriptor;
    const bool descriptor =
        m.way == Way::kDeflateWithDescriptor || m.way == Way::kStoreWithDescriptor;
    const uint16_t method = m.way == Way::kRawMethod ? m.method : stored ? 0 : 8;
    const std::string data = stored || m.way == Way::kRawMethod ? m.data : RawDeflate(m.data);
    const uint32_t crc = (uint32_t)crc32(0, (const Bytef*)m.data.data(), (uInt)m.data.size());
    const uint32_t offset = (uint32_t)out.size();
    std::string h;
    Add32(h, 0x04034B50);
    Add16(h, 20);
    Add16(h, descriptor ? 0x08 : 0);
    Add16(h, method);
    Add16(h, 0);
    Add16(h, 0x21);
    Add32(h, descriptor ? 0 : crc);
    Add32(h, descriptor ? 0 : (uint32_t)data.size());
    Add32(h, descriptor ? 0 : (uint32_t)m.data.size());
    Add16(h, (uint32_t)m.name.size());
    Add16(h, 0);
    out += h + m.name + data;
    if (descriptor) {
      Add32(out, 0x08074B50);
      Add32(out, crc);
      Add32(out, (uint32_t)data.size());
      Add32(out, (uint32_t)m.data.size());
    }
    Add32(central, 0x02014B50);
    Add16(central, 20);
    Add16(central, 20);
    Add16(central, descriptor ? 0x08 : 0);
    Add16(central, method);
    Add16(central, 0);
    Add16(central, 0x21);
    Add32(central, crc);
    Add32(central, (uint32_t)data.size());
    Add32(central, (uint32_t)m.data.size());
    Add16(central, (uint32_t)m.name.size());
    Add32(central, 0);  // extra and comment lengths
    Add32(central, 0);  // disk number, internal attributes
    Add32(central, 0);  // external attributes
    Add32(central, offset);
    central += m.name;
  }
  if (!centralDirectory) return out;
  const uint32_t dirOffset = (uint32_t)out.size();
  out += central;
  Add32(out, 0x06054B50);
  Add32(out, 0);
  Add16(out, (uint32_t)members.size());
  Add16(out, (uint32_t)members.size());
  Add32(out, (uint32_t)central.size());
  Add32(out, dirOffset);
  Add16(out, 0);
  return out;
}

class OpenXmlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx_.text = std::make_unique<char[]>(kTextBufferSize);
    ctx_.file = std::make_unique<unsigned char[]>(kFileBufferSize);
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
  std::string ExtractPackage(const std::vector<Member>& members, bool central = true) {
    return Extract(Write(BuildPackage(members, central)));
  }

  test::TempDir dir_;
  ExtractionContext ctx_;
};

std::string Sjis(const char* utf8) { return Utf8ToSjis(utf8); }

// --- the text walk ---

TEST_F(OpenXmlTest, AdjacentTextElementsAreSeparatedBySpaces) {
  EXPECT_EQ(ExtractPackage({{"word/document.xml", "<w:t>ab</w:t><w:t>cd</w:t>"}}), "ab cd ");
}

TEST_F(OpenXmlTest, EveryMemberInArchiveOrderWithOneSpaceBetween) {
  const char decl[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
  EXPECT_EQ(ExtractPackage({{"[Content_Types].xml", std::string(decl) + "<Types>types</Types>"},
                            {"docProps/core.xml", std::string(decl) + "<dc:title>Budget</dc:title>"},
                            {"word/document.xml", std::string(decl) + "<w:t>body</w:t>"}}),
            "types Budget body ");
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
  EXPECT_EQ(ExtractPackage({{"a.bin", std::string("PNG\0hidden", 10)}, {"b.xml", "z"}}), "PNGz");
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
                           false),
            "alpha gamma ");
}

TEST_F(OpenXmlTest, BrokenStreamWithoutSizesIsSteppedOverToTheNextHeader) {
  std::string package = BuildPackage({{"a.xml", "<t>alpha</t>", Way::kDeflateWithDescriptor},
                                      {"b.xml", "<t>beta</t>", Way::kDeflateWithDescriptor},
                                      {"c.xml", "<t>gamma</t>"}},
                                     false);
  package[35] = '\xFF';  // first member's data: an invalid block type
  const std::string got = Extract(Write(package));
  EXPECT_EQ(got.substr(got.size() - 6), "gamma ") << got;
}

TEST_F(OpenXmlTest, DuplicateNamesTakeTheirOwnCentralEntry) {
  EXPECT_EQ(ExtractPackage({{"a.xml", "<t>first</t>", Way::kDeflateWithDescriptor},
                            {"a.xml", "<t>second copy</t>", Way::kDeflateWithDescriptor}}),
            "first second copy ");
}

TEST_F(OpenXmlTest, UnknownMethodIsHandedToTheInflater) {
  // Data that is not deflate: the member yields nothing, the next one is read.
  EXPECT_EQ(ExtractPackage({{"a.xml", std::string(40, '\xFF'), Way::kRawMethod, 12},
                            {"b.xml", "<t>after</t>"}}),
            "after ");
}

TEST_F(OpenXmlTest, OnlyTheFirst3999995BytesAreRead) {
  std::mt19937 rng(7);
  std::string noise(4'400'000, '\0');
  for (char& c : noise) c = (char)('a' + rng() % 26);
  const std::string package = BuildPackage({{"a.xml", "<t>first</t>"},
                                            {"media/big.bin", noise, Way::kStore},
                                            {"c.xml", "<t>third</t>"}});
  ASSERT_GT(package.size(), 4'400'000u);
  EXPECT_EQ(Extract(Write(package)), "first ");
}

TEST_F(OpenXmlTest, TextStopsBeforeTheMemberThatWouldPassTheLimit) {
  const std::string a(600'000, 'a');
  EXPECT_EQ(ExtractPackage({{"a.xml", a}, {"b.xml", std::string(400'000, 'b')}}), a);
  // 999,995 bytes in all fit exactly.
  const std::string b(399'995, 'b');
  EXPECT_EQ(ExtractPackage({{"a.xml", a}, {"b.xml", b}}), a + b);
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
  std::string package = BuildPackage({{"a.xml", "<t>alpha</t>"}, {"b.xml", "<t>beta</t>"}});
  // Ruin the first member's data (it starts after the 30-byte header and name).
  for (size_t i = 35; i < 40; ++i) package[i] = '\xFF';
  const std::string got = Extract(Write(package));
  EXPECT_EQ(got.substr(got.size() - 5), "beta ") << got;
}

TEST_F(OpenXmlTest, TruncatedPackageKeepsTheMembersBeforeTheCut) {
  const std::string package = BuildPackage(
      {{"a.xml", "<t>alpha</t>"}, {"b.xml", "<t>beta</t>"}, {"c.xml", "<t>gamma</t>"}});
  const std::string whole = Extract(Write(package));
  ASSERT_EQ(whole, "alpha beta gamma ");
  for (size_t len = 0; len < package.size(); ++len) {
    const std::string got = Extract(Write(package.substr(0, len)));
    EXPECT_EQ(whole.compare(0, got.size(), got), 0) << "cut at " << len << ": " << got;
  }
}

TEST_F(OpenXmlTest, HostileHeadersNeverReadOutsideTheBuffers) {
  const std::string good = BuildPackage({{"a.xml", "<t>alpha</t>", Way::kDeflateWithDescriptor},
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
  const std::string package = BuildPackage({{"ppt/slides/slide1.xml", "<a:t>slide</a:t>"}});
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

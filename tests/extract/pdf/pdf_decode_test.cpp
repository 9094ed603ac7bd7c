// Text decoding of content streams: strings, hex codes, ToUnicode maps,
// the predefined CMaps and cmap.dat.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "extract/pdf/pdf.h"
#include "pdf_builder.h"

namespace kuribo {
namespace {

using namespace pdftest;

class PdfDecode : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx_ = MakeContext(BinDir());
    ws_ = ctx_->pdf.get();
    ws_->cmapPath = BinDir() + "cmap.dat";
    ws_->toUnicodeLoaded = false;
    ws_->predefinedLoaded = false;
  }

  // The raw Shift_JIS bytes appended for one stream.
  std::string Content(std::string stream, int32_t capacity = 999'990) {
    std::vector<char> out(1'000'000);
    const int32_t n = ExtractContentText(*ws_, (unsigned char*)stream.data(),
                                         (int32_t)stream.size(), out.data(), capacity);
    return std::string(out.data(), (size_t)std::max(n, 0));
  }
  std::string Hex(const std::vector<uint8_t>& bytes) {
    char out[5'016];
    const int32_t n = DecodeHexText(*ws_, bytes.data(), out, (int32_t)bytes.size());
    return std::string(out, (size_t)std::max(n, 0));
  }
  int LoadMap(const std::string& cmap) {
    return LoadToUnicodeMap(*ws_, (const unsigned char*)cmap.data(), (int32_t)cmap.size());
  }

  std::unique_ptr<ExtractionContext> ctx_;
  PdfWorkspace* ws_ = nullptr;
};

TEST_F(PdfDecode, LiteralStringEscapes) {
  EXPECT_EQ(Content(TextObject("(ab\\)c) Tj")), "ab)c");
  EXPECT_EQ(Content(TextObject("(a\\nb) Tj")), "a b");
  EXPECT_EQ(Content(TextObject("(x\\101) Tj")), "x 01");
  EXPECT_EQ(Content(TextObject("(p\\\\q\\(r\\/) Tj")), "p q(r/");
  // Parentheses are not balanced: the first ')' ends the string.
  EXPECT_EQ(Content(TextObject("(a(b)c) Tj")), "a(b");
  // Shift_JIS bytes pass unchanged.
  EXPECT_EQ(Content(TextObject("(" + Sjis("日本語") + ") Tj")), Sjis("日本語"));
}

TEST_F(PdfDecode, StringsAreJoinedWithoutSeparators) {
  EXPECT_EQ(Content(TextObject("(one) Tj\n(two) Tj")), "onetwo");
}

TEST_F(PdfDecode, LongLiteralIsCutAfter5001BytesAndTheRestIsScanned) {
  const std::string longText(6'000, 'a');
  const std::string out = Content(TextObject("(" + longText + ")(tail) Tj"));
  EXPECT_EQ(out, std::string(5'001, 'a') + "tail");
}

TEST_F(PdfDecode, StringThatRunsToTheEndIsDropped) {
  EXPECT_EQ(Content("BT\n(kept) Tj (unfinished and more bytes"), "kept");
  ws_->predefinedLoaded = true;
  ws_->predefined.count = 0;
  ws_->cid.count = 0;
  EXPECT_EQ(Content("BT\n(kept) Tj <82A0 and more bytes"), "kept");
}

TEST_F(PdfDecode, StringsThatDoNotFitAreDroppedOneByOne) {
  // Room 20: a string is kept while its length plus the count stays below 15.
  EXPECT_EQ(Content(TextObject("(0123456789) Tj\n(abcdefgh) Tj\n(xyz) Tj"), 20), "0123456789xyz");
}

// Most producers write "BT /F1 12 Tf" on one line; such text must not be lost.
TEST_F(PdfDecode, BtFollowedByASpaceOpensATextObjectWhenItStandsApart) {
  EXPECT_EQ(Content("BT /F1 12 Tf (early) Tj ET\nBT\n(late) Tj\nET\n"), "earlylate");
  EXPECT_EQ(Content("q 1 0 0 1 0 0 cm BT\t/F1 12 Tf (one) Tj ET Q BT (two) Tj ET\n"), "onetwo");
  // Glued to the bytes before it, "BT " is not an operator (binary data, names).
  EXPECT_EQ(Content("xBT /F1 12 Tf (never) Tj ET\n"), "");
  // "ET" ends the object the same way, so strings after it are outside.
  EXPECT_EQ(Content("BT (in) Tj ET (out) Tj\n\n\n"), "in");
}

TEST_F(PdfDecode, StringsOutsideTextObjectsAreIgnored) {
  EXPECT_EQ(Content("(before) Tj\nBT\n(in) Tj\nET\n(out) Tj\nBT\n(again) Tj\nET\n"), "inagain");
}

TEST_F(PdfDecode, MoreThanTenSuspiciousBytesBeforeTheFirstTextObjectMeanNoText) {
  EXPECT_EQ(Content(std::string(10, '\x80') + TextObject("(text) Tj")), "text");
  EXPECT_EQ(Content(std::string(11, '\x80') + TextObject("(text) Tj")), "");
  EXPECT_EQ(Content(std::string(11, '\t') + TextObject("(text) Tj")), "");
  EXPECT_EQ(Content(std::string(11, '\n') + TextObject("(text) Tj")), "text");
}

TEST_F(PdfDecode, CmapStreamGivesNoText) {
  EXPECT_EQ(Content("/CMapName /Adobe-Identity-UCS def\nBT\n(text) Tj\nET\n"), "");
}

TEST_F(PdfDecode, HexStringSplitOverLinesDecodesAsIfJoined) {
  ws_->predefinedLoaded = true;  // no tables: codes pass as they are
  ws_->predefined.count = 0;
  ws_->cid.count = 0;
  EXPECT_EQ(Content(TextObject("<82A082A2> Tj")), Sjis("あい"));
  EXPECT_EQ(Content(TextObject("<82A0\n82A2> Tj")), Sjis("あい"));
  EXPECT_EQ(Content(TextObject("<82A08\n2A2> Tj")), Sjis("あい"));
  EXPECT_EQ(Content(TextObject("<82A08\r\n2A2> Tj")), Sjis("あい"));
  // A non-digit keeps the nibble of the pair before: 'x' reuses the 2 of "82".
  EXPECT_EQ(Content(TextObject("<82A082Ax> Tj")), Sjis("あい"));
}

TEST_F(PdfDecode, WithoutAnyMapHexStringsGiveNothing) {
  EXPECT_EQ(Content(TextObject("<82A0> Tj")), "");
}

TEST_F(PdfDecode, ToUnicodeBfcharAndBfrangeLines) {
  ASSERT_EQ(LoadMap("2 beginbfchar\n<0041> <3042>\n<0042> <3044>\nendbfchar\n"
                    "2 beginbfrange\n<0020> <007E> <0020>\n<0100> <0102> [<0041> <0042>]\n"
                    "endbfrange\n"),
            1);
  EXPECT_TRUE(ws_->toUnicodeLoaded);
  ASSERT_EQ(ws_->toUnicode.count, 4);
  EXPECT_EQ(MapThroughRanges(ws_->toUnicode, 0x41), 0x3042);
  EXPECT_EQ(MapThroughRanges(ws_->toUnicode, 0x42), 0x3044);
  EXPECT_EQ(MapThroughRanges(ws_->toUnicode, 0x7A), 0x7A);
  // An array destination maps its range from 0.
  EXPECT_EQ(MapThroughRanges(ws_->toUnicode, 0x101), 1);
  EXPECT_EQ(Hex({0x00, 0x41, 0x00, 0x42, 0x00, 0x7A}), Sjis("あいz"));
}

TEST_F(PdfDecode, ToUnicodeMapWithoutLinesKeepsTheMapBefore) {
  ASSERT_EQ(LoadMap("1 beginbfchar\n<0001> <6F22>\nendbfchar\n"), 1);
  // Lines ended by CR alone are no lines.
  EXPECT_EQ(LoadMap("1 beginbfchar\r<0001> <3042>\rendbfchar\r"), 0);
  EXPECT_EQ(LoadMap("no mapping here"), 0);
  EXPECT_EQ(Hex({0x00, 0x01}), Sjis("漢"));
}

TEST_F(PdfDecode, ToUnicodeEmptyAndOverlongLines) {
  const std::string overlong = "<0003> <0003> <3046>" + std::string(300, ' ') + "x";
  ASSERT_EQ(LoadMap("3 beginbfrange\n\n" + overlong + "\n<0002> <0002> <3044>\nendbfrange\n"), 1);
  ASSERT_EQ(ws_->toUnicode.count, 3);
  // The empty line stores 0-0 -> 0.
  EXPECT_EQ(ws_->toUnicode.start[0], 0);
  EXPECT_EQ(ws_->toUnicode.end[0], 0);
  // Past 254 characters the last place is overwritten: the line still starts right.
  EXPECT_EQ(ws_->toUnicode.start[1], 3);
  EXPECT_EQ(MapThroughRanges(ws_->toUnicode, 2), 0x3044);
}

TEST_F(PdfDecode, ToUnicodeByteOrderMarkOnlyFirstAndUnitsWithoutAForm) {
  ASSERT_EQ(LoadMap("3 beginbfchar\n<0001> <FEFF>\n<0002> <3042>\n<0003> <D55C>\nendbfchar\n"),
            1);
  EXPECT_EQ(Hex({0x00, 0x01, 0x00, 0x02}), Sjis("あ"));
  EXPECT_EQ(Hex({0x00, 0x02, 0x00, 0x01, 0x00, 0x02}), Sjis("あ") + " " + Sjis("あ"));
  EXPECT_EQ(Hex({0x00, 0x03, 0x00, 0x02}), " " + Sjis("あ"));
  // A unit that converts to a zero byte ends the text.
  EXPECT_EQ(Hex({0x00, 0x02, 0x00, 0x00, 0x00, 0x02}), Sjis("あ"));
  // An odd last byte is ignored.
  EXPECT_EQ(Hex({0x00, 0x02, 0x00}), Sjis("あ"));
}

TEST_F(PdfDecode, ParseHexNumber) {
  EXPECT_EQ(ParseHexNumber("3042"), 0x3042u);
  EXPECT_EQ(ParseHexNumber("00ff"), 0xFFu);
  EXPECT_EQ(ParseHexNumber("D840DC0B"), 0xD840DC0Bu);
  EXPECT_EQ(ParseHexNumber("12zz"), 0x12u);
  EXPECT_EQ(ParseHexNumber(""), 0u);
  EXPECT_EQ(ParseHexNumber("zz"), 0u);
}

TEST_F(PdfDecode, OnlyTheCidTableLoadedStopsAtAHighByteOfZero) {
  ws_->predefinedLoaded = true;
  ws_->predefined.count = 0;
  ws_->cid.count = 1;
  ws_->cid.start[0] = 10;
  ws_->cid.end[0] = 11;
  ws_->cid.value[0] = 0x82A0;
  EXPECT_EQ(Hex({0x00, 0x0A, 0x00, 0x0B}), Sjis("あぃ"));
  EXPECT_EQ(Hex({0x00, 0x0A, 0x00, 0x41, 0x00, 0x0B}), Sjis("あ"));
  EXPECT_EQ(Hex({0x00, 0x41, 0x00, 0x0A}), "");
}

std::vector<unsigned char> ReadCmapDat() {
  std::ifstream in(BinDir() + "cmap.dat", std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

uint16_t U16(const std::vector<unsigned char>& f, size_t at) {
  return (uint16_t)(f[at] | f[at + 1] << 8);
}

TEST_F(PdfDecode, PredefinedCmapNamesSelectTheirTables) {
  if (!CmapBuilt()) GTEST_SKIP() << "cmap.dat was not built (poppler-data missing)";
  const std::vector<unsigned char> file = ReadCmapDat();
  ASSERT_EQ(file.size(), 56'880u);
  auto expectTable = [&](size_t offset, int32_t count) {
    ASSERT_EQ(ws_->predefined.count, count);
    for (int32_t i = 0; i < count; i += 37) {
      EXPECT_EQ(ws_->predefined.start[i], U16(file, offset + 2 * i));
      EXPECT_EQ(ws_->predefined.end[i], U16(file, offset + 2 * count + 2 * i));
      EXPECT_EQ(ws_->predefined.value[i], U16(file, offset + 4 * count + 2 * i));
    }
  };
  EXPECT_EQ(LoadPredefinedCMap(*ws_, "90ms-RKSJ-H"), 1);
  expectTable(4'176, 172);
  EXPECT_EQ(LoadPredefinedCMap(*ws_, "90msp-RKSJ-H"), 1);
  expectTable(2'682, 171);
  EXPECT_EQ(LoadPredefinedCMap(*ws_, "uniJIS-ucs2-HW-H"), 1);
  expectTable(5'676, 8'534);
  EXPECT_EQ(LoadPredefinedCMap(*ws_, "83pv-RKSJ-H"), 1);
  expectTable(1'350, 222);
  EXPECT_EQ(LoadPredefinedCMap(*ws_, "90ms-RKSJ-V"), 1);
  expectTable(5'208, 78);
  EXPECT_EQ(LoadPredefinedCMap(*ws_, "Identity-H"), 1);
  EXPECT_EQ(ws_->predefined.count, 0);
  EXPECT_EQ(ws_->cid.count, 225);
  EXPECT_EQ(ws_->cid.start[0], U16(file, 0));
  EXPECT_TRUE(ws_->predefinedLoaded);
}

TEST_F(PdfDecode, MissingOrShortCmapDatLeavesTablesEmpty) {
  test::TempDir t;
  const std::string dir = t.path();
  ws_->cmapPath = dir + "cmap.dat";
  ws_->cmapRead = false;
  EXPECT_EQ(LoadPredefinedCMap(*ws_, "90ms-RKSJ-H"), 0);
  EXPECT_EQ(ws_->predefined.count, 0);
  EXPECT_EQ(ws_->cid.count, 0);
  EXPECT_TRUE(ws_->predefinedLoaded);

  // 3,000 bytes hold the CID table and 83pv-RKSJ-H but not 90msp-RKSJ-H.
  t.Write("cmap.dat", std::string(3'000, '\x01'));
  ws_->cmapRead = false;
  EXPECT_EQ(LoadPredefinedCMap(*ws_, "90msp-RKSJ-H"), 1);
  EXPECT_EQ(ws_->predefined.count, 0);
  EXPECT_EQ(ws_->cid.count, 225);
  EXPECT_EQ(LoadPredefinedCMap(*ws_, "83pv-RKSJ-H"), 1);
  EXPECT_EQ(ws_->predefined.count, 222);
}

// Shift_JIS codes of JIS X 0208: rows 1-8 and 16-84.
std::vector<uint16_t> JisX0208Codes() {
  std::vector<uint16_t> codes;
  for (int lead = 0x81; lead <= 0xEA; ++lead) {
    if ((lead > 0x84 && lead < 0x88) || (lead > 0x9F && lead < 0xE0)) continue;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      const uint16_t code = (uint16_t)(lead << 8 | trail);
      if (lead == 0x88 && trail < 0x9F) continue;
      if (Cp932ToUtf16(code) >= 0) codes.push_back(code);
    }
  }
  return codes;
}

TEST_F(PdfDecode, CmapDatRoundTripsEveryJisX0208CharacterThrough90msRksjH) {
  if (!CmapBuilt()) GTEST_SKIP() << "cmap.dat was not built (poppler-data missing)";
  ASSERT_EQ(LoadPredefinedCMap(*ws_, "90ms-RKSJ-H"), 1);
  const std::vector<uint16_t> codes = JisX0208Codes();
  ASSERT_EQ(codes.size(), 6'879u);
  int wrong = 0;
  for (uint16_t code : codes) {
    const uint16_t cid = MapThroughRanges(ws_->predefined, code);
    if ((cid == code || MapThroughRanges(ws_->cid, cid) != code) && ++wrong < 10) {
      ADD_FAILURE() << "0x" << std::hex << code << " -> CID " << std::dec << cid;
    }
  }
  EXPECT_EQ(wrong, 0);
}

TEST_F(PdfDecode, CmapDatUniJisAndIdentityGiveShiftJis) {
  if (!CmapBuilt()) GTEST_SKIP() << "cmap.dat was not built (poppler-data missing)";
  ASSERT_EQ(LoadPredefinedCMap(*ws_, "UniJIS-UCS2-H"), 1);
  EXPECT_EQ(Hex({0x30, 0x42}), Sjis("あ"));
  EXPECT_EQ(Hex({0x6F, 0x22}), Sjis("漢"));
  EXPECT_EQ(Hex({0xFF, 0x21}), Sjis("Ａ"));
  // Latin letters come out full-width, so a string does not stop at them.
  EXPECT_EQ(Hex({0x00, 0x4B, 0x00, 0x31, 0x30, 0x42}), Sjis("Ｋ１あ"));
  ASSERT_EQ(LoadPredefinedCMap(*ws_, "Identity-V"), 1);
  // CID 843 あ, and CID 7887, the vertical form of 、
  EXPECT_EQ(Hex({0x03, 0x4B, 0x1E, 0xCF}), Sjis("あ、"));
  // CID 100 is not in the table: its high byte of 0 ends the text.
  EXPECT_EQ(Hex({0x03, 0x4B, 0x00, 0x64, 0x03, 0x4B}), Sjis("あ"));
}

}  // namespace
}  // namespace kuribo

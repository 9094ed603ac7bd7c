// The qpdf path: every string decoded through the font in force.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pdf_builder.h"

namespace kuribo {
namespace {

using namespace pdftest;

std::string ToUnicode(const std::string& space, const std::string& body) {
  return "/CIDInit /ProcSet findresource begin begincmap\n1 begincodespacerange\n" + space +
         "\nendcodespacerange\n" + body + "\nendcmap end\n";
}

// A minimal TrueType font holding only a format 4 cmap: U+3042 and U+3043
// drawn by glyphs 5 and 6.
std::string TrueTypeWithCmap() {
  auto u16 = [](std::string& s, int v) {
    s += (char)(v >> 8 & 0xFF);
    s += (char)(v & 0xFF);
  };
  std::string sub;
  u16(sub, 4), u16(sub, 32), u16(sub, 0), u16(sub, 4), u16(sub, 4), u16(sub, 1), u16(sub, 0);
  u16(sub, 0x3043), u16(sub, 0xFFFF), u16(sub, 0);        // ends, pad
  u16(sub, 0x3042), u16(sub, 0xFFFF);                      // starts
  u16(sub, (5 - 0x3042) & 0xFFFF), u16(sub, 1);            // deltas
  u16(sub, 0), u16(sub, 0);                                // range offsets
  std::string cmap;
  u16(cmap, 0), u16(cmap, 1), u16(cmap, 3), u16(cmap, 1), u16(cmap, 0), u16(cmap, 12);
  cmap += sub;
  std::string f;
  u16(f, 1), u16(f, 0), u16(f, 1), u16(f, 16), u16(f, 0), u16(f, 0);
  f += "cmap";
  u16(f, 0), u16(f, 0), u16(f, 0), u16(f, 28), u16(f, 0), u16(f, (int)cmap.size());
  return f + cmap;
}

struct Case {
  const char* name;
  std::string font;     // the dictionary of /F1 ("" when objects() sets fonts)
  std::string content;  // shown with /F1 in force
  const char* expected;
  bool needsCmapDat = false;
};

std::string Decode(const Case& c, PageDoc& d) {
  if (!c.font.empty()) d.Font("F1", c.font);
  d.Page(c.content);
  auto ctx = MakeContext(BinDir());
  return Extract(*ctx, d.Finish());
}

TEST(PdfFonts, EachDecodingPathGivesTheTextShown) {
  std::vector<Case> cases = {
      {"predefined Shift_JIS CMap", "<< /Type /Font /Subtype /Type0 /Encoding /90ms-RKSJ-H >>",
       TextObject("<82A0> Tj (A\\202\\242) Tj"), "あAい"},
      {"predefined EUC CMap", "<< /Type /Font /Subtype /Type0 /Encoding /EUC-H >>",
       TextObject("<A4A241A4A4> Tj"), "あAい"},
      {"predefined JIS row-cell CMap", "<< /Type /Font /Subtype /Type0 /Encoding /H >>",
       TextObject("<24222424> Tj"), "あい"},
      {"predefined UCS-2 CMap", "<< /Type /Font /Subtype /Type0 /Encoding /UniJIS-UCS2-HW-H >>",
       TextObject("<30420041FE11> Tj"), "あA、"},  // a vertical form as typed
      {"predefined UTF-16 CMap (surrogate pair has no Shift_JIS form)",
       "<< /Type /Font /Subtype /Type0 /Encoding /UniJIS-UTF16-H >>",
       TextObject("<3042D842DFB73044> Tj"), "あ い"},
      {"predefined UTF-8 CMap", "<< /Type /Font /Subtype /Type0 /Encoding /UniJIS-UTF8-H >>",
       TextObject("<E381824180C042F0A0AEB7E38184> Tj"), "あA B い"},  // malformed, beyond the BMP
      {"predefined UTF-32 CMap", "<< /Type /Font /Subtype /Type0 /Encoding /UniJIS2004-UTF32-V >>",
       TextObject("<000030420000004100020BB700003044> Tj"), "あA い"},
      {"JIS X 0212 row-cell CMap", "<< /Type /Font /Subtype /Type0 /Encoding /Hojo-H >>",
       TextObject("<302930213048> Tj"), "丨 仡"},  // U+4E02 has no code page 932 form
      {"JIS X 0212 EUC CMap", "<< /Type /Font /Subtype /Type0 /Encoding /Hojo-EUC-V >>",
       TextObject("<B0A9418FB0C8> Tj"), "丨A仡"},
      {"simple font with a base encoding and /Differences",
       "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding << /BaseEncoding "
       "/WinAnsiEncoding /Differences [65 /uni3042 /B.sc 68 /f_i] >> >>",
       TextObject("(ABCD\\223) Tj"), "あBCfi“"},
#ifdef KURIBO_GLYPH_LIST
      {"glyph names of the Adobe list", "<< /Type /Font /Subtype /Type1 /Encoding << "
       "/Differences [65 /akatakana /afii10017 /arrowdblright /dkshade.alt] >> >>",
       TextObject("(ABDC) Tj"), "アА ⇒"},  // U+2593 has no code page 932 form
#endif
      {"simple font, MacRoman", "<< /Type /Font /Subtype /Type1 /Encoding /MacRomanEncoding >>",
       TextObject("(\\324Ab) Tj"), "‘Ab"},
      {"Japanese simple font without a map: Shift_JIS bytes",
       "<< /Type /Font /Subtype /TrueType /BaseFont /MS-Mincho >>",
       TextObject("(\\202\\240\\202\\242) Tj"), "あい"},
      {"Identity-H with Adobe-Japan1 through the CID table",
       "<< /Type /Font /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [<< /Type /Font "
       "/Subtype /CIDFontType0 /CIDSystemInfo << /Registry (Adobe) /Ordering (Japan1) "
       "/Supplement 2 >> >>] >>",
       TextObject("<0022034B> Tj"), "Aあ", true},
  };
  for (const Case& c : cases) {
    if (c.needsCmapDat && !CmapBuilt()) continue;
    PageDoc d;
    EXPECT_EQ(Decode(c, d), c.expected) << c.name;
  }
}

TEST(PdfFonts, ToUnicodeMapsFollowTheirCodeSpaceAndTheFontInForce) {
  {
    // A simple TrueType subset as LibreOffice writes it: one-byte codes.
    PageDoc d;
    const int tu = d.b.FlateStream("", ToUnicode("<00> <FF>", "3 beginbfchar\n<01> <30C6>\n"
                                                              "<02> <30B9>\n<03> <30C8>\nendbfchar"));
    d.Font("F1", "<< /Type /Font /Subtype /TrueType /BaseFont /ABCDEF+Sans /ToUnicode " +
                     std::to_string(tu) + " 0 R >>");
    d.Page(TextObject("[<01><02>] TJ (\\003) Tj"));
    auto ctx = MakeContext(BinDir());
    EXPECT_EQ(Extract(*ctx, d.Finish()), "テスト");
  }
  {
    // Two fonts, each with its own map; Tf decides, for literal strings too.
    PageDoc d;
    const int a = d.b.FlateStream("", ToUnicode("<00> <FF>", "1 beginbfchar\n<01> <3042>\nendbfchar"));
    const int b = d.b.FlateStream("", ToUnicode("<00> <FF>", "1 beginbfchar\n<01> <3044>\nendbfchar"));
    d.Font("F1", "<< /Type /Font /Subtype /TrueType /ToUnicode " + std::to_string(a) + " 0 R >>");
    d.Font("F2", "<< /Type /Font /Subtype /TrueType /ToUnicode " + std::to_string(b) + " 0 R >>");
    d.Page("BT /F1 1 Tf <01> Tj /F2 1 Tf <01> Tj /F1 1 Tf (\\001) Tj ET");
    auto ctx = MakeContext(BinDir());
    EXPECT_EQ(Extract(*ctx, d.Finish()), "あいあ");
  }
  {
    // Mixed one- and two-byte codes of an embedded encoding CMap; array
    // destinations, a ligature and a surrogate pair in the ToUnicode map.
    PageDoc d;
    const std::string space = "<00> <7F>\n<8140> <9FFC>";
    const int enc = d.b.FlateStream(
        "/Type /CMap", ToUnicode(space, "2 begincidrange\n<00> <7F> 0\n<8140> <9FFC> 200\nendcidrange"));
    const int tu = d.b.FlateStream(
        "", ToUnicode(space, "1 beginbfchar\n<41> <0041>\nendbfchar\n2 beginbfrange\n"
                             "<8140> <8141> [<6817> <D842DFB7>]\n<8142> <8143> <0066006C>\nendbfrange"));
    d.Font("F1", "<< /Type /Font /Subtype /Type0 /Encoding " + std::to_string(enc) +
                     " 0 R /ToUnicode " + std::to_string(tu) + " 0 R >>");
    d.Page(TextObject("<41814081418142> Tj"));
    auto ctx = MakeContext(BinDir());
    EXPECT_EQ(Extract(*ctx, d.Finish()), "A栗 fl");
  }
}

TEST(PdfFonts, IdentityFontWithoutMapsReadsTheEmbeddedTrueTypeCmap) {
  for (bool gidMap : {true, false}) {
    PageDoc d;
    const int file = d.b.FlateStream("", TrueTypeWithCmap());
    std::string desc = "<< /Type /Font /Subtype /CIDFontType2 /CIDSystemInfo << /Registry (Adobe) "
                       "/Ordering (Identity) /Supplement 0 >> /FontDescriptor << /FontFile2 " +
                       std::to_string(file) + " 0 R >>";
    if (gidMap) {
      const int map = d.b.FlateStream("", std::string("\0\0\0\5\0\6", 6));
      desc += " /CIDToGIDMap " + std::to_string(map) + " 0 R";
    }
    d.Font("F1", "<< /Type /Font /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [" + desc +
                     " >>] >>");
    d.Page(TextObject(gidMap ? "<00010002> Tj" : "<00050006> Tj"));
    auto ctx = MakeContext(BinDir());
    EXPECT_EQ(Extract(*ctx, d.Finish()), "あぃ") << gidMap;
  }
}

}  // namespace
}  // namespace kuribo

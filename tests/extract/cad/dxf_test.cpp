#include "extract/cad/dxf.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "extract/cad/cad_test_support.h"
#include "support/temp_dir.h"

namespace kuribo {
namespace {

// Group code / value pairs, each on its own line.
std::string Pairs(const std::vector<std::pair<int, std::string>>& pairs,
                  const std::string& eol = "\n") {
  std::string out;
  for (const auto& [code, value] : pairs) out += std::to_string(code) + eol + value + eol;
  return out;
}

// A header naming the version and code page, then ENTITIES holding `body`.
std::string Drawing(const std::string& version, const std::string& codepage,
                    const std::vector<std::pair<int, std::string>>& body) {
  std::vector<std::pair<int, std::string>> all = {{0, "SECTION"}, {2, "HEADER"},
                                                  {9, "$ACADVER"}, {1, version}};
  if (!codepage.empty()) {
    all.push_back({9, "$DWGCODEPAGE"});
    all.push_back({3, codepage});
  }
  all.insert(all.end(), {{0, "ENDSEC"}, {0, "SECTION"}, {2, "ENTITIES"}});
  all.insert(all.end(), body.begin(), body.end());
  all.insert(all.end(), {{0, "ENDSEC"}, {0, "EOF"}});
  return Pairs(all);
}

class DxfText : public ::testing::Test {
 protected:
  std::string Run(const std::string& bytes) {
    const int32_t n = ExtractDxfBytes(reinterpret_cast<const unsigned char*>(bytes.data()),
                                      static_cast<int32_t>(bytes.size()), *ctx_);
    return n > 0 ? std::string(ctx_->text.get(), static_cast<size_t>(n)) : std::string();
  }
  std::unique_ptr<ExtractionContext> ctx_ = test::MakeCadContext();
};

TEST_F(DxfText, OnlyTextValuesOfTextRecordsAreKept) {
  struct Case {
    std::vector<std::pair<int, std::string>> body;
    std::string want;
  } cases[] = {
      {{{0, "TEXT"}, {5, "2A"}, {8, "Layer9"}, {10, "12.5"}, {1, "Plan A"}, {7, "STANDARD"}}, "Plan A "},
      {{{0, "ATTRIB"}, {2, "TAG"}, {1, "Value1"}, {0, "ATTDEF"}, {1, "Default"}, {3, "Prompt"}},
       "Value1 Default "},
      {{{0, "DIMENSION"}, {1, "<>"}, {0, "DIMENSION"}, {1, "Over \\Pride"}}, "Over ride "},
      {{{0, "MULTILEADER"}, {304, "{\\fArial|b0;Note}"}, {1, "no"}, {304, "LEADER_LINE{"}, {305, "}"}}, "Note "},
      {{{0, "ACAD_TABLE"}, {1, "Cell1"}, {302, "Cell2"}}, "Cell1 Cell2 "},
      {{{0, "LINE"}, {1, "not text"}, {0, "INSERT"}, {2, "BLK"}, {0, "CIRCLE"}}, ""},
      {{{0, "BLOCK"}, {2, "Door"}, {0, "BLOCK"}, {2, "*D3"}, {0, "LAYER"}, {2, "Walls"},
        {0, "LAYOUT"}, {1, "Sheet1"}},
       "Door Walls Sheet1 "},
  };
  for (const auto& c : cases) EXPECT_EQ(Run(Drawing("AC1015", "ANSI_932", c.body)), c.want);
}

TEST_F(DxfText, MtextPiecesAreJoinedAndFormattingStripped) {
  struct Case {
    std::vector<std::string> pieces;  // code 3 pieces, the last one under code 1
    std::string want;
  } cases[] = {
      {{"one\\Ptwo"}, "one two "},
      {{"{\\fArial|b0|i0;\\H2.5x;Big} \\C1;red\\~x"}, "Big red x "},
      {{"\\LUnder\\l \\Oover\\o \\S1/4; a\\\\b \\{c\\}"}, "Under over 1 4 a\\b {c} "},
      {{"Lorem ip", "sum \\fAr", "ial;dolor"}, "Lorem ipsum dolor "},  // a code split across pieces
      {{"col1\\Ncol2"}, "col1 col2 "},
  };
  for (const auto& c : cases) {
    std::vector<std::pair<int, std::string>> body = {{0, "MTEXT"}};
    for (size_t i = 0; i < c.pieces.size(); ++i) {
      body.push_back({i + 1 == c.pieces.size() ? 1 : 3, c.pieces[i]});
    }
    EXPECT_EQ(Run(Drawing("AC1015", "ANSI_1252", body)), c.want) << c.pieces[0];
  }
}

TEST_F(DxfText, ValuesAreDecodedByVersionAndCodePage) {
  const std::string mitsumori_sjis = "\x8C\xA9\x90\xCF";  // 見積 in code page 932
  const std::string mitsumori_utf8 = "\xE8\xA6\x8B\xE7\xA9\x8D";
  struct Case {
    const char* version;
    const char* codepage;
    std::string value;
    std::string want;
  } cases[] = {
      {"AC1032", "ANSI_1252", mitsumori_utf8 + "1", mitsumori_sjis + "1 "},  // 2007+: UTF-8
      {"AC1021", "ANSI_932", "\xC3\x84", "? "},  // Ä has no code page 932 form
      {"AC1015", "ANSI_932", mitsumori_sjis, mitsumori_sjis + " "},
      {"AC1015", "", mitsumori_sjis, mitsumori_sjis + " "},                  // no code page
      {"AC1015", "ANSI_1252", "\xC4\x80x", "??x "},  // Ä and the euro have no 932 form
      {"AC1015", "ANSI_1251", "\xC4z", "\x84\x44z "},  // Д
      {"AC1015", "DOS866", "\x84", "\x84\x44 "},
      {"AC1015", "ISO8859-5", "\xB4", "\x84\x44 "},
      {"AC1015", "ANSI_1253", "\xE1", "\x83\xBF "},  // α
      {"AC1015", "ANSI_936", "\xD2\x8A\xB7\x65", mitsumori_sjis + " "},
      {"AC1015", "ANSI_950", "\xA8\xA3\xBF\x6E", mitsumori_sjis + " "},
      {"AC1015", "ANSI_949", "\xCC\xB8\xEE\xDD", mitsumori_sjis + " "},
      {"AC1015", "ANSI_949", "\xCC", "? "},  // a lead byte with nothing after it
      {"AC1015", "ANSI_1361", "\xCC", "? "},  // no table: ASCII only
      {"AC1015", "ANSI_1252", "\\U+898B\\U+7A4D", mitsumori_sjis + " "},
      {"AC1015", "ANSI_1252", "\\M+18CA9x", "\x8C\xA9x "},
      {"AC1015", "ANSI_1252", "%%d %%p %%uA%%u 50%%%", "\x81\x8B \x81\x7D A 50% "},
      {"AC1015", "ANSI_1252", "\\U+12 \\Uxyz", "\\U+12 \\Uxyz "},  // not escapes
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(Drawing(c.version, c.codepage, {{0, "TEXT"}, {1, c.value}})), c.want)
        << c.version << " " << c.codepage << " " << c.value;
  }
}

TEST_F(DxfText, LineEndsAndPaddingOfEveryKindGiveTheSameText) {
  const std::vector<std::pair<int, std::string>> body = {{0, "TEXT"}, {1, "first"}, {0, "TEXT"}, {1, "second"}};
  EXPECT_EQ(Run(Pairs(body, "\n")), "first second ");
  EXPECT_EQ(Run(Pairs(body, "\r\n")), "first second ");
  EXPECT_EQ(Run("  0\r\nTEXT\r\n  1\r\nfirst"), "first ");  // the last line needs no end
  EXPECT_EQ(Run(std::string("0\nTEXT\n1\nAB\0CD\n", 15)), "AB ");
  // A stray line puts pairs out of step; the walk finds its way back.
  EXPECT_EQ(Run("junk\n0\nTEXT\n1\nok\n"), "ok ");
}

TEST_F(DxfText, TextFarBehindTwoMegabytesOfHandlesIsRead) {
  std::string in = Drawing("AC1015", "ANSI_1252", {});
  in.resize(in.size() - 14);  // before ENDSEC / EOF
  while (in.size() < 2'200'000) in += "0\nLINE\n5\n1A2B3C\n8\nLayer\n";
  in += Pairs({{0, "TEXT"}, {1, "FAR AWAY"}, {0, "ENDSEC"}});
  EXPECT_EQ(Run(in), "FAR AWAY ");
  test::TempDir dir;
  const int n = ExtractDxfText(dir.Write("big.dxf", in), 0, *ctx_);
  EXPECT_EQ(std::string(ctx_->text.get(), n > 0 ? n : 0), "FAR AWAY ");
}

TEST_F(DxfText, TextStopsBelowOneMillionBytes) {
  std::string in;
  for (int i = 0; i < 120'000; ++i) in += "0\nTEXT\n1\nABCDEFGHI\n";
  const std::string got = Run(in);
  EXPECT_LE(got.size(), 1'000'000u);
  EXPECT_GT(got.size(), 999'980u);
}

std::string BinaryPair(int code, const std::string& value) {
  std::string out(1, static_cast<char>(code & 0xFF));
  out += static_cast<char>(code >> 8);
  return out + value;
}

TEST_F(DxfText, BinaryDrawingGivesItsTextValues) {
  std::string bin("AutoCAD Binary DXF\r\n\x1A\0", 22);
  bin += BinaryPair(0, std::string("SECTION\0", 8)) + BinaryPair(2, std::string("ENTITIES\0", 9));
  bin += BinaryPair(0, std::string("TEXT\0", 5)) + BinaryPair(10, std::string(8, '\x01'));
  bin += BinaryPair(70, std::string(2, '\0')) + BinaryPair(90, std::string(4, '\xFF'));
  bin += BinaryPair(310, std::string("\x03\x01\x02\x03", 4)) + BinaryPair(290, std::string(1, '\1'));
  bin += BinaryPair(1, std::string("Binary text\0", 12));
  EXPECT_EQ(Run(bin), "Binary text ");
  // Cut anywhere, it gives a prefix of that or nothing, never garbage.
  for (size_t cut = 0; cut < bin.size(); ++cut) {
    const std::string got = Run(bin.substr(0, cut));
    EXPECT_TRUE(got.empty() || got == "Binary text ") << cut;
  }
  // An unknown code ends the walk.
  EXPECT_EQ(Run(bin.substr(0, bin.size() - 14) + BinaryPair(2000, "x") + BinaryPair(1, "y")), "");
}

TEST_F(DxfText, MissingOrEmptyFilesGiveNothing) {
  EXPECT_EQ(ExtractDxfText("/nonexistent/kuribo/drawing.dxf", 0, *ctx_), 0);
  test::TempDir dir;
  EXPECT_EQ(ExtractDxfText(dir.Write("empty.dxf", ""), 0, *ctx_), 0);
}

// Real drawings: every value checked below is one of their TEXT or MTEXT values.
class DxfCorpus : public DxfText {
 protected:
  std::string Extract(const std::string& name) {
    const int n = ExtractDxfText(std::string(KURIBO_CORPUS_DIR) + "/dxf/" + name, 0, *ctx_);
    return n > 0 ? std::string(ctx_->text.get(), static_cast<size_t>(n)) : std::string();
  }
  void SetUp() override {
    struct stat st;
    if (stat((std::string(KURIBO_CORPUS_DIR) + "/dxf").c_str(), &st) != 0) {
      GTEST_SKIP() << "corpus not present at " << KURIBO_CORPUS_DIR;
    }
  }
};

TEST_F(DxfCorpus, TextsAfterMegabytesOfTablesAreFound) {
  struct Case {
    const char* file;
    std::vector<std::string> values;
  } cases[] = {
      {"acadsharp_sample_AC1015_ascii.dxf",
       {"Hello this is a single line text", "Sample annotation", "Table sample"}},
      {"acadsharp_sample_AC1015_binary.dxf",
       {"Hello this is a single line text", "Sample annotation", "Table sample"}},
      {"acadsharp_sample_AC1009_ascii.dxf", {"Sample annotation"}},
      {"ldwg_example_r14.dxf", {"teksto simpla", "Teksto granda nur por testi. Alia linio. Alia pli."}},
      {"ezdxf_text_fonts.dxf", {"BASELINE ADJUSTMENTS (gjpqy)"}},
      {"ezdxf_mtext_columns_R2000.dxf", {"Lorem ipsum dolor sit amet"}},
      {"ezdxf_ASCII_R12.dxf", {"ABC", "\x83\xBF\x83\xC0\x83\xC1"}},  // the escaped αβγ
  };
  for (const auto& c : cases) {
    const std::string got = Extract(c.file);
    EXPECT_LE(got.size(), 1'000'000u);
    for (const auto& v : c.values) EXPECT_NE(got.find(v), std::string::npos) << c.file << ": " << v;
    EXPECT_EQ(got.find("AcDb"), std::string::npos) << c.file;
  }
}

}  // namespace
}  // namespace kuribo

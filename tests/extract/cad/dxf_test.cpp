#include "extract/cad/dxf.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "extract/cad/cad_test_support.h"
#include "support/temp_dir.h"

namespace kuribo {
namespace {

class DxfText : public ::testing::Test {
 protected:
  std::string Run(const std::string& bytes) {
    const int32_t n = ExtractDxfBytes(reinterpret_cast<const unsigned char*>(bytes.data()),
                                      static_cast<int32_t>(bytes.size()), *ctx_);
    return n > 0 ? std::string(ctx_->text.get(), static_cast<size_t>(n)) : std::string();
  }
  // The lines, each ended by `eol`.
  static std::string Lines(const std::vector<std::string>& lines, const std::string& eol = "\n") {
    std::string out;
    for (const auto& line : lines) out += line + eol;
    return out;
  }
  std::unique_ptr<ExtractionContext> ctx_ = test::MakeCadContext();
};

TEST_F(DxfText, HeaderExampleKeepsTheSectionNameAndVersion) {
  EXPECT_EQ(Run(Lines({"  0", "SECTION", "  2", "HEADER", "  9", "$ACADVER", "  1", "AC1015"})),
            "HEADER AC1015 ");
}

TEST_F(DxfText, TextEntityKeepsItsNameAndValue) {
  EXPECT_EQ(Run(Lines({"  0", "TEXT", "  8", "0", " 10", "12.5", " 20", "-3.25", " 40", "2.5", "  1",
                       "\x8C\xA9\x90\xCF\x8F\x91 No.3"})),  // 見積書 in Shift_JIS
            "TEXT \x8C\xA9\x90\xCF\x8F\x91 No.3 ");
}

TEST_F(DxfText, NumbersAreDroppedOnlyInPlainDecimalForm) {
  EXPECT_EQ(Run(Lines({"12.5", "-12.5", "+7.0", "0.0", "1.0E-3", ".5", "1.2.3", "12.", "1e5", "7"})),
            "1.0E-3 .5 1.2.3 12. 1e5 ");
}

TEST_F(DxfText, IntegersBeyondThirtyTwoBitsAreKept) {
  EXPECT_EQ(Run(Lines({"2147483647", "-2147483648", "2147483648", "-2147483649", "1.2147483647",
                       "1.2147483648", "-", "+", "--1", "0x10"})),
            "2147483648 -2147483649 1.2147483648 - + --1 0x10 ");
}

TEST_F(DxfText, HeaderVariablesBracesAndSubclassMarkersAreDropped) {
  EXPECT_EQ(Run(Lines({"$INSBASE", "{ACAD_REACTORS", "}", "AcDbText", "AcDbEntity", "ACME Corp",
                       "Ac", "A", "x{", "ac"})),
            "ACME Corp A x{ ac ");
}

TEST_F(DxfText, StructuralWordsAreDroppedExactly) {
  const std::vector<std::string> words = {
      "CONTINUOUS", "VERTEX", "LINE", "BLOCK", "ENDBLK", "MTEXTBEGIN", "MTEXT", "MTEXTEND",
      "ENDSEC", "SECTION", "SEQEND", "BLOCKS", "OBJECTS", "LAYER", "POLYLINE", "DEFPOINTS",
      "POINT", "CIRCLE", "STYLE", "STANDARD", "TABLE", "ENDTAB", "CLASS", "RTEXT", "INSERT",
      "LAYOUT"};
  ASSERT_EQ(words.size(), 26u);
  EXPECT_EQ(Run(Lines(words)), "");
  EXPECT_EQ(Run(Lines({"  LINE\t", "Line", "LINES", "TEXT", "ATTRIB", "ARC", "DIMENSION", "ENTITIES",
                       "TABLES", "Standard"})),
            "Line LINES TEXT ATTRIB ARC DIMENSION ENTITIES TABLES Standard ");
}

TEST_F(DxfText, LineEndsOfEveryKindGiveTheSameText) {
  const std::vector<std::string> lines = {"  0", "TEXT", "  1", "first line", "  1", "second"};
  const std::string lf = Run(Lines(lines, "\n"));
  EXPECT_EQ(lf, "TEXT first line second ");
  EXPECT_EQ(Run(Lines(lines, "\r\n")), lf);
  EXPECT_EQ(Run(Lines(lines, "\r")), lf);
}

TEST_F(DxfText, OnlyEndedLinesAreLookedAt) {
  EXPECT_EQ(Run("KEPT\nunended"), "KEPT ");
  EXPECT_EQ(Run("unended"), "");
}

TEST_F(DxfText, ZeroByteEndsTheLineText) {
  EXPECT_EQ(Run(std::string("ABC\0DEF\nGHI\n", 12)), "ABC GHI ");
  EXPECT_EQ(Run(std::string("\0TEXT\n12\0zz\n", 12)), "");
}

TEST_F(DxfText, SurroundingBlanksAndControlCharactersAreTrimmed) {
  EXPECT_EQ(Run(" \t\x01 front \x1F\x7F\n\v\f  \n"), "front ");
}

TEST_F(DxfText, KeptTextStopsAtTheFirstLineThatWouldPassTheLimit) {
  // 9,999 lines of nine letters take 99,990 bytes with their spaces.
  std::string in;
  for (int i = 0; i < 9999; ++i) in += "ABCDEFGHI\n";
  // 99,990 + 7 + 2 = 99,999 still fits; nothing more does, not even "Z".
  const std::string fits = in + "FITSNOW\nTOOLONG\nZ\n";
  std::string got = Run(fits);
  ASSERT_EQ(got.size(), 99'998u);
  EXPECT_EQ(got.substr(got.size() - 8), "FITSNOW ");
  // One byte more and the line stops the walk; the shorter line after it is not taken.
  got = Run(in + "FITSNOW8\nZ\n");
  EXPECT_EQ(got.size(), 99'990u);
  EXPECT_EQ(got.substr(got.size() - 10), "ABCDEFGHI ");
}

TEST_F(DxfText, ShiftJisBytesPassThrough) {
  // 図面 in Shift_JIS, and a half-width katakana line.
  EXPECT_EQ(Run("  1\n\x90\x7D\x96\xCA\n\xB1\xB2\n"), "\x90\x7D\x96\xCA \xB1\xB2 ");
}

TEST_F(DxfText, BinaryDrawingGivesOnlyWhatSurvivesTheFilter) {
  std::string bin("AutoCAD Binary DXF\r\n\x1A\0", 22);
  for (int i = 0; i < 256; ++i) bin += static_cast<char>(i);
  bin += "\n";
  const std::string got = Run(bin);
  EXPECT_EQ(got.substr(0, 19), "AutoCAD Binary DXF ");
}

class DxfFile : public DxfText {};

TEST_F(DxfFile, ReadsAtMost999999Bytes) {
  std::string in;
  while (in.size() < 999'990) in += "0\n";
  in += "EARLY\n";  // ends at byte 999,996
  in += "LATE\n";   // its line end lies beyond what is read
  ASSERT_GT(in.size(), 999'999u);
  test::TempDir dir;
  const int n = ExtractDxfText(dir.Write("big.dxf", in), 0, *ctx_);
  EXPECT_EQ(std::string(ctx_->text.get(), n > 0 ? n : 0), "EARLY ");
}

TEST_F(DxfFile, MissingOrEmptyFilesGiveNothing) {
  EXPECT_EQ(ExtractDxfText("/nonexistent/kuribo/drawing.dxf", 0, *ctx_), 0);
  test::TempDir dir;
  EXPECT_EQ(ExtractDxfText(dir.Write("empty.dxf", ""), 0, *ctx_), 0);
}

// Real drawings; the texts were checked against their text entities.
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

TEST_F(DxfCorpus, CounterpartsOfTheSampleDrawingsGiveTheirTextLines) {
  const std::string r14 = Extract("ldwg_example_r14.dxf");
  EXPECT_EQ(r14.rfind("HEADER AC1014 ", 0), 0u);
  EXPECT_NE(r14.find(" teksto simpla "), std::string::npos);
  EXPECT_NE(r14.find(" xx "), std::string::npos);
  EXPECT_LE(r14.size(), 99'998u);

  const std::string r2000 = Extract("acadsharp_sample_AC1015_ascii.dxf");
  EXPECT_EQ(r2000.rfind("HEADER AC1015 ", 0), 0u);
  EXPECT_NE(r2000.find(" Hello this is a single line text "), std::string::npos);
  EXPECT_NE(r2000.find(" Sample annotation "), std::string::npos);
  EXPECT_LE(r2000.size(), 99'998u);
}

TEST_F(DxfCorpus, SmallerDrawingsAreReadToTheirEnd) {
  const std::string fonts = Extract("ezdxf_text_fonts.dxf");
  EXPECT_NE(fonts.find(" BASELINE ADJUSTMENTS (gjpqy) "), std::string::npos);
  const std::string columns = Extract("ezdxf_mtext_columns_R2000.dxf");
  EXPECT_NE(columns.find("Lorem ipsum dolor sit amet"), std::string::npos);
  // Escapes and code page 1252 bytes pass through undecoded.
  const std::string r12 = Extract("ezdxf_ASCII_R12.dxf");
  EXPECT_NE(r12.find("ABC\xC4\xDC\xD6\\U+03B1\\U+03B2\\U+03B3"), std::string::npos);
  EXPECT_EQ(Extract("ezdxf_small_r14.dxf").rfind("HEADER AC1014 ", 0), 0u);
}

TEST_F(DxfCorpus, BinaryDrawingGivesItsSignatureAndStaysBelowTheLimit) {
  const std::string bin = Extract("acadsharp_sample_AC1015_binary.dxf");
  EXPECT_EQ(bin.rfind("AutoCAD Binary DXF ", 0), 0u);
  EXPECT_LE(bin.size(), 99'998u);
}

}  // namespace
}  // namespace kuribo

#include "extract/cad/dwg.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "app/dispatch.h"
#include "extract/cad/cad_test_support.h"
#include "extract/cad/dxf.h"
#include "extract/cad/drawing_builder.h"
#include "extract/cad/dwg2004.h"
#include "support/temp_dir.h"

namespace kuribo {
namespace {

using test::DrawingBuilder;
using test::TextEntityR13;
using test::TextEntityR2000;
using test::TextOptions;
using test::Tv;

class DwgText : public ::testing::Test {
 protected:
  std::string Run(const std::vector<uint8_t>& file) {
    const int32_t n = ExtractDwgBytes(file.data(), static_cast<int32_t>(file.size()), *ctx_);
    return n > 0 ? std::string(ctx_->text.get(), static_cast<size_t>(n)) : std::string();
  }
  std::unique_ptr<ExtractionContext> ctx_ = test::MakeCadContext();
};

std::vector<uint8_t> Entity(const std::string& version, const std::string& text,
                            const TextOptions& o = {}) {
  return version == "AC1015" ? TextEntityR2000(text, o) : TextEntityR13(text, o);
}

// Objects in file order, one map section with their locations, and the
// classes when there are any.
std::vector<uint8_t> Drawing(const std::string& version, const std::vector<std::vector<uint8_t>>& objects,
                             const std::vector<std::pair<int, std::string>>& classes = {}) {
  DrawingBuilder b(version);
  if (!classes.empty()) b.AddClasses(classes);
  std::vector<std::pair<int64_t, int64_t>> entries;
  int64_t previous = 0;
  for (const auto& object : objects) {
    const int64_t at = b.AddObject(object);
    entries.push_back({1, at - previous});
    previous = at;
  }
  b.AddSection(entries);
  return b.Build();
}

const char* const kVersions[] = {"AC1012", "AC1013", "AC1014", "AC1015"};

TEST_F(DwgText, OneEntityWithAnEightBitLength) {
  for (const char* v : kVersions) {
    EXPECT_EQ(Run(Drawing(v, {Entity(v, "ABC")})), "ABC ") << v;
  }
}

TEST_F(DwgText, TwoEntitiesAreSeparatedBySpaces) {
  for (const char* v : kVersions) {
    EXPECT_EQ(Run(Drawing(v, {Entity(v, "ABC"), Entity(v, "DEF")})), "ABC DEF ") << v;
  }
}

TEST_F(DwgText, StoredTerminatingZeroStillLeavesTheSeparator) {
  // Drawings count the closing zero byte in the text length.
  for (const char* v : kVersions) {
    EXPECT_EQ(Run(Drawing(v, {Entity(v, std::string("ABC\0", 4)), Entity(v, std::string("DEF\0", 4))})),
              "ABC DEF ")
        << v;
    EXPECT_EQ(Run(Drawing(v, {Entity(v, std::string("AB\0junk", 7))})), "AB ") << v;
  }
}

TEST_F(DwgText, WidestFieldFormsArePassedOverExactly) {
  TextOptions wide;
  wide.wide = true;
  wide.handleBytes = 8;
  for (const char* v : kVersions) {
    EXPECT_EQ(Run(Drawing(v, {Entity(v, "WIDE", wide), Entity(v, "NARROW")})), "WIDE NARROW ") << v;
  }
}

TEST_F(DwgText, DataFlagsSelectTheOptionalFieldsOfTheSecondLayout) {
  for (int flags = 0; flags < 32; ++flags) {
    TextOptions o;
    o.dataFlags = static_cast<uint8_t>(flags);
    o.wide = flags % 2 == 0;
    EXPECT_EQ(Run(Drawing("AC1015", {TextEntityR2000("ABC", o)})), "ABC ") << flags;
  }
}

TEST_F(DwgText, LayoutFollowsTheVersionString) {
  // The same bytes under the other layout's version do not give the text.
  EXPECT_NE(Run(Drawing("AC1014", {TextEntityR2000("ABC")})), "ABC ");
  EXPECT_NE(Run(Drawing("AC1015", {TextEntityR13("ABC")})), "ABC ");
}

TEST_F(DwgText, SixteenBitLengthIsStoredLowByteFirst) {
  TextOptions o;
  o.tv = Tv::k16;
  const std::string longText(300, 'L');  // length bytes 0x2C 0x01
  for (const char* v : kVersions) {
    EXPECT_EQ(Run(Drawing(v, {Entity(v, "ABC", o)})), "ABC ") << v;
    EXPECT_EQ(Run(Drawing(v, {Entity(v, longText, o)})), longText + " ") << v;
  }
}

TEST_F(DwgText, EmptyTextValueGivesNothing) {
  TextOptions o;
  o.tv = Tv::kEmpty;
  for (const char* v : kVersions) {
    EXPECT_EQ(Run(Drawing(v, {Entity(v, "", o), Entity(v, "DEF")})), "DEF ") << v;
  }
}

TEST_F(DwgText, ExtendedDataAndPreviewsArePassedOver) {
  // The sample drawings lost their "XData ..." texts to these.
  TextOptions eed, preview, both;
  eed.extendedDataSize = 5;
  preview.preview = true;
  both.extendedDataSize = 300;
  both.preview = true;
  for (const char* v : kVersions) {
    EXPECT_EQ(Run(Drawing(v, {Entity(v, "ABC"), Entity(v, "XDATA", eed), Entity(v, "PREVIEW", preview),
                              Entity(v, "BOTH", both)})),
              "ABC XDATA PREVIEW BOTH ")
        << v;
  }
}

TEST_F(DwgText, AttributesMultilineTextsAndNamesAreRead) {
  TextOptions attrib, attdef;
  attrib.type = 2;
  attdef.type = 3;
  for (const char* v : kVersions) {
    const bool r2000 = std::string(v) == "AC1015";
    EXPECT_EQ(Run(Drawing(v, {Entity(v, "VALUE", attrib), Entity(v, "DEFAULT", attdef),
                              test::MtextEntity("{\\fArial;Big}\\Pnext line", r2000),
                              test::NamedObject(51, "Walls", r2000), test::NamedObject(49, "Door", r2000),
                              test::NamedObject(49, "*Model_Space", r2000),
                              test::NamedObject(50, "NotAName", r2000)})),
              "VALUE DEFAULT Big next line Walls Door ")
        << v;
  }
}

TEST_F(DwgText, DimensionOverridesAreReadButNotTheMeasuredValue) {
  struct Case {
    std::string text;
    Tv tv;
    std::string want;
  } cases[] = {
      {"Clearance {\\H2;5}", Tv::k8, "Clearance 5 "}, {"<> typ.", Tv::k16, "<> typ. "},
      {"<>", Tv::k8, ""},                                {"", Tv::kEmpty, ""},
  };
  for (const char* v : kVersions) {
    const bool r2000 = std::string(v) == "AC1015";
    for (const auto& c : cases) {
      for (uint32_t type = 20; type <= 26; ++type) {
        EXPECT_EQ(Run(Drawing(v, {test::DimensionEntity(type, c.text, r2000, c.tv), Entity(v, "END")})),
                  c.want + "END ")
            << v << " type " << type << " " << c.text;
      }
      // Type 27 (a point) and 19 (a line) are not dimensions.
      EXPECT_EQ(Run(Drawing(v, {test::DimensionEntity(27, c.text, r2000, c.tv)})), "") << v;
    }
  }
  for (const char* v : {"AC1018", "AC1024", "AC1027", "AC1032"}) {
    const bool utf16 = std::string(v) != "AC1018";
    const bool r2013 = std::string(v) >= "AC1027";
    EXPECT_EQ(Run(test::Drawing2004(v, {test::Record2004("Over", 22, utf16, r2013), test::Record2004("<>", 25, utf16, r2013),
                                        test::Record2004("Text", 1, utf16, r2013)})),
              "Over Text ")
        << v;
  }
}

TEST_F(DwgText, ClassesNameTheLayoutAndMultileaderTypes) {
  using test::LayoutObject;
  using test::MultileaderEntity;
  for (const char* v : kVersions) {
    const bool r2000 = std::string(v) == "AC1015";
    const std::vector<std::vector<uint8_t>> objects = {
        LayoutObject(500, "Sheet A", r2000), MultileaderEntity(501, "Note\\Pline two", r2000),
        LayoutObject(502, "NotALayout", r2000), MultileaderEntity(503, "NotALeader", r2000),
        test::DimensionEntity(504, "Arc", r2000), Entity(v, "END")};
    const std::vector<std::pair<int, std::string>> classes = {
        {500, "LAYOUT"}, {501, "MULTILEADER"}, {502, "ACAD_TABLE"}, {503, "XRECORD"}, {504, "ARC_DIMENSION"}};
    EXPECT_EQ(Run(Drawing(v, objects, classes)), "Sheet A Note line two Arc END ") << v;
    EXPECT_EQ(Run(Drawing(v, objects)), "END ") << v;
  }
}

TEST_F(DwgText, CodePage1252DrawingsAreConverted) {
  auto file = Drawing("AC1015", {Entity("AC1015", "45\xB0")});
  EXPECT_EQ(Run(file), "45\xB0 ");  // no code page given: bytes pass through
  file[0x13] = 30;
  EXPECT_EQ(Run(file), "45\x81\x8B ");  // the degree sign
  file = Drawing("AC1015", {Entity("AC1015", "\xC4")});
  file[0x13] = 29;  // 1251
  EXPECT_EQ(Run(file), "\x84\x44 ");
  file[0x13] = 200;  // no code page known: bytes pass through
  EXPECT_EQ(Run(file), "\xC4 ");
}

TEST_F(DwgText, OtherObjectTypesAreNotRead) {
  for (const char* v : kVersions) {
    EXPECT_EQ(Run(Drawing(v, {test::LineEntity(), Entity(v, "DEF")})), "DEF ") << v;
  }
}

TEST_F(DwgText, TheWidestEntityIsRead) {
  TextOptions wide;
  wide.wide = true;
  wide.handleBytes = 15;
  wide.tv = Tv::kEmpty;
  for (const char* v : kVersions) {
    const int64_t bits = static_cast<int64_t>(Entity(v, "", wide).size()) * 8;
    EXPECT_LT(bits, 1300) << v;
    wide.tv = Tv::k8;
    EXPECT_EQ(Run(Drawing(v, {Entity(v, "FAR", wide)})), "FAR ") << v;
    wide.tv = Tv::kEmpty;
  }
}

TEST_F(DwgText, TextRunningPastTheObjectIsCutAtItsEnd) {
  const std::string text = "ABCDEFGH";
  for (const char* v : kVersions) {
    int64_t start = 0;
    TextOptions o;
    o.textStart = &start;
    const auto object = Entity(v, text, o);
    ASSERT_NE(start % 8, 0) << v;  // the text bytes straddle byte boundaries
    DrawingBuilder b(v);
    const int64_t at = b.AddObject(object);
    b.AddSection({{1, at}});
    auto file = b.Build();
    // Shrink the stated object size byte by byte.
    for (int32_t size = static_cast<int32_t>(object.size()); size >= 0; --size) {
      file[at] = static_cast<uint8_t>(size);
      const int64_t whole = size * 8 >= start ? (size * 8 - start) / 8 : 0;
      const std::string expected =
          whole > 0 ? text.substr(0, static_cast<size_t>(std::min<int64_t>(whole, 8))) + " " : "";
      EXPECT_EQ(Run(file), expected) << v << " size " << size;
    }
  }
}

TEST_F(DwgText, FieldsRunningPastTheObjectMeanItIsNotRead) {
  for (const char* v : kVersions) {
    auto object = Entity(v, "ABC");
    DrawingBuilder b(v);
    const int64_t at = b.AddObject(object);
    const int64_t next = b.AddObject(Entity(v, "DEF"));
    b.AddSection({{1, at}, {1, next - at}});
    auto file = b.Build();
    file[at] = 12;  // the stated size ends among the common fields
    EXPECT_EQ(Run(file), "DEF ") << v;
  }
}

TEST_F(DwgText, NegativeLocationOffsetMovesBackwards) {
  for (const char* v : kVersions) {
    DrawingBuilder b(v);
    const int64_t a = b.AddObject(Entity(v, "ABC"));
    const int64_t d = b.AddObject(Entity(v, "DEF"));
    b.AddSection({{1, d}, {1, a - d}});
    EXPECT_EQ(Run(b.Build()), "DEF ABC ") << v;
  }
}

TEST_F(DwgText, LocationsRestartInEachSection) {
  DrawingBuilder b("AC1015");
  const int64_t a = b.AddObject(TextEntityR2000("ABC"));
  const int64_t d = b.AddObject(TextEntityR2000("DEF"));
  b.AddSection({{1, a}});
  b.AddSection({{1, d}});
  EXPECT_EQ(Run(b.Build()), "ABC DEF ");
}

TEST_F(DwgText, LongOffsetsSpanSeveralBytes) {
  DrawingBuilder b("AC1014");
  b.Pad(20000);  // a three-byte location
  const int64_t a = b.AddObject(TextEntityR13("ABC"));
  b.Pad(300);
  const int64_t d = b.AddObject(TextEntityR13("DEF"));
  // Handle offsets of two bytes, and a location spelled in four bytes whose
  // last byte still has its high bit set: the fourth byte always ends it.
  std::vector<uint8_t> body = {0x81, 0x02};
  body.push_back(static_cast<uint8_t>(0x80 | (a & 0x7F)));
  body.push_back(static_cast<uint8_t>(0x80 | ((a >> 7) & 0x7F)));
  body.push_back(static_cast<uint8_t>(0x80 | ((a >> 14) & 0x7F)));
  body.push_back(0x80);
  body.push_back(0x81);
  body.push_back(0x02);
  for (uint8_t c : DrawingBuilder::Modular(d - a)) body.push_back(c);
  b.AddRawSection(body);
  EXPECT_EQ(Run(b.Build()), "ABC DEF ");
}

TEST_F(DwgText, LastEntryOfASectionIsRead) {
  // A two-byte entry right before the check value.
  DrawingBuilder b("AC1015");
  const int64_t line = b.AddObject({0x40, 0x40, 0, 0});  // tiny object of another type
  const int64_t d = b.AddObject(TextEntityR2000("DEF"));
  ASSERT_LT(d - line, 64);
  b.AddSection({{1, line}, {1, d - line}});
  EXPECT_EQ(Run(b.Build()), "DEF ");
}

TEST_F(DwgText, MapRightAtTheEndOfASmallFileIsRead) {
  DrawingBuilder b("AC1015");
  const int64_t a = b.AddObject(TextEntityR2000("ABC"));
  b.AddSection({{1, a}});
  const auto file = b.Build(0);
  ASSERT_LT(file.size(), 400u);
  EXPECT_EQ(Run(file), "ABC ");
}

TEST_F(DwgText, MapPointingPastTheEndGivesNoTextFromThoseEntries) {
  DrawingBuilder b("AC1014");
  const int64_t a = b.AddObject(TextEntityR13("ABC"));
  b.AddSection({{1, 5'000'000}, {1, a - 5'000'000}, {1, 400'000}});
  auto file = b.Build();
  EXPECT_EQ(Run(file), "ABC ");
  // The map itself beyond the data read.
  for (uint32_t start : {0xFFFFFFF0u, static_cast<uint32_t>(file.size()),
                         static_cast<uint32_t>(file.size() - 1)}) {
    auto moved = file;
    for (int i = 0; i < 4; ++i) moved[44 + i] = static_cast<uint8_t>(start >> (8 * i));
    EXPECT_EQ(Run(moved), "") << start;
  }
}

TEST_F(DwgText, OtherVersionsGiveNothing) {
  for (const char* v : {"AC1018", "AC1021", "AC1032", "AC1009", "AC1016", "ac1015"}) {
    auto file = Drawing("AC1015", {TextEntityR2000("ABC")});
    std::copy(v, v + 6, file.begin());
    EXPECT_EQ(Run(file), "") << v;
  }
}

TEST_F(DwgText, TruncatedDrawingGivesAPrefixOfTheText) {
  for (const char* v : kVersions) {
    const auto file = Drawing(v, {Entity(v, "ABC"), Entity(v, "DEF")});
    const std::string full = Run(file);
    ASSERT_EQ(full, "ABC DEF ");
    for (size_t cut = 0; cut <= file.size(); ++cut) {
      const std::vector<uint8_t> part(file.begin(), file.begin() + static_cast<long>(cut));
      const std::string got = Run(part);
      EXPECT_EQ(full.compare(0, got.size(), got), 0) << v << " cut " << cut << ": " << got;
    }
  }
}

TEST_F(DwgText, RandomlyDamagedMapsAndObjectsStayInBounds) {
  // A damaged twin of a good drawing: each byte in turn set to 0xFF.
  for (const char* v : {"AC1014", "AC1015"}) {
    const auto file = Drawing(v, {Entity(v, "ABC"), Entity(v, "DEF")});
    for (size_t i = 0; i < file.size(); ++i) {
      auto damaged = file;
      damaged[i] = 0xFF;
      const std::string got = Run(damaged);
      EXPECT_LE(got.size(), 2048u) << v << " byte " << i;
    }
  }
}

TEST_F(DwgText, OutputStopsBeforeOneMillionBytes) {
  for (const char* v : {"AC1014", "AC1015"}) {
    DrawingBuilder b(v);
    std::vector<std::pair<int64_t, int64_t>> first, second;
    int64_t previous = 0;
    const std::string text(1800, 'T');
    TextOptions o;
    o.tv = Tv::k16;
    for (int i = 0; i < 600; ++i) {
      const int64_t at = b.AddObject(Entity(v, text, o));
      (i < 500 ? first : second).push_back({1, at - (i == 500 ? 0 : previous)});
      previous = at;
    }
    b.AddSection(first);
    b.AddSection(second);
    const std::string got = Run(b.Build());
    EXPECT_LE(got.size(), 1'000'000u) << v;
    EXPECT_GT(got.size(), 990'000u) << v;
  }
}

TEST(Dwg2004Decompression, CopiesAndLiteralsAsCoded) {
  struct Case {
    std::vector<uint8_t> in;
    std::string want;  // "!" for a malformed stream
  } cases[] = {
      {{0x01, 'A', 'B', 'C', 'D', 0x11}, "ABCD"},
      {{0x01, 'A', 'B', 'C', 'D', 0x5C, 0x00, 0x11}, "ABCDABCD"},        // a near copy
      {{0x01, 'A', 'B', 'C', 'D', 0x24, 0x00, 0x00, 0x11}, "ABCDDDDDDD"},  // overlapping
      {{0x01, 'A', 'B', 'C', 'D', 0x5D, 0x00, 'x', 0x11}, "ABCDABCDx"},    // literal after a copy
      {{0x11}, ""},
      {{0x01, 'A', 'B', 'C', 'D', 0x5C, 0xFF, 0x11}, "!"},  // before the start of the output
      {{0x01, 'A', 'B'}, "!"},                              // cut short
      {{0x01, 'A', 'B', 'C', 'D'}, "!"},                    // no end mark
      {{0x01, 'A', 'B', 'C', 'D', 0x05}, "!"},              // not an opcode
  };
  unsigned char out[64];
  for (const auto& c : cases) {
    const int64_t n = Decompress2004(c.in.data(), static_cast<int64_t>(c.in.size()), out, sizeof out);
    EXPECT_EQ(n < 0 ? std::string("!") : std::string(reinterpret_cast<char*>(out), static_cast<size_t>(n)), c.want);
  }
  // A long literal run, and output that would pass the room given.
  std::vector<uint8_t> data(300, 'q');
  const auto packed = test::Compress2004(data);
  std::vector<unsigned char> big(300);
  EXPECT_EQ(Decompress2004(packed.data(), static_cast<int64_t>(packed.size()), big.data(), 300), 300);
  EXPECT_EQ(Decompress2004(packed.data(), static_cast<int64_t>(packed.size()), big.data(), 299), -1);
}

TEST_F(DwgText, DrawingsOfThe2004StructureGiveTheirTexts) {
  struct Case {
    const char* version;
    bool utf16;
    bool r2013;
  } cases[] = {{"AC1018", false, false}, {"AC1024", true, false}, {"AC1027", true, true}, {"AC1032", true, true}};
  for (const auto& c : cases) {
    for (bool compressed : {true, false}) {
      const auto file = test::Drawing2004(
          c.version, {test::Record2004("First", 1, c.utf16, c.r2013), test::Record2004("Walls", 51, c.utf16, c.r2013),
                      test::Record2004("Value", 2, c.utf16, c.r2013)},
          compressed);
      EXPECT_EQ(Run(file), "First Walls Value ") << c.version << compressed;
      // Cut or damaged anywhere, it stays in bounds and gives no more than that.
      for (size_t i = 0; i < file.size(); i += 3) {
        auto damaged = file;
        damaged[i] ^= 0x5A;
        EXPECT_LE(Run(damaged).size(), 64u) << c.version << " byte " << i;
        const std::vector<uint8_t> cut(file.begin(), file.begin() + static_cast<long>(i));
        EXPECT_LE(Run(cut).size(), 64u) << c.version << " cut " << i;
      }
    }
  }
}

class DwgFile : public DwgText {};

TEST_F(DwgFile, ReadsTheFileUpToItsSizePlusTen) {
  const auto bytes = Drawing("AC1015", {TextEntityR2000("ABC")});
  test::TempDir dir;
  const std::string path = dir.Write("a.dwg", std::string(bytes.begin(), bytes.end()));
  const int32_t size = static_cast<int32_t>(bytes.size());
  int n = ExtractDwgText(path, size, *ctx_);
  EXPECT_EQ(std::string(ctx_->text.get(), n > 0 ? n : 0), "ABC ");
  // A recorded size far below the real one: the map lies outside what is read.
  EXPECT_EQ(ExtractDwgText(path, size / 2, *ctx_), 0);
  EXPECT_EQ(ExtractDwgText(path, 0, *ctx_), 0);
  EXPECT_EQ(ExtractDwgText(path, -20, *ctx_), 0);
}

TEST_F(DwgFile, MissingOrTinyFilesGiveNothing) {
  EXPECT_EQ(ExtractDwgText("/nonexistent/kuribo/drawing.dwg", 1000, *ctx_), 0);
  auto bytes = Drawing("AC1015", {TextEntityR2000("ABC")});
  bytes.resize(51);
  test::TempDir dir;
  EXPECT_EQ(ExtractDwgText(dir.Write("short.dwg", std::string(bytes.begin(), bytes.end())), 51, *ctx_), 0);
}

// Real drawings. Their single-line texts were checked against the DXF files
// saved from the same drawings: entities with extended data are left out.
class DwgCorpus : public DwgText {
 protected:
  std::string Extract(const std::string& name) {
    const std::string path = std::string(KURIBO_CORPUS_DIR) + "/dwg/" + name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return "<absent>";
    const int n = ExtractDwgText(path, static_cast<int32_t>(st.st_size), *ctx_);
    return n > 0 ? std::string(ctx_->text.get(), static_cast<size_t>(n)) : std::string();
  }
  void SetUp() override {
    struct stat st;
    if (stat((std::string(KURIBO_CORPUS_DIR) + "/dwg").c_str(), &st) != 0) {
      GTEST_SKIP() << "corpus not present at " << KURIBO_CORPUS_DIR;
    }
  }
};

TEST_F(DwgCorpus, EveryTextOfTheDxfTwinIsFound) {
  // The single-line texts of sample_AC1015_ascii.dxf, saved from the same drawing.
  const std::vector<std::string> sample = {
      "Hello this is a single line text", "XDATA sample", "Color sample", "Table sample",
      "Dynamic blocks sample", "Multileader sample", "Hatch pattern sample",
      "3D Solid region and body", "Materials", "XData Pos", "XData Real", "XData Layer",
      "XData Str", "XData Long", "XData Dir", "XData Dist", "XData 3Real", "XData Hand",
      "XData Int", "XData All", "XData Scale", "XData Disp"};
  const std::vector<std::string> example = {"teksto simpla", "xx", "Teksto granda nur por testi.",
                                            "Alia linio. Alia pli.", "valoro de la teksto en bloko"};
  // Multileader texts and layout names: the twin keeps them too.
  const std::vector<std::string> sampleMore = {"MLeader text, hello!", "MULTILEADER TEST", "MULTILEADER TEST 123",
                                               "Model", "Layout1", "Layout2", "MyLayout"};
  const std::vector<std::string> exampleMore = {"xx xx", "Model", "Layout1", "Layout2"};
  struct Case {
    const char* file;
    const std::vector<std::string>* values;
  } cases[] = {
      {"acadsharp_sample_AC1014.dwg", &sample}, {"acadsharp_sample_AC1015.dwg", &sample},
      {"ldwg_example_r13.dwg", &example},       {"ldwg_example_r14.dwg", &example},
      {"ldwg_example_2000.dwg", &example},     {"ldwg_example_2004.dwg", &example},
      {"ldwg_example_2007.dwg", &example},     {"ldwg_example_2018.dwg", &example},
      {"acadsharp_sample_AC1014.dwg", &sampleMore}, {"acadsharp_sample_AC1015.dwg", &sampleMore},
      {"ldwg_example_r14.dwg", &exampleMore},       {"ldwg_example_2000.dwg", &exampleMore},
      {"ldwg_example_2004.dwg", &exampleMore},      {"ldwg_example_2007.dwg", &exampleMore},
      {"ldwg_example_2018.dwg", &exampleMore},
  };
  for (const auto& c : cases) {
    const std::string got = Extract(c.file);
    for (const auto& v : *c.values) EXPECT_NE(got.find(v), std::string::npos) << c.file << ": " << v;
  }
}

TEST_F(DwgCorpus, SmallDrawingsGiveTheirTexts) {
  EXPECT_EQ(Extract("ldwg_sample_2000.dwg"), "0 Model Layout1 Layout2 Tavolo 1 Jen teksto simpla, cxu ne? ");
  EXPECT_NE(Extract("ldwg_2000_TS1.dwg").find("some text some layer"), std::string::npos);
  EXPECT_EQ(Extract("ldwg_2000_entities-2d.dwg"), "0 Layout1 Model Layout2 FOO BLOCK1 3 BLOCK2 3 4 Defpoints ");
  EXPECT_NE(Extract("ldwg_2000_Text.dwg").find("This a multiline text to check"), std::string::npos);
  EXPECT_NE(Extract("ldwg_r14_v.dwg").find("V R-DOOR-ANNO"), std::string::npos);
  EXPECT_NE(Extract("tika_testDWG2004.dwg").find("The quick brown fox jumps over the lazy dog"),
            std::string::npos);
}

TEST_F(DwgCorpus, TheSameDrawingGivesTheSameTextIn2007AndIn2018) {
  const std::string drawing2007 = Extract("ldwg_example_2007.dwg");
  EXPECT_FALSE(drawing2007.empty());
  EXPECT_EQ(drawing2007, Extract("ldwg_example_2018.dwg"));
}

TEST_F(DwgCorpus, VersionsNotReadGiveNothing) {
  EXPECT_EQ(Extract("ldwg_r11_entities-2d.dwg"), "");
}

}  // namespace
}  // namespace kuribo

namespace kuribo {
namespace {

TEST(CadDispatch, DrawingsAreReadByTheirOwnExtractorsWhateverConvertersArePresent) {
  for (bool xdoc2txt : {false, true}) {
    for (bool pdftotext : {false, true}) {
      EXPECT_EQ(ChooseExtractor(LowerExtension("/d/plan.DWG"), xdoc2txt, pdftotext), &ExtractDwgText);
      EXPECT_EQ(ChooseExtractor(LowerExtension("/d/plan.dxf"), xdoc2txt, pdftotext), &ExtractDxfText);
    }
  }
}

}  // namespace
}  // namespace kuribo

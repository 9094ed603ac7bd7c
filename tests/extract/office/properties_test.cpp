#include "extract/office/properties.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "encoding/sjis.h"
#include "extract/office/compound.h"
#include "support/cfb_writer.h"
#include "support/temp_dir.h"

namespace kuribo {
namespace {

using test::BuildCompoundFile;
using test::BuildPropertySetStream;
using test::CodePageProperty;
using test::I4Property;
using test::kFmtidDocSummaryInformation;
using test::kFmtidSummaryInformation;
using test::kFmtidUserDefinedProperties;
using test::LpstrProperty;
using test::LpwstrProperty;
using test::PropertySection;

const char kSummary[] = "\005SummaryInformation";
const char kDocSummary[] = "\005DocumentSummaryInformation";

class DocumentPropertiesTest : public ::testing::Test {
 protected:
  void SetUp() override { buffer_.assign(1'200'000, '\x7F'); }

  std::string Write(const std::string& name, const std::string& bytes) {
    return dir_.Write(name, bytes);
  }
  std::string WriteDoc(const std::string& summary, const std::string& docSummary) {
    std::vector<test::CfbStream> streams = {{"WordDocument", std::string(5000, 'w')}};
    if (!summary.empty()) streams.push_back({kSummary, summary});
    if (!docSummary.empty()) streams.push_back({kDocSummary, docSummary});
    return Write("doc.doc", BuildCompoundFile(streams));
  }

  // Runs over a body of `textLength` bytes and returns what was appended.
  std::string Appended(const std::string& path, int32_t textLength = 4) {
    std::fill(buffer_.begin(), buffer_.begin() + textLength, 'b');
    const int32_t n = AppendDocumentProperties(path, buffer_.data() + textLength, textLength);
    EXPECT_GE(n, textLength);
    if (n < textLength) return "<shrunk>";
    if (n > textLength) {
      EXPECT_EQ(buffer_[n], '\0') << "not terminated";
    }
    return std::string(buffer_.data() + textLength, (size_t)(n - textLength));
  }

  test::TempDir dir_;
  std::vector<char> buffer_;
};

std::string Summary(std::vector<test::Property> props, uint16_t codePage = 932) {
  props.insert(props.begin(), CodePageProperty(codePage));
  return BuildPropertySetStream({PropertySection{kFmtidSummaryInformation, props}});
}

std::string Sjis(const char* utf8) { return Utf8ToSjis(utf8); }

// The builder the other tests stand on: streams read back exactly, from the mini
// stream and from sectors of their own.
TEST_F(DocumentPropertiesTest, CompoundWriterStreamsReadBack) {
  std::string big(70'000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = (char)(i * 7 + i / 300);
  const std::string small = "small stream";
  const std::string path = Write("c.bin", BuildCompoundFile({{"Big", big}, {"S", small}, {"Empty", ""}}));
  CompoundFile cfb;
  ASSERT_TRUE(cfb.Open(path));
  std::vector<unsigned char> got(100'000);
  ASSERT_EQ(cfb.ReadStream("Big", got.data(), got.size()), (int64_t)big.size());
  EXPECT_EQ(std::string(got.begin(), got.begin() + (long)big.size()), big);
  ASSERT_EQ(cfb.ReadStream("S", got.data(), got.size()), (int64_t)small.size());
  EXPECT_EQ(std::string(got.begin(), got.begin() + (long)small.size()), small);
  EXPECT_EQ(cfb.StreamSize("Empty"), 0);
  EXPECT_EQ(cfb.StreamSize("Missing"), -1);
}

TEST_F(DocumentPropertiesTest, TitleAndAuthorFollowTheBodyWithOneSpaceBetween) {
  const std::string path =
      WriteDoc(Summary({LpstrProperty(2, "Budget"), LpstrProperty(4, "Sales")}), "");
  EXPECT_EQ(Appended(path), "Budget Sales");
  EXPECT_EQ(std::string(buffer_.data(), 4), "bbbb") << "the body text is kept";
}

TEST_F(DocumentPropertiesTest, EmptyTitleAddsNothingOfItsOwn) {
  const std::string path = WriteDoc(Summary({LpstrProperty(2, ""), LpstrProperty(3, "Plan")}), "");
  EXPECT_EQ(Appended(path), "Plan");
}

TEST_F(DocumentPropertiesTest, CompanyFromTheDocumentSummaryAlone) {
  const std::string doc = BuildPropertySetStream(
      {PropertySection{kFmtidDocSummaryInformation,
                       {CodePageProperty(932), LpstrProperty(15, "Example")}}});
  EXPECT_EQ(Appended(WriteDoc("", doc)), "Example");
}

TEST_F(DocumentPropertiesTest, SetsAndSectionsInOrderAndIdentifiersAscending) {
  // Stored out of order; read back by identifier, set after set.
  const std::string summary = Summary(
      {LpstrProperty(18, "App"), LpstrProperty(8, "Last"), LpstrProperty(2, "Title"),
       LpstrProperty(20, "Beyond"), LpstrProperty(0x80000000u, "Far")});
  const std::string doc = BuildPropertySetStream(
      {PropertySection{kFmtidDocSummaryInformation,
                       {CodePageProperty(932), LpstrProperty(15, "Company"),
                        LpstrProperty(2, "Category"), LpstrProperty(14, "Manager")}},
       PropertySection{kFmtidUserDefinedProperties,
                       {CodePageProperty(932), LpstrProperty(2, "Custom")}}});
  EXPECT_EQ(Appended(WriteDoc(summary, doc)), "Title Last App Category Manager Company Custom");
}

TEST_F(DocumentPropertiesTest, OnlyNarrowStringsAreTaken) {
  const std::string path = WriteDoc(
      Summary({LpwstrProperty(2, u"Wide"), I4Property(3, 12345), LpstrProperty(4, "Narrow")}), "");
  EXPECT_EQ(Appended(path), "Narrow");
}

TEST_F(DocumentPropertiesTest, UnknownSectionIdentifierIsNotRead) {
  test::Fmtid other = kFmtidSummaryInformation;
  other[0] ^= 1;
  const std::string summary =
      BuildPropertySetStream({PropertySection{other, {LpstrProperty(2, "Stray")}}});
  EXPECT_EQ(Appended(WriteDoc(summary, "")), "");
}

TEST_F(DocumentPropertiesTest, TrimsSpacesAndControlCharactersAtBothEnds) {
  const std::string path =
      WriteDoc(Summary({LpstrProperty(2, " \t"), LpstrProperty(3, "Plan A\r\n")}), "");
  EXPECT_EQ(Appended(path), "Plan A");
}

TEST_F(DocumentPropertiesTest, NothingWhenTheTextWouldReachTheLimit) {
  // " " + 19 bytes: 20 bytes collected.
  const std::string path = WriteDoc(Summary({LpstrProperty(2, "0123456789abcdefghi")}), "");
  EXPECT_EQ(AppendDocumentProperties(path, buffer_.data() + 999'990, 999'990), 999'990);
  EXPECT_EQ(buffer_[999'990], '\x7F') << "nothing written";
  EXPECT_EQ(AppendDocumentProperties(path, buffer_.data() + 999'980, 999'980), 999'980);
  EXPECT_EQ(AppendDocumentProperties(path, buffer_.data() + 999'979, 999'979), 999'998);
  EXPECT_EQ(std::string(buffer_.data() + 999'979, 19), "0123456789abcdefghi");
}

TEST_F(DocumentPropertiesTest, ShiftJisValuesAreTakenAsStored) {
  // 予算 in code page 932, a trail byte 0x5C ('\') included.
  const std::string budget = "\x97\x5C\x8E\x5A";
  EXPECT_EQ(Appended(WriteDoc(Summary({LpstrProperty(2, budget)}, 932), "")), budget);
}

TEST_F(DocumentPropertiesTest, ValuesInOtherCodePagesAreConverted) {
  EXPECT_EQ(Appended(WriteDoc(Summary({LpstrProperty(2, "予算 ｶﾅ")}, 65001), "")),
            Sjis("予算 ｶﾅ"));
  // Code page 1252: the a-umlaut has no Shift_JIS form, the pound sign has.
  EXPECT_EQ(Appended(WriteDoc(Summary({LpstrProperty(2, "x\xC4h \xA3" "5")}, 1252), "")),
            "x h " + Sjis("£") + "5");
  // Code page 1200: the narrow string holds UTF-16 units.
  const std::string utf16("\x88\x4E\x97\x7B\x00\x00", 6);  // 予算
  EXPECT_EQ(Appended(WriteDoc(Summary({LpstrProperty(2, utf16)}, 1200), "")), Sjis("予算"));
}

TEST_F(DocumentPropertiesTest, TableCodePagesAndIso2022AreDecodedWithoutIconv) {
  const struct {
    uint16_t codePage;
    std::string bytes;
    std::string utf8;
  } cases[] = {
      {51932, "\xCD\xBD\xBB\xBB x", "予算 x"},
      {20932, "\x8E\xB6\xA4\xA2", "ｶあ"},
      {50220, "a\x1B$BM=;;\x1B(Bb", "a予算b"},
      {50221, "\x1B(I6\x1B(B!", "ｶ!"},
      {10000, "caf\x8E!", "caf !"},      // é has no Shift_JIS form
      {936, "x\xD4\xA4\xCB\xE3", "x 算"},  // GBK: 预 has no form, 算 has
      {1252, "y\x81z", "y z"},            // a byte the code page leaves undefined
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Appended(WriteDoc(Summary({LpstrProperty(2, c.bytes)}, c.codePage), "")), Utf8ToSjis(c.utf8))
        << c.codePage;
  }
}

TEST_F(DocumentPropertiesTest, MalformedUtf8ValueLosesOnlyItsBadBytes) {
  const std::string path = WriteDoc(Summary({LpstrProperty(2, "ab\xF0\x9F\x98\x80" "cd\xFF" "e")}, 65001), "");
  EXPECT_EQ(Appended(path), "ab cd e");
}

TEST_F(DocumentPropertiesTest, FilesThatAreNotCompoundDocumentsAddNothing) {
  EXPECT_EQ(Appended(Write("a.txt", "Title Budget, plain text")), "");
  EXPECT_EQ(Appended(dir_.path() + "missing.doc"), "");
  std::string fake = BuildCompoundFile({{kSummary, Summary({LpstrProperty(2, "x")})}});
  fake.resize(600);  // the signature, then nothing readable
  EXPECT_EQ(Appended(Write("cut.doc", fake)), "");
  EXPECT_EQ(buffer_[4], '\x7F') << "nothing written";
}

TEST_F(DocumentPropertiesTest, DamagedPropertyStreamsYieldLessNeverMore) {
  const std::string good =
      Summary({LpstrProperty(2, "Budget"), LpstrProperty(4, "Sales"), LpstrProperty(5, "Keys")});
  ASSERT_EQ(Appended(WriteDoc(good, "")), "Budget Sales Keys");
  // Every truncation of the stream.
  for (size_t len = 0; len < good.size(); ++len) {
    const std::string got = Appended(WriteDoc(good.substr(0, len), ""));
    EXPECT_EQ(std::string("Budget Sales Keys").compare(0, got.size(), got), 0)
        << "length " << len << ": " << got;
  }
  // Every byte of the tables and headers set to 0xFF in turn.
  for (size_t at = 0; at < 96 && at < good.size(); ++at) {
    std::string bad = good;
    bad[at] = '\xFF';
    const std::string got = Appended(WriteDoc(bad, ""));
    EXPECT_LE(got.size(), 40u) << "byte " << at;
  }
}

// Real documents: the properties end the text.
class CorpusPropertiesTest : public DocumentPropertiesTest {
 protected:
  std::string Corpus(const char* name) {
    const std::string path = std::string(KURIBO_CORPUS_DIR) + "/" + name;
    if (!std::filesystem::exists(path)) return "";
    return path;
  }
};

#define CORPUS_OR_SKIP(var, name)                                        \
  const std::string var = Corpus(name);                                  \
  if (var.empty()) GTEST_SKIP() << "corpus file absent: " << name;

TEST_F(CorpusPropertiesTest, WordDocumentInCodePage932) {
  CORPUS_OR_SKIP(path, "doc/poi_TestShiftJIS.doc");
  const std::string got = Appended(path);
  EXPECT_EQ(got.find(Sjis("第1章")), 0u) << SjisToUtf8(got);
  EXPECT_NE(got.find("Reiichiro Hori"), std::string::npos);
  EXPECT_NE(got.find("milktea"), std::string::npos);
}

TEST_F(CorpusPropertiesTest, WordDocumentInUtf8CodePage) {
  CORPUS_OR_SKIP(path, "doc/poi_Bug34898.doc");
  const std::string got = Appended(path);
  EXPECT_EQ(got.find(Sjis("ディレクトリ")), 0u) << SjisToUtf8(got);
  EXPECT_NE(got.find("BEB"), std::string::npos);
}

TEST_F(CorpusPropertiesTest, SpreadsheetsWithJapaneseAuthorAndCompany) {
  CORPUS_OR_SKIP(path, "xls/parseexcel_AuthorK.xls");
  const std::string got = Appended(path);
  EXPECT_EQ(got.find(Sjis("河馬屋")), 0u) << SjisToUtf8(got);
  EXPECT_NE(got.find(Sjis("日本ラッド株式会社")), std::string::npos);
  CORPUS_OR_SKIP(euro, "xls/poi_TestUnicode.xls");
  EXPECT_NE(Appended(euro).find(Sjis("Titel: ") + " h, was ?"), std::string::npos);
}

TEST_F(CorpusPropertiesTest, PresentationWithUtf8DocumentSummary) {
  CORPUS_OR_SKIP(path, "ppt/poi_bug57820-initTableNullRefrenceException.ppt");
  const std::string got = Appended(path);
  EXPECT_EQ(got.find(Sjis("PowerPoint プレゼンテーション")), 0u) << SjisToUtf8(got);
  EXPECT_NE(got.find(Sjis("ジョンシャーフ")), std::string::npos);
  EXPECT_EQ(got.substr(got.size() - 3), "ACS");
}

TEST_F(CorpusPropertiesTest, NotACompoundDocument) {
  CORPUS_OR_SKIP(path, "xls/exceldr_biff3.xls");
  EXPECT_EQ(Appended(path), "");
}

}  // namespace
}  // namespace kuribo

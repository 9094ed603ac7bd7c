#include <string>

#include "extract/office/office_fixture.h"

namespace kuribo::test {
namespace {

// A record: version/instance, type, length, body.
std::string Atom(uint32_t type, const std::string& body) {
  return Le16(0) + Le16(type) + Le32((uint32_t)body.size()) + body;
}
std::string Chars(const std::string& utf8) { return Atom(0x0FA0, Utf16Le(utf8)); }
std::string Bytes(const std::string& text) { return Atom(0x0FA8, text); }
std::string Container(const std::string& body) {
  return Le16(0x000F) + Le16(0x03F0) + Le32((uint32_t)body.size()) + body;
}

class PowerPointTest : public OfficeTest {
 protected:
  std::string Ppt(const std::string& bytes) { return Run(ExtractPptText, "t.ppt", bytes); }
};

TEST_F(PowerPointTest, TextAtomsInFileOrderRunTogether) {
  std::string doc =
      Container(Chars("会議資料\r") + Atom(0x0F9F, Le32(0)) + Chars("第一章") + Bytes("Title"));
  EXPECT_EQ(SjisToUtf8(Ppt(doc)), "会議資料 第一章Title");
}

TEST_F(PowerPointTest, TextBytesAtomIsTakenAsStored) {
  EXPECT_EQ(Ppt(Bytes("Title")), "Title");
  EXPECT_EQ(Ppt(Bytes(std::string("ab\0cd", 5))), "ab");
}

TEST_F(PowerPointTest, EmptyAtomLetsTheScanGoOnAfterItsHeader) {
  EXPECT_EQ(SjisToUtf8(Ppt(Chars("") + Chars("次の文"))), "次の文");
}

TEST_F(PowerPointTest, BodyLimitIs2048Bytes) {
  std::string fits(2048, 'a'), over(2049, 'b');
  EXPECT_EQ(Ppt(Bytes(fits)), fits);
  EXPECT_EQ(Ppt(Bytes(over)), "");
  // Inside a skipped atom the scan still finds atoms byte by byte.
  std::string inner = Bytes("inner");
  std::string body = inner + std::string(2049 - inner.size(), 'z');
  EXPECT_EQ(Ppt(Atom(0x0FA8, body)), "inner");
}

TEST_F(PowerPointTest, AtomRunningPastTheEndIsNotTaken) {
  std::string doc = Chars("前") + Chars("途中で切れた文章");
  EXPECT_EQ(SjisToUtf8(Ppt(doc.substr(0, doc.size() - 2))), "前");
  EXPECT_EQ(Ppt(std::string("\xA0\x0F\x02\x00", 4)), "");  // header itself cut
}

TEST_F(PowerPointTest, UnconvertibleUnitsBecomeQuestionMarks) {
  // A surrogate pair has no code page 932 form.
  EXPECT_EQ(Ppt(Atom(0x0FA0, Le16(0xD842) + Le16(0xDF9F) + Utf16Le("a"))), "??a");
}

// Compound documents: atoms that cross a sector break of a fragmented stream.
std::string Slides() {
  std::string s;
  for (int i = 0; i < 200; ++i) s += Chars("スライド" + std::to_string(i) + "\r");
  return s;
}
std::string ExpectedSlides() {
  std::string t;
  for (int i = 0; i < 200; ++i) t += "スライド" + std::to_string(i) + " ";
  return t;
}

TEST_F(PowerPointTest, ContiguousStreamGivesTheRawReading) {
  std::string cfb = BuildCompoundFile(
      {{"PowerPoint Document", Container(Slides())}, {"Current User", std::string(100, 'u')}});
  std::string viaStream = Ppt(cfb);
  EXPECT_EQ(viaStream, Ppt(BreakSignature(cfb)));
  EXPECT_EQ(SjisToUtf8(viaStream), ExpectedSlides());
}

TEST_F(PowerPointTest, FragmentedStreamLosesNoAtom) {
  std::string cfb = BuildCompoundFile(
      {{"PowerPoint Document", Container(Slides())}, {"Pictures", std::string(9000, 'p')}},
      CfbLayout::kInterleaved);
  EXPECT_EQ(SjisToUtf8(Ppt(cfb)), ExpectedSlides());
  EXPECT_NE(SjisToUtf8(Ppt(BreakSignature(cfb))), ExpectedSlides());
}

}  // namespace
}  // namespace kuribo::test

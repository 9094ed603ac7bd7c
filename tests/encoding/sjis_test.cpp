#include "encoding/sjis.h"

#include <gtest/gtest.h>

namespace kuribo {
namespace {

TEST(Sjis, RoundTripsJapaneseThroughUtf8) {
  const std::string utf8 = "見積書 ｶﾞｲﾄﾞ ＡＢＣ abc ①～";
  bool lossless = false;
  const std::string sjis = Utf8ToSjis(utf8, ' ', &lossless);
  EXPECT_TRUE(lossless);
  // 見 = 0x8CA9, ｶ = 0xB6, ① = 0x8740 (NEC row 13), ～ = 0x8160
  EXPECT_EQ(sjis.substr(0, 2), "\x8C\xA9");
  EXPECT_NE(sjis.find("\xB6\xDE"), std::string::npos);
  EXPECT_NE(sjis.find("\x87\x40"), std::string::npos);
  EXPECT_NE(sjis.find("\x81\x60"), std::string::npos);
  EXPECT_EQ(SjisToUtf8(sjis), utf8);
}

TEST(Sjis, CharactersWithoutAFormBecomeTheReplacement) {
  bool lossless = true;
  // Hangul, an emoji beyond U+FFFF, and a malformed byte.
  EXPECT_EQ(Utf8ToSjis("a\xED\x95\x9C" "b\xF0\x9F\x98\x80" "c\xFF" "d", ' ', &lossless), "a b c d");
  EXPECT_FALSE(lossless);
  EXPECT_EQ(Utf16ToSjis(u"\uD55C\u3042"), "?\x82\xA0");
}

TEST(Sjis, DecodingKeepsBackslashAndTildeAndCutsALoneLeadByte) {
  EXPECT_EQ(SjisToUtf8("\\~"), "\\~");
  EXPECT_EQ(SjisToUtf8("a\x82"), "a");
  EXPECT_EQ(SjisToUtf8("\x82\xA0\x82"), "あ");
  EXPECT_EQ(Cp932ToUtf16(0x82A0), 0x3042);
  EXPECT_EQ(Utf16ToCp932(u'\u3042'), 0x82A0);
  EXPECT_EQ(Utf16ToCp932(u'\uD55C'), -1);
}

TEST(Sjis, ByteThatCannotTrailIsNotSwallowedByTheLeadBefore) {
  // "caf\xE9/" and a line end: the stray lead byte is replaced alone.
  EXPECT_EQ(SjisToUtf8("caf\xE9/x"), "caf\uFFFD/x");
  EXPECT_EQ(SjisToUtf8("\x82\n\x82\xA0", 0), "\nあ");
}

TEST(Sjis, ByteClasses) {
  EXPECT_TRUE(IsLeadByte(0x81));
  EXPECT_TRUE(IsLeadByte(0xEF));
  EXPECT_TRUE(IsLeadByte(0xFB));  // 髙 is 0xFBFC
  EXPECT_FALSE(IsLeadByte(0xFD));
  EXPECT_FALSE(IsLeadByte(0xA0));
  EXPECT_TRUE(IsTrailByte(0x40));
  EXPECT_FALSE(IsTrailByte(0x7F));
  EXPECT_TRUE(IsPrintableSingle(0xB6));
  EXPECT_FALSE(IsPrintableSingle(0x7F));
}

}  // namespace
}  // namespace kuribo

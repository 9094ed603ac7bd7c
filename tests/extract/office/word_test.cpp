#include <string>

#include "extract/office/office_fixture.h"

namespace kuribo::test {
namespace {

constexpr uint8_t kPlainVersion = 0x5B;  // any byte that selects the default decoding

// A Word stream: the FIB fields the reader uses, the text at fcMin.
std::string WordStream(uint8_t version, uint8_t flags, const std::string& text,
                       uint32_t fcMin = 1024) {
  std::string s(fcMin, '\0');
  s[0] = (char)0xEC;
  s[1] = (char)0xA5;
  s[4] = (char)version;
  s[10] = (char)flags;
  s.replace(24, 4, Le32(fcMin));
  s.replace(28, 4, Le32(fcMin + (uint32_t)text.size()));
  return s + text;
}

// The stream right after a 512-byte header that is no compound document.
std::string RawDoc(const std::string& stream) { return std::string(512, 'H') + stream; }

class WordTest : public OfficeTest {
 protected:
  // The text without the one space that the padding of the last block leaves.
  std::string Doc(const std::string& bytes) {
    std::string t = Run(ExtractDocText, "t.doc", bytes);
    if (!t.empty() && t.back() == ' ') t.pop_back();
    return t;
  }
};

TEST_F(WordTest, Utf16JapaneseIsConvertedToShiftJis) {
  std::string text = Utf16Le("栗坊は日本語の文書を探します。");
  EXPECT_EQ(Doc(RawDoc(WordStream(kPlainVersion, 0, text))),
            Sjis("栗坊は日本語の文書を探します。"));
}

TEST_F(WordTest, SeparatorsBecomeSpacesBetweenWords) {
  std::string text = Utf16Le("会議") + Le16(0x0D) + Utf16Le("資料") + Le16(0x07) + Utf16Le("x-y");
  EXPECT_EQ(Doc(RawDoc(WordStream(kPlainVersion, 0, text))), Sjis("会議 資料 x y"));
}

// 64 units per block: 58 kanji and 6 units without a code page 932 form stay
// under a tenth; with 7 they reach it and the block is not taken as UTF-16.
TEST_F(WordTest, UnconvertibleShareDecidesUtf16) {
  auto block = [](int thai) {
    std::string b;
    for (int i = 0; i < 64 - thai; ++i) b += Utf16Le("語");  // 9E 8A: not 8-bit text
    for (int i = 0; i < thai; ++i) b += Le16(0x0E01);
    return b;
  };
  std::string under = Doc(RawDoc(WordStream(kPlainVersion, 0, block(6))));
  std::string expected;
  for (int i = 0; i < 58; ++i) expected += Sjis("語");
  EXPECT_EQ(under, expected + "??????");
  // As 8-bit text the same bytes are mostly non-printable: the block is dropped.
  EXPECT_EQ(Doc(RawDoc(WordStream(kPlainVersion, 0, block(7)))), "");
}

TEST_F(WordTest, OneByteTextInDefaultVersion) {
  std::string text = "Quarterly report for Kuribo, third edition";
  text.resize(128, ' ');
  EXPECT_EQ(Doc(RawDoc(WordStream(kPlainVersion, 0, text))),
            "Quarterly report for Kuribo, third edition");
}

TEST_F(WordTest, OneByteBlockWithTooManyControlBytesIsDropped) {
  std::string text(128, 'a');
  for (int i = 0; i < 14; ++i) text[i * 9] = 0x01;  // 14 of 128 counted bytes are bad
  EXPECT_EQ(Doc(RawDoc(WordStream(kPlainVersion, 0, text))), "");
  text = std::string(128, 'a');
  for (int i = 0; i < 12; ++i) text[i * 9] = 0x01;  // 12 of 128: under a tenth
  EXPECT_NE(Doc(RawDoc(WordStream(kPlainVersion, 0, text))), "");
}

TEST_F(WordTest, Version69SwapsDoubleByteCharacters) {
  // "日本" is 93 FA 96 7B; this writer stores each pair trail byte first.
  std::string stored = "\xFA\x93\x7B\x96";
  stored += " ok";
  EXPECT_EQ(Doc(RawDoc(WordStream(0x69, 0, stored))), Sjis("日本 ok"));
  EXPECT_EQ(Doc(RawDoc(WordStream(0x69, 0, std::string("\x41\x82", 2)))), "\x82\x41");
}

TEST_F(WordTest, Version63FallsBackToShiftJis) {
  std::string sjis = Sjis("見積書　第三版");
  EXPECT_EQ(Doc(RawDoc(WordStream(0x63, 0, sjis))), Sjis("見積書 第三版"));
  EXPECT_EQ(Doc(RawDoc(WordStream(0x63, 0, Utf16Le("東京")))), Sjis("東京"));
}

TEST_F(WordTest, BytesBeyondTheTextAreBlankedInPairDecodings) {
  // The stream goes on after fcMac with a double-byte character that is no text.
  std::string stream = WordStream(0x63, 0, Sjis("本文")) + Sjis("余白");
  EXPECT_EQ(Doc(RawDoc(stream)), Sjis("本文"));
}

// What follows fcMac in the stream must not decide how the text is read.
TEST_F(WordTest, BytesBeyondTheTextDoNotSpoilTheLastBlock) {
  const char raw[] = "\x14\x00\xa4\xd0/\xa5\xe0=\xa6\x08\x07\xa7\x08\x07\xa8\xa0\x05\xa9\x05\x93";
  std::string junk(raw, sizeof raw - 1);
  std::string stream = WordStream(kPlainVersion, 0, "The quick brown fox\r") + junk;
  EXPECT_EQ(Doc(RawDoc(stream)), "The quick brown fox");
  stream = WordStream(kPlainVersion, 0, Utf16Le("最後の段落")) +
           "\x01\x01\x02\x02\x03\x03"
           "ABCDEFGHIJ";
  EXPECT_EQ(Doc(RawDoc(stream)), Sjis("最後の段落"));
}

TEST_F(WordTest, VersionsC0AndE0GiveNoText) {
  for (uint8_t v : {0xC0, 0xE0})
    EXPECT_EQ(Doc(RawDoc(WordStream(v, 0, Utf16Le("非表示の本文")))), "") << (int)v;
}

TEST_F(WordTest, ComplexFlagStopsOnlyTheDefaultDecoding) {
  EXPECT_EQ(Doc(RawDoc(WordStream(kPlainVersion, 0x04, Utf16Le("高速保存")))), "");
  EXPECT_EQ(Doc(RawDoc(WordStream(0x63, 0x04, Utf16Le("高速保存")))), Sjis("高速保存"));
}

TEST_F(WordTest, ShortAndBrokenFilesGiveNoText) {
  EXPECT_EQ(Doc(std::string(543, '\0')), "");
  std::string fib = RawDoc(WordStream(kPlainVersion, 0, ""));
  fib.resize(544);
  fib.replace(536, 4, Le32(32));  // text would start at 544, beyond the bytes read
  fib.replace(540, 4, Le32(4000));
  EXPECT_EQ(Doc(fib), "");
  std::string negative = RawDoc(WordStream(kPlainVersion, 0, Utf16Le("本文")));
  negative.replace(536, 4, Le32(0x80000000u));  // fcMin far negative
  EXPECT_EQ(Doc(negative), "");
  negative.replace(536, 4, Le32(0x7FFFFFFFu));  // and far beyond the file
  EXPECT_EQ(Doc(negative), "");
  EXPECT_EQ(ExtractDocText((dir_ / "missing.doc").string(), 0, ctx_), 0);
}

TEST_F(WordTest, TruncatedFileGivesTheTextBeforeTheCut) {
  std::string text = Utf16Le("前半の文章です。");
  text.resize(128, '\0');
  text += Utf16Le("後半の文章です。続きの文です。");
  std::string doc = RawDoc(WordStream(kPlainVersion, 0, text));
  std::string cut = doc.substr(0, doc.size() - 14);  // fcMac now lies past the end
  EXPECT_EQ(SjisToUtf8(Doc(cut)), "前半の文章です。 後半の文章です。");
}

// Compound documents: the Word stream is read through the container.
std::string WordCfb(const std::string& stream, bool streamFirst, CfbLayout layout) {
  std::string filler(6000, 'F');
  std::vector<CfbStream> s;
  if (!streamFirst) s.push_back({"1Table", filler});
  s.push_back({"WordDocument", stream});
  if (streamFirst) s.push_back({"1Table", filler});
  return BuildCompoundFile(s, layout);
}

std::string LongJapanese() {
  std::string t;
  for (int i = 0; i < 40; ++i) t += "第" + std::to_string(i) + "節の本文、";
  return t;
}

TEST_F(WordTest, ContiguousStreamGivesTheRawReading) {
  std::string stream = WordStream(kPlainVersion, 0, Utf16Le(LongJapanese()));
  std::string cfb = WordCfb(stream, true, CfbLayout::kInOrder);
  std::string viaStream = Doc(cfb);
  EXPECT_EQ(viaStream, Doc(BreakSignature(cfb)));
  EXPECT_EQ(SjisToUtf8(viaStream), LongJapanese());
}

TEST_F(WordTest, StreamStoredElsewhereIsFound) {
  std::string stream = WordStream(kPlainVersion, 0, Utf16Le(LongJapanese()));
  std::string cfb = WordCfb(stream, false, CfbLayout::kInOrder);
  EXPECT_EQ(SjisToUtf8(Doc(cfb)), LongJapanese());
  EXPECT_EQ(Doc(BreakSignature(cfb)), "");  // at 512 lies the other stream
}

TEST_F(WordTest, FragmentedStreamIsReadWhole) {
  std::string stream = WordStream(kPlainVersion, 0, Utf16Le(LongJapanese()));
  std::string cfb = WordCfb(stream, true, CfbLayout::kInterleaved);
  EXPECT_EQ(SjisToUtf8(Doc(cfb)), LongJapanese());
  EXPECT_NE(SjisToUtf8(Doc(BreakSignature(cfb))), LongJapanese());
}

TEST_F(WordTest, CompoundFileWithoutWordStreamIsReadRaw) {
  std::string stream = WordStream(kPlainVersion, 0, Utf16Le("生の読み取り"));
  std::string cfb = BuildCompoundFile({{"Other", stream}});
  EXPECT_EQ(Doc(cfb), Sjis("生の読み取り"));
}

}  // namespace
}  // namespace kuribo::test

#include <string>

#include "extract/office/office_fixture.h"

namespace kuribo::test {
namespace {

std::string Rec(uint32_t type, const std::string& data) {
  return Le16(type) + Le16((uint32_t)data.size()) + data;
}
std::string Bof8() { return Rec(0x0809, Le16(0x0600) + Le16(0x0005) + std::string(12, '\0')); }
std::string Bof5() { return Rec(0x0809, Le16(0x0500) + Le16(0x0005) + std::string(4, '\0')); }
std::string Eof() { return Rec(0x000A, ""); }

std::string Sheet8(const std::string& utf8, bool wide) {
  std::string chars = wide ? Utf16Le(utf8) : utf8;
  uint32_t cch = (uint32_t)(wide ? chars.size() / 2 : chars.size());
  return Rec(0x0085, Le32(0) + std::string(2, '\0') + (char)cch + (char)(wide ? 1 : 0) + chars);
}
// A shared-string entry: count, option, [runs], [phonetic size], characters.
std::string Entry(const std::string& utf8, bool wide, int runs = -1, int ext = -1) {
  std::string chars = wide ? Utf16Le(utf8) : utf8;
  uint32_t cch = (uint32_t)(wide ? chars.size() / 2 : chars.size());
  uint8_t opt = (wide ? 1 : 0) | (runs >= 0 ? 8 : 0) | (ext >= 0 ? 4 : 0);
  std::string e = Le16(cch) + (char)opt;
  if (runs >= 0) e += Le16((uint32_t)runs);
  if (ext >= 0) e += Le32((uint32_t)ext);
  e += chars;
  if (runs > 0) e += std::string(4 * (size_t)runs, 'R');
  if (ext > 0) e += std::string((size_t)ext, 'P');
  return e;
}
std::string Sst(const std::string& entries) { return Rec(0x00FC, Le32(9) + Le32(9) + entries); }
std::string Continue(const std::string& data) { return Rec(0x003C, data); }
std::string Label5(const std::string& sjis) {
  return Rec(0x0204, Le16(1) + Le16(2) + Le16(15) + Le16((uint32_t)sjis.size()) + sjis);
}

class ExcelTest : public OfficeTest {
 protected:
  std::string Xls(const std::string& bytes) {
    std::string t = RunUtf8(ExtractXlsText, "t.xls", bytes);
    if (!t.empty() && t.back() == ' ') t.pop_back();
    return t;
  }
};

TEST_F(ExcelTest, Biff8SheetNamesAndSharedStrings) {
  std::string book = Bof8() + Sheet8("売上", true) + Sheet8("Summary", false) +
                     Sst(Entry("東京", true) + Entry("Osaka", false) + Entry("名古屋", true, 1) +
                         Entry("札幌", true, -1, 12) + Entry("福岡", true, 2, 8)) +
                     Eof();
  EXPECT_EQ(Xls(book), "売上 Summary 東京 Osaka 名古屋 札幌 福岡");
}

// 10 UTF-16 characters: 4 in the SST record, 6 in the CONTINUE that starts
// with the option byte; the next entry follows right after them.
TEST_F(ExcelTest, SharedStringContinuesAfterOptionByte) {
  std::string whole = Entry("一二三四五六七八九十", true);
  std::string head = whole.substr(0, 3 + 8), tail = whole.substr(3 + 8);
  std::string book = Bof8() + Sst(Entry("前", true) + head) +
                     Continue(std::string(1, '\x01') + tail + Entry("次", true)) + Eof();
  EXPECT_EQ(Xls(book), "前 一二三四五六七八九十 次");
}

// The writer may store the rest of a split string as 8-bit characters.
TEST_F(ExcelTest, ContinuedCharactersMayChangeWidth) {
  std::string head = Le16(10) + '\x01' + Utf16Le("一二三四");
  std::string book = Bof8() + Sst(head) +
                     Continue(std::string(1, '\x00') + "ABCDEF" + Entry("next", false)) + Eof();
  EXPECT_EQ(Xls(book), "一二三四ABCDEF next");
}

TEST_F(ExcelTest, RunsAndPhoneticBlockAfterTheSplitAreSkipped) {
  std::string whole = Entry("東京都庁", true, 2, 10);  // header 9 bytes
  std::string head = whole.substr(0, 9 + 4), tail = whole.substr(9 + 4);
  std::string book = Bof8() + Sst(head) + Continue('\x01' + tail + Entry("次", true)) + Eof();
  EXPECT_EQ(Xls(book), "東京都庁 次");
}

TEST_F(ExcelTest, ContinueWithoutPendingStringHoldsWholeEntries) {
  std::string book = Bof8() + Sst(Entry("一つ目", true)) +
                     Continue(Entry("二つ目", true) + Entry("three", false)) + Eof();
  EXPECT_EQ(Xls(book), "一つ目 二つ目 three");
}

TEST_F(ExcelTest, UnknownOptionEndsOnlyItsRecord) {
  std::string bad = Le16(2) + '\x02' + "zz";
  std::string book = Bof8() + Sst(Entry("有効", true) + bad + Entry("無視", true)) +
                     Sheet8("後の名前", true) + Eof();
  EXPECT_EQ(Xls(book), "有効 後の名前");
}

TEST_F(ExcelTest, OnlyTheFirstContinueOfATextBoxHoldsText) {
  std::string txo = Rec(0x01B6, std::string(18, '\0'));
  std::string book =
      Bof8() + txo + Continue('\x01' + Utf16Le("注意書き")) + Continue("RUNSRUNSRUNS") + Eof();
  EXPECT_EQ(Xls(book), "注意書き");
  book = Bof8() + txo + Continue('\x00' + std::string("memo")) + Continue("RUNSRUNS") + Eof();
  EXPECT_EQ(Xls(book), "memo");
}

TEST_F(ExcelTest, Biff5LabelsAndSheetNamesAreShiftJis) {
  std::string name = Sjis("集計表");
  std::string sheet = Rec(0x0085, Le32(0) + std::string(2, '\0') + (char)name.size() + name);
  std::string book = Bof5() + sheet + Label5(Sjis("品名")) + Label5(Sjis("単価")) + Eof();
  EXPECT_EQ(Xls(book), "集計表 品名 単価");
}

TEST_F(ExcelTest, LongBof0500IsHandledAsBiff8) {
  std::string name = Sjis("集計表");
  std::string sheet = Rec(0x0085, Le32(0) + std::string(2, '\0') + (char)name.size() + name);
  std::string bof = Rec(0x0809, Le16(0x0500) + std::string(14, '\0'));
  // As BIFF8 the first Shift_JIS byte stands where the option byte is: no name.
  EXPECT_EQ(Xls(bof + sheet + Sheet8("新", true) + Eof()), "新");
}

TEST_F(ExcelTest, Biff2LabelsAndFormulaStrings) {
  std::string bof = Rec(0x0009, Le16(2) + Le16(0x10));
  std::string label = Rec(0x0004, Le16(0) + Le16(0) + std::string(3, '\0') + '\x04' + "Name");
  std::string str = Rec(0x0007, std::string(1, '\x05') + "Total");
  EXPECT_EQ(Xls(bof + label + str + Eof()), "Name Total");
}

TEST_F(ExcelTest, Biff3AndBiff4Records) {
  std::string bof3 = Rec(0x0209, Le16(0) + Le16(0x10) + Le16(0));
  std::string bof4 = Rec(0x0409, Le16(0) + Le16(0x10) + Le16(0));
  std::string bundle = Rec(0x008F, Le32(0) + '\x06' + "Sheet4");
  EXPECT_EQ(Xls(bof3 + Label5("Three") + bundle + Eof()), "Three");
  EXPECT_EQ(Xls(bof4 + Label5("Four") + bundle + Eof()), "Four Sheet4");
}

TEST_F(ExcelTest, FormulaStringResults) {
  std::string s8 = Rec(0x0207, Le16(3) + '\x01' + Utf16Le("合計額"));
  std::string s8narrow = Rec(0x0207, Le16(3) + '\x00' + "sum");
  EXPECT_EQ(Xls(Bof8() + s8 + s8narrow + Eof()), "合計額 sum");
  std::string s5 = Rec(0x0207, Le16(4) + Sjis("合計"));
  EXPECT_EQ(Xls(Bof5() + s5 + Eof()), "合計");
}

TEST_F(ExcelTest, Biff8LabelHonoursItsOptionByte) {
  std::string wide = Rec(0x0204, Le16(0) + Le16(0) + Le16(15) + Le16(2) + '\x01' + Utf16Le("備考"));
  std::string narrow = Rec(0x0204, Le16(0) + Le16(1) + Le16(15) + Le16(4) + '\x00' + "note");
  EXPECT_EQ(Xls(Bof8() + wide + narrow + Eof()), "備考 note");
}

// Excel 95 gives its worksheets BOFs of version 0x0600 and length 8.
TEST_F(ExcelTest, Excel95SheetsUnderBiff8BofKeepShiftJisLabels) {
  std::string sheetBof = Rec(0x0809, Le16(0x0600) + Le16(0x0010) + std::string(4, '\0'));
  EXPECT_EQ(Xls(Bof5() + Eof() + sheetBof + Label5(Sjis("漢字も入る")) + Label5("ASC") + Eof()),
            "漢字も入る ASC");
}

TEST_F(ExcelTest, DrawingObjectTextEndsAtLineFeed) {
  std::string obj = Rec(0x005D, std::string(82, '\0') + "ABC\nDEF");
  EXPECT_EQ(Xls(Bof8() + obj + Eof()), "ABC");
}

TEST_F(ExcelTest, BofIsProbedAtMultiplesOfFour) {
  std::string body = Sheet8("見出し", true) + Eof();
  EXPECT_EQ(Xls(std::string(8, '\x11') + Bof8() + body), "見出し");
  EXPECT_EQ(Xls(std::string(6, '\x11') + Bof8() + body), "");
}

TEST_F(ExcelTest, ShortAndTruncatedFiles) {
  EXPECT_EQ(Xls(std::string("\x09\x08\x10", 3)), "");
  std::string book = Bof8() + Sheet8("前半", true) + Sst(Entry("後半の文字列", true));
  EXPECT_EQ(Xls(book), "前半 後半の文字列");
  EXPECT_EQ(Xls(book.substr(0, book.size() - 3)), "前半");  // the SST runs past the end
  // A string whose continuation never comes keeps its first piece.
  std::string head = Le16(10) + '\x01' + Utf16Le("一二三四");
  EXPECT_EQ(Xls(Bof8() + Sst(head)), "一二三四");
}

TEST_F(ExcelTest, HostileCountsStayInsideTheRecord) {
  std::string huge = Le16(0xFFFF) + '\x0D' + Le16(0xFFFF) + Le32(0xFFFFFFFF) + Utf16Le("字");
  std::string book = Bof8() + Sst(huge) + Continue('\x01' + Utf16Le("続")) + Continue("") +
                     Sheet8("名前", true) + Eof();
  std::string got = Xls(book);
  EXPECT_EQ(got.substr(0, 3), "字");
  EXPECT_EQ(
      Xls(Bof8() + Rec(0x0085, Le32(0) + std::string(2, '\0') + '\xFF' + '\x01' + Utf16Le("字"))),
      "字");  // 255 characters claimed, one present
}

// Compound documents: the Workbook (or Book) stream is read through the container.
std::string ManyStrings() {
  std::string e;
  for (int i = 0; i < 300; ++i) e += Entry("項目" + std::to_string(i), true);
  return e;
}
std::string ExpectedMany() {
  std::string t;
  for (int i = 0; i < 300; ++i) t += (i ? " 項目" : "項目") + std::to_string(i);
  return t;
}

TEST_F(ExcelTest, ContiguousWorkbookGivesTheRawReading) {
  std::string book = Bof8() + Sheet8("表", true) + Sst(ManyStrings()) + Eof();
  std::string cfb = BuildCompoundFile({{"Workbook", book}, {"Other", std::string(5000, 'x')}});
  std::string viaStream = Xls(cfb);
  EXPECT_EQ(viaStream, Xls(BreakSignature(cfb)));
  EXPECT_EQ(viaStream, "表 " + ExpectedMany());
}

TEST_F(ExcelTest, FragmentedWorkbookIsReadWhole) {
  std::string book = Bof8() + Sheet8("表", true) + Sst(ManyStrings()) + Eof();
  std::string cfb = BuildCompoundFile({{"Workbook", book}, {"Other", std::string(5000, 'x')}},
                                      CfbLayout::kInterleaved);
  EXPECT_EQ(Xls(cfb), "表 " + ExpectedMany());
  EXPECT_NE(Xls(BreakSignature(cfb)), "表 " + ExpectedMany());
}

// A container whose stream claims to live in a mini stream that is not there:
// the bytes are read as they lie, and the library's complaints stay off the
// terminal.
TEST_F(ExcelTest, DamagedContainerFallsBackQuietly) {
  std::string book = Bof8() + Sheet8("表", true) + Eof();
  std::string cfb = BuildCompoundFile({{"Workbook", book}});
  const size_t sizeField = 512 * (1 + 8) + 128 + 120;  // 8 data sectors, then the directory
  cfb.replace(sizeField, 4, Le32(100));                // below the 4,096-byte cut-off
  ::testing::internal::CaptureStderr();
  std::string got = Xls(cfb);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(got, "表");
}

TEST_F(ExcelTest, Biff5BookStream) {
  std::string book = Bof5() + Label5(Sjis("旧形式")) + Eof();
  std::string cfb = BuildCompoundFile({{"Other", std::string(5000, 'x')}, {"Book", book}});
  EXPECT_EQ(Xls(cfb), "旧形式");
}

}  // namespace
}  // namespace kuribo::test

// The IBM extension kanji of code page 932 (髙 0xFBFC, 﨑 0xFAB1, 彅 0xFA9F) in
// everyday surnames, found end to end in every format that can hold them.
#include <gtest/gtest.h>

#include <string>

#include "app/dispatch.h"
#include "app/keywords.h"
#include "encoding/sjis.h"
#include "extract/pdf/pdf_builder.h"
#include "support/cfb_builder.h"
#include "support/temp_dir.h"
#include "support/zip_writer.h"

namespace kuribo {
namespace {

const char kSentence[] = "担当は髙橋さん、山﨑さん、草彅さんです。よろしくお願いいたします。";

std::string Le16(uint32_t v) { return {(char)(v & 0xFF), (char)(v >> 8 & 0xFF)}; }
std::string Rec(uint32_t type, const std::string& data) {
  return Le16(type) + Le16((uint32_t)data.size()) + data;
}
std::string Utf16Le(const std::string& utf8) {
  std::string out;
  size_t i = 0;
  while (i < utf8.size()) {
    const unsigned char c = (unsigned char)utf8[i];
    uint32_t cp = c;
    if (c >= 0xE0) {
      cp = (c & 0x0F) << 12 | (utf8[i + 1] & 0x3F) << 6 | (utf8[i + 2] & 0x3F), i += 3;
    } else if (c >= 0xC0) {
      cp = (c & 0x1F) << 6 | (utf8[i + 1] & 0x3F), i += 2;
    } else {
      ++i;
    }
    out += Le16(cp);
  }
  return out;
}

// A BIFF8 workbook: the sentence as a shared string and as a sheet name.
std::string Workbook() {
  const std::string chars = Utf16Le(kSentence);
  const uint32_t cch = (uint32_t)chars.size() / 2;
  const std::string sst = Rec(0x00FC, std::string("\1\0\0\0\1\0\0\0", 8) + Le16(cch) + '\1' + chars);
  const std::string bof = Rec(0x0809, Le16(0x0600) + Le16(0x0005) + std::string(12, '\0'));
  const std::string name = Utf16Le("髙橋");
  const std::string sheet =
      Rec(0x0085, std::string(6, '\0') + (char)(name.size() / 2) + '\1' + name);
  return test::BuildCompoundFile({{"Workbook", bof + sheet + sst + Rec(0x000A, "")}});
}

// One page whose font maps its codes to the sentence through a ToUnicode map.
std::string Pdf() {
  const std::u16string units = u"髙橋 山﨑 草彅";
  std::string codes, map;
  char buf[32];
  for (size_t i = 0; i < units.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%04zX", i + 1);
    codes += buf;
    std::snprintf(buf, sizeof buf, "<%04zX> <%04X>\n", i + 1, (unsigned)units[i]);
    map += buf;
  }
  pdftest::PdfBuilder b;
  b.SetRoot(b.Object("<< /Type /Catalog /Pages 2 0 R >>"));
  b.Object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.Object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 100] /Resources << /Font << /F1 4 0 R >> >> "
           "/Contents 5 0 R >>");
  b.Object("<< /Type /Font /Subtype /Type0 /BaseFont /X /Encoding /Identity-H /DescendantFonts [6 0 R] "
           "/ToUnicode 7 0 R >>");
  b.FlateStream("", pdftest::TextObject("<" + codes + "> Tj"));
  b.Object("<< /Type /Font /Subtype /CIDFontType2 /BaseFont /X /CIDSystemInfo << /Registry (Adobe) "
           "/Ordering (Identity) /Supplement 0 >> >>");
  b.FlateStream("", "/CMapName /Adobe-Identity-UCS def\n1 begincodespacerange\n<0000> <FFFF>\n"
                    "endcodespacerange\n" + std::to_string(units.size()) + " beginbfchar\n" + map +
                    "endbfchar\n");
  return b.Finish();
}

class ExtensionKanji : public ::testing::Test {
 protected:
  // Each surname is found in the text that dispatch gives for the file.
  void ExpectSurnames(const char* name, const std::string& bytes) {
    const std::string path = dir_.Write(name, bytes);
    const int32_t n = ExtractDocument(path, (int32_t)bytes.size(), *ctx_);
    const std::string text(ctx_->text.get(), n > 0 ? (size_t)n : 0);
    for (const char* surname : {"髙橋", "山﨑", "草彅"}) {
      const std::string word = Utf8ToSjis(surname);
      EXPECT_GE(CountMatches(text.data(), text.size(), word.data(), word.size()), 1)
          << surname << " in " << name << ": " << SjisToUtf8(text);
    }
  }
  test::TempDir dir_;
  std::unique_ptr<ExtractionContext> ctx_ =
      MakeExtractionContext(pdftest::BinDir(), ConverterPresence{});
};

TEST_F(ExtensionKanji, SurnamesAreFoundInTextAndOfficeFiles) {
  ASSERT_TRUE(ctx_->Ready());
  ExpectSurnames("sjis.txt", Utf8ToSjis(kSentence));
  ExpectSurnames("utf8.txt", kSentence);
  ExpectSurnames("sjis.csv", Utf8ToSjis(std::string("番号,") + kSentence));
  ExpectSurnames("page.html", "<p>" + Utf8ToSjis(kSentence) + "</p>");
  ExpectSurnames("doc.docx", test::BuildZip({{"word/document.xml",
      "<w:p><w:r><w:t>担当は髙</w:t></w:r><w:r><w:rPr><w:lang w:eastAsia=\"ja-JP\"/></w:rPr><w:t>"
      "橋さん、山﨑さん、草</w:t></w:r><w:r><w:t>彅さんです。</w:t></w:r></w:p>"}}));
  ExpectSurnames("book.xls", Workbook());
}

TEST_F(ExtensionKanji, SurnamesAreFoundInAPdfThroughItsToUnicodeMap) {
  ASSERT_TRUE(ctx_->Ready());
  ExpectSurnames("page.pdf", Pdf());
}

}  // namespace
}  // namespace kuribo

// Real Word, Excel and PowerPoint files from other producers. The words were
// read off each file's extracted text by eye.
#include <filesystem>
#include <string>
#include <vector>

#include "extract/office/office_fixture.h"

namespace kuribo::test {
namespace {

struct RealFile {
  const char* path;                // under the corpus folder
  std::vector<const char*> words;  // empty: the file gives no text
};

class OfficeCorpusTest : public OfficeTest {
 protected:
  void Check(int (*fn)(const std::string&, int32_t, ExtractionContext&),
             const std::vector<RealFile>& files) {
    const std::filesystem::path root = KURIBO_CORPUS_DIR;
    if (!std::filesystem::is_directory(root)) GTEST_SKIP() << "no corpus at " << root;
    for (const RealFile& f : files) {
      std::string path = (root / f.path).string();
      if (!std::filesystem::exists(path)) {
        ADD_FAILURE() << "missing corpus file " << path;
        continue;
      }
      int n = fn(path, (int32_t)std::filesystem::file_size(path), ctx_);
      std::string text = n > 0 ? SjisToUtf8(std::string(ctx_.text.get(), (size_t)n)) : "";
      if (f.words.empty()) {
        EXPECT_EQ(text, "") << f.path;
      }
      for (const char* w : f.words)
        EXPECT_NE(text.find(w), std::string::npos) << f.path << ": " << w;
    }
  }
};

TEST_F(OfficeCorpusTest, WordDocuments) {
  Check(ExtractDocText,
        {
            {"doc/poi_Bug34898.doc", {"ディレクトリ"}},
            {"doc/poi_Bug41898.doc", {"This is a line of text.", "すれはテキスト行です。"}},
            {"doc/poi_FloatingPictures.doc", {"文京区と目黒区。総長の挨拶、入学案内、"}},
            {"doc/poi_HeaderFooterUnicode.doc", {"fairly simple word document"}},
            {"doc/poi_SampleDoc.doc", {"I am a test document"}},
            {"doc/poi_TestChineseProperties.doc", {"世界雅虎", "新加坡"}},
            {"doc/poi_TestShiftJIS.doc", {"見出し", "File Agent Server Administration Tool"}},
            // Both Word streams live in the mini stream, not after the header.
            {"doc/poi_Word6.doc", {"The quick brown fox jumps over the lazy dog"}},
            {"doc/poi_Word95.doc", {"Paragraph 2", "BLUE BOLD"}},
            // Encrypted: the text is not readable without the password.
            {"doc/poi_password_password_cryptoapi.doc", {}},
            {"doc/textract_doc.doc", {"Working Draft 04", "Eve Maler"}},
            {"doc/textract_multiple-long-paragraphs.doc", {"Vivamus aliquam nec neque"}},
            {"doc/tika_testWORD_custom_props.doc", {"Document content"}},
            {"doc/tika_testWORD_phonetic.doc", {"とうきょう", "東京"}},
            // The Word stream starts at sector 16.
            {"doc/tika_testWORD_various.doc", {"ゾルゲと尾崎、淡々と最期", "（ＧＨＱ）"}},
        });
}

TEST_F(OfficeCorpusTest, ExcelWorkbooks) {
  Check(ExtractXlsText,
        {
            {"xls/exceldr_StringContinuationAfterCharacterData.xls",
             {"第1表", "コンビニエンスストア経済産業局別販売額", "百貨店・スーパー商品別販売"}},
            {"xls/exceldr_as3xls_BIFF5.xls", {"How are you doing"}},
            // A bare BIFF3 stream, no compound document.
            {"xls/exceldr_biff3.xls", {"Foreign direct investment"}},
            {"xls/parseexcel_AuthorK.xls", {"漢字名のテスト", "漢字データはどうなる？"}},
            {"xls/parseexcel_AuthorK95.xls", {"漢字名のテスト", "漢字データはどうなる？"}},
            {"xls/parseexcel_Test2000J.xls",
             {"平成", "明治", "This is a test file for Japanese format"}},
            {"xls/parseexcel_Test95J.xls", {"漢字名", "漢字も入る", "漢字のデータ"}},
            {"xls/parseexcel_Test97J.xls", {"漢字名", "漢字も入る", "漢字のデータ"}},
            {"xls/parseexcel_TestEncoding.xls", {"丸数字", "①", "㈱", "ローマ数字"}},
            {"xls/parseexcel_oem.xls", {"文字化けするシリーズ", "～なんてなものも化ける"}},
            {"xls/poi_12561-1.xls", {"作業項目名", "予想作業日数"}},
            {"xls/poi_12561-2.xls", {"トップメニュー", "住所録設定編集"}},
            // 80 long strings, the shared string table split over CONTINUE records.
            {"xls/poi_50779_1.xls",
             {"あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよらりるれ"
              "ろわをん0001",
              "あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよらりるれ"
              "ろわをん0080"}},
            // Numbers and names only: the sheet names are all its text.
            {"xls/poi_53109.xls", {"Sheet1", "Sheet3"}},
            {"xls/poi_TestUnicode.xls", {"Tabelle1"}},
            {"xls/tika_testEXCEL.xls", {"Sample Excel Worksheet - Numbers and their Squares"}},
            {"xls/tika_testEXCEL_phonetic.xls", {"豊田製品戦略事業統括本部", "オラクル日本会社"}},
        });
}

TEST_F(OfficeCorpusTest, PowerPointPresentations) {
  Check(
      ExtractPptText,
      {
          {"ppt/poi_54880_chinese.ppt", {"タイトルの書式設定", "複数の文字", "カタカナ"}},
          // PowerPoint 95 stores no text atoms of the 97 format.
          {"ppt/poi_PPT95.ppt", {}},
          {"ppt/poi_SampleShow.ppt",
           {"Title of the first slide", "These are the notes of the 2nd slide"}},
          {"ppt/poi_bug55902-mixedFontChineseCharacters.ppt", {"複数の文字", "表Mix"}},
          {"ppt/poi_bug57820-initTableNullRefrenceException.ppt", {"マスター タイトルの書式設定"}},
          {"ppt/textract_MxAgCrProd.ppt", {"Creative Productivity"}},
          {"ppt/textract_layout_types_2011.ppt", {"Slide 1 Title", "Bullet Point 1"}},
          {"ppt/tika_testPPT.ppt", {"Sample Powerpoint Slide"}},
          {"ppt/tika_testPPT_custom_props.ppt", {"Test extraction properties ppt"}},
          {"ppt/tika_testPPT_various.ppt", {"ゾルゲと尾崎、淡々と最期", "Here is a text box"}},
      });
}

}  // namespace
}  // namespace kuribo::test

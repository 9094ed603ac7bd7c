// The PDF reader behind dispatch and kuribo-search --extract.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/dispatch.h"
#include "extract/pdf/pdf.h"
#include "pdf_builder.h"
#include "support/temp_dir.h"

namespace kuribo {
namespace {

using namespace pdftest;

TEST(PdfDispatch, PdfGoesToTheReaderWithoutConvertersAndContextsCarryAWorkspace) {
  EXPECT_EQ(ChooseExtractor(".pdf", false, false), &ExtractPdfText);
  auto ctx = MakeExtractionContext(BinDir(), ConverterPresence{});
  ASSERT_TRUE(ctx->Ready());
  ASSERT_NE(ctx->pdf, nullptr);
  EXPECT_TRUE(ctx->pdf->workspaceReady);
}

std::string RunExtract(const std::string& exe, const std::string& file) {
  const std::string cmd = exe + " --extract '" + file + "' 2>/dev/null";
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// One page shown through a predefined CMap, one through a ToUnicode map, one
// through the CID table of cmap.dat.
std::string JapanesePdf() {
  PageDoc d;
  d.Font("F1", "<< /Type /Font /Subtype /Type0 /BaseFont /KozMinPro-Regular /Encoding /UniJIS-UCS2-H >>");
  const int tu = d.b.FlateStream("", "/CMapName /Adobe-Identity-UCS def\n1 begincodespacerange\n"
                                     "<0000> <FFFF>\nendcodespacerange\n2 beginbfchar\n<0001> <6817>\n"
                                     "<0002> <574A>\nendbfchar\n");
  d.Font("F2", "<< /Type /Font /Subtype /Type0 /Encoding /Identity-H /ToUnicode " +
                   std::to_string(tu) + " 0 R >>");
  d.Font("F3", "<< /Type /Font /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [<< "
               "/CIDSystemInfo << /Registry (Adobe) /Ordering (Japan1) /Supplement 2 >> >>] >>");
  d.Page("BT /F1 1 Tf <691C7D22> Tj ET");  // U+691C U+7D22
  d.Page("BT /F2 1 Tf [<00010002>] TJ ET");
  d.Page("BT /F3 1 Tf <034B034D> Tj ET");  // Adobe-Japan1 843, 845
  return d.Finish();
}

TEST(PdfDispatch, KuriboSearchPrintsJapaneseTextWithAndWithoutCmapDat) {
  const std::string exe = BinDir() + "kuribo-search";
  if (!std::filesystem::exists(exe)) GTEST_SKIP() << "kuribo-search not built";
  if (!CmapBuilt()) GTEST_SKIP() << "cmap.dat was not built (poppler-data missing)";
  test::TempDir t;
  const std::string pdf = t.Write("doc/japanese.pdf", JapanesePdf());
  const std::string out = RunExtract(exe, pdf);
  EXPECT_NE(out.find("検索栗坊あい"), std::string::npos) << out;

  // The same program in a directory without cmap.dat.
  const std::string lonely = t.MakeDir("bin") + "kuribo-search";
  std::filesystem::copy_file(exe, lonely);
  const std::string without = RunExtract(lonely, pdf);
  // Only Adobe-Japan1 identifiers ever need cmap.dat, and only when the
  // build had no poppler-data Unicode table for them.
  EXPECT_NE(without.find("検索栗坊"), std::string::npos) << without;
}

std::string Search(const std::string& exe, const std::string& word, const std::string& dir) {
  const std::string cmd = exe + " -k '" + word + "' -t .pdf -j 1 '" + dir + "' 2>/dev/null";
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

bool OnPath(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// A LibreOffice export: simple TrueType subsets with one-byte codes.
TEST(PdfDispatch, KuriboSearchFindsWordsOfALibreOfficeExport) {
  const std::string exe = BinDir() + "kuribo-search";
  if (!std::filesystem::exists(exe)) GTEST_SKIP() << "kuribo-search not built";
  if (!OnPath("soffice")) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
  test::TempDir t;
  const std::string txt = t.Write("src/letter.txt", "栗坊の検索テストです。\nExported paragraph\n");
  const std::string out = t.MakeDir("out");
  const std::string cmd = "cd '" + t.path() + "' && HOME='" + t.path() +
                          "' timeout 120 soffice --headless --convert-to pdf --outdir '" + out +
                          "' '" + txt + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  ASSERT_TRUE(std::filesystem::exists(out + "letter.pdf"));
  const std::string rows = Search(exe, "検索テスト", out);
  EXPECT_NE(rows.find("letter.pdf"), std::string::npos) << rows;
  EXPECT_NE(Search(exe, "paragraph", out).find("letter.pdf"), std::string::npos);
}

TEST(PdfDispatch, KuriboSearchFindsWordsOfAFileWithCrossReferenceStreams) {
  const std::string exe = BinDir() + "kuribo-search";
  const std::string dir = std::string(KURIBO_CORPUS_DIR) + "/pdf/";
  if (!std::filesystem::exists(exe)) GTEST_SKIP() << "kuribo-search not built";
  if (!std::filesystem::exists(dir)) GTEST_SKIP() << "corpus not found at " << KURIBO_CORPUS_DIR;
  const std::string rows = Search(exe, "電線接続端子部", dir);
  EXPECT_NE(rows.find("pdfjs_issue16063.pdf"), std::string::npos) << rows;
}

}  // namespace
}  // namespace kuribo

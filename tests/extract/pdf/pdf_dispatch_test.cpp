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

// One page shown through a predefined CMap, one through a ToUnicode map.
std::string JapanesePdf() {
  PdfBuilder b;
  b.Object("<< /Type /Catalog /Pages 2 0 R >>");
  b.Object("<< /Type /Font /Subtype /Type0 /BaseFont /KozMinPro-Regular /Encoding /UniJIS-UCS2-H >>");
  b.FlateStream("", TextObject("<691C7D22> Tj"));  // U+691C U+7D22
  b.Object("<< /Type /Font /Subtype /Type0 /Encoding /Identity-H /ToUnicode 6 0 R >>");
  b.FlateStream("", TextObject("[<00010002>] TJ"));
  b.FlateStream("", "/CMapName /Adobe-Identity-UCS def\n1 begincodespacerange\n<0000> <FFFF>\n"
                    "endcodespacerange\n2 beginbfchar\n<0001> <6817>\n<0002> <574A>\nendbfchar\n");
  return b.Finish();
}

TEST(PdfDispatch, KuriboSearchPrintsJapaneseTextAndWithoutCmapDatKeepsToUnicodeText) {
  const std::string exe = BinDir() + "kuribo-search";
  if (!std::filesystem::exists(exe)) GTEST_SKIP() << "kuribo-search not built";
  if (!CmapBuilt()) GTEST_SKIP() << "cmap.dat was not built (poppler-data missing)";
  test::TempDir t;
  const std::string pdf = t.Write("doc/japanese.pdf", JapanesePdf());
  const std::string out = RunExtract(exe, pdf);
  EXPECT_NE(out.find("検索"), std::string::npos) << out;
  EXPECT_NE(out.find("栗坊"), std::string::npos) << out;

  // The same program in a directory without cmap.dat.
  const std::string lonely = t.MakeDir("bin") + "kuribo-search";
  std::filesystem::copy_file(exe, lonely);
  const std::string without = RunExtract(lonely, pdf);
  EXPECT_NE(without.find("栗坊"), std::string::npos) << without;
  EXPECT_EQ(without.find("検索"), std::string::npos) << without;
}

}  // namespace
}  // namespace kuribo

// Real PDF files from other producers (skipped when the corpus is absent).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "extract/pdf/pdf.h"
#include "pdf_builder.h"

namespace kuribo {
namespace {

using namespace pdftest;

std::string CorpusPdf(const std::string& name) {
  return std::string(KURIBO_CORPUS_DIR) + "/pdf/" + name;
}

std::string ExtractFile(ExtractionContext& ctx, const std::string& path) {
  const int n = ExtractPdfText(path, (int32_t)std::filesystem::file_size(path), ctx);
  return n > 0 ? SjisToUtf8(std::string_view(ctx.text.get(), (size_t)n)) : "";
}

struct Expectation {
  const char* file;
  std::vector<std::string> words;
  bool needsCmapDat;  // hex codes through predefined CMaps rather than ToUnicode
};

// Classic cross-reference tables whose text the reader reaches.
const std::vector<Expectation> kReadable = {
    {"pdfjs_90ms_rksj_h_sample.pdf", {"日本語テスト", "Hello ASCII"}, false},
    {"pdfjs_issue11555.pdf", {"あいうabc"}, false},
    {"pdfjs_issue13343.pdf", {"【要約】", "指定国・地域"}, false},
    {"pdfjs_issue6387.pdf", {"あのイーハトーヴォのすきとおった風"}, false},
    {"pdfjs_issue8570.pdf", {"レーザーレーダー", "空間スキャンで人や物体を検知する"}, false},
    {"pdfjs_issue6286.pdf", {"好酸球"}, false},
    {"pdfminer_nlp2004slides.pdf", {"研究の背景", "固有表現抽出"}, true},
    {"pdfminer_issue-449-horizontal.pdf", {"Test Horizontal Layout"}, false},
    {"pdfminer_simple4.pdf", {"Text1Text2Text3"}, false},
    {"textract_testpdf-multiline.pdf", {"A multi-line test"}, false},
    {"tika_testPDF_incrementalUpdates.pdf", {"Testing", "Incremental"}, false},
    // Text objects opened by "BT" and a space on one line.
    {"pdfjs_noembed-sjis.pdf", {"あいうえお"}, false},
    {"pdfjs_noembed-identity.pdf", {"ABCあいうえお"}, true},
    {"pdfjs_noembed-identity-2.pdf", {"あＡｂｓｔｒａｃｔ"}, true},
    {"pdfjs_vertical.pdf", {"あいうえお日本語"}, true},
    {"pdfminer_jo.pdf", {"わたくしといふ現象は"}, true},
};

// Files that give no text, and why.
const std::vector<const char*> kSilent = {
    // cross-reference streams only
    "pdfjs_issue15759.pdf", "pdfjs_issue16063.pdf", "pdfjs_issue16538.pdf",
    "tika_testPDF_Version.6.x.pdf", "tika_testPDF_Version.8.x.pdf",
    "tika_testPDF_Version.10.x.pdf",
    // startxref values that miss the table, or no startxref at all
    "pdfjs_issue17147.pdf", "pdfminer_simple3.pdf",
    // 7-bit JIS strings under a font without a ToUnicode map or a known CMap
    "pdfjs_noembed-jis7.pdf",
    // encrypted streams
    "pdfminer_kampo.pdf",
    // no shown text at all
    "tika_testPDF_Version.4.x.pdf",
};

bool CorpusPresent() { return std::filesystem::exists(CorpusPdf("")); }

TEST(PdfCorpus, ClassicTableFilesGiveTheirWords) {
  if (!CorpusPresent()) GTEST_SKIP() << "corpus not found at " << KURIBO_CORPUS_DIR;
  auto ctx = MakeContext(BinDir());
  for (const Expectation& e : kReadable) {
    if (e.needsCmapDat && !CmapBuilt()) continue;
    const std::string text = ExtractFile(*ctx, CorpusPdf(e.file));
    for (const std::string& w : e.words) {
      EXPECT_NE(text.find(w), std::string::npos) << e.file << " lacks " << w << ": " << text;
    }
  }
}

TEST(PdfCorpus, WithoutCmapDatToUnicodeFilesStillGiveTheirWords) {
  if (!CorpusPresent()) GTEST_SKIP() << "corpus not found at " << KURIBO_CORPUS_DIR;
  test::TempDir empty;
  auto ctx = MakeContext(empty.path());
  for (const Expectation& e : kReadable) {
    const std::string text = ExtractFile(*ctx, CorpusPdf(e.file));
    if (e.needsCmapDat) continue;  // read, for the crash check, but gives other bytes
    for (const std::string& w : e.words) {
      EXPECT_NE(text.find(w), std::string::npos) << e.file << " lacks " << w;
    }
  }
  for (const char* f : kSilent) ExtractFile(*ctx, CorpusPdf(f));
}

TEST(PdfCorpus, UnsupportedFilesGiveNoText) {
  if (!CorpusPresent()) GTEST_SKIP() << "corpus not found at " << KURIBO_CORPUS_DIR;
  auto ctx = MakeContext(BinDir());
  for (const char* f : kSilent) EXPECT_EQ(ExtractFile(*ctx, CorpusPdf(f)), "") << f;
}

}  // namespace
}  // namespace kuribo

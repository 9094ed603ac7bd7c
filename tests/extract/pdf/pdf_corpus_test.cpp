// Real PDF files from other producers (skipped when the corpus is absent):
// the words pdftotext prints must be in kuribo-search --extract output.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "extract/pdf/pdf.h"
#include "pdf_builder.h"

namespace kuribo {
namespace {

using namespace pdftest;

std::string CorpusPdfDir() { return std::string(KURIBO_CORPUS_DIR) + "/pdf/"; }

std::string RunCommand(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

bool IsKanjiOrKana(char32_t c) {
  return (c >= 0x3041 && c <= 0x3096) || (c >= 0x30A1 && c <= 0x30FA) || c == 0x30FC ||
         c == 0x3005 || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) ||
         (c >= 0xF900 && c <= 0xFAFF);
}

// Kanji/kana runs of 2 to 8 characters within a line (longer runs in pieces
// of 8) and ASCII words of 4 or more letters; a word without a Shift_JIS form
// cannot be in our text and is left out.
std::set<std::string> Words(const std::string& utf8) {
  std::set<std::string> words;
  std::u32string run;
  std::string ascii;
  auto flushRun = [&] {
    for (size_t i = 0; i < run.size(); i += 8) {
      std::u32string piece = run.substr(i, 8);
      if (piece.size() < 2) piece = run.substr(i - 1, 2);
      std::string w;
      for (char32_t c : piece) AppendUtf8(w, c);
      if (SjisToUtf8(Utf8ToSjis(w)) == w) words.insert(w);
    }
    run.clear();
  };
  auto flushAscii = [&] {
    if (ascii.size() >= 4) words.insert(ascii);
    ascii.clear();
  };
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char b = (unsigned char)utf8[i];
    char32_t c = b;
    int len = 1;
    if (b >= 0xF0) c = b & 0x07, len = 4;
    else if (b >= 0xE0) c = b & 0x0F, len = 3;
    else if (b >= 0xC0) c = b & 0x1F, len = 2;
    for (int k = 1; k < len && i + (size_t)k < utf8.size(); ++k) c = c << 6 | (utf8[i + k] & 0x3F);
    i += (size_t)len;
    if (IsKanjiOrKana(c)) run += c;
    else if (run.size() >= 2) flushRun();
    else run.clear();
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) ascii += (char)c;
    else flushAscii();
  }
  if (run.size() >= 2) flushRun();
  flushAscii();
  return words;
}

// Files whose pdftotext words are not words, and why.
const std::set<std::string> kExceptions = {
    // Vertical text in columns: pdftotext lays the page out in lines that
    // cross the columns, so its "words" join characters of different
    // columns; our text keeps each column's characters together.
    "pdfminer_kampo.pdf",
};

TEST(PdfCorpus, EveryFileGivesTheWordsPdftotextPrints) {
  if (!std::filesystem::exists(CorpusPdfDir())) GTEST_SKIP() << "corpus not found at " << KURIBO_CORPUS_DIR;
  if (RunCommand("pdftotext -v 2>&1").find("pdftotext") == std::string::npos) {
    GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
  }
  const std::string exe = BinDir() + "kuribo-search";
  if (!std::filesystem::exists(exe)) GTEST_SKIP() << "kuribo-search not built";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(CorpusPdfDir())) {
    const std::string path = entry.path().string();
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".pdf") continue;
    ++files;
    const std::string ours = RunCommand(Quoted(exe) + " --extract " + Quoted(path) + " 2>/dev/null");
    const std::set<std::string> words = Words(RunCommand("pdftotext -enc UTF-8 " + Quoted(path) + " - 2>/dev/null"));
    size_t found = 0;
    std::string missing;
    for (const std::string& w : words) {
      if (ours.find(w) != std::string::npos) ++found;
      else if (missing.size() < 300) missing += w + " ";
    }
    if (kExceptions.count(name)) continue;
    EXPECT_GE(found * 100, words.size() * 98)
        << name << ": " << found << " of " << words.size() << " words; missing " << missing;
  }
  EXPECT_GE(files, 30);
}

// Known phrases, read in process as well (the CID table decides some).
struct Expectation {
  const char* file;
  std::vector<std::string> words;
};
const std::vector<Expectation> kPhrases = {
    {"pdfjs_90ms_rksj_h_sample.pdf", {"日本語テスト", "Hello ASCII"}},
    {"pdfjs_issue13343.pdf", {"【要約】", "指定国・地域"}},
    {"pdfjs_issue6387.pdf", {"あのイーハトーヴォのすきとおった風"}},
    {"pdfjs_issue15759.pdf", {"電磁振動器"}},           // cross-reference streams
    {"pdfjs_issue16063.pdf", {"電線接続端子部が次のいずれにも該当しないとき。"}},
    {"pdfminer_kampo.pdf", {"歩行者は、道路を横断してはならないこと。"}},  // empty-password RC4
    {"pdfminer_simple3.pdf", {"あいうえお"}},           // no cross-reference at all
    {"pdfjs_noembed-identity.pdf", {"あいうえお"}},     // Identity-H, Adobe-Japan1
    {"pdfjs_noembed-eucjp.pdf", {"あいうえお"}},
    {"pdfjs_noembed-jis7.pdf", {"あいうえお"}},
    {"pdfminer_jo.pdf", {"わたくしといふ現象は"}},
    {"pdfminer_nlp2004slides.pdf", {"研究の背景", "New York University"}},
};

TEST(PdfCorpus, KnownPhrasesAreRead) {
  if (!std::filesystem::exists(CorpusPdfDir())) GTEST_SKIP() << "corpus not found at " << KURIBO_CORPUS_DIR;
  if (!CmapBuilt()) GTEST_SKIP() << "cmap.dat was not built (poppler-data missing)";
  auto ctx = MakeContext(BinDir());
  for (const Expectation& e : kPhrases) {
    const std::string path = CorpusPdfDir() + e.file;
    const int n = ExtractPdfText(path, (int32_t)std::filesystem::file_size(path), *ctx);
    const std::string text = n > 0 ? SjisToUtf8(std::string_view(ctx->text.get(), (size_t)n)) : "";
    for (const std::string& w : e.words) {
      EXPECT_NE(text.find(w), std::string::npos) << e.file << " lacks " << w;
    }
  }
}

}  // namespace
}  // namespace kuribo

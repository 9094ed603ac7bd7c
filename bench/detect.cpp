// Encoding detection alone: DetectTextEncoding over the first 64 KiB of text
// files (the folder in KURIBO_BENCH_TEXT, default /tmp/kbench/text; skipped when
// absent) and over generated Japanese text in each encoding.
#include <benchmark/benchmark.h>

#include <iconv.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "encoding/convert.h"

namespace {

constexpr size_t kWindow = 64 * 1024;
constexpr size_t kMaxFiles = 2000;

std::string Encode(const char* to, const std::string& utf8) {
  iconv_t cd = iconv_open(to, "UTF-8");
  if (cd == (iconv_t)-1) return "";
  std::string out(utf8.size() * 4 + 16, '\0');
  char* ip = const_cast<char*>(utf8.data());
  char* op = out.data();
  size_t il = utf8.size(), ol = out.size();
  const bool ok = iconv(cd, &ip, &il, &op, &ol) != (size_t)-1;
  iconv_close(cd);
  if (!ok) return "";
  out.resize(out.size() - ol);
  return out;
}

// Heads of up to kMaxFiles files spread evenly over the folder.
const std::vector<std::string>& FileHeads() {
  static const std::vector<std::string> heads = [] {
    std::vector<std::string> out;
    const char* env = std::getenv("KURIBO_BENCH_TEXT");
    const std::filesystem::path root = env && *env ? env : "/tmp/kbench/text";
    std::error_code ec;
    if (!std::filesystem::is_directory(root, ec)) return out;
    std::vector<std::filesystem::path> paths;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_regular_file(ec)) paths.push_back(it->path());
    }
    std::sort(paths.begin(), paths.end());
    const size_t stride = paths.size() / kMaxFiles + 1;
    for (size_t i = 0; i < paths.size(); i += stride) {
      std::ifstream f(paths[i], std::ios::binary);
      std::string s(kWindow, '\0');
      f.read(s.data(), (std::streamsize)s.size());
      s.resize((size_t)f.gcount());
      out.push_back(std::move(s));
    }
    return out;
  }();
  return heads;
}

// 64 KiB of office prose in UTF-8: kana, kanji, full-width digits, ASCII words
// and line ends.
std::string JapaneseUtf8() {
  static const char* const kWords[] = {"見積書", "をお送り", "します。", "ご依頼の", "件につきまして、",
                                       "下記の", "とおり", "納期", "単価", "１２０部", "ガイドブック",
                                       "（改訂第３版）", "abc ", "2024-05-01 ", "\r\n", "営業部"};
  std::mt19937 rng(3);
  std::string s;
  while (s.size() < 2 * kWindow) s += kWords[rng() % (sizeof kWords / sizeof *kWords)];
  return s;
}

void Detect(benchmark::State& state, const std::vector<std::string>& texts) {
  if (texts.empty()) {
    state.SkipWithError("no text files");
    return;
  }
  size_t bytes = 0;
  for (auto _ : state) {
    for (const std::string& t : texts) {
      const auto e = kuribo::DetectTextEncoding(reinterpret_cast<const unsigned char*>(t.data()),
                                                t.size(), t.size() < kWindow);
      benchmark::DoNotOptimize(e);
    }
  }
  for (const std::string& t : texts) bytes += t.size();
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)bytes);
  state.counters["texts"] = (double)texts.size();
}

std::vector<std::string> Generated(const char* enc) {
  const std::string utf8 = JapaneseUtf8();
  std::string s = enc ? Encode(enc, utf8) : utf8;
  s.resize(kWindow);
  // One whole window, and one whose Japanese begins after an ASCII kilobyte
  // with a few kana only, which the probe cannot settle.
  std::string sparse;
  while (sparse.size() < kWindow) sparse += std::string(200, 'a') + s.substr(sparse.size() % 999, 6);
  sparse.resize(kWindow);
  return {s, sparse};
}

void BM_DetectFiles(benchmark::State& s) { Detect(s, FileHeads()); }
void BM_DetectUtf8(benchmark::State& s) { Detect(s, Generated(nullptr)); }
void BM_DetectShiftJis(benchmark::State& s) { Detect(s, Generated("CP932")); }
void BM_DetectEucJp(benchmark::State& s) { Detect(s, Generated("EUC-JP")); }

BENCHMARK(BM_DetectFiles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectUtf8)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DetectShiftJis)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DetectEucJp)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

// Conversion, one-pass conversion and walk, and extraction throughput per kind
// of text file, over files of the benchmark tree that bench/corpus.sh builds
// (KURIBO_BENCH_TEXT, default /tmp/kbench/text; skipped when absent): bytes
// per second of input.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "encoding/convert.h"
#include "extract/context.h"
#include "extract/text/compact.h"
#include "extract/text/plain.h"

namespace {

namespace fs = std::filesystem;

// Up to 40 files of each kind (the name's end: sjis.txt, euc.txt, utf8.txt, .csv, .html).
const std::map<std::string, std::vector<std::string>>& Files() {
  static const auto files = [] {
    std::map<std::string, std::vector<std::string>> m;
    const char* env = std::getenv("KURIBO_BENCH_TEXT");
    const fs::path root = env ? env : "/tmp/kbench/text";
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
      if (!it->is_regular_file()) continue;
      const std::string name = it->path().filename().string();
      for (const char* kind : {"sjis.txt", "euc.txt", "utf8.txt", ".csv", ".html"}) {
        const std::string k = kind;
        if (name.size() >= k.size() && name.compare(name.size() - k.size(), k.size(), k) == 0 &&
            m[k].size() < 40) {
          m[k].push_back(it->path().string());
        }
      }
    }
    return m;
  }();
  return files;
}

std::vector<std::string> Contents(const std::string& kind) {
  std::vector<std::string> out;
  auto it = Files().find(kind);
  if (it == Files().end()) return out;
  for (const std::string& path : it->second) {
    std::ifstream f(path, std::ios::binary);
    out.emplace_back(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  return out;
}

void Convert(benchmark::State& state, const std::string& kind) {
  const std::vector<std::string> texts = Contents(kind);
  if (texts.empty()) return state.SkipWithError("benchmark tree not found");
  std::unique_ptr<char[]> out(new char[kuribo::kConvertedTextCap]);
  size_t bytes = 0;
  for (auto _ : state) {
    for (const std::string& t : texts) {
      benchmark::DoNotOptimize(
          kuribo::ConvertToShiftJis(reinterpret_cast<const unsigned char*>(t.data()), t.size(), out.get()));
      bytes += t.size();
    }
  }
  state.SetBytesProcessed((int64_t)bytes);
}

// Converted and walked in one pass, as the text and HTML extractors do with a
// file read whole.
void Walked(benchmark::State& state, const std::string& kind) {
  const std::vector<std::string> texts = Contents(kind);
  if (texts.empty()) return state.SkipWithError("benchmark tree not found");
  const kuribo::TextWalk walk = kind == ".html" ? kuribo::TextWalk::kHtml : kuribo::TextWalk::kCompact;
  std::unique_ptr<char[]> out(new char[kuribo::kConvertedTextCap]);
  size_t bytes = 0;
  for (auto _ : state) {
    for (const std::string& t : texts) {
      bool walked = false;
      benchmark::DoNotOptimize(kuribo::ConvertToShiftJisWalked(reinterpret_cast<const unsigned char*>(t.data()),
                                                               t.size(), walk, out.get(), &walked));
      bytes += t.size();
    }
  }
  state.SetBytesProcessed((int64_t)bytes);
}

// The whole extractor as a search calls it, file reads included.
void Extract(benchmark::State& state, const std::string& kind) {
  auto it = Files().find(kind);
  if (it == Files().end()) return state.SkipWithError("benchmark tree not found");
  kuribo::ExtractionContext ctx;
  ctx.text.reset(new char[kuribo::kTextBufferSize]);
  ctx.file = kuribo::MakeFileBuffer(kuribo::kFileBufferSize);
  auto extract = kind == ".csv" ? kuribo::ExtractCsvFile : kind == ".html" ? kuribo::ExtractHtmlFile
                                                                           : kuribo::ExtractTextFile;
  size_t bytes = 0;
  for (auto _ : state) {
    for (const std::string& path : it->second) {
      benchmark::DoNotOptimize(extract(path, 0, ctx));
      bytes += (size_t)fs::file_size(path);
    }
  }
  state.SetBytesProcessed((int64_t)bytes);
}

}  // namespace

BENCHMARK_CAPTURE(Convert, sjis, std::string("sjis.txt"));
BENCHMARK_CAPTURE(Convert, euc, std::string("euc.txt"));
BENCHMARK_CAPTURE(Convert, utf8, std::string("utf8.txt"));
BENCHMARK_CAPTURE(Convert, html, std::string(".html"));
BENCHMARK_CAPTURE(Walked, sjis, std::string("sjis.txt"));
BENCHMARK_CAPTURE(Walked, euc, std::string("euc.txt"));
BENCHMARK_CAPTURE(Walked, utf8, std::string("utf8.txt"));
BENCHMARK_CAPTURE(Walked, html, std::string(".html"));
BENCHMARK_CAPTURE(Extract, sjis, std::string("sjis.txt"));
BENCHMARK_CAPTURE(Extract, euc, std::string("euc.txt"));
BENCHMARK_CAPTURE(Extract, utf8, std::string("utf8.txt"));
BENCHMARK_CAPTURE(Extract, csv, std::string(".csv"));
BENCHMARK_CAPTURE(Extract, html, std::string(".html"));
BENCHMARK_MAIN();

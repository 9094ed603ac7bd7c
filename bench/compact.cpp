// Throughput of CompactText over 1 MB of Shift_JIS prose and 1 MB of ASCII
// prose, and of the HTML and CSV walks over tag-dense Japanese HTML and
// Japanese CSV, each beside the plain byte-at-a-time walk for comparison.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "extract/text/compact.h"
#include "extract/text/walk.h"

namespace {

constexpr size_t kSize = 1 << 20;

// Hiragana and kanji with 、。 and CRLF line ends, paragraphs opened by a
// full-width space: what converted Japanese documents look like.
std::string JapaneseText() {
  std::mt19937 rng(1);
  std::string s;
  int col = 0;
  s += "\x81\x40";
  while (s.size() < kSize) {
    const uint32_t x = rng();
    if (x % 3 == 0) {
      s += (char)0x82;
      s += (char)(0x9F + (x >> 8) % 83);  // hiragana
    } else if (x % 3 == 1) {
      s += (char)(0x88 + (x >> 8) % 16);
      s += (char)(0x9F + (x >> 16) % 94);  // kanji
    } else if (x % 11 == 2) {
      s += "\x81\x41";  // 、
    } else if (x % 17 == 2) {
      s += "\x81\x42";  // 。
    } else {
      s += (char)0x83;
      s += (char)(0x40 + (x >> 8) % 62);  // katakana
    }
    if (++col == 38) {
      col = 0;
      s += (x % 5 == 0) ? "\r\n\x81\x40" : "\r\n";
    }
  }
  s.resize(kSize);
  return s;
}

// English-like words, single spaces, LF line ends and an occasional blank line.
std::string AsciiText() {
  std::mt19937 rng(2);
  std::string s;
  int col = 0;
  while (s.size() < kSize) {
    const uint32_t x = rng();
    const int len = 1 + (int)(x % 9);
    for (int i = 0; i < len; ++i) s += (char)('a' + (x >> (i + 4)) % 26);
    col += len + 1;
    if (col > 70) {
      col = 0;
      s += (x % 9 == 0) ? ".\n\n" : "\n";
    } else {
      s += ' ';
    }
  }
  s.resize(kSize);
  return s;
}

// One two-byte character: mostly hiragana and kanji, some katakana.
void AddKana(std::string& s, uint32_t x) {
  if (x % 3 == 0) {
    s += (char)0x82;
    s += (char)(0x9F + (x >> 8) % 83);
  } else if (x % 3 == 1) {
    s += (char)(0x88 + (x >> 8) % 16);
    s += (char)(0x9F + (x >> 16) % 94);
  } else {
    s += (char)0x83;
    s += (char)(0x40 + (x >> 8) % 62);
  }
}

std::string Sentence(std::mt19937& rng, int lo, int hi) {
  std::string s;
  const int n = lo + (int)(rng() % (uint32_t)(hi - lo + 1));
  for (int i = 0; i < n; ++i) AddKana(s, rng());
  return s;
}

// A converted HTML page: a short head, then sentences of 20-40 characters each
// closed by 。</p>, so a tag every 40-80 bytes.
std::string HtmlText() {
  std::mt19937 rng(3);
  std::string s = "<html><head><meta charset=\"utf-8\"><title>\x8E\x91\x97\xBF</title></head><body>";
  while (s.size() < kSize) s += Sentence(rng, 20, 40) + "\x81\x42</p>\n<p>";
  s.resize(kSize);
  return s;
}

// Lines of four comma-separated sentences with CRLF line ends.
std::string CsvText() {
  std::mt19937 rng(4);
  std::string s;
  while (s.size() < kSize) {
    for (int f = 0; f < 4; ++f) s += Sentence(rng, 10, 25) + (f < 3 ? "," : "\r\n");
  }
  s.resize(kSize);
  return s;
}

template <bool fast>
void Run(benchmark::State& state, const std::string& src) {
  std::vector<char> buf(src.size() + 1);
  int32_t n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(buf.data(), src.data(), src.size());
    state.ResumeTiming();
    if constexpr (fast) {
      n = kuribo::CompactText(buf.data(), (int32_t)src.size());
    } else {
      const int32_t len = (int32_t)src.size();
      n = kuribo::walk::Walk<kuribo::walk::Mode::kCompact>(
          reinterpret_cast<unsigned char*>(buf.data()), 0, 0, len < 1'000'000 ? len : 1'000'000,
          len);
    }
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)(src.size() < 1'000'000 ? src.size() : 1'000'000));
  state.counters["out_bytes"] = n;
}

void BM_CompactJapanese(benchmark::State& s) { Run<true>(s, JapaneseText()); }
void BM_CompactAscii(benchmark::State& s) { Run<true>(s, AsciiText()); }
void BM_ByteWalkJapanese(benchmark::State& s) { Run<false>(s, JapaneseText()); }
void BM_ByteWalkAscii(benchmark::State& s) { Run<false>(s, AsciiText()); }

// The HTML walk in place, as after conversion; the CSV walk from one buffer
// into another, as a Shift_JIS file is walked from the file buffer.
template <kuribo::walk::Mode mode, bool fast>
void RunWalk(benchmark::State& state, const std::string& src) {
  using kuribo::walk::Mode;
  const int32_t len = (int32_t)src.size();
  const int32_t limit = mode == Mode::kHtml && len > 999'999 ? 999'999 : len;
  std::vector<unsigned char> buf(src.begin(), src.end()), out(src.size());
  int32_t n = 0;
  for (auto _ : state) {
    unsigned char* s = buf.data();
    unsigned char* p = out.data();
    if constexpr (mode == Mode::kHtml) {
      state.PauseTiming();
      std::memcpy(buf.data(), src.data(), src.size());
      state.ResumeTiming();
      p = s;
    }
    if constexpr (fast) {
      n = kuribo::walk::FastWalk<mode>(s, p, limit, len);
    } else {
      int32_t r = 0;
      n = kuribo::walk::Walk<mode>(s, p, r, 0, limit, len);
    }
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed((int64_t)state.iterations() * limit);
  state.counters["out_bytes"] = n;
}

void BM_HtmlWalkTagDense(benchmark::State& s) { RunWalk<kuribo::walk::Mode::kHtml, true>(s, HtmlText()); }
void BM_HtmlByteWalkTagDense(benchmark::State& s) { RunWalk<kuribo::walk::Mode::kHtml, false>(s, HtmlText()); }
void BM_CsvWalkJapanese(benchmark::State& s) { RunWalk<kuribo::walk::Mode::kCsv, true>(s, CsvText()); }
void BM_CsvByteWalkJapanese(benchmark::State& s) { RunWalk<kuribo::walk::Mode::kCsv, false>(s, CsvText()); }

BENCHMARK(BM_CompactJapanese);
BENCHMARK(BM_CompactAscii);
BENCHMARK(BM_ByteWalkJapanese);
BENCHMARK(BM_ByteWalkAscii);
BENCHMARK(BM_HtmlWalkTagDense);
BENCHMARK(BM_HtmlByteWalkTagDense);
BENCHMARK(BM_CsvWalkJapanese);
BENCHMARK(BM_CsvByteWalkJapanese);

}  // namespace

BENCHMARK_MAIN();

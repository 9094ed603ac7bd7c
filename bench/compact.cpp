// Throughput of CompactText over 1 MB of Shift_JIS prose and 1 MB of ASCII
// prose, beside the plain byte-at-a-time walk for comparison.
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

BENCHMARK(BM_CompactJapanese);
BENCHMARK(BM_CompactAscii);
BENCHMARK(BM_ByteWalkJapanese);
BENCHMARK(BM_ByteWalkAscii);

}  // namespace

BENCHMARK_MAIN();

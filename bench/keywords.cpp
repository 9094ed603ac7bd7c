// Keyword counting over a megabyte of mixed Japanese and ASCII text, beside
// glibc's memmem on the same bytes, and the cost of expanding a keyword list.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "app/keywords.h"
#include "encoding/sjis.h"

namespace {

using kuribo::KeywordList;

constexpr size_t kTextBytes = 1 << 20;

// Office prose: kanji, hiragana, katakana, full-width and ASCII words and numbers.
const std::string& Text() {
  static const std::string text = [] {
    const char* words[] = {"見積書",   "の",        "提出",     "期限",   "は",       "来月末",   "です。",
                           "ガイド",   "ｶﾞｲﾄﾞ",    "データ",   "を",     "確認",     "して",     "ください",
                           "、",       "株式会社", "ＡＢＣ",   "御中",   "2026年",  "12月",     "１，２３４円",
                           "report",   "PDF",      "Excel",    "の",     "ファイル", "ﾌｧｲﾙ",     "会議",
                           "議事録",   "について", "お知らせ", "（案）", "version",  "1.2.3",    "東京都",
                           "千代田区", "設計",     "図面",     "DWG",    "承認",     "済み",     "\r\n"};
    std::vector<std::string> sjis;
    for (const char* w : words) sjis.push_back(kuribo::Utf8ToSjis(w));
    std::mt19937 rng(42);
    std::string t;
    while (t.size() < kTextBytes) {
      t += sjis[rng() % sjis.size()];
      if (rng() % 5 == 0) t += ' ';
    }
    t.resize(kTextBytes);
    return t;
  }();
  return text;
}

// Keywords absent from the text, by Shift_JIS length.
std::string AbsentKeyword(size_t bytes) {
  const char* utf8 = bytes == 2 ? "鰯" : bytes == 6 ? "蜃気楼" : "量子色力学論";
  return kuribo::Utf8ToSjis(utf8);
}

void CountMatchesNoMatch(benchmark::State& state) {
  const std::string& text = Text();
  const std::string keyword = AbsentKeyword(static_cast<size_t>(state.range(0)));
  if (memmem(text.data(), text.size(), keyword.data(), keyword.size())) {
    state.SkipWithError("keyword occurs in the text");
    return;
  }
  for (auto _ : state) {
    int first = 0;
    benchmark::DoNotOptimize(kuribo::CountMatches(text.data(), text.size(), keyword.data(), keyword.size(), &first));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(CountMatchesNoMatch)->Arg(2)->Arg(6)->Arg(12);

void MemmemNoMatch(benchmark::State& state) {
  const std::string& text = Text();
  const std::string keyword = AbsentKeyword(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(memmem(text.data(), text.size(), keyword.data(), keyword.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(MemmemNoMatch)->Arg(2)->Arg(6)->Arg(12);

// Frequent matches: the counting loop restarts after each one.
void CountMatchesFrequent(benchmark::State& state) {
  const std::string& text = Text();
  const std::string keyword = kuribo::Utf8ToSjis(state.range(0) == 1 ? "r" : "ガイド");
  int count = 0;
  for (auto _ : state) {
    count = kuribo::CountMatches(text.data(), text.size(), keyword.data(), keyword.size());
    benchmark::DoNotOptimize(count);
  }
  state.counters["matches"] = count;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(CountMatchesFrequent)->Arg(1)->Arg(6);

KeywordList UserKeywords() {
  KeywordList list;
  for (const char* k : {"見積書", "abc", "1234", "ガイド", "ｶﾞｲﾄﾞ", "Report 2026", "１，２３４．５"})
    list.push_back(kuribo::Utf8ToSjis(k));
  return list;
}

void ExpandKeywords(benchmark::State& state) {
  const KeywordList user = UserKeywords();
  size_t entries = 0;
  for (auto _ : state) {
    KeywordList list = user;
    kuribo::ExpandKeywords(list);
    entries = list.size();
    benchmark::DoNotOptimize(list.data());
  }
  state.counters["entries"] = static_cast<double>(entries);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * user.size()));
}
BENCHMARK(ExpandKeywords);

// One file's matching step: every entry of the expanded list in path and text.
void MatchFileMegabyte(benchmark::State& state) {
  const std::string text = Text() + std::string(1, '\0');
  KeywordList list = UserKeywords();
  kuribo::ExpandKeywords(list);
  char snippet[kuribo::kSnippetBufferSize];
  int hits = 0;
  for (auto _ : state) {
    hits = kuribo::MatchFile("/home/user/文書/見積/report.txt", text.data(),
                             static_cast<int32_t>(kTextBytes), list, snippet);
    benchmark::DoNotOptimize(hits);
  }
  state.counters["entries"] = static_cast<double>(list.size());
  state.counters["hits"] = hits;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTextBytes));
}
BENCHMARK(MatchFileMegabyte);

}  // namespace

BENCHMARK_MAIN();

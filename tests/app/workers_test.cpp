// Any number of workers gives the rows of one worker, in the same order.
#include <gtest/gtest.h>

#include <random>

#include "app/dispatch.h"
#include "app/search.h"
#include "encoding/sjis.h"
#include "support/temp_dir.h"

namespace kuribo {
namespace {

std::string Rows(const std::string& dir, int workers, size_t* candidates = nullptr) {
  SearchRequest request;
  request.keywords = {"abc", Utf8ToSjis("見積")};
  request.directories = {dir};
  request.types.checked.fill(true);
  request.types.other = ".zzz";
  std::vector<std::unique_ptr<ExtractionContext>> contexts;
  for (int i = 0; i < workers; ++i) contexts.push_back(MakeExtractionContext("/nonexistent/", {}));
  std::string out;
  size_t last = 0;
  bool ordered = true;
  SearchEvents events;
  events.file = [&](size_t index, size_t, bool, const std::string&) {
    ordered = ordered && (index == 0 || index == last + 1);
    last = index;
  };
  events.row = [&](ResultRow&& r) {
    out += r.path + "|" + std::to_string(r.hits) + "|" + r.snippet + "|" + r.date + "|" +
           std::to_string(r.size) + "\n";
  };
  std::atomic<bool> stop{false};
  SearchSummary s = RunSearch(request, contexts, events, stop);
  EXPECT_TRUE(ordered);
  if (candidates) *candidates = s.candidates;
  return out;
}

TEST(Workers, OneTwoAndEightWorkersGiveIdenticalRows) {
  test::TempDir t;
  std::mt19937 rng(7);
  const std::string words[] = {"abc ", "ABC ", "見積 ", "ｶﾀｶﾅ ", "other ", "１２３ "};
  for (int i = 0; i < 400; ++i) {
    std::string body;
    for (int w = 0; w < 50; ++w) body += Utf8ToSjis(words[rng() % 6]);
    const std::string dir = "d" + std::to_string(i % 7) + "/s" + std::to_string(i % 3) + "/";
    const char* ext[] = {".txt", ".csv", ".zzz", ".doc", ".html"};
    const std::string name = (i % 5 == 0 ? "abc_" : "f_") + std::to_string(i) + ext[i % 5];
    t.Write(dir + name, body);
  }
  size_t candidates = 0;
  const std::string one = Rows(t.path(), 1, &candidates);
  EXPECT_EQ(candidates, 400u);
  EXPECT_FALSE(one.empty());
  EXPECT_EQ(Rows(t.path(), 2), one);
  EXPECT_EQ(Rows(t.path(), 8), one);
}

}  // namespace
}  // namespace kuribo

namespace kuribo {
namespace {

// More candidates than the walk may hold ahead of extraction: the walk waits
// for room instead of holding them all, and nothing is lost or reordered.
TEST(Workers, WalkFarAheadOfExtractionWaitsAndLosesNothing) {
  test::TempDir t;
  for (int i = 0; i < 9000; ++i) t.Write("d" + std::to_string(i / 1000) + "/" + std::to_string(i) + ".zzz", "");
  t.Write("d8/abc.zzz", "");
  size_t candidates = 0;
  const std::string one = Rows(t.path(), 1, &candidates);
  EXPECT_EQ(candidates, 9001u);
  EXPECT_EQ(one, Rows(t.path(), 3));
  EXPECT_NE(one.find("/d8/abc.zzz|1|"), std::string::npos);
}

}  // namespace
}  // namespace kuribo

#include "app/csv_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "encoding/sjis.h"

namespace kuribo {
namespace {

TEST(CsvExport, KeywordHeaderAndRowLinesWithCleanedSnippet) {
  ResultRow r;
  r.name = "a.txt";
  r.type = ".txt";
  r.hits = 3;
  r.sjisPath = "/docs/a.txt";
  // A quote and a comma are blanked, but not the byte after a lead byte.
  r.snippet = "x,\"y\x82,z";
  r.date = "2008/03/01  09:05:07";
  r.size = 5000000000ull;
  const std::string csv = BuildCsv({"abc", "a,b"}, {r});
  const std::string expected =
      "#,\"abc\",\"a,b\",\r\n" +
      Utf8ToSjis("NO,ファイル名,タイプ,ヒット数,ファイルパス,検索結果,日付,ファイルサイズ") +
      "\r\n1,\"a.txt\",\".txt\",\"3\",\"/docs/a.txt\",\" x  y\x82,z \",\"2008/03/01  09:05:07\","
      "\"5000000000\",\r\n";
  EXPECT_EQ(csv, expected);
}

TEST(CsvExport, WithoutRowsTwoLines) {
  const std::string csv = BuildCsv({"abc"}, {});
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 2);
}

TEST(CsvExport, FileNameCarriesTimeToTheMillisecond) {
  EXPECT_TRUE(std::regex_match(ExportFileName(), std::regex("kuri_export[0-9]{16,17}\\.csv")));
}

}  // namespace
}  // namespace kuribo

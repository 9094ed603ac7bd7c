#include "app/csv_export.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <regex>

#include "encoding/sjis.h"
#include "support/temp_dir.h"

namespace kuribo {
namespace {

TEST(CsvExport, KeywordHeaderAndRowLinesWithCleanedSnippet) {
  ResultRow r;
  r.name = "a.txt";
  r.type = ".txt";
  r.hits = 3;
  r.sjisPath = "/docs/a.txt";
  // A quote and a comma are blanked, but not the byte after a lead byte.
  r.snippet = "x,\"y\x82,z\x82\"";
  r.date = "2008/03/01  09:05:07";
  r.size = 5000000000ull;
  const std::string csv = BuildCsv({"abc", "a,b"}, {r});
  const std::string expected =
      "#,\"abc\",\"a,b\",\r\n" +
      Utf8ToSjis("NO,ファイル名,タイプ,ヒット数,ファイルパス,検索結果,日付,ファイルサイズ") +
      "\r\n1,\"a.txt\",\".txt\",\"3\",\"/docs/a.txt\",\" x  y\x82,z\x82  \",\"2008/03/01  09:05:07\","
      "\"5000000000\",\r\n";
  EXPECT_EQ(csv, expected);
}

TEST(CsvExport, WithoutRowsTwoLines) {
  const std::string csv = BuildCsv({"abc"}, {});
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 2);
}

TEST(CsvExport, FileNameCarriesTimeToTheMillisecond) {
  EXPECT_TRUE(std::regex_match(ExportFileName(), std::regex("kuri_export[0-9]{17}\\.csv")));
  struct tm tm {};
  tm.tm_year = 2008 - 1900;
  tm.tm_mon = 2;
  tm.tm_mday = 1;
  tm.tm_hour = 9;
  tm.tm_min = 5;
  tm.tm_sec = 7;
  EXPECT_EQ(ExportFileNameAt(tm, 7), "kuri_export20080301090507007.csv");
}

// A quote ends a cell only when doubled; a cell a spreadsheet would run as a
// formula starts with an apostrophe.
TEST(CsvExport, CellsAreQuotedSoNoNameOrKeywordMakesACellOrAFormula) {
  const struct {
    std::string cell, written;
  } cases[] = {
      {"a\",=1+1,\"b.txt", "\"a\"\",=1+1,\"\"b.txt\","},
      {"=HYPERLINK(1)", "\"'=HYPERLINK(1)\","},
      {"+1", "\"'+1\","},
      {"-2.txt", "\"'-2.txt\","},
      {"@SUM(A1)", "\"'@SUM(A1)\","},
      {"a=b", "\"a=b\","},
      {"\x82\x40\"", "\"\x82\x40\"\"\","},
      // A quote after a lead byte is no second byte of it.
      {"\x82\",=1", "\"\x82\"\",=1\","},
  };
  for (const auto& c : cases) {
    ResultRow r;
    r.name = c.cell;
    const std::string csv = BuildCsv({c.cell}, {r});
    EXPECT_EQ(csv.rfind("#," + c.written + "\r\n", 0), 0u) << c.cell << "\n" << csv;
    EXPECT_NE(csv.find("\r\n1," + c.written + "\"\","), std::string::npos) << c.cell << "\n" << csv;
  }
}

// A full disk, made by a file-size limit in a child: the old file stays whole
// and no partial file is left beside it.
TEST(CsvExport, FailedWriteLeavesTheOldFileAndNoOther) {
#ifdef _WIN32
  GTEST_SKIP() << "makes a full disk with fork and a file-size limit, which Windows has not";
#else
  test::TempDir t;
  const std::string path = t.Write("out.csv", "old");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit{1024, 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(WriteFileReplacing(path, std::string(4096, 'x')) ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  EXPECT_EQ(test::ReadFile(path), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t.path()), {}), 1);
  ASSERT_TRUE(WriteFileReplacing(path, "new"));
  EXPECT_EQ(test::ReadFile(path), "new");
#endif
}

}  // namespace
}  // namespace kuribo

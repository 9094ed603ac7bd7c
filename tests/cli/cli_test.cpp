#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "encoding/sjis.h"
#include "support/temp_dir.h"

namespace kuribo {
namespace {

using test::TempDir;

struct Result {
  int status = -1;
  std::string out;
};

// Runs kuribo-search with a shell-quoted argument string; stderr is dropped.
Result RunCli(const std::string& args) {
  const std::string cmd = std::string(KURIBO_BIN_DIR) + "/kuribo-search " + args + " 2>/dev/null";
  Result r;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

TEST(Cli, ListsEachVariantOfTheKeywordInFileNames) {
  TempDir t;
  t.Write("report_abc.txt", "");
  t.Write("REPORT_ABC.txt", "");
  t.Write("ｒｅｐｏｒｔ＿ＡＢＣ.txt", "");
  t.Write("unrelated.txt", "");
  Result r = RunCli("-k abc -t .txt " + t.path());
  // Attached option values mean the same.
  EXPECT_EQ(RunCli("-kabc -t.txt -j2 " + t.path()).out, r.out);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\treport_abc.txt\t.txt\t1\t" + t.path() + "report_abc.txt\t\t"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\tREPORT_ABC.txt\t.txt\t1\t"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\tｒｅｐｏｒｔ＿ＡＢＣ.txt\t.txt\t1\t"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("unrelated"), std::string::npos);
  // Rows are numbered 1, 2, 3.
  EXPECT_EQ(r.out.rfind("3\t", r.out.rfind('\n', r.out.size() - 2) + 1),
            r.out.rfind('\n', r.out.size() - 2) + 1);
}

TEST(Cli, ExitStatusTellsFoundNothingAndUsageErrors) {
  TempDir t;
  t.Write("report_abc.txt", "");
  Result none = RunCli("-k nowhere -t .txt " + t.path());
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(RunCli("-k abc " + t.path() + "missing").status, 2);
  EXPECT_EQ(RunCli(t.path()).status, 2);
  EXPECT_EQ(RunCli("-k abc -t .bogus " + t.path()).status, 2);
  // A keyword without a Shift_JIS form, and one too long, are refused.
  EXPECT_EQ(RunCli("-k '한국' " + t.path()).status, 2);
  EXPECT_EQ(RunCli("-k " + std::string(128, 'a') + " " + t.path()).status, 2);
}

TEST(Cli, CsvWritesTheExportFormat) {
  TempDir t;
  t.Write("report_abc.txt", "");
  const std::string csv = t.path() + "out.csv";
  Result r = RunCli("-k abc -t .txt --csv " + csv + " " + t.path());
  EXPECT_EQ(r.status, 0);
  const std::string bytes = test::ReadFile(csv);
  EXPECT_EQ(bytes.rfind("#,\"abc\",\r\n", 0), 0u) << bytes;
  EXPECT_NE(bytes.find("\r\n1,\"report_abc.txt\",\".txt\",\"1\",\"" + t.path() + "report_abc.txt\",\"  \","),
            std::string::npos)
      << bytes;
}

}  // namespace
}  // namespace kuribo

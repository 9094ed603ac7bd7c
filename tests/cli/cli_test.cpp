#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "encoding/sjis.h"
#include "support/temp_dir.h"

extern char** environ;

namespace kuribo {
namespace {

using test::TempDir;

struct Result {
  int status = -1;
  std::string out;
};

const std::string kBin = std::string(KURIBO_BIN_DIR) + "/kuribo-search";

// Runs a shell command line; stderr is dropped.
Result RunShell(const std::string& line) {
  const std::string cmd = line + " 2>/dev/null";
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

// Runs kuribo-search with a shell-quoted argument string.
Result RunCli(const std::string& args) { return RunShell(kBin + " " + args); }

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

// Names keep their bytes: one line per row, seven tabs, no raw control byte.
TEST(Cli, NamesAreEscapedSoEachLineIsOneRowAndNothingReachesTheTerminal) {
  TempDir t;
  const struct {
    std::string name, shown;
  } cases[] = {
      {"a\tb_abc.txt", "a\\tb_abc.txt"},
      {"n\nl\r_abc.txt", "n\\nl\\r_abc.txt"},
      {"esc\x1b[31m_abc.txt", "esc\\x1B[31m_abc.txt"},
      {"bad\xff_abc.txt", "bad\\xFF_abc.txt"},
      {"c1\xc2\x9b_abc.txt", "c1\\xC2\\x9B_abc.txt"},
      {"back\\slash_abc.txt", "back\\\\slash_abc.txt"},
      {"東京_abc.txt", "東京_abc.txt"},
  };
  for (const auto& c : cases) t.Write(c.name, "");
  Result r = RunCli("-k abc -t .txt " + t.path());
  EXPECT_EQ(r.status, 0);
  size_t lines = 0;
  for (size_t start = 0; start < r.out.size(); ++lines) {
    const size_t nl = r.out.find('\n', start);
    ASSERT_NE(nl, std::string::npos);
    const std::string line = r.out.substr(start, nl - start);
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 7) << line;
    for (unsigned char ch : line) EXPECT_TRUE(ch >= 0x20 || ch == '\t') << line;
    start = nl + 1;
  }
  EXPECT_EQ(lines, std::size(cases));
  for (const auto& c : cases) {
    EXPECT_NE(r.out.find("\t" + c.shown + "\t.txt\t1\t" + t.path() + c.shown + "\t"), std::string::npos)
        << c.shown << "\n" << r.out;
  }
}

TEST(Cli, DoubleDashEndsTheOptions) {
  TempDir t;
  t.Write("-d/abc.txt", "");
  Result r = RunShell("cd " + t.path() + " && " + kBin + " -k abc -t .txt -- -d");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\t-d/abc.txt\t"), std::string::npos) << r.out;
}

// A full disk, made by a file-size limit: the old CSV stays whole, nothing is
// left beside it, and the failure is the exit status.
TEST(Cli, CsvOntoAFullDiskKeepsTheOldFile) {
  TempDir docs, out;
  for (int i = 0; i < 40; ++i) docs.Write("abc_" + std::to_string(i) + std::string(60, 'x') + ".txt", "");
  const std::string csv = out.Write("old.csv", "old");
  Result r = RunShell("trap '' XFSZ; ulimit -f 1; " + kBin + " -k abc -t .txt --csv " + csv + " " + docs.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(test::ReadFile(csv), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out.path()), {}), 1);
}

// Into a file the rows are written a buffer at a time: the same rows as into a
// pipe, and a write that fails is the exit status.
TEST(Cli, ResultsIntoAFileAreThePipesAndAFailedWriteIsReported) {
  TempDir docs, out;
  for (int i = 0; i < 300; ++i) docs.Write("abc_" + std::to_string(i) + std::string(60, 'x') + ".txt", "");
  const std::string list = out.path() + "list.txt";
  const std::string run = kBin + " -k abc -t .txt -j2 " + docs.path();
  EXPECT_EQ(RunShell(run + " > " + list).status, 0);
  EXPECT_EQ(test::ReadFile(list), RunShell(run).out);
  EXPECT_EQ(RunShell(run + " > /dev/full").status, 2);
}

// kuribo-search copied into a program directory of its own, beside a fake
// xdoc2txt that records its pid and never ends.
class CliSignalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bin_ = prog_.path() + "kuribo-search";
    std::filesystem::copy_file(kBin, bin_);
    chmod(bin_.c_str(), 0755);
    prog_.Write("xdoc2txt", "#!/bin/sh\necho $$ > '" + prog_.path() + "conv.pid.new'\nmv '" + prog_.path() +
                                "conv.pid.new' '" + prog_.path() + "conv.pid'\nexec sleep 600\n");
    chmod((prog_.path() + "xdoc2txt").c_str(), 0755);
    // The hit comes first; the hanging document after it.
    docs_.Write("first/abc_found.txt", "");
    docs_.Write("second/x.doc", "");
  }

  // Starts the search with stdout and stderr on the given descriptors.
  pid_t Start(std::vector<std::string> args, int out, int err) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out, 1);
    posix_spawn_file_actions_adddup2(&fa, err, 2);
    args.insert(args.begin(), {bin_, "-k", "abc", "-j", "1"});
    args.push_back(docs_.path() + "first");
    args.push_back(docs_.path() + "second");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    posix_spawn(&pid, bin_.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    return pid;
  }

  // The wait status, or -1 when the program did not end within a minute (it is killed then).
  static int WaitFor(pid_t pid) {
    int status = 0;
    for (int i = 0; i < 60000; ++i) {
      if (waitpid(pid, &status, WNOHANG) == pid) return status;
      usleep(1000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }

  bool ConverterGone() const {
    const std::string pid = test::ReadFile(prog_.path() + "conv.pid");
    if (pid.empty()) return true;
    const std::string stat = test::ReadFile("/proc/" + std::to_string(std::stoi(pid)) + "/stat");
    const size_t paren = stat.rfind(')');
    const bool gone = stat.empty() || (paren != std::string::npos && stat[paren + 2] == 'Z');
    if (!gone) kill(std::stoi(pid), SIGKILL);
    return gone;
  }

  TempDir prog_, docs_;
  std::string bin_;
};

TEST_F(CliSignalTest, InterruptOrTermStopsTheConverterAndKeepsTheRowsFound) {
  const struct {
    int sig, status;
  } cases[] = {{SIGINT, 130}, {SIGTERM, 143}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sig);
    std::filesystem::remove(prog_.path() + "conv.pid");
    const std::string csv = docs_.path() + "out.csv";
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = Start({"--csv", csv}, null, null);
    close(null);
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 60000 && test::ReadFile(prog_.path() + "conv.pid").empty(); ++i) usleep(1000);
    ASSERT_FALSE(test::ReadFile(prog_.path() + "conv.pid").empty());
    // The row found before the converter started is handed out meanwhile (a
    // stop drops rows not yet handed out).
    usleep(500'000);
    kill(pid, c.sig);
    const int status = WaitFor(pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.status) << status;
    for (int i = 0; i < 2000 && !ConverterGone(); ++i) usleep(1000);
    EXPECT_TRUE(ConverterGone());
    EXPECT_NE(test::ReadFile(csv).find("\"abc_found.txt\""), std::string::npos);
  }
}

TEST_F(CliSignalTest, ClosedPipeEndsTheRunQuietly) {
  int out[2];
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  close(out[0]);
  const std::string err = docs_.path() + "err.txt";
  const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  const pid_t pid = Start({}, out[1], errFd);
  close(out[1]);
  close(errFd);
  ASSERT_GT(pid, 0);
  const int status = WaitFor(pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGPIPE) << status;
  EXPECT_EQ(test::ReadFile(err), "");
  for (int i = 0; i < 2000 && !ConverterGone(); ++i) usleep(1000);
  EXPECT_TRUE(ConverterGone());
}

}  // namespace
}  // namespace kuribo

// The Windows converter runner, under Wine in the cross build.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "platform/fs.h"
#include "platform/process.h"
#include "support/temp_dir.h"

namespace kuribo {
namespace {

std::string Cmd() { return "C:\\windows\\system32\\cmd.exe"; }

TEST(WindowsRunner, ArgumentsWithSpacesAndBackslashesArriveWhole) {
  test::TempDir t;
  const std::string file = t.Write("a b\\c d.txt", "Tokyo text");
  char out[4096];
  CaptureRequest r;
  r.program = std::string(KURIBO_BIN_DIR) + "/kuribo-search";  // ".exe" is implied
  r.args = {"kuribo-search", "--extract", file};
  r.out = out;
  r.cap = sizeof out;
  const CaptureResult res = RunAndCapture(r);
  ASSERT_EQ(res.ending, CaptureResult::Ending::Exited);
  EXPECT_EQ(res.status, 0);
  EXPECT_NE(std::string(out, (size_t)res.bytes).find("Tokyo text"), std::string::npos);
}

TEST(WindowsRunner, EndlessOutputIsCappedAndTheTimeoutEndsTheTree) {
  char out[100];
  CaptureRequest r;
  r.program = Cmd();
  // A child cmd that prints for ever: the job ends it with its parent. (cmd
  // reads its own command line, not by the runtime's rules: no quotes here.)
  r.args = {"cmd", "/c", "cmd", "/c", "for", "/l", "%i", "in", "(0,0,1)", "do", "@echo", "xxxxxxxx"};
  r.out = out;
  r.cap = sizeof out;
  r.timeout = std::chrono::milliseconds(1500);
  const auto start = std::chrono::steady_clock::now();
  const CaptureResult res = RunAndCapture(r);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(res.ending, CaptureResult::Ending::TimedOut);
  EXPECT_EQ(res.bytes, 100);
  EXPECT_GT(res.printed, 100);
}

TEST(WindowsRunner, StopEndsTheRunAtOnceAndAMissingProgramNeverStarts) {
  std::atomic<bool> stop{true};
  CaptureRequest r;
  r.program = Cmd();
  r.args = {"cmd", "/c", "for /l %i in (0,0,1) do @rem"};
  r.stop = &stop;
  EXPECT_EQ(RunAndCapture(r).ending, CaptureResult::Ending::Stopped);
  r.program = "C:\\no\\such\\program";
  EXPECT_EQ(RunAndCapture(r).ending, CaptureResult::Ending::NotStarted);
}

TEST(WindowsFiles, OnlyRegularFilesOpen) {
  test::TempDir t;
  EXPECT_GE(OpenFileForReading(t.Write("x.txt", "x")), 0);
  EXPECT_LT(OpenFileForReading(t.path()), 0);
  EXPECT_LT(OpenFileForReading("NUL"), 0);
  EXPECT_LT(OpenFileForReading(t.path() + "missing.txt"), 0);
}

}  // namespace
}  // namespace kuribo
#endif

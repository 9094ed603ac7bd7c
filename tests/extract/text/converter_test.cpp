#include "extract/text/converter.h"

#include "app/dispatch.h"
#include "encoding/sjis.h"
#include "extract/text/compact.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace kuribo {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes, mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  chmod(path.c_str(), mode);
}

// The arguments a fake converter recorded, NUL-separated.
std::vector<std::string> SplitNul(const std::string& bytes) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\0') {
      parts.push_back(bytes.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

// True when no process `pid` is alive any more (gone, or a zombie of init).
bool ProcessGone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  const size_t paren = line.rfind(')');
  return paren != std::string::npos && paren + 2 < line.size() && line[paren + 2] == 'Z';
}

// A program directory of its own with fake converters in it.
class ConverterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kuribo_conv_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern + "/";
    fs::create_directory(dir_ + "xpdf");
    ctx_ = MakeContext();
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::unique_ptr<ExtractionContext> MakeContext() {
    auto ctx = std::make_unique<ExtractionContext>();
    ctx->text.reset(new char[kTextBufferSize]);
    ctx->file = MakeFileBuffer(kFileBufferSize);
    ctx->programDir = dir_;
    ctx->stop = &stop_;
    return ctx;
  }

  void Xdoc2txt(const std::string& body) { WriteFile(dir_ + "xdoc2txt", "#!/bin/sh\n" + body, 0755); }
  void Pdftotext(const std::string& body) {
    WriteFile(dir_ + "xpdf/pdftotext", "#!/bin/sh\n" + body, 0755);
  }
  // A body that records the working directory and every argument.
  std::string Recorder() const {
    return "pwd > '" + dir_ + "cwd.txt'\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" +
           dir_ + "args.bin'\n";
  }
  std::string Text(int n) const { return n > 0 ? std::string(ctx_->text.get(), n) : ""; }
  // Runs xdoc2txt on a.doc with the full time limit, raising the stop flag
  // once `ready` says the converter is under way.
  template <class Ready>
  int ConvertThenStop(Ready ready) {
    std::thread stopper([&] {
      while (!ready()) usleep(1000);
      stop_ = true;
    });
    const int n = ConvertWithXdoc2txt(dir_ + "a.doc", *ctx_, kConverterTimeout);
    stopper.join();
    return n;
  }
  bool Exists(const std::string& name) const { return fs::exists(dir_ + name); }

  std::string dir_;
  std::atomic<bool> stop_{false};
  std::unique_ptr<ExtractionContext> ctx_;
};

// The nine configuration lines with CR LF ends, for program directory `s`.
std::string ExpectedBlock(const std::string& s) {
  return "\r\n\r\n#----- begin Japanese support package (2004-jul-27)\r\n"
         "cidToUnicode\tAdobe-Japan1\t" + s + "xpdf/japanese/Adobe-Japan1.cidToUnicode\r\n"
         "unicodeMap\tISO-2022-JP\t" + s + "xpdf/japanese/ISO-2022-JP.unicodeMap\r\n"
         "unicodeMap\tEUC-JP\t\t" + s + "xpdf/japanese/EUC-JP.unicodeMap\r\n"
         "unicodeMap\tShift-JIS\t" + s + "xpdf/japanese/Shift-JIS.unicodeMap\r\n"
         "cMapDir\t\tAdobe-Japan1\t" + s + "xpdf/japanese/CMap\r\n"
         "toUnicodeDir\t\t\t" + s + "xpdf/japanese/CMap\r\n"
         "#displayCIDFontTT\tAdobe-Japan1\t/usr/..../kochi-mincho.ttf\r\n"
         "#----- end Japanese support package\r\n\r\n";
}

TEST_F(ConverterTest, Xdoc2txtOutputIsCompactedShiftJis) {
  // あ い, CR LF, full-width space, abc
  Xdoc2txt("printf '  \\202\\240 \\202\\242\\r\\n\\201\\100abc\\n'\n");
  const int n = ConvertWithXdoc2txt(dir_ + "a.doc", *ctx_, milliseconds(60'000));
  EXPECT_EQ(Text(n), "\x82\xA0 \x82\xA2 abc ");
}

TEST_F(ConverterTest, NoOutputYieldsNothingAndLeavesNoFilesBehind) {
  Xdoc2txt("exit 0\n");
  EXPECT_EQ(ConvertWithXdoc2txt(dir_ + "a.doc", *ctx_, milliseconds(60'000)), 0);
  WriteFile(dir_ + "xpdf/sample-xpdfrc", "# template\n");
  Pdftotext("exit 3\n");
  EXPECT_EQ(ConvertWithPdftotext(dir_ + "a.pdf", *ctx_, milliseconds(60'000)), 0);
  std::vector<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(dir_)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"pdftotext", "sample-xpdfrc", "xdoc2txt", "xpdf",
                                             "xpdfrc"}));
}

TEST_F(ConverterTest, MissingOrUnrunnableConverterIsMinusOne) {
  EXPECT_EQ(ConvertWithXdoc2txt(dir_ + "a.doc", *ctx_, milliseconds(60'000)), -1);
  EXPECT_EQ(ConvertWithPdftotext(dir_ + "a.pdf", *ctx_, milliseconds(60'000)), -1);
  WriteFile(dir_ + "xdoc2txt", "#!/bin/sh\necho hi\n", 0644);  // not executable
  EXPECT_EQ(ConvertWithXdoc2txt(dir_ + "a.doc", *ctx_, milliseconds(60'000)), -1);
}

TEST_F(ConverterTest, HostileFileNamesArriveAsExactlyOneArgument) {
  Xdoc2txt(Recorder());
  const std::string names[] = {
      "it's \"quoted\" $HOME `touch pwned` $(touch pwned) ; & | * x.doc",
      "-n --help.doc",
      "tab\tand\nnewline.doc",
      "\x83\x5C\\back.doc",
  };
  for (const std::string& name : names) {
    ASSERT_EQ(ConvertWithXdoc2txt(dir_ + name, *ctx_, milliseconds(60'000)), 0);
    EXPECT_EQ(SplitNul(ReadAll(dir_ + "args.bin")), std::vector<std::string>{dir_ + name});
    EXPECT_EQ(ReadAll(dir_ + "cwd.txt"), dir_.substr(0, dir_.size() - 1) + "\n");
  }
  EXPECT_FALSE(fs::exists(dir_ + "pwned"));
  EXPECT_FALSE(fs::exists("pwned"));
}

TEST_F(ConverterTest, RelativePathIsAnchoredAtTheCurrentDirectory) {
  Xdoc2txt(Recorder());
  char cwd[PATH_MAX];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  fs::create_directory(dir_ + "docs");
  ASSERT_EQ(chdir((dir_ + "docs").c_str()), 0);
  const int n = ConvertWithXdoc2txt("-rf.doc", *ctx_, milliseconds(60'000));
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(SplitNul(ReadAll(dir_ + "args.bin")), std::vector<std::string>{dir_ + "docs/-rf.doc"});
}

TEST_F(ConverterTest, PdftotextGetsItsOptionsAndRunsInXpdf) {
  Pdftotext(Recorder() + "printf '\\202\\240'\n");
  const std::string doc = dir_ + "my \"report\" $x.pdf";
  EXPECT_EQ(ConvertWithPdftotext(doc, *ctx_, milliseconds(60'000)), 2);
  EXPECT_EQ(SplitNul(ReadAll(dir_ + "args.bin")),
            (std::vector<std::string>{"-enc", "Shift-JIS", "-raw", doc, "-"}));
  EXPECT_EQ(ReadAll(dir_ + "cwd.txt"), dir_ + "xpdf\n");
}

TEST_F(ConverterTest, OutputBeyondTheCapIsReadAndDropped) {
  // 999,999 'a' then 500,001 'b'; the marker shows the converter was not cut off.
  Xdoc2txt("head -c 999999 /dev/zero | tr '\\000' a\nhead -c 500001 /dev/zero | tr '\\000' b\n"
           "echo done > '" + dir_ + "finished'\n");
  const int n = ConvertWithXdoc2txt(dir_ + "big.doc", *ctx_, milliseconds(60'000));
  ASSERT_EQ(n, 999'999);
  EXPECT_EQ(Text(n), std::string(999'999, 'a'));
  EXPECT_EQ(ReadAll(dir_ + "finished"), "done\n");
}

TEST_F(ConverterTest, HungConverterIsKilledAndKeepsWhatItPrinted) {
  Xdoc2txt("printf early\nsleep 600 &\necho $! > '" + dir_ + "helper.pid'\nwait\n");
  const int n = ConvertWithXdoc2txt(dir_ + "a.doc", *ctx_, milliseconds(300));
  EXPECT_EQ(Text(n), "early");
  const pid_t helper = std::stoi(ReadAll(dir_ + "helper.pid"));
  // Killed with its group; init may take a moment to reap it.
  for (int i = 0; i < 2000 && !ProcessGone(helper); ++i) usleep(1000);
  EXPECT_TRUE(ProcessGone(helper));
  // The converter itself was reaped: this process has no children left.
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST_F(ConverterTest, StopKillsTheConverterAtOnce) {
  Xdoc2txt("printf partial\n: > '" + dir_ + "started'\nexec sleep 600\n");
  // With the full time limit, only the stop flag can end this run.
  const int n = ConvertThenStop([&] { return Exists("started"); });
  EXPECT_EQ(Text(n), "partial");
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

TEST_F(ConverterTest, ConverterDeafToTermIsKilledAnyway) {
  Xdoc2txt("trap '' TERM\nprintf stubborn\n: > '" + dir_ + "started'\nwhile :; do sleep 1; done\n");
  const int n = ConvertThenStop([&] { return Exists("started"); });
  EXPECT_EQ(Text(n), "stubborn");
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

TEST_F(ConverterTest, StoppedConverterMayCleanUpFirst) {
  Xdoc2txt("trap 'rm -f \"" + dir_ + "scratch\"; exit 1' TERM\n: > '" + dir_ + "scratch'\n"
           "while :; do sleep 0.01; done\n");
  EXPECT_EQ(ConvertThenStop([&] { return Exists("scratch"); }), 0);
  EXPECT_FALSE(Exists("scratch"));
}

TEST_F(ConverterTest, ConverterInheritsNoDescriptorAndDefaultSigpipe) {
  const int leaked = open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
  ASSERT_GE(leaked, 0);
  const auto old = signal(SIGPIPE, SIG_IGN);
  Xdoc2txt("[ -e /proc/$$/fd/" + std::to_string(leaked) +
           " ] && printf leak\ngrep SigIgn /proc/$$/status\n");
  const int n = ConvertWithXdoc2txt(dir_ + "a.doc", *ctx_, milliseconds(60'000));
  signal(SIGPIPE, old);
  close(leaked);
  const std::string text = Text(n);
  EXPECT_EQ(text.find("leak"), std::string::npos);
  ASSERT_EQ(text.rfind("SigIgn: ", 0), 0u) << text;
  const unsigned long long ignored = std::stoull(text.substr(8, 16), nullptr, 16);
  EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u);
}

TEST_F(ConverterTest, XpdfrcIsTheTemplatePlusOneBlock) {
  WriteFile(dir_ + "xpdf/sample-xpdfrc", "textEncoding\tLatin1\n");
  WriteFile(dir_ + "xpdf/xpdfrc", "old junk\n");
  Pdftotext("exit 0\n");
  ASSERT_EQ(ConvertWithPdftotext(dir_ + "a.pdf", *ctx_, milliseconds(60'000)), 0);
  ASSERT_EQ(ConvertWithPdftotext(dir_ + "a.pdf", *ctx_, milliseconds(60'000)), 0);
  EXPECT_EQ(ReadAll(dir_ + "xpdf/xpdfrc"), "textEncoding\tLatin1\n" + ExpectedBlock(dir_));
}

TEST_F(ConverterTest, WithoutTemplateTheConfigurationIsOneBlockWhateverItHeld) {
  Pdftotext("exit 0\n");
  WriteFile(dir_ + "xpdf/xpdfrc", "old\n");
  for (int run = 0; run < 3; ++run) {
    ASSERT_EQ(ConvertWithPdftotext(dir_ + "a.pdf", *ctx_, milliseconds(60'000)), 0);
  }
  EXPECT_EQ(ReadAll(dir_ + "xpdf/xpdfrc"), ExpectedBlock(dir_));
}

// Helpers that leave the converter's process group (setsid) are found by the
// run's mark and killed too, on a stop and after a normal end alike; a helper
// that keeps printing cannot add to the text once the converter has ended.
TEST_F(ConverterTest, HelperInItsOwnSessionDiesWithTheRun) {
  const std::string helper = "setsid sh -c 'echo $$ > \"" + dir_ + "helper.pid\"; sleep 0.3; while :; do echo noise; done' &\n" +
                             "while [ ! -s '" + dir_ + "helper.pid' ]; do sleep 0.01; done\n";
  for (const bool stop : {true, false}) {
    SCOPED_TRACE(stop ? "stopped" : "ended");
    fs::remove(dir_ + "helper.pid");
    stop_ = false;
    Xdoc2txt(helper + "printf own\n" + (stop ? ": > '" + dir_ + "started'\nexec sleep 600\n" : ""));
    const int n = stop ? ConvertThenStop([&] { return Exists("started"); })
                       : ConvertWithXdoc2txt(dir_ + "a.doc", *ctx_, kConverterTimeout);
    EXPECT_EQ(Text(n), "own");
    const pid_t pid = std::stoi(ReadAll(dir_ + "helper.pid"));
    for (int i = 0; i < 2000 && !ProcessGone(pid); ++i) usleep(1000);
    EXPECT_TRUE(ProcessGone(pid));
    if (!ProcessGone(pid)) kill(pid, SIGKILL);
    fs::remove(dir_ + "started");
  }
}

TEST_F(ConverterTest, UnwritableConfigurationRunsNothing) {
  fs::create_directory(dir_ + "xpdf/xpdfrc");  // cannot be opened for appending, even by root
  Pdftotext(Recorder());
  EXPECT_EQ(ConvertWithPdftotext(dir_ + "a.pdf", *ctx_, milliseconds(60'000)), -1);
  EXPECT_FALSE(fs::exists(dir_ + "args.bin"));
}

TEST_F(ConverterTest, SideBySideRunsEachSeeAWholeConfiguration) {
  const std::string tmpl(20'000, '#');
  WriteFile(dir_ + "xpdf/sample-xpdfrc", tmpl);
  Pdftotext("cat xpdfrc\n");
  std::string expected = tmpl + ExpectedBlock(dir_);
  expected.resize(CompactText(expected.data(), static_cast<int32_t>(expected.size())));
  std::vector<std::unique_ptr<ExtractionContext>> contexts;
  std::vector<std::string> outputs(4);
  std::vector<std::thread> workers;
  for (size_t w = 0; w < outputs.size(); ++w) contexts.push_back(MakeContext());
  for (size_t w = 0; w < outputs.size(); ++w) {
    workers.emplace_back([&, w] {
      for (int i = 0; i < 10; ++i) {
        ExtractionContext& ctx = *contexts[w];
        const int n = ConvertWithPdftotext(dir_ + "a.pdf", ctx, milliseconds(60'000));
        const std::string got = n > 0 ? std::string(ctx.text.get(), n) : "";
        if (got != expected) outputs[w] = got;
      }
    });
  }
  for (auto& t : workers) t.join();
  for (const std::string& bad : outputs) EXPECT_EQ(bad, "");
  EXPECT_EQ(ReadAll(dir_ + "xpdf/xpdfrc"), tmpl + ExpectedBlock(dir_));
}

TEST(ConfigDirectoryForm, TurnsSeparatorsButNotTheSecondByteOfACharacter) {
  EXPECT_EQ(ConfigDirectoryForm("C:\\Tools\\", '\\'), "C:/Tools/");
  // ソ is 0x83 0x5C: its second byte is not a separator.
  EXPECT_EQ(ConfigDirectoryForm("C:\\\x83\x5C\\x\\", '\\'), "C:/\x83\x5C/x/");
  // Here a backslash is part of a name.
  EXPECT_EQ(ConfigDirectoryForm("/opt/a\\b/", '/'), "/opt/a\\b/");
}

TEST_F(ConverterTest, PopplerPdftotextReadsACorpusPdf) {
  const std::string pdf = std::string(KURIBO_CORPUS_DIR) + "/pdf/pdfjs_issue16538.pdf";
  if (access("/usr/bin/pdftotext", X_OK) != 0) GTEST_SKIP() << "poppler-utils not installed";
  if (!fs::exists(pdf)) GTEST_SKIP() << "corpus absent: " << pdf;
  fs::create_symlink("/usr/bin/pdftotext", dir_ + "xpdf/pdftotext");
  const int n = ConvertWithPdftotext(pdf, *ctx_, kConverterTimeout);
  ASSERT_GT(n, 0);
  // 標準 (0x95 0x57 0x8F 0x80) opens the first page.
  EXPECT_NE(Text(n).find("\x95\x57\x8F\x80"), std::string::npos);
}

// Dispatch through the presence flags found at start-up.
class ConverterDispatchTest : public ConverterTest {
 protected:
  // The text dispatch gives `name` (a small file in the program directory).
  std::string TextFor(const std::string& name) {
    auto ctx = MakeExtractionContext(dir_, DetectConverters(dir_));
    WriteFile(dir_ + name, "plain bytes");
    const int32_t n = ExtractDocument(dir_ + name, 11, *ctx);
    return std::string(ctx->text.get(), n);
  }
};

TEST_F(ConverterDispatchTest, PresenceNeedsARegularExecutableFile) {
  EXPECT_FALSE(DetectConverters(dir_).xdoc2txt);
  fs::create_directory(dir_ + "xdoc2txt");
  WriteFile(dir_ + "xpdf/pdftotext", "#!/bin/sh\n", 0644);
  EXPECT_FALSE(DetectConverters(dir_).xdoc2txt);
  EXPECT_FALSE(DetectConverters(dir_).pdftotext);
  fs::remove(dir_ + "xdoc2txt");
  Xdoc2txt("printf XDOC\n");
  fs::remove(dir_ + "xpdf/pdftotext");
  fs::create_symlink("/bin/sh", dir_ + "xpdf/pdftotext");
  EXPECT_TRUE(DetectConverters(dir_).xdoc2txt);
  EXPECT_TRUE(DetectConverters(dir_).pdftotext);
}

TEST_F(ConverterDispatchTest, Xdoc2txtTakesTableAWhateverPdftotextSays) {
  Xdoc2txt("printf XDOC\n");
  Pdftotext("printf PDFT\n");
  for (const char* name : {"a.doc", "b.PDF", "c.odt", "d.jtd", "e.docm", "f.html", "g.eml", "h.123",
                           "i.htm"}) {
    EXPECT_EQ(TextFor(name), "XDOC") << name;
  }
  EXPECT_EQ(TextFor("j.jpg"), "");
}

TEST_F(ConverterDispatchTest, PdftotextTakesPdfOnlyWithoutXdoc2txt) {
  Pdftotext("printf PDFT\n");
  EXPECT_EQ(TextFor("a.pdf"), "PDFT");
  EXPECT_NE(TextFor("b.doc"), "PDFT");
  EXPECT_NE(TextFor("c.odt"), "PDFT");
  fs::remove(dir_ + "xpdf/pdftotext");
  EXPECT_NE(TextFor("a.pdf"), "PDFT");
}

TEST_F(ConverterDispatchTest, ConverterRemovedAfterStartUpYieldsNoText) {
  Xdoc2txt("printf XDOC\n");
  auto ctx = MakeExtractionContext(dir_, DetectConverters(dir_));
  fs::remove(dir_ + "xdoc2txt");
  WriteFile(dir_ + "a.odt", "plain bytes");
  EXPECT_EQ(ExtractDocument(dir_ + "a.odt", 11, *ctx), 0);
}

// The shipped LibreOffice-based converter, placed in the program directory.
class ContribXdoc2txtTest : public ConverterTest {
 protected:
  void SetUp() override {
    if (system("command -v soffice >/dev/null 2>&1") != 0) GTEST_SKIP() << "LibreOffice not installed";
    ConverterTest::SetUp();
    const fs::path source = fs::path(__FILE__).parent_path().parent_path().parent_path().parent_path();
    fs::copy_file(source / "contrib" / "xdoc2txt", dir_ + "xdoc2txt");
    // Its temporary folders land here, where the test can look for leftovers.
    fs::create_directory(dir_ + "tmp");
    const char* old = getenv("TMPDIR");
    oldTmp_ = old ? old : "";
    hadTmp_ = old != nullptr;
    setenv("TMPDIR", (dir_ + "tmp").c_str(), 1);
  }
  void TearDown() override {
    if (hadTmp_) setenv("TMPDIR", oldTmp_.c_str(), 1);
    else unsetenv("TMPDIR");
    ConverterTest::TearDown();
  }
  bool TmpEmpty() const { return fs::is_empty(dir_ + "tmp"); }

  std::string oldTmp_;
  bool hadTmp_ = false;
};

// 見積書 as RTF Unicode escapes, with a Latin word beside it.
const char kRtf[] =
    "{\\rtf1\\ansi\\ansicpg932\\deff0{\\fonttbl{\\f0\\fnil\\fcharset128 Gothic;}}"
    "\\f0 \\u35211?\\u31309?\\u26360? kuribo\\par}";

TEST_F(ContribXdoc2txtTest, RtfWithAHostileNameComesOutAsShiftJis) {
  const std::string doc = dir_ + "-n \"it's\" $(touch pwned) `x`.rtf";
  WriteFile(doc, kRtf);
  const int n = ConvertWithXdoc2txt(doc, *ctx_, kConverterTimeout);
  EXPECT_NE(Text(n).find(Utf8ToSjis("見積書 kuribo")), std::string::npos) << SjisToUtf8(Text(n));
  EXPECT_FALSE(fs::exists(dir_ + "pwned"));
  EXPECT_TRUE(TmpEmpty());
}

TEST_F(ContribXdoc2txtTest, DamagedDocumentYieldsNothingAndCleansUp) {
  std::string damaged = kRtf;
  damaged.resize(20);
  WriteFile(dir_ + "cut.ods", damaged);
  EXPECT_EQ(ConvertWithXdoc2txt(dir_ + "cut.ods", *ctx_, kConverterTimeout), 0);
  EXPECT_TRUE(TmpEmpty());
}

TEST_F(ContribXdoc2txtTest, StoppedConversionLeavesNoTemporaryFolder) {
  WriteFile(dir_ + "a.doc", kRtf);
  // Stop once LibreOffice has begun on its profile.
  ConvertThenStop([&] {
    std::error_code ec;
    for (fs::directory_iterator it(dir_ + "tmp", ec), end; !ec && it != end; it.increment(ec)) {
      if (fs::exists(it->path() / "profile", ec)) return true;
    }
    return false;
  });
  EXPECT_TRUE(TmpEmpty());
}

}  // namespace
}  // namespace kuribo

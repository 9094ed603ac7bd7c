#include "app/search.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <set>
#include <thread>

#include "app/dispatch.h"
#include "extract/office/office.h"
#include "encoding/sjis.h"
#include "support/temp_dir.h"

namespace kuribo {
namespace {

using test::TempDir;

TypeSelection Boxes(std::initializer_list<int> ticked, std::string other = "") {
  TypeSelection t;
  for (int i : ticked) t.checked[i - 1] = true;
  t.other = std::move(other);
  return t;
}

TEST(CandidateTest, ExtensionIsLowerCasedButTheOtherBoxIsNot) {
  EXPECT_TRUE(IsCandidate("/d/a.TXT", Boxes({7})));
  EXPECT_FALSE(IsCandidate("/d/a.TXT", Boxes({1})));
  EXPECT_TRUE(IsCandidate("/d/a.pptm", Boxes({13})));
  EXPECT_TRUE(IsCandidate("/d/a.docx", Boxes({11})));
  // The other box matches any substring of its text.
  const TypeSelection other = Boxes({}, ".bmp ; .jpg");
  EXPECT_TRUE(IsCandidate("/d/x.jpg", other));
  EXPECT_TRUE(IsCandidate("/d/x.BMP", other));
  EXPECT_TRUE(IsCandidate("/d/x.jp", other));
  EXPECT_TRUE(IsCandidate("/d/x.b", other));
  EXPECT_FALSE(IsCandidate("/d/x.png", other));
  // Upper case typed in the box never matches: the file's extension is lower-cased.
  EXPECT_FALSE(IsCandidate("/d/x.PNG", Boxes({}, ".PNG")));
  // No extension, or a dot only in a folder name.
  EXPECT_FALSE(IsCandidate("/d/README", Boxes({}, "README")));
  EXPECT_FALSE(IsCandidate("/d.txt/README", Boxes({7})));
}

TEST(CandidateTest, LowerExtensionTakesTheLastComponent) {
  EXPECT_EQ(LowerExtension("/a.b/c.TaR.GZ"), ".gz");
  EXPECT_EQ(LowerExtension("/a.b/c"), "");
  EXPECT_EQ(LowerExtension("/a/.bashrc"), ".bashrc");
}

TEST(FileTime, FormattedInUtcWithTwoBlanks) {
  // 2008-03-01 09:05:07 UTC (18:05:07 in a UTC+9 zone).
  EXPECT_EQ(FormatFileTime(1204362307), "2008/03/01  09:05:07");
}

#ifndef _WIN32  // named pipes in the file system are POSIX only
// Runs `read` on a named pipe; false when it had to be released by a writer
// (after two seconds: a refusal takes microseconds), that is, when some
// reader waited on the pipe.
bool ReturnsAloneOnAPipe(const std::string& fifo, const std::function<void()>& read) {
  std::atomic<bool> done{false};
  std::atomic<bool> released{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 2000 && !done; ++i) usleep(1000);
    while (!done) {
      const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) {
        released = true;
        close(fd);
      }
      usleep(1000);
    }
  });
  read();
  done = true;
  watchdog.join();
  return !released;
}

// A candidate replaced by a named pipe after the walk is refused at once.
TEST(PipeInPlaceOfADocument, OfficeReadersRefuseItWithoutWaiting) {
  TempDir t;
  auto ctx = MakeExtractionContext(t.path(), {});
  ASSERT_TRUE(ctx->Ready());
  using Reader = int (*)(const std::string&, int32_t, ExtractionContext&);
  for (Reader reader : {Reader(ExtractDocText), Reader(ExtractXlsText), Reader(ExtractPptText)}) {
    const std::string fifo = t.path() + "office.bin";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int n = -2;
    EXPECT_TRUE(ReturnsAloneOnAPipe(fifo, [&] { n = reader(fifo, 4096, *ctx); }));
    EXPECT_LE(n, 0);
    unlink(fifo.c_str());
  }
}

// The same through the dispatch, which reads the document properties of every
// file whatever its type.
TEST(PipeInPlaceOfADocument, DispatchRefusesItWithoutWaitingWhateverTheType) {
  TempDir t;
  auto ctx = MakeExtractionContext(t.path(), {});
  ASSERT_TRUE(ctx->Ready());
  for (const char* ext : {".txt", ".csv", ".html", ".doc", ".xls", ".ppt", ".pdf", ".docx", ".xlsx",
                          ".pptx", ".dwg", ".dxf", ".bmp"}) {
    SCOPED_TRACE(ext);
    const std::string fifo = t.path() + "abc" + ext;
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    char snippet[kSnippetBufferSize];
    int hits = -1;
    EXPECT_TRUE(ReturnsAloneOnAPipe(fifo, [&] {
      hits = ExtractFileText(fifo, fifo, 4096, {"zzz"}, *ctx, snippet);
    }));
    EXPECT_EQ(hits, 0);
    unlink(fifo.c_str());
  }
}
#endif

struct Collected {
  std::vector<ResultRow> rows;
  std::vector<std::string> dirs;
  std::vector<std::string> unreadable;
  size_t lastTotal = 0;
};

Collected Search(std::vector<std::string> keywords, std::vector<std::string> dirs, TypeSelection types,
                 int workers = 1) {
  SearchRequest request;
  for (const std::string& k : keywords) request.keywords.push_back(Utf8ToSjis(k));
  request.directories = std::move(dirs);
  request.types = std::move(types);
  std::vector<std::unique_ptr<ExtractionContext>> contexts;
  for (int i = 0; i < workers; ++i) contexts.push_back(MakeExtractionContext("/nonexistent/", {}));
  Collected c;
  SearchEvents events;
  events.directory = [&](const std::string& d) { c.dirs.push_back(d); };
  events.file = [&](size_t, size_t total, bool, const std::string&) { c.lastTotal = total; };
  events.row = [&](ResultRow&& r) { c.rows.push_back(std::move(r)); };
  events.unreadable = [&](const UnreadableDirectory& d) { c.unreadable.push_back(d.path); };
  std::atomic<bool> stop{false};
  RunSearch(request, contexts, events, stop);
  return c;
}

TEST(SearchRun, FindsFilesThroughTheirPathAlone) {
#ifdef _WIN32
  GTEST_SKIP() << "two of its names differ only in case, one file on Windows";
#endif
  TempDir t;
  // Files without an extractor still match through their path.
  t.Write("report_abc.zzz", "");
  t.Write("REPORT_ABC.zzz", "");
  t.Write("other.zzz", "");
  const std::string fw = "ｒｅｐｏｒｔ＿ＡＢＣ.zzz";
  t.Write(fw, "");
  Collected c = Search({"abc"}, {t.path()}, Boxes({}, ".zzz"));
  ASSERT_EQ(c.rows.size(), 3u);
  std::sort(c.rows.begin(), c.rows.end(), [](auto& a, auto& b) { return a.path < b.path; });
  for (const ResultRow& r : c.rows) {
    EXPECT_EQ(r.hits, 1) << r.path;
    EXPECT_EQ(r.snippet, "");
    EXPECT_EQ(r.type, ".zzz");
  }
  EXPECT_EQ(c.rows[2].name, Utf8ToSjis(fw));
  EXPECT_EQ(c.rows[2].sjisPath, Utf8ToSjis(t.path() + fw));
}

TEST(SearchRun, RowCarriesTypeAsSpelledDateAndTrueSize) {
#ifdef _WIN32
  GTEST_SKIP() << "sets the time with utimensat, which Windows lacks";
#else
  TempDir t;
  const std::string p = t.Write("abc.TXT", std::string(48640, 'x'));
  struct timespec times[2] = {{1204362307, 0}, {1204362307, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
  Collected c = Search({"abc"}, {t.path()}, Boxes({7}));
  ASSERT_EQ(c.rows.size(), 1u);
  EXPECT_EQ(c.rows[0].type, ".TXT");
  EXPECT_EQ(c.rows[0].name, "abc.TXT");
  EXPECT_EQ(c.rows[0].date, "2008/03/01  09:05:07");
  EXPECT_EQ(c.rows[0].size, 48640u);
  EXPECT_EQ(c.rows[0].path, p);
#endif
}

TEST(SearchRun, RepeatedAndNestedDirectoriesListEachFileOnce) {
  TempDir t;
  t.Write("inner/abc1.zzz", "");
  t.Write("abc0.zzz", "");
  TempDir o;
  o.Write("abc2.zzz", "");
#ifdef _WIN32
  const bool links = false;  // symbolic links need a privilege there
#else
  // A link to a folder outside is followed, once however often it is reached.
  ASSERT_EQ(symlink(o.path().c_str(), (t.path() + "share").c_str()), 0);
  ASSERT_EQ(symlink(o.path().c_str(), (t.path() + "inner/share2").c_str()), 0);
  const bool links = true;
#endif
  const std::vector<std::vector<std::string>> runs = {
      {t.path(), t.path()},
      {t.path(), t.path() + "inner/"},
      {t.path() + "inner/", t.path()},
      {t.path(), o.path()},
  };
  for (const auto& dirs : runs) {
    Collected c = Search({"abc"}, dirs, Boxes({}, ".zzz"));
    std::set<std::string> names;
    for (auto& r : c.rows) names.insert(r.path.substr(r.path.rfind('/') + 1));
    std::set<std::string> want = {"abc0.zzz", "abc1.zzz", "abc2.zzz"};
    if (!links && dirs[1] != o.path()) want.erase("abc2.zzz");
    EXPECT_EQ(c.rows.size(), want.size()) << dirs[0] << " " << dirs[1];
    EXPECT_EQ(names, want);
  }
}

TEST(SearchRun, DeepTreesWalkWithFewDescriptors) {
  TempDir t;
  std::string rel;
#ifdef _WIN32
  const int levels = 60;  // within the classic 260-character path limit
#else
  const int levels = 300;
#endif
  for (int i = 0; i < levels; ++i) rel += "d/";
  t.Write(rel + "abc.zzz", "");
#ifndef _WIN32
  // Far fewer descriptors than levels: the walk holds no directory open.
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  struct rlimit low = old;
  low.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  Collected c = Search({"abc"}, {t.path()}, Boxes({}, ".zzz"));
  setrlimit(RLIMIT_NOFILE, &old);
#else
  Collected c = Search({"abc"}, {t.path()}, Boxes({}, ".zzz"));
#endif
  ASSERT_EQ(c.rows.size(), 1u);
  EXPECT_EQ(c.rows[0].path, t.path() + rel + "abc.zzz");
  EXPECT_TRUE(c.unreadable.empty());
}

TEST(SearchRun, DirectoriesThatCannotBeReadAreReported) {
#ifdef _WIN32
  GTEST_SKIP() << "the path limit it passes is the POSIX one";
#else
  TempDir t;
  t.Write("abc0.zzz", "");
  // A path longer than the system takes, made one level at a time.
  const std::string name(200, 'n');
  std::string rel;
  const int cwd = open(".", O_RDONLY | O_DIRECTORY);
  ASSERT_GE(cwd, 0);
  ASSERT_EQ(chdir(t.path().c_str()), 0);
  for (int i = 0; i < 24; ++i) {
    ASSERT_EQ(mkdir(name.c_str(), 0700), 0);
    ASSERT_EQ(chdir(name.c_str()), 0);
    rel += name + "/";
  }
  ASSERT_EQ(fchdir(cwd), 0);
  close(cwd);
  Collected c = Search({"abc"}, {t.path()}, Boxes({}, ".zzz"));
  EXPECT_EQ(c.rows.size(), 1u);
  ASSERT_EQ(c.unreadable.size(), 1u);
  EXPECT_GT(c.unreadable[0].size(), 4096u);
  EXPECT_EQ(c.unreadable[0].substr(0, t.path().size()), t.path());
  // The temporary folder's own removal cannot reach that deep either.
  std::string cleanup = "cd '" + t.path() + "' && rm -rf '" + name + "'";
  if (std::system(cleanup.c_str()) != 0) ADD_FAILURE() << "cleanup";
#endif
}

TEST(SearchRun, DepthFirstWithHiddenEntriesAndLinkCyclesEnd) {
#ifdef _WIN32
  GTEST_SKIP() << "makes symbolic links, which need a privilege on Windows";
#else
  TempDir t;
  t.Write("a/b/.hidden_abc.zzz", "");
  t.Write("a/abc.zzz", "");
  ASSERT_EQ(symlink("..", (t.path() + "a/b/up").c_str()), 0);
  ASSERT_EQ(symlink(t.path().c_str(), (t.path() + "a/loop").c_str()), 0);
  Collected c = Search({"abc"}, {t.path()}, Boxes({}, ".zzz"));
  ASSERT_EQ(c.rows.size(), 2u);
  // Walked once each, though reachable again through the links.
  EXPECT_EQ(std::count(c.dirs.begin(), c.dirs.end(), t.path() + "a/"), 1);
#endif
}

TEST(SearchRun, MissingDirectoryAndPipesGiveNothingAndDoNotBlock) {
#ifdef _WIN32
  GTEST_SKIP() << "makes a named pipe in the file system, which Windows has not";
#else
  TempDir t;
  ASSERT_EQ(mkfifo((t.path() + "abc.txt").c_str(), 0600), 0);
  Collected c = Search({"abc"}, {t.path() + "missing/", t.path()}, Boxes({7}));
  EXPECT_TRUE(c.rows.empty());
#endif
}

TEST(SearchRun, StopEndsTheRunAndKeepsRowsSoFar) {
  TempDir t;
  for (int i = 0; i < 20; ++i) t.Write("abc" + std::to_string(i) + ".zzz", "");
  SearchRequest request;
  request.keywords = {"abc"};
  request.directories = {t.path()};
  request.types = Boxes({}, ".zzz");
  std::vector<std::unique_ptr<ExtractionContext>> contexts;
  contexts.push_back(MakeExtractionContext("/nonexistent/", {}));
  std::atomic<bool> stop{false};
  std::vector<ResultRow> rows;
  SearchEvents events;
  events.row = [&](ResultRow&& r) {
    rows.push_back(std::move(r));
    if (rows.size() == 5) stop = true;
  };
  SearchSummary s = RunSearch(request, contexts, events, stop);
  EXPECT_TRUE(s.stopped);
  EXPECT_GE(rows.size(), 5u);
  EXPECT_LT(rows.size(), 20u);
}

}  // namespace
}  // namespace kuribo

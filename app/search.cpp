#include "app/search.h"

#include <chrono>
#include <climits>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <cstdio>
#include <ctime>
#include <set>
#include <utility>

#include "app/dispatch.h"
#include "encoding/sjis.h"
#include "platform/dir.h"
#include "platform/system.h"

namespace kuribo {

const std::array<TypeBox, kTypeBoxes> kTypeBoxTable = {{
    {".doc (Microsoft Word)  ", ".doc", nullptr},
    {".xls (Microsoft Excel)", ".xls", nullptr},
    {".ppt (Microsoft ppt)", ".ppt", nullptr},
    {".pdf (PDFファイル)", ".pdf", nullptr},
    {".html (HTMLファイル)", ".html", nullptr},
    {".htm (HTMファイル)", ".htm", nullptr},
    {".txt （テキストファイル）", ".txt", nullptr},
    {".csv （CSV形式ファイル）", ".csv", nullptr},
    {".dwg (AUTOCADファイル)", ".dwg", nullptr},
    {".dxf (AUTOCADファイル)", ".dxf", nullptr},
    {".docx/.docm (Microsoft Word)  ", ".docx", ".docm"},
    {".xlsx/.xlsm (Microsoft Excel)", ".xlsx", ".xlsm"},
    {".pptx/.pptm (Microsoft ppt)", ".pptx", ".pptm"},
}};

bool IsCandidate(const std::string& path, const TypeSelection& types) {
  const std::string ext = LowerExtension(path);
  if (ext.empty()) return false;
  for (int i = 0; i < kTypeBoxes; ++i) {
    if (!types.checked[i]) continue;
    const TypeBox& box = kTypeBoxTable[i];
    if (ext == box.ext1 || (box.ext2 && ext == box.ext2)) return true;
  }
  // Any substring of the other-extensions text counts, as typed (not lower-cased).
  return types.other.find(ext) != std::string::npos;
}

std::string FormatFileTime(int64_t secondsSinceEpoch) {
  std::tm tm{};
  if (!UtcTime(secondsSinceEpoch, tm)) return "1970/01/01  00:00:00";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d  %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

namespace {

struct Candidate {
  std::string path;
  int64_t mtime = 0;
  uint64_t size = 0;
};

// Candidates flow from the walk to the workers and their outcomes back to the
// caller's thread, which hands out rows strictly in candidate order.
struct Pipeline {
  std::mutex mutex;
  std::condition_variable workReady;  // workers wait here
  std::condition_variable resultReady;  // the caller waits here
  std::condition_variable walkRoom;  // the walk waits here when far ahead
  std::deque<Candidate> candidates;  // candidates[i - base] is candidate i
  size_t base = 0;
  size_t walked = 0;  // candidates found so far
  bool walkDone = false;
  size_t nextTake = 0;
  size_t nextEmit = 0;
  std::map<size_t, std::pair<int, std::string>> outcomes;  // hits and snippet, by index
  std::vector<std::string> directories;  // entered, not yet reported
  std::vector<UnreadableDirectory> unreadable;  // not yet reported
};

// Workers run at most this far ahead of the rows handed out, so outcomes kept
// for reordering stay few whatever one slow file does.
constexpr size_t kReorderWindow = 4096;
// The walk runs at most this many candidates ahead of the rows handed out, so
// memory stays flat however many files a search meets.
constexpr size_t kWalkAhead = 8192;
// Outcomes a worker stores before it wakes the caller while it has more to take.
constexpr size_t kOutcomeBatch = 32;

// One walk over all the directory arguments of a run: a directory reached again
// (a second argument, one inside another, a link) is not walked twice.
struct Walk {
  const TypeSelection& types;
  const std::atomic<bool>& stop;
  Pipeline& pipe;
  std::set<FileId> visited;

  struct Level {
    std::string dir;
    std::vector<DirEntry> entries;
    size_t next = 0;
  };

  // Lists `dir` and, when it is new to the run, makes it the next level.
  void Enter(const std::string& dir, std::vector<Level>& stack) {
    Level level;
    level.dir = dir;
    FileId id;
    std::string error;
    const bool listed = ListDirectory(dir, level.entries, id, error,
                                      [&](const std::string& name) { return IsCandidate(name, types); });
    FileStatus st;
    // A chosen directory that is not there gives nothing, as it always has.
    if (!listed && stack.empty() && !StatPath(dir, st)) return;
    if (!error.empty()) {
      std::lock_guard<std::mutex> lock(pipe.mutex);
      pipe.unreadable.push_back({dir, error});
    }
    if (!listed || !visited.insert(id).second) return;
    {
      std::lock_guard<std::mutex> lock(pipe.mutex);
      pipe.directories.push_back(dir);
    }
    pipe.resultReady.notify_one();
    stack.push_back(std::move(level));
  }

  // Depth first, entries in the order the file system returns them. Each
  // directory is read whole and closed before its entries are visited, so the
  // depth of a tree costs memory, not open descriptors.
  void Collect(const std::string& root) {
    std::vector<Level> stack;
    Enter(root, stack);
    while (!stack.empty()) {
      if (stop.load(std::memory_order_relaxed)) break;
      Level& top = stack.back();
      if (top.next >= top.entries.size()) {
        stack.pop_back();
        continue;
      }
      const DirEntry& e = top.entries[top.next++];
      std::string path = top.dir + e.name;
      FileStatus st;
      bool haveStat = false;
      bool isDir = e.kind == DirEntry::Kind::kDirectory;
      if (e.kind == DirEntry::Kind::kUnknown) {
        haveStat = StatPath(path, st);
        isDir = haveStat && st.isDirectory;
      }
      if (isDir) {
        Enter(path + "/", stack);  // `top` may move from here on
        continue;
      }
      if (!IsCandidate(path, types)) continue;
      if (e.haveStatus && e.kind == DirEntry::Kind::kFile) {
        st.isRegular = true;
        st.size = e.size;
        st.mtime = e.mtime;
        haveStat = true;
      }
      if (!haveStat && !StatPath(path, st)) continue;
      // Pipes and devices would block or never end; only regular files are read.
      if (!st.isRegular) continue;
      {
        std::unique_lock<std::mutex> lock(pipe.mutex);
        pipe.walkRoom.wait(lock, [&] { return stop.load() || pipe.candidates.size() < kWalkAhead; });
        pipe.candidates.push_back({std::move(path), st.mtime, st.size});
        ++pipe.walked;
      }
      pipe.workReady.notify_one();
    }
  }
};

ResultRow MakeRow(const Candidate& c, int hits, const char* snippet) {
  ResultRow row;
  row.path = c.path;
  size_t slash = c.path.rfind('/');
  std::string name = slash == std::string::npos ? c.path : c.path.substr(slash + 1);
  size_t dot = name.rfind('.');
  row.name = Utf8ToSjis(name);
  row.type = dot == std::string::npos ? std::string() : Utf8ToSjis(name.substr(dot));
  row.hits = hits;
  row.sjisPath = Utf8ToSjis(c.path);
  row.snippet = snippet;
  row.date = FormatFileTime(c.mtime);
  row.size = c.size;
  return row;
}

int32_t ClampSize(uint64_t size) { return size > (uint64_t)INT32_MAX ? INT32_MAX : (int32_t)size; }

}  // namespace

SearchSummary RunSearch(const SearchRequest& request,
                        std::vector<std::unique_ptr<ExtractionContext>>& contexts,
                        const SearchEvents& events, const std::atomic<bool>& stop) {
  SearchSummary summary;
  KeywordList keywords = request.keywords;
  ExpandKeywords(keywords);
  if (contexts.empty()) contexts.push_back(MakeExtractionContext("./", {}));

  Pipeline pipe;
  auto stopped = [&] { return stop.load(std::memory_order_relaxed); };
  std::thread walker([&] {
    Walk walk{request.types, stop, pipe, {}};
    for (const std::string& dir : request.directories) {
      if (stopped()) break;
      walk.Collect(dir);
    }
    {
      std::lock_guard<std::mutex> lock(pipe.mutex);
      pipe.walkDone = true;
    }
    pipe.workReady.notify_all();
    pipe.resultReady.notify_one();
  });

  auto work = [&](ExtractionContext& ctx) {
    // The walk and the rows' hand-out must not queue behind the workers: with
    // eight workers a core each would get a ninth of a core, and the workers
    // would wait for candidates, or for rows to leave, in turn.
    LowerThreadPriority();
    ctx.stop = &stop;
    char snippet[kSnippetBufferSize];
    size_t unreported = 0;
    std::unique_lock<std::mutex> lock(pipe.mutex);
    for (;;) {
      pipe.workReady.wait_for(lock, std::chrono::milliseconds(20), [&] {
        return stopped() || (pipe.nextTake < pipe.walked && pipe.nextTake < pipe.nextEmit + kReorderWindow) ||
               (pipe.walkDone && pipe.nextTake >= pipe.walked);
      });
      if (stopped() || (pipe.walkDone && pipe.nextTake >= pipe.walked)) break;
      if (pipe.nextTake >= pipe.walked || pipe.nextTake >= pipe.nextEmit + kReorderWindow) continue;
      const size_t index = pipe.nextTake++;
      const Candidate c = pipe.candidates[index - pipe.base];
      lock.unlock();
      const int hits = ExtractFileText(c.path, Utf8ToSjis(c.path), ClampSize(c.size), keywords, ctx, snippet);
      lock.lock();
      pipe.outcomes.emplace(index, std::make_pair(hits, hits > 0 ? std::string(snippet) : std::string()));
      // The caller is woken for a batch of outcomes, or when this worker has
      // nothing to take at once: a wake-up per file cost more than small files
      // take to read. The caller also looks every 20 ms.
      const bool more = pipe.nextTake < pipe.walked && pipe.nextTake < pipe.nextEmit + kReorderWindow;
      if (++unreported >= kOutcomeBatch || !more) {
        unreported = 0;
        pipe.resultReady.notify_one();
      }
    }
    ctx.stop = nullptr;
  };
  std::vector<std::thread> workers;
  for (auto& ctx : contexts) workers.emplace_back(work, std::ref(*ctx));

  // Events leave from this thread only, rows in candidate order.
  std::vector<std::string> dirs;
  struct Ready {
    size_t index;
    Candidate candidate;
    int hits;
    std::string snippet;
  };
  std::vector<Ready> ready;
  std::vector<UnreadableDirectory> unreadable;
  for (;;) {
    size_t total;
    bool walkDone;
    {
      std::unique_lock<std::mutex> lock(pipe.mutex);
      pipe.resultReady.wait_for(lock, std::chrono::milliseconds(20), [&] {
        return stopped() || !pipe.directories.empty() || !pipe.unreadable.empty() ||
               pipe.outcomes.count(pipe.nextEmit) ||
               (pipe.walkDone && pipe.nextEmit >= pipe.walked);
      });
      dirs.swap(pipe.directories);
      unreadable.swap(pipe.unreadable);
      for (auto it = pipe.outcomes.find(pipe.nextEmit); it != pipe.outcomes.end() && it->first == pipe.nextEmit;
           it = pipe.outcomes.erase(it)) {
        ready.push_back({it->first, std::move(pipe.candidates.front()), it->second.first,
                         std::move(it->second.second)});
        pipe.candidates.pop_front();
        ++pipe.base;
        ++pipe.nextEmit;
      }
      total = pipe.walked;
      walkDone = pipe.walkDone;
    }
    if (!ready.empty()) {
      pipe.workReady.notify_all();
      pipe.walkRoom.notify_one();
    }
    for (const std::string& d : dirs) {
      if (events.directory) events.directory(d);
    }
    dirs.clear();
    for (UnreadableDirectory& u : unreadable) {
      if (events.unreadable) events.unreadable(u);
      summary.unreadable.push_back(std::move(u));
    }
    unreadable.clear();
    for (Ready& r : ready) {
      if (stopped()) break;
      if (events.file) events.file(r.index, total, walkDone, r.candidate.path);
      if (r.hits > 0) {
        ++summary.rows;
        if (events.row) events.row(MakeRow(r.candidate, r.hits, r.snippet.c_str()));
      }
    }
    ready.clear();
    if (stopped()) break;
    if (walkDone) {
      std::lock_guard<std::mutex> lock(pipe.mutex);
      if (pipe.nextEmit >= pipe.walked) break;
    }
  }
  pipe.workReady.notify_all();
  pipe.walkRoom.notify_all();
  walker.join();
  for (std::thread& t : workers) t.join();
  summary.candidates = pipe.walked;
  summary.stopped = stopped();
  return summary;
}

}  // namespace kuribo

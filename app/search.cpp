#include "app/search.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
  time_t t = (time_t)secondsSinceEpoch;
  struct tm tm {};
  if (!gmtime_r(&t, &tm)) return "1970/01/01  00:00:00";
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
};

// Workers run at most this far ahead of the rows handed out, so outcomes kept
// for reordering stay few whatever one slow file does.
constexpr size_t kReorderWindow = 4096;
// The walk runs at most this many candidates ahead of the rows handed out, so
// memory stays flat however many files a search meets.
constexpr size_t kWalkAhead = 8192;

struct Walk {
  const TypeSelection& types;
  const std::atomic<bool>& stop;
  Pipeline& pipe;
  std::set<std::pair<dev_t, ino_t>> visited;

  // Depth first, entries in the order the file system returns them; a directory
  // reached again (through a link) is not walked twice.
  void Collect(const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    if (!d) return;
    struct stat self;
    if (fstat(dirfd(d), &self) == 0 && !visited.insert({self.st_dev, self.st_ino}).second) {
      closedir(d);
      return;
    }
    {
      std::lock_guard<std::mutex> lock(pipe.mutex);
      pipe.directories.push_back(dir);
    }
    pipe.resultReady.notify_one();
    while (struct dirent* e = readdir(d)) {
      if (stop.load(std::memory_order_relaxed)) break;
      const char* name = e->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      bool isDir = e->d_type == DT_DIR;
      struct stat st;
      bool haveStat = false;
      if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
        haveStat = fstatat(dirfd(d), name, &st, 0) == 0;
        isDir = haveStat && S_ISDIR(st.st_mode);
      }
      if (isDir) {
        Collect(dir + name + "/");
        continue;
      }
      std::string path = dir + name;
      if (!IsCandidate(path, types)) continue;
      if (!haveStat && fstatat(dirfd(d), name, &st, 0) != 0) continue;
      // Pipes and devices would block or never end; only regular files are read.
      if (!S_ISREG(st.st_mode)) continue;
      {
        std::unique_lock<std::mutex> lock(pipe.mutex);
        pipe.walkRoom.wait(lock, [&] { return stop.load() || pipe.candidates.size() < kWalkAhead; });
        pipe.candidates.push_back({std::move(path), (int64_t)st.st_mtime, (uint64_t)st.st_size});
        ++pipe.walked;
      }
      pipe.workReady.notify_one();
    }
    closedir(d);
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
    for (const std::string& dir : request.directories) {
      if (stopped()) break;
      Walk walk{request.types, stop, pipe, {}};
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
    ctx.stop = &stop;
    char snippet[kSnippetBufferSize];
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
      pipe.resultReady.notify_one();
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
  for (;;) {
    size_t total;
    bool walkDone;
    {
      std::unique_lock<std::mutex> lock(pipe.mutex);
      pipe.resultReady.wait_for(lock, std::chrono::milliseconds(20), [&] {
        return stopped() || !pipe.directories.empty() || pipe.outcomes.count(pipe.nextEmit) ||
               (pipe.walkDone && pipe.nextEmit >= pipe.walked);
      });
      dirs.swap(pipe.directories);
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

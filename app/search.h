// The search run: walk, candidate test, extraction and result rows. No toolkit:
// the window and kuribo-search both sit on it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/keywords.h"
#include "extract/context.h"

namespace kuribo {

// The sixteen check-box extensions, grouped as the thirteen boxes.
constexpr int kTypeBoxes = 13;
struct TypeBox {
  const char* caption;  // UTF-8
  const char* ext1;
  const char* ext2;  // null for one-extension boxes
};
extern const std::array<TypeBox, kTypeBoxes> kTypeBoxTable;

struct TypeSelection {
  std::array<bool, kTypeBoxes> checked{};
  std::string other;  // the other-extensions text as typed (UTF-8)
};

// Whether a file name (or path) is a candidate under the selection.
bool IsCandidate(const std::string& path, const TypeSelection& types);

struct ResultRow {
  std::string path;     // file-system bytes (UTF-8): for opening and deleting
  std::string name;     // file name, Shift_JIS
  std::string type;     // extension as spelled on disk, with ".", Shift_JIS
  int hits = 0;
  std::string sjisPath; // full path, Shift_JIS
  std::string snippet;  // Shift_JIS, at most 100 bytes
  std::string date;     // "YYYY/MM/DD  hh:mm:ss", UTC
  uint64_t size = 0;    // true size
};

struct SearchRequest {
  std::vector<std::string> keywords;     // Shift_JIS, as the user listed them
  std::vector<std::string> directories;  // file-system paths, each ending in "/"
  TypeSelection types;
};

// A directory the walk met but could not read (whole or in part).
struct UnreadableDirectory {
  std::string path;    // file-system bytes (UTF-8), ending in "/"
  std::string reason;  // the system's message
};

struct SearchEvents {
  // The walk entered a directory.
  std::function<void(const std::string& dir)> directory;
  // Candidate `index` (from 0) of `total` is being read; total is the count
  // known so far while the walk still runs.
  std::function<void(size_t index, size_t total, bool walkDone, const std::string& path)> file;
  // A file with hits, in candidate order.
  std::function<void(ResultRow&& row)> row;
  // A directory could not be read; the search goes on without it.
  std::function<void(const UnreadableDirectory& dir)> unreadable;
};

struct SearchSummary {
  size_t candidates = 0;
  size_t rows = 0;
  bool stopped = false;
  std::vector<UnreadableDirectory> unreadable;
};

// Runs one search with the given contexts (one per worker, made once by the
// caller). Events come from the calling thread. `stop` ends the run between files.
SearchSummary RunSearch(const SearchRequest& request,
                        std::vector<std::unique_ptr<ExtractionContext>>& contexts,
                        const SearchEvents& events, const std::atomic<bool>& stop);

// "YYYY/MM/DD  hh:mm:ss" of a time in UTC.
std::string FormatFileTime(int64_t secondsSinceEpoch);

}  // namespace kuribo

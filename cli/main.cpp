// kuribo-search: the window's search from the command line.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "app/csv_export.h"
#include "app/dispatch.h"
#include "app/search.h"
#include "encoding/sjis.h"
#include "platform/fs.h"
#include "platform/program_dir.h"
#include "platform/system.h"

using namespace kuribo;

namespace {

const char kUsage[] =
    "usage: kuribo-search -k WORD [-k WORD]... [-t TYPES] [-o OTHER] [-j N] [--csv FILE] DIR...\n"
    "       kuribo-search --extract FILE\n"
    "  -k WORD    keyword (repeatable)\n"
    "  -t TYPES   comma list of .doc,.xls,.ppt,.pdf,.html,.htm,.txt,.csv,.dwg,.dxf,\n"
    "             .docx,.docm,.xlsx,.xlsm,.pptx,.pptm, or all (default: all)\n"
    "  -o OTHER   other extensions, as in the window's box (\".bmp ; .jpg\")\n"
    "  -j N       number of workers (default: two per core)\n"
    "  --csv FILE write the result list as the window's CSV export to FILE\n"
    "  --extract FILE  print the text the matcher sees for FILE\n";

int Usage(const std::string& message) {
  if (!message.empty()) std::cerr << "kuribo-search: " << message << "\n";
  std::cerr << kUsage;
  return 2;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// Cells go on one line: tabs and line breaks become spaces.
std::string Cell(std::string s) {
  for (char& c : s) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return s;
}

bool ParseTypes(const std::string& list, TypeSelection& types, std::string* bad) {
  if (list == "all") {
    types.checked.fill(true);
    return true;
  }
  size_t pos = 0;
  while (pos <= list.size()) {
    size_t comma = list.find(',', pos);
    std::string ext = Trim(list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos));
    pos = comma == std::string::npos ? list.size() + 1 : comma + 1;
    if (ext.empty()) continue;
    if (ext[0] != '.') ext = "." + ext;
    bool found = false;
    for (int i = 0; i < kTypeBoxes; ++i) {
      const TypeBox& box = kTypeBoxTable[i];
      if (ext == box.ext1 || (box.ext2 && ext == box.ext2)) {
        types.checked[i] = true;
        found = true;
      }
    }
    if (!found) {
      *bad = ext;
      return false;
    }
  }
  return true;
}

int Extract(const std::string& file) {
  struct stat st;
  if (stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::cerr << "kuribo-search: cannot read " << file << "\n";
    return 2;
  }
  const std::string programDir = ProgramDirectory();
  auto ctx = MakeExtractionContext(programDir, DetectConverters(programDir));
  if (!ctx->Ready()) {
    std::cerr << "kuribo-search: not enough memory for the extraction buffers\n";
    return 2;
  }
  int32_t size = st.st_size > INT32_MAX ? INT32_MAX : (int32_t)st.st_size;
  int32_t n = ExtractDocument(file, size, *ctx);
  std::cout << SjisToUtf8(std::string_view(ctx->text.get(), (size_t)n)) << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> utf8Args = CommandLineArguments(argc, argv);
  std::vector<char*> utf8Argv;
  for (std::string& a : utf8Args) utf8Argv.push_back(a.data());
  argc = (int)utf8Argv.size();
  argv = utf8Argv.data();
  SearchRequest request;
  bool typesGiven = false;
  int workers = 0;
  std::string csvFile;
  std::vector<std::string> dirs;

  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    std::string attached;  // "-j2" is "-j 2"
    if (a.size() > 2 && a[0] == '-' && a[1] != '-' && std::strchr("ktoj", a[1])) {
      attached = a.substr(2);
      a.resize(2);
    }
    auto value = [&](std::string* out) {
      if (!attached.empty()) {
        *out = attached;
        return true;
      }
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "-h" || a == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (a == "--extract") {
      if (!value(&v) || i + 1 != argc) return Usage("--extract takes exactly one file");
      return Extract(v);
    } else if (a == "-k") {
      if (!value(&v)) return Usage("-k needs a keyword");
      std::string sjis, error;
      std::string word = Trim(v);
      if (!KeywordToSjis(word, &sjis, &error)) return Usage("keyword \"" + v + "\": " + error);
      bool dup = false;
      for (const std::string& k : request.keywords) dup = dup || k == sjis;
      if (!dup) request.keywords.push_back(sjis);
    } else if (a == "-t") {
      if (!value(&v)) return Usage("-t needs a list of extensions");
      std::string bad;
      if (!ParseTypes(v, request.types, &bad)) return Usage("unknown type " + bad);
      typesGiven = true;
    } else if (a == "-o") {
      if (!value(&v)) return Usage("-o needs a text");
      request.types.other = v;
    } else if (a == "-j") {
      if (!value(&v)) return Usage("-j needs a number");
      char* end = nullptr;
      long n = std::strtol(v.c_str(), &end, 10);
      if (*end != '\0' || n < 1 || n > 256) return Usage("-j takes a number from 1 to 256");
      workers = (int)n;
    } else if (a == "--csv") {
      if (!value(&v)) return Usage("--csv needs a file");
      csvFile = v;
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage("unknown option " + a);
    } else {
      dirs.push_back(a);
    }
  }
  if (request.keywords.empty()) return Usage("no keyword (-k)");
  if (dirs.empty()) return Usage("no directory");
  if (!typesGiven && request.types.other.empty()) request.types.checked.fill(true);
  for (std::string d : dirs) {
    if (!IsReadableDirectory(d)) {
      std::cerr << "kuribo-search: cannot read directory " << d << "\n";
      return 2;
    }
    if (d.back() != '/') d += '/';
    request.directories.push_back(d);
  }
  if (workers == 0) workers = DefaultWorkerCount();

  const std::string programDir = ProgramDirectory();
  const ConverterPresence converters = DetectConverters(programDir);
  std::vector<std::unique_ptr<ExtractionContext>> contexts;
  for (int w = 0; w < workers; ++w) contexts.push_back(MakeExtractionContext(programDir, converters));

  const bool progress = isatty(STDERR_FILENO);
  std::vector<ResultRow> rows;
  size_t no = 0;
  SearchEvents events;
  if (progress) {
    events.file = [](size_t index, size_t total, bool walkDone, const std::string& path) {
      std::fprintf(stderr, "\r\033[K(%zu/%zu%s) %s", index + 1, total, walkDone ? "" : "+",
                   path.c_str());
    };
  }
  events.row = [&](ResultRow&& row) {
    ++no;
    if (csvFile.empty()) {
      if (progress) std::fprintf(stderr, "\r\033[K");
      std::cout << no << '\t' << Cell(SjisToUtf8(row.name)) << '\t' << Cell(SjisToUtf8(row.type))
                << '\t' << row.hits << '\t' << Cell(row.path) << '\t' << Cell(SjisToUtf8(row.snippet))
                << '\t' << row.date << '\t' << row.size << '\n';
    } else {
      rows.push_back(std::move(row));
    }
  };
  events.unreadable = [&](const UnreadableDirectory& d) {
    if (progress) std::fprintf(stderr, "\r\033[K");
    std::cerr << "kuribo-search: cannot read directory " << d.path << ": " << d.reason << "\n";
  };
  std::atomic<bool> stop{false};
  SearchSummary summary = RunSearch(request, contexts, events, stop);
  if (progress) std::fprintf(stderr, "\r\033[K");
  std::cout.flush();

  if (!csvFile.empty()) {
    std::ofstream out(csvFile, std::ios::binary | std::ios::trunc);
    const std::string csv = BuildCsv(request.keywords, rows);
    out.write(csv.data(), (std::streamsize)csv.size());
    out.close();
    if (!out) {
      std::cerr << "kuribo-search: cannot write " << csvFile << "\n";
      return 2;
    }
  }
  return summary.rows > 0 ? 0 : 1;
}

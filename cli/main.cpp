// kuribo-search: the window's search from the command line.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
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
    "  -j N       number of workers (default: eight per core)\n"
    "  --csv FILE write the result list as the window's CSV export to FILE\n"
    "  --extract FILE  print the text the matcher sees for FILE\n"
    "  --         end of options\n"
    "Cells are tab-separated; inside them tab, line feed, carriage return and\n"
    "backslash read \\t \\n \\r \\\\, other control characters and bytes that are\n"
    "not UTF-8 read \\xHH.\n";

// Raised by SIGINT, SIGTERM and SIGPIPE: the run stops as the window's stop
// button stops it (converters killed with their groups), the row being written
// is finished, and what was found so far still goes to --csv.
std::atomic<bool> gStop{false};
volatile sig_atomic_t gSignal = 0;

extern "C" void OnSignal(int sig) {
  if (gSignal == 0) gSignal = sig;
  gStop.store(true);
}

void CatchSignals() {
#ifdef _WIN32
  // Ctrl-C and Ctrl-Break reach the C runtime as SIGINT; there is no SIGPIPE.
  for (int sig : {SIGINT, SIGTERM}) signal(sig, OnSignal);
#else
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGINT, SIGTERM, SIGPIPE}) sigaction(sig, &sa, nullptr);
#endif
}

// 128 + the signal, as a shell reports a program it killed.
int SignalStatus(int fallback) { return gSignal != 0 ? 128 + gSignal : fallback; }

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

// Length of the valid UTF-8 sequence at s[i], 0 when the byte starts none.
size_t Utf8SequenceAt(std::string_view s, size_t i) {
  const unsigned char c = (unsigned char)s[i];
  size_t n;
  unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    const unsigned char d = (unsigned char)s[i + k];
    if (d < (k == 1 ? lo : 0x80) || d > (k == 1 ? hi : 0xBF)) return 0;
  }
  return n;
}

// Whether standard output goes where something reads it as it comes.
bool OutputIsFollowed() {
  struct stat st;
  if (isatty(1) || fstat(1, &st) != 0) return true;
#if defined(S_ISSOCK)
  if (S_ISSOCK(st.st_mode)) return true;
#endif
  return S_ISFIFO(st.st_mode);
}

// A cell as it goes on its line: the file's path must stay the file's path and
// nothing in a name may reach the terminal as a control sequence.
std::string Cell(std::string_view s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    // What stands as it is goes in one piece.
    const size_t from = i;
    size_t n = 0;
    for (; i < s.size(); i += n) {
      const unsigned char b = (unsigned char)s[i];
      if (b >= 0x20 && b < 0x7F && b != '\\') {
        n = 1;
        continue;
      }
      n = b < 0x80 ? 0 : Utf8SequenceAt(s, i);
      // C1 controls (U+0080 to U+009F) act on terminals as the C0 ones do.
      if (n == 0 || (n == 2 && b == 0xC2 && (unsigned char)s[i + 1] < 0xA0)) break;
    }
    out.append(s.substr(from, i - from));
    if (i == s.size()) break;
    // A control, a backslash, a C1 control or a byte of no character.
    const unsigned char c = (unsigned char)s[i];
    if (c == '\t' || c == '\n' || c == '\r' || c == '\\') {
      out += '\\';
      out += c == '\t' ? 't' : c == '\n' ? 'n' : c == '\r' ? 'r' : '\\';
      ++i;
      continue;
    }
    for (size_t k = 0; k < (n == 0 ? 1 : n); ++k) {
      const unsigned char b = (unsigned char)s[i + k];
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
    i += n == 0 ? 1 : n;
  }
  return out;
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
    std::cerr << "kuribo-search: cannot read " << Cell(file) << "\n";
    return 2;
  }
  const std::string programDir = ProgramDirectory();
  auto ctx = MakeExtractionContext(programDir, DetectConverters(programDir));
  if (!ctx->Ready()) {
    std::cerr << "kuribo-search: not enough memory for the extraction buffers\n";
    return 2;
  }
  int32_t size = st.st_size > INT32_MAX ? INT32_MAX : (int32_t)st.st_size;
  ctx->stop = &gStop;
  int32_t n = ExtractDocument(file, size, *ctx);
  if (gSignal != 0) return SignalStatus(1);
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
  CatchSignals();
  // To a terminal or a pipe each row leaves whole and at once: a reader that
  // goes away (| head) ends the run at the next row, not when the search is
  // over. Into a file nothing reads along, and a write a row would cost more
  // than small files take to search.
  std::setvbuf(stdout, nullptr, OutputIsFollowed() ? _IOLBF : _IOFBF, 1 << 16);
  SearchRequest request;
  bool typesGiven = false;
  int workers = 0;
  std::string csvFile;
  std::vector<std::string> dirs;
  bool optionsEnded = false;

  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (optionsEnded) {
      dirs.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
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
      std::cerr << "kuribo-search: cannot read directory " << Cell(d) << "\n";
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
                   Cell(path).c_str());
    };
  }
  events.row = [&](ResultRow&& row) {
    ++no;
    if (csvFile.empty()) {
      if (progress) std::fprintf(stderr, "\r\033[K");
      // Name and type from the path's own bytes: the Shift_JIS cells lose
      // what has no Shift_JIS form.
      const size_t slash = row.path.rfind('/');
      const std::string_view name = std::string_view(row.path).substr(slash + 1);
      const size_t dot = name.rfind('.');
      const std::string_view type = dot == std::string_view::npos ? std::string_view() : name.substr(dot);
      std::string line = std::to_string(no) + '\t' + Cell(name) + '\t' + Cell(type) + '\t' +
                         std::to_string(row.hits) + '\t' + Cell(row.path) + '\t' +
                         Cell(SjisToUtf8(row.snippet)) + '\t' + row.date + '\t' +
                         std::to_string(row.size) + '\n';
      std::fwrite(line.data(), 1, line.size(), stdout);
    } else {
      rows.push_back(std::move(row));
    }
  };
  events.unreadable = [&](const UnreadableDirectory& d) {
    if (progress) std::fprintf(stderr, "\r\033[K");
    std::cerr << "kuribo-search: cannot read directory " << Cell(d.path) << ": " << d.reason << "\n";
  };
  SearchSummary summary = RunSearch(request, contexts, events, gStop);
  if (progress) std::fprintf(stderr, "\r\033[K");
  // A reader that went away raised SIGPIPE and is reported as such.
  const bool listed = (std::fflush(stdout) == 0 && !std::ferror(stdout)) || gSignal != 0;

  if (!csvFile.empty() && !WriteFileReplacing(csvFile, BuildCsv(request.keywords, rows))) {
    std::cerr << "kuribo-search: cannot write " << Cell(csvFile) << "\n";
    return 2;
  }
  if (!listed) {
    std::cerr << "kuribo-search: cannot write the result list\n";
    return 2;
  }
  return SignalStatus(summary.rows > 0 ? 0 : 1);
}

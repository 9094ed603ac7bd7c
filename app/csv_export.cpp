#include "app/csv_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "encoding/sjis.h"

namespace kuribo {
namespace {

// A quote inside a cell is doubled, so it cannot close the cell early; a cell
// that a spreadsheet would take for a formula gets a leading apostrophe.
void Quoted(std::string& out, const std::string& cell) {
  out += '"';
  if (!cell.empty() && std::string_view("=+-@\t\r").find(cell[0]) != std::string_view::npos) {
    out += '\'';
  }
  for (size_t i = 0; i < cell.size(); ++i) {
    const unsigned char c = (unsigned char)cell[i];
    out += (char)c;
    if (IsLeadByte(c) && i + 1 < cell.size() && IsTrailByte((unsigned char)cell[i + 1])) {
      out += cell[++i];
    } else if (c == '"') {
      out += '"';
    }
  }
  out += "\",";
}

// Quotes and commas would break the cell; the second byte of a two-byte
// character is never touched.
std::string CleanSnippet(const std::string& s) {
  std::string out = s;
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned char c = (unsigned char)out[i];
    // A quote is no second byte of any character: it would end the cell.
    if (IsLeadByte(c) && i + 1 < out.size() && out[i + 1] != '"') {
      ++i;
    } else if (c == '"' || c == ',') {
      out[i] = ' ';
    }
  }
  return out;
}

// The mode a file replacing `path` gets: the old file's, else what the process
// umask gives a new file (read without changing it: other threads create files).
mode_t NewFileMode(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return st.st_mode & 07777;
  unsigned mask = 022;
  if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
      if (std::sscanf(line, "Umask: %o", &mask) == 1) break;
    }
    std::fclose(f);
  }
  return 0666 & ~(mode_t)mask;
}

}  // namespace

std::string BuildCsv(const std::vector<std::string>& sjisKeywords, const std::vector<ResultRow>& rows) {
  std::string out = "#,";
  for (const std::string& k : sjisKeywords) Quoted(out, k);
  out += "\r\n";
  out += Utf8ToSjis("NO,ファイル名,タイプ,ヒット数,ファイルパス,検索結果,日付,ファイルサイズ");
  out += "\r\n";
  size_t no = 0;
  for (const ResultRow& r : rows) {
    out += std::to_string(++no);
    out += ',';
    Quoted(out, r.name);
    Quoted(out, r.type);
    Quoted(out, std::to_string(r.hits));
    Quoted(out, r.sjisPath);
    out += "\" ";
    out += CleanSnippet(r.snippet);
    out += " \",";
    Quoted(out, r.date);
    Quoted(out, std::to_string(r.size));
    out += "\r\n";
  }
  return out;
}

std::string ExportFileName() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm tm {};
  time_t t = tv.tv_sec;
  localtime_r(&t, &tm);
  return ExportFileNameAt(tm, (int)(tv.tv_usec / 1000));
}

std::string ExportFileNameAt(const struct tm& tm, int milliseconds) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "kuri_export%04d%02d%02d%02d%02d%02d%03d.csv", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, milliseconds);
  return buf;
}

bool WriteFileReplacing(const std::string& path, const std::string& bytes) {
  const size_t slash = path.rfind('/');
  std::string temp = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
                     ".kuribo-XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = true;
  for (size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += (size_t)n;
  }
  // mkostemp makes the file private; the file keeps the mode of the one it
  // replaces, or gets that of any new file.
  ok = fchmod(fd, NewFileMode(path)) == 0 && ok;
  ok = fsync(fd) == 0 && ok;
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace kuribo

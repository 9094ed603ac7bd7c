#include "app/csv_export.h"

#include <cstdio>
#include <ctime>

#include "encoding/sjis.h"
#include "platform/system.h"

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
  int ms = 0;
  const std::tm tm = LocalTimeNow(ms);
  return ExportFileNameAt(tm, ms);
}

std::string ExportFileNameAt(const struct tm& tm, int milliseconds) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "kuri_export%04d%02d%02d%02d%02d%02d%03d.csv", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, milliseconds);
  return buf;
}

}  // namespace kuribo

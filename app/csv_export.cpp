#include "app/csv_export.h"


#include <cstdio>
#include <ctime>

#include "encoding/sjis.h"
#include "platform/system.h"

namespace kuribo {
namespace {

void Quoted(std::string& out, const std::string& cell) {
  out += '"';
  out += cell;
  out += "\",";
}

// Quotes and commas would break the cell; the second byte of a two-byte
// character is never touched.
std::string CleanSnippet(const std::string& s) {
  std::string out = s;
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned char c = (unsigned char)out[i];
    if (IsLeadByte(c)) {
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
  char buf[64];
  std::snprintf(buf, sizeof buf, "kuri_export%04d%02d%02d%02d%02d%02d%02d.csv", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
  return buf;
}

}  // namespace kuribo

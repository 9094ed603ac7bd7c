// One Japanese text saved in every encoding the converter reads and as every
// plain type: a search finds each file with the same hit count.
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "support/encode.h"
#include "support/temp_dir.h"

namespace kuribo {
namespace {

using test::Encode;


std::string RunSearch(const std::string& args) {
  const std::string cmd = std::string(KURIBO_BIN_DIR) + "/kuribo-search " + args + " 2>/dev/null";
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

TEST(TextEncodingsEndToEnd, EveryEncodingAndTypeGivesTheSameHits) {
  const std::string text =
      "見積書の送付について\r\n"
      "　いつもお世話になっております。ご依頼の見積をお送りします。\r\n"
      "品名,数量,金額\r\n"
      "ガイドブック,3,12000\r\n"
      "見積の有効期限は一か月です。\r\n";
  const struct {
    const char* name;
    std::string bytes;
  } forms[] = {
      {"sjis", Encode("CP932", text)},
      {"euc", Encode("EUC-JP", text)},
      {"jis", Encode("ISO-2022-JP", text)},
      {"utf8", text},
      {"utf8bom", "\xEF\xBB\xBF" + text},
      {"utf16", Encode("UTF-16", text)},
  };
  test::TempDir dir;
  int files = 0;
  for (const auto& f : forms) {
    ASSERT_FALSE(f.bytes.empty()) << f.name;
    for (const char* ext : {".txt", ".csv", ".html", ".htm"}) {
      dir.Write(std::string("doc_") + f.name + ext, f.bytes);
      ++files;
    }
  }
  const std::string out = RunSearch("-j2 -k 見積 -t .txt,.csv,.html,.htm " + dir.path());
  // Columns: NO, file name, type, hits, ...
  std::istringstream rows(out);
  std::string row;
  int found = 0;
  while (std::getline(rows, row)) {
    std::istringstream cells(row);
    std::string no, name, type, hits;
    std::getline(cells, no, '\t');
    std::getline(cells, name, '\t');
    std::getline(cells, type, '\t');
    std::getline(cells, hits, '\t');
    EXPECT_EQ(hits, "3") << name;
    ++found;
  }
  EXPECT_EQ(found, files) << out;
}

}  // namespace
}  // namespace kuribo

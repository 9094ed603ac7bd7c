#include "extract/text/plain.h"

#include <unistd.h>

#include "encoding/convert.h"
#include "extract/text/compact.h"
#include "extract/text/walk.h"
#include "platform/fs.h"

namespace kuribo {
namespace {

constexpr int32_t kWalkLimit = 999'999;

}  // namespace

int32_t WalkHtmlText(char* buf, int32_t n) {
  if (n <= 0) return 0;
  return walk::Walk<walk::Mode::kHtml>(reinterpret_cast<unsigned char*>(buf), 0, 0,
                                       n < kWalkLimit ? n : kWalkLimit, n);
}

int32_t WalkCsvText(char* buf, int32_t n) {
  if (n <= 0) return 0;
  return walk::Walk<walk::Mode::kCsv>(reinterpret_cast<unsigned char*>(buf), 0, 0, n, n);
}

int ExtractTextFile(const std::string& path, int32_t, ExtractionContext& ctx) {
  const int32_t n = ConvertFileToShiftJis(path, "-s", ctx.text.get());
  if (n <= 0) return 0;
  return CompactText(ctx.text.get(), n);
}

int ExtractHtmlFile(const std::string& path, int32_t, ExtractionContext& ctx) {
  const int32_t n = ConvertFileToShiftJis(path, "-s", ctx.text.get());
  if (n <= 0) return 0;
  return WalkHtmlText(ctx.text.get(), n);
}

int ExtractCsvFile(const std::string& path, int32_t, ExtractionContext& ctx) {
  const int fd = OpenFileForReading(path);
  if (fd < 0) return 0;
  char* buf = ctx.text.get();
  // One byte more than is walked tells whether the file ends within the walk.
  const size_t got = ReadFully(fd, buf, (size_t)kWalkLimit + 1);
  ::close(fd);
  const bool ended = got <= (size_t)kWalkLimit;
  int32_t n = ended ? (int32_t)got : kWalkLimit;
  // Shift_JIS (and ASCII) is walked as it stands. A CSV file written in another
  // encoding, as spreadsheet exports in UTF-8 now often are, would otherwise
  // yield nothing searchable, so it goes through the converter first.
  const TextEncoding enc =
      DetectTextEncoding(reinterpret_cast<const unsigned char*>(buf), (size_t)n, ended);
  if (enc != TextEncoding::kAscii && enc != TextEncoding::kShiftJis) {
    n = ConvertFileToShiftJis(path, "-s", buf);
    if (n <= 0) return 0;
  }
  return WalkCsvText(buf, n);
}

}  // namespace kuribo

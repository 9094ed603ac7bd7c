#include "extract/text/plain.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "encoding/convert.h"
#include "extract/text/compact.h"
#include "extract/text/walk.h"

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
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char* buf = ctx.text.get();
  int32_t n = 0;
  bool ended = false;
  while (n < kWalkLimit) {
    const ssize_t got = ::read(fd, buf + n, (size_t)(kWalkLimit - n));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ended = true;
      break;
    }
    n += (int32_t)got;
  }
  ::close(fd);
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

#include "extract/text/plain.h"

#include <unistd.h>

#include <cstring>

#include "encoding/convert.h"
#include "extract/text/compact.h"
#include "extract/text/walk.h"
#include "platform/fs.h"

namespace kuribo {
namespace {

constexpr int32_t kWalkLimit = 999'999;

// A file read from its start into the context's file buffer: the whole file in
// one read when it fits, else the first kFileBufferSize bytes with the
// descriptor left open for the rest.
class StartOfFile {
 public:
  StartOfFile(const std::string& path, ExtractionContext& ctx) {
    uint64_t size = 0;
    fd_ = OpenFileForReading(path, &size);
    if (fd_ < 0) return;
    // A size of 0 may be a file whose size its status does not tell; it is read
    // to its end like a large one.
    whole_ = size > 0 && size <= (uint64_t)kFileBufferSize;
    got_ = ReadFully(fd_, ctx.file.get(), whole_ ? (size_t)size : (size_t)kFileBufferSize);
    if (got_ < (size_t)kFileBufferSize) whole_ = true;
    if (whole_) {
      ::close(fd_);
      fd_ = -1;
    }
    ctx.headSize = got_ < sizeof ctx.head ? (int)got_ : (int)sizeof ctx.head;
    std::memcpy(ctx.head, ctx.file.get(), (size_t)ctx.headSize);
    ok_ = true;
  }
  ~StartOfFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  StartOfFile(const StartOfFile&) = delete;
  StartOfFile& operator=(const StartOfFile&) = delete;

  bool ok() const { return ok_; }
  size_t got() const { return got_; }
  // The descriptor to read the rest from, or -1 when the buffer holds the whole file.
  int rest() const { return fd_; }

 private:
  int fd_ = -1;
  size_t got_ = 0;
  bool whole_ = false;
  bool ok_ = false;
};

int32_t ConvertFile(const StartOfFile& f, ExtractionContext& ctx) {
  return ConvertFileStartToShiftJis(ctx.file.get(), f.got(), f.rest(), ctx.text.get());
}

// The same, walked as well where the converter can do both in one pass
// (*walked set); a file read whole is the only kind it can.
int32_t ConvertFile(const StartOfFile& f, ExtractionContext& ctx, TextWalk walk, bool* walked) {
  *walked = false;
  if (f.rest() >= 0) return ConvertFile(f, ctx);
  return ConvertToShiftJisWalked(ctx.file.get(), f.got(), walk, ctx.text.get(), walked);
}

}  // namespace

int32_t WalkHtmlText(char* buf, int32_t n) {
  if (n <= 0) return 0;
  unsigned char* p = reinterpret_cast<unsigned char*>(buf);
  return walk::FastWalk<walk::Mode::kHtml>(p, p, n < kWalkLimit ? n : kWalkLimit, n);
}

int32_t WalkCsvText(char* buf, int32_t n) {
  if (n <= 0) return 0;
  unsigned char* p = reinterpret_cast<unsigned char*>(buf);
  return walk::FastWalk<walk::Mode::kCsv>(p, p, n, n);
}

int ExtractTextFile(const std::string& path, int32_t, ExtractionContext& ctx) {
  StartOfFile f(path, ctx);
  if (!f.ok()) return 0;
  bool walked = false;
  const int32_t n = ConvertFile(f, ctx, TextWalk::kCompact, &walked);
  if (n <= 0) return 0;
  return walked ? n : CompactText(ctx.text.get(), n);
}

int ExtractHtmlFile(const std::string& path, int32_t, ExtractionContext& ctx) {
  StartOfFile f(path, ctx);
  if (!f.ok()) return 0;
  bool walked = false;
  const int32_t n = ConvertFile(f, ctx, TextWalk::kHtml, &walked);
  if (n <= 0) return 0;
  return walked ? n : WalkHtmlText(ctx.text.get(), n);
}

int ExtractCsvFile(const std::string& path, int32_t, ExtractionContext& ctx) {
  StartOfFile f(path, ctx);
  if (!f.ok()) return 0;
  const unsigned char* raw = ctx.file.get();
  // Whether the file ends within the walk.
  const bool ended = f.got() <= (size_t)kWalkLimit;
  const int32_t n = ended ? (int32_t)f.got() : kWalkLimit;
  // Shift_JIS (and ASCII) is walked as it stands, straight from the file
  // buffer. A CSV file written in another encoding, as spreadsheet exports in
  // UTF-8 now often are, would otherwise yield nothing searchable, so it goes
  // through the converter first.
  const TextEncoding enc = DetectTextEncoding(raw, (size_t)n, ended);
  unsigned char* out = reinterpret_cast<unsigned char*>(ctx.text.get());
  if (enc == TextEncoding::kAscii || enc == TextEncoding::kShiftJis) {
    if (n <= 0) return 0;
    return walk::FastWalk<walk::Mode::kCsv>(raw, out, n, n);
  }
  const int32_t m = ConvertFile(f, ctx);
  if (m <= 0) return 0;
  return WalkCsvText(ctx.text.get(), m);
}

}  // namespace kuribo

#include "extract/text/converter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "encoding/sjis.h"
#include "extract/text/compact.h"
#include "platform/fs.h"
#include "platform/process.h"

namespace kuribo {
namespace {

constexpr char kNativeSeparator = '/';

// The converters run in another working directory, so a relative document
// path is anchored here first; an absolute path also never looks like an option.
bool AbsoluteDocumentPath(const std::string& path, std::string& out) {
  if (!path.empty() && path[0] == '/') {
    out = path;
    return true;
  }
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) return false;
  out = cwd;
  if (out.empty() || out.back() != '/') out += '/';
  out += path;
  return true;
}

int RunConverter(std::string program, std::vector<std::string> args, std::string workDir,
                 ExtractionContext& ctx, std::chrono::milliseconds timeout) {
  if (!ctx.Ready()) return -1;
  CaptureRequest request;
  request.program = std::move(program);
  request.args = std::move(args);
  request.workDir = std::move(workDir);
  request.out = ctx.text.get();
  request.cap = kConverterOutputCap;
  request.stop = ctx.stop;
  request.timeout = timeout;
  const CaptureResult run = RunAndCapture(request);
  if (run.ending == CaptureResult::Ending::NotStarted) return -1;
  // CompactText may look one byte past the text.
  ctx.text[run.bytes] = '\0';
  return CompactText(ctx.text.get(), run.bytes);
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Copies the whole of `from` to `to`. False when `from` cannot be opened;
// `writeFailed` is set when `to` could not take the bytes.
bool CopyInto(const std::string& from, int to, bool& writeFailed) {
  const int in = OpenFileForReading(from);
  if (in < 0) return false;
  char buf[16384];
  for (;;) {
    const ssize_t n = read(in, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (!WriteAll(to, buf, static_cast<size_t>(n))) {
      writeFailed = true;
      break;
    }
  }
  close(in);
  return true;
}

std::string JapaneseBlock(const std::string& s) {
  const std::string lines[] = {
      "\n\n#----- begin Japanese support package (2004-jul-27)\n",
      "cidToUnicode\tAdobe-Japan1\t" + s + "xpdf/japanese/Adobe-Japan1.cidToUnicode\n",
      "unicodeMap\tISO-2022-JP\t" + s + "xpdf/japanese/ISO-2022-JP.unicodeMap\n",
      "unicodeMap\tEUC-JP\t\t" + s + "xpdf/japanese/EUC-JP.unicodeMap\n",
      "unicodeMap\tShift-JIS\t" + s + "xpdf/japanese/Shift-JIS.unicodeMap\n",
      "cMapDir\t\tAdobe-Japan1\t" + s + "xpdf/japanese/CMap\n",
      "toUnicodeDir\t\t\t" + s + "xpdf/japanese/CMap\n",
      "#displayCIDFontTT\tAdobe-Japan1\t/usr/..../kochi-mincho.ttf\n",
      "#----- end Japanese support package\n\n",
  };
  std::string block;
  for (const std::string& line : lines) {
    for (char c : line) {
      if (c == '\n') block += '\r';
      block += c;
    }
  }
  return block;
}

}  // namespace

std::string ConfigDirectoryForm(const std::string& dir, char separator) {
  std::string s = dir;
  for (size_t i = 0; i < s.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(s[i]))) {
      ++i;
    } else if (s[i] == separator) {
      s[i] = '/';
    }
  }
  return s;
}

bool RewriteXpdfrc(const std::string& programDir) {
  const std::string xpdfDir = programDir + "xpdf/";
  const std::string config = xpdfDir + "xpdfrc";
  const int probe = open(config.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (probe < 0) return false;
  close(probe);

  std::string temp = xpdfDir + ".xpdfrc.XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool failed = false;
  // Without a template the configuration is the block alone: building on the
  // old file would add one more block with every document.
  CopyInto(xpdfDir + "sample-xpdfrc", fd, failed);
  const std::string block = JapaneseBlock(ConfigDirectoryForm(programDir, kNativeSeparator));
  failed = failed || !WriteAll(fd, block.data(), block.size());
  failed = fchmod(fd, 0644) != 0 || failed;
  failed = close(fd) != 0 || failed;
  if (failed || rename(temp.c_str(), config.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  return true;
}

int ConvertWithXdoc2txt(const std::string& path, ExtractionContext& ctx,
                        std::chrono::milliseconds timeout) {
  std::string document;
  if (!AbsoluteDocumentPath(path, document)) return -1;
  const std::string program = ctx.programDir + "xdoc2txt";
  return RunConverter(program, {program, document}, ctx.programDir, ctx, timeout);
}

int ConvertWithPdftotext(const std::string& path, ExtractionContext& ctx,
                         std::chrono::milliseconds timeout) {
  std::string document;
  if (!AbsoluteDocumentPath(path, document)) return -1;
  if (!RewriteXpdfrc(ctx.programDir)) return -1;
  const std::string program = ctx.programDir + "xpdf/pdftotext";
  return RunConverter(program, {program, "-enc", "Shift-JIS", "-raw", document, "-"},
                      ctx.programDir + "xpdf", ctx, timeout);
}

int ExtractWithXdoc2txt(const std::string& path, int32_t, ExtractionContext& ctx) {
  return ConvertWithXdoc2txt(path, ctx, kConverterTimeout);
}

int ExtractWithPdftotext(const std::string& path, int32_t, ExtractionContext& ctx) {
  return ConvertWithPdftotext(path, ctx, kConverterTimeout);
}

}  // namespace kuribo

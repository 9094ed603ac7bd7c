#include "extract/cad/dxf.h"

#include <unistd.h>

#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "extract/cad/drawing_text.h"
#include "extract/text/compact.h"
#include "platform/fs.h"

namespace kuribo {
namespace {

// Read window for the file; a line or value longer than this is dropped.
constexpr int32_t kWindow = 1 << 20;
// One value (an MTEXT gathered from its pieces) is kept up to this size.
constexpr size_t kMaxValue = 256 * 1024;
constexpr char kBinarySentinel[] = "AutoCAD Binary DXF\r\n\x1A";  // then a zero byte
constexpr size_t kSentinelSize = sizeof(kBinarySentinel);  // the zero included

// Bytes from a descriptor or from memory, seen through a window that slides on.
class Source {
 public:
  Source(const unsigned char* data, int32_t length) : mem_(data), memLen_(length) {}
  Source(int fd, unsigned char* buffer) : fd_(fd), buf_(buffer) {}

  // At least `n` bytes available from the current position, unless the input ends.
  int64_t Available(int32_t n) {
    if (mem_ != nullptr || fd_ < 0) return Avail();
    if (Avail() >= n || eof_) return Avail();
    if (begin_ > 0) {
      std::memmove(buf_, buf_ + begin_, static_cast<size_t>(end_ - begin_));
      end_ -= begin_;
      begin_ = 0;
    }
    while (end_ - begin_ < n && !eof_) {
      const size_t got = ReadFully(fd_, buf_ + end_, static_cast<size_t>(kWindow - end_));
      if (got == 0) eof_ = true;
      end_ += static_cast<int32_t>(got);
      if (end_ == kWindow) break;
    }
    return Avail();
  }
  const unsigned char* Data() const { return mem_ != nullptr ? mem_ + begin_ : buf_ + begin_; }
  void Advance(int64_t n) { begin_ += static_cast<int32_t>(n); }
  bool Windowed() const { return mem_ == nullptr; }

 private:
  int64_t Avail() const { return (mem_ != nullptr ? memLen_ : end_) - begin_; }

  const unsigned char* mem_ = nullptr;
  int32_t memLen_ = 0;
  int fd_ = -1;
  unsigned char* buf_ = nullptr;
  int32_t begin_ = 0;
  int32_t end_ = 0;
  bool eof_ = false;
};

// Which values of which records are text.
enum class Keep { kNo, kText, kMtext };

class Walker {
 public:
  explicit Walker(TextSink& sink) : sink_(sink) {}

  void Pair(int32_t code, std::string_view value) {
    if (code == 0) {
      Flush();
      record_.assign(Trim(value));
      header_ = false;
      return;
    }
    if (record_ == "SECTION" && code == 2) {
      header_ = Trim(value) == "HEADER";
      return;
    }
    if (code == 9) {
      variable_.assign(Trim(value));
      return;
    }
    if (header_ || record_ == "SECTION") {
      Header(code, Trim(value));
      return;
    }
    switch (KeepOf(code)) {
      case Keep::kNo: break;
      case Keep::kText:
        // Anonymous blocks (*D3, *Model_Space) and R12's $MODEL_SPACE are the
        // program's names, not the user's.
        if (code == 2 && !value.empty() && (value[0] == '*' || value[0] == '$')) break;
        sink_.Add(value, false);
        break;
      case Keep::kMtext:
        // A multileader opens each leader line's group under the code of its text.
        if (code == 304 && Trim(value) == "LEADER_LINE{") break;
        // MTEXT and its kin split long text into 250-byte pieces (code 3), the
        // last piece under code 1; a code may run across pieces.
        if (pending_.size() + value.size() <= kMaxValue) pending_.append(value);
        if (code != 3) Flush();
        break;
    }
  }
  void Flush() {
    if (!pending_.empty()) sink_.Add(pending_, true);
    pending_.clear();
  }

 private:
  static std::string_view Trim(std::string_view v) {
    while (!v.empty() && static_cast<unsigned char>(v.front()) <= ' ') v.remove_prefix(1);
    while (!v.empty() && static_cast<unsigned char>(v.back()) <= ' ') v.remove_suffix(1);
    return v;
  }

  // ANSI_1251, DOS866, ISO8859-2, BIG5 ... as a code page number; 0 for none known.
  static unsigned CodePageNumber(std::string_view cp) {
    static constexpr std::pair<std::string_view, unsigned> kNamed[] = {
        {"BIG5", 950}, {"GB2312", 936}, {"KSC5601", 949}, {"JOHAB", 1361},
        {"MACINTOSH", 10000}, {"DOS932", 932}};
    for (const auto& [name, number] : kNamed)
      if (cp == name) return number;
    unsigned base = 0;
    if (cp.rfind("ANSI_", 0) == 0) cp.remove_prefix(5);
    else if (cp.rfind("DOS", 0) == 0) cp.remove_prefix(3);
    else if (cp.rfind("ISO8859-", 0) == 0) { cp.remove_prefix(8); base = 28590; }
    else return 0;
    unsigned n = 0;
    for (char c : cp) {
      if (c < '0' || c > '9' || n > 100000) return 0;
      n = n * 10 + static_cast<unsigned>(c - '0');
    }
    if (base != 0) return n >= 1 && n <= 9 ? (n == 1 ? 1252 : base + n) : 0;
    return n;
  }

  void Header(int32_t code, std::string_view value) {
    if (variable_ == "$ACADVER" && code == 1) {
      // 2007 and later write UTF-8 whatever the code page says.
      utf8_ = value.size() == 6 && value.substr(0, 2) == "AC" && value.substr(2) >= "1021";
      if (utf8_) sink_.SetCharset(Charset::kUtf8);
    } else if (variable_ == "$DWGCODEPAGE" && code == 3 && !utf8_) {
      std::string cp;
      for (char c : value) cp.push_back(static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c));
      if (const unsigned n = CodePageNumber(cp)) sink_.SetCodePage(n);
      else if (cp.rfind("ANSI_", 0) == 0 || cp.rfind("DOS", 0) == 0 || cp.rfind("ISO", 0) == 0 ||
               cp.rfind("MAC", 0) == 0 || cp.rfind("KSC", 0) == 0 || cp.rfind("BIG", 0) == 0 ||
               cp.rfind("GB", 0) == 0 || cp.rfind("JOHAB", 0) == 0)
        sink_.SetCharset(Charset::kAsciiOnly);
    }
  }

  Keep KeepOf(int32_t code) const {
    const std::string& r = record_;
    if (r == "TEXT" || r == "ATTRIB" || r == "ATTDEF") {
      return code == 1 ? Keep::kText : Keep::kNo;
    }
    if (r == "MTEXT") return code == 1 || code == 3 ? Keep::kMtext : Keep::kNo;
    if (r == "DIMENSION" || r == "ARC_DIMENSION" || r == "LARGE_RADIAL_DIMENSION") {
      // "<>" alone stands for the measured value.
      return code == 1 ? Keep::kMtext : Keep::kNo;
    }
    if (r == "MULTILEADER" || r == "MLEADER") return code == 304 ? Keep::kMtext : Keep::kNo;
    if (r == "ACAD_TABLE") {
      return code == 1 || code == 3 || code == 302 || code == 303 ? Keep::kMtext : Keep::kNo;
    }
    if (r == "BLOCK" || r == "LAYER") {
      return code == 2 ? Keep::kText : Keep::kNo;
    }
    if (r == "LAYOUT") return code == 1 ? Keep::kText : Keep::kNo;
    return Keep::kNo;
  }

  TextSink& sink_;
  std::string record_;
  std::string variable_;
  std::string pending_;
  bool header_ = false;
  bool utf8_ = false;
};

// A group code line: optional blanks, an optional sign, digits.
bool ParseCode(std::string_view line, int32_t* code) {
  size_t i = 0;
  while (i < line.size() && static_cast<unsigned char>(line[i]) <= ' ') ++i;
  size_t end = line.size();
  while (end > i && static_cast<unsigned char>(line[end - 1]) <= ' ') --end;
  bool negative = false;
  if (i < end && line[i] == '-') { negative = true; ++i; }
  if (i == end || end - i > 6) return false;
  int32_t v = 0;
  for (; i < end; ++i) {
    if (line[i] < '0' || line[i] > '9') return false;
    v = v * 10 + (line[i] - '0');
  }
  *code = negative ? -v : v;
  return true;
}

// One line from the source, without its end; false at the end of the input.
// A line that does not fit the window is passed over.
bool NextLine(Source& src, std::string_view* line) {
  for (;;) {
    int64_t avail = src.Available(1);
    if (avail <= 0) return false;
    const void* nl = std::memchr(src.Data(), '\n', static_cast<size_t>(avail));
    if (nl == nullptr && src.Windowed()) {
      // The window slides on only when a line crosses its end.
      avail = src.Available(kWindow);
      nl = std::memchr(src.Data(), '\n', static_cast<size_t>(avail));
      if (nl == nullptr && avail >= kWindow) {
        src.Advance(avail);  // an endless line: not text of a drawing
        continue;
      }
    }
    const unsigned char* d = src.Data();
    int64_t len = nl != nullptr ? static_cast<const unsigned char*>(nl) - d : avail;
    const int64_t skip = nl != nullptr ? len + 1 : len;
    if (len > 0 && d[len - 1] == '\r') --len;
    *line = std::string_view(reinterpret_cast<const char*>(d), static_cast<size_t>(len));
    src.Advance(skip);
    return true;
  }
}

void WalkText(Source& src, Walker& walker, TextSink& sink) {
  std::string_view codeLine;
  std::string_view value;
  std::string valueCopy;
  while (!sink.Full() && NextLine(src, &codeLine)) {
    int32_t code = 0;
    if (!ParseCode(codeLine, &code)) continue;  // out of step: look for the next code
    if (!NextLine(src, &value)) break;
    // A zero byte ends the value: what follows it is not text.
    const void* zero = std::memchr(value.data(), 0, value.size());
    if (zero != nullptr) value = value.substr(0, static_cast<const char*>(zero) - value.data());
    walker.Pair(code, value);
  }
  walker.Flush();
}

// Size of a binary value by its group code; -1: a zero-ended string; -2: a
// length byte and that many bytes.
int ValueSize(int32_t code) {
  if ((code >= 0 && code <= 9) || code == 100 || code == 102 || code == 105 ||
      (code >= 300 && code <= 309) || (code >= 320 && code <= 369) || (code >= 390 && code <= 399) ||
      (code >= 410 && code <= 419) || (code >= 430 && code <= 439) || (code >= 470 && code <= 481) ||
      code == 999 || (code >= 1000 && code <= 1003) || (code >= 1005 && code <= 1009)) {
    return -1;
  }
  if ((code >= 310 && code <= 319) || code == 1004) return -2;
  if ((code >= 10 && code <= 59) || (code >= 110 && code <= 149) || (code >= 210 && code <= 239) ||
      (code >= 460 && code <= 469) || (code >= 1010 && code <= 1059)) {
    return 8;
  }
  if ((code >= 60 && code <= 79) || (code >= 170 && code <= 179) || (code >= 270 && code <= 289) ||
      (code >= 370 && code <= 389) || (code >= 400 && code <= 409) || (code >= 1060 && code <= 1070)) {
    return 2;
  }
  if ((code >= 90 && code <= 99) || (code >= 420 && code <= 429) || (code >= 440 && code <= 459) ||
      code == 1071) {
    return 4;
  }
  if (code >= 160 && code <= 169) return 8;
  if (code >= 290 && code <= 299) return 1;
  return 0;  // unknown: the stream cannot be followed
}

// Binary DXF: two-byte group codes, values by code type. A stream that cannot
// be followed ends the walk with what was read so far.
void WalkBinary(Source& src, Walker& walker, TextSink& sink) {
  src.Advance(static_cast<int64_t>(kSentinelSize));
  while (!sink.Full()) {
    if (src.Available(2) < 2) break;
    const unsigned char* d = src.Data();
    const int32_t code = d[0] | (d[1] << 8);
    src.Advance(2);
    const int size = ValueSize(code);
    if (size == 0) break;
    if (size > 0) {
      if (src.Available(size) < size) break;
      src.Advance(size);
      continue;
    }
    int64_t avail = src.Available(256);
    d = src.Data();
    if (size == -2) {
      if (avail < 1 || avail < 1 + d[0]) break;
      src.Advance(1 + d[0]);
      continue;
    }
    const void* zero = std::memchr(d, 0, static_cast<size_t>(avail));
    if (zero == nullptr) {
      avail = src.Available(kWindow);
      d = src.Data();
      zero = std::memchr(d, 0, static_cast<size_t>(avail));
    }
    if (zero == nullptr) break;
    const int64_t len = static_cast<const unsigned char*>(zero) - d;
    walker.Pair(code, std::string_view(reinterpret_cast<const char*>(d), static_cast<size_t>(len)));
    src.Advance(len + 1);
  }
  walker.Flush();
}

int32_t Walk(Source& src, ExtractionContext& ctx) {
  TextSink sink(ctx.text.get());
  Walker walker(sink);
  const int64_t head = src.Available(static_cast<int32_t>(kSentinelSize));
  if (head >= static_cast<int64_t>(kSentinelSize) &&
      std::memcmp(src.Data(), kBinarySentinel, kSentinelSize) == 0) {
    WalkBinary(src, walker, sink);
  } else {
    WalkText(src, walker, sink);
  }
  return CompactText(ctx.text.get(), sink.Length());
}

}  // namespace

int32_t ExtractDxfBytes(const unsigned char* data, int32_t length, ExtractionContext& ctx) {
  if (data == nullptr || length <= 0 || !ctx.Ready()) return 0;
  Source src(data, length);
  return Walk(src, ctx);
}

int ExtractDxfText(const std::string& path, int32_t /*size*/, ExtractionContext& ctx) {
  if (!ctx.Ready()) return 0;
  const int fd = OpenFileForReading(path);
  if (fd < 0) return 0;
  Source src(fd, ctx.file.get());
  const int32_t n = Walk(src, ctx);
  close(fd);
  return n;
}

}  // namespace kuribo

#include "extract/text/openxml.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "encoding/sjis.h"
#include "platform/fs.h"

namespace kuribo {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 character at s[i] (i < len) and moves i past it. A
// malformed sequence yields U+FFFD and consumes only its valid prefix (at least
// one byte), so the bytes after it are decoded on their own.
char32_t DecodeUtf8(const unsigned char* s, size_t len, size_t& i) {
  const unsigned char c = s[i];
  if (c < 0x80) {
    ++i;
    return c;
  }
  int need;
  char32_t cp;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    need = 1;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    need = 2;
    cp = c & 0x0F;
    if (c == 0xE0) lo = 0xA0;  // overlong
    if (c == 0xED) hi = 0x9F;  // surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    need = 3;
    cp = c & 0x07;
    if (c == 0xF0) lo = 0x90;  // overlong
    if (c == 0xF4) hi = 0x8F;  // beyond U+10FFFF
  } else {
    ++i;
    return kReplacement;
  }
  size_t j = i + 1;
  for (int k = 0; k < need; ++k, ++j) {
    if (j >= len) {
      i = j;
      return kReplacement;
    }
    const unsigned char cc = s[j];
    const unsigned char min = k == 0 ? lo : 0x80;
    const unsigned char max = k == 0 ? hi : 0xBF;
    if (cc < min || cc > max) {
      i = j;
      return kReplacement;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  i = j;
  return cp;
}

bool IsByteOrderMark(char32_t cp) { return cp == 0xFEFF || cp == 0xFFFE; }

uint16_t Le16(const unsigned char* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
uint32_t Le32(const unsigned char* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
uint64_t Le64(const unsigned char* p) { return Le32(p) | ((uint64_t)Le32(p + 4) << 32); }

bool IsSignature(const unsigned char* p, unsigned char a, unsigned char b) {
  return p[0] == 'P' && p[1] == 'K' && p[2] == a && p[3] == b;
}

// Where the package's bytes come from: a descriptor read with pread, or memory.
class Source {
 public:
  Source(int fd, uint64_t size) : fd_(fd), size_(size) {}
  Source(const unsigned char* data, uint64_t size) : data_(data), size_(size) {}
  uint64_t size() const { return size_; }
  // Up to n bytes at `offset`; fewer at the end of the package or on an error.
  size_t ReadAt(uint64_t offset, unsigned char* dst, size_t n) const {
    if (offset >= size_) return 0;
    n = (size_t)std::min<uint64_t>(n, size_ - offset);
    if (data_) {
      std::memcpy(dst, data_ + offset, n);
      return n;
    }
    size_t got = 0;
    while (got < n) {
      const ssize_t k = pread(fd_, dst + got, n - got, (off_t)(offset + got));
      if (k < 0 && errno == EINTR) continue;
      if (k <= 0) break;
      got += (size_t)k;
    }
    return got;
  }

 private:
  int fd_ = -1;
  const unsigned char* data_ = nullptr;
  uint64_t size_;
};

// ctx.file as workspace: the central directory, then one chunk of member data
// read and one chunk inflated.
constexpr size_t kDirectoryRoom = 4'700'000;
constexpr size_t kChunk = 150'000;
constexpr size_t kInOffset = kDirectoryRoom;
constexpr size_t kOutOffset = kDirectoryRoom + kChunk;
static_assert(kOutOffset + kChunk <= (size_t)kFileBufferSize);
// A package may not make us inflate more than this in all (a deflate bomb).
constexpr uint64_t kInflateBudget = 1ull << 30;
// Room kept for the small text and property members that follow a large one.
constexpr uint64_t kSmallMember = 64 * 1024;
constexpr uint64_t kReserveCap = 128 * 1024;

// The text so far, filled under the space rule up to `room` bytes.
struct TextSink {
  unsigned char* text;
  int32_t t = 0;
  int32_t room = 0;
  bool full = false;

  void Space() {
    if (t == 0 || text[t - 1] == ' ') return;
    if (t + 1 > room) {
      full = true;
      return;
    }
    text[t++] = ' ';
  }
  void Char(char32_t cp) {
    const int code = cp < 0x10000 ? Utf16ToCp932((char16_t)cp) : -1;
    if (code < 0 || code == 0x8140) return Space();
    if (code >= 0x100) {
      if (t + 2 > room) {
        full = true;
        return;
      }
      text[t++] = (unsigned char)(code >> 8);
      text[t++] = (unsigned char)(code & 0xFF);
      return;
    }
    if (code == ' ' || !IsPrintableSingle((unsigned char)code)) return Space();
    if (t + 1 > room) {
      full = true;
      return;
    }
    text[t++] = (unsigned char)code;
  }
};

enum class Kind { kOther, kWorkbook, kSheet };

bool LocalNameIs(std::string_view local, std::initializer_list<std::string_view> names) {
  for (std::string_view n : names)
    if (local == n) return true;
  return false;
}

// One member's XML, fed in chunks: text between tags is converted from UTF-8
// and appended. Inside a paragraph (w:p, a:p, a shared string si, an inline
// string is, a comment text) tags give no space, so a word split over runs stays whole; the
// boundaries of paragraphs, cells, rows, tabs, breaks and readings give one,
// and outside paragraphs every tag does.
class XmlWalk {
 public:
  XmlWalk(TextSink& sink, Kind kind) : sink_(sink), kind_(kind) {}

  // Walks p[0, n) and returns the bytes consumed: all but a UTF-8 character
  // cut off at the end, unless `last`.
  size_t Feed(const unsigned char* p, size_t n, bool last) {
    size_t i = 0;
    while (i < n && !done_ && !sink_.full) {
      const unsigned char c = p[i];
      if (inTag_) {
        ++i;
        if (c == '>') {
          inTag_ = false;
          Tag();
        } else if (tagLength_ < sizeof tag_) {
          tag_[tagLength_++] = c;
        }
        continue;
      }
      if (c == '<') {
        ++i;
        inTag_ = true;
        tagLength_ = 0;
        continue;
      }
      if (c >= 0x80 && !last && i + SequenceLength(c) > n) break;
      const char32_t cp = DecodeUtf8(p, n, i);
      if (cp == 0) {
        done_ = true;  // a member's text ends at its first zero byte
      } else if (first_ && IsByteOrderMark(cp)) {
      } else if (!skipValue_) {
        sink_.Char(cp);
      }
      first_ = false;
    }
    return done_ || sink_.full ? n : i;
  }
  // No more of this member is wanted.
  bool Finished() const { return done_ || sink_.full; }
  // The member ends: a tag left open runs to its end and gives one space.
  void End() {
    if (inTag_ && !Finished()) sink_.Space();
    inTag_ = false;
  }

 private:
  static size_t SequenceLength(unsigned char c) {
    return c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  }

  // The value of attribute `want` in the tag, or nothing.
  bool Attribute(std::string_view tag, std::string_view want, std::string_view& value) const {
    size_t i = 0;
    while (i < tag.size() && tag[i] != ' ' && tag[i] != '\t' && tag[i] != '\r' && tag[i] != '\n')
      ++i;
    while (i < tag.size()) {
      while (i < tag.size() && (tag[i] == ' ' || tag[i] == '\t' || tag[i] == '\r' || tag[i] == '\n'))
        ++i;
      const size_t nameStart = i;
      while (i < tag.size() && tag[i] != '=' && tag[i] != ' ' && tag[i] != '/') ++i;
      const std::string_view name = tag.substr(nameStart, i - nameStart);
      while (i < tag.size() && tag[i] == ' ') ++i;
      if (i >= tag.size() || tag[i] != '=') {
        ++i;
        continue;
      }
      ++i;
      while (i < tag.size() && tag[i] == ' ') ++i;
      if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) continue;
      const char quote = tag[i++];
      const size_t valueStart = i;
      while (i < tag.size() && tag[i] != quote) ++i;
      if (name == want) {
        value = tag.substr(valueStart, i - valueStart);
        return true;
      }
      ++i;
    }
    return false;
  }

  void Tag() {
    const std::string_view tag(reinterpret_cast<const char*>(tag_), tagLength_);
    const bool closing = !tag.empty() && tag[0] == '/';
    const bool empty = !tag.empty() && tag.back() == '/';
    size_t end = closing ? 1 : 0;
    while (end < tag.size() && tag[end] != ' ' && tag[end] != '\t' && tag[end] != '\r' &&
           tag[end] != '\n' && tag[end] != '/')
      ++end;
    std::string_view local = tag.substr(closing ? 1 : 0, end - (closing ? 1 : 0));
    if (const size_t colon = local.rfind(':'); colon != std::string_view::npos)
      local = local.substr(colon + 1);

    if (LocalNameIs(local, {"p", "si", "is", "text"})) {
      if (closing) {
        if (depth_ > 0) --depth_;
      } else if (!empty) {
        ++depth_;
      }
      sink_.Space();
    } else if (depth_ == 0 ||
               LocalNameIs(local, {"tab", "ptab", "br", "cr", "tc", "tr", "c", "row", "rt", "rPh",
                                   "txbxContent", "instrText", "drawing", "pict", "object",
                                   "posOffset", "align", "pctWidth", "pctHeight", "fldData"})) {
      // Readings, field codes and the numbers that place a drawing are not
      // part of the words around them.
      sink_.Space();
    }

    if (kind_ == Kind::kSheet) {
      std::string_view type;
      if (local == "c" && !closing) {
        sharedCell_ = !empty && Attribute(tag, "t", type) && type == "s";
      } else if (local == "c") {
        sharedCell_ = false;
      } else if (local == "v") {
        // A shared-string cell holds an index into the table, which gives its text.
        skipValue_ = sharedCell_ && !closing && !empty;
      }
    } else if (kind_ == Kind::kWorkbook && local == "sheet" && !closing) {
      std::string_view name;
      if (Attribute(tag, "name", name)) {
        const auto* s = reinterpret_cast<const unsigned char*>(name.data());
        size_t i = 0;
        while (i < name.size() && !sink_.full) sink_.Char(DecodeUtf8(s, name.size(), i));
        sink_.Space();
      }
    }
  }

  TextSink& sink_;
  const Kind kind_;
  unsigned char tag_[512];
  size_t tagLength_ = 0;
  bool inTag_ = false;
  bool first_ = true;
  bool done_ = false;
  int depth_ = 0;
  bool sharedCell_ = false;
  bool skipValue_ = false;
};

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
  return out;
}

// Members are read in this order; kSkip members cannot hold text.
enum Rank : int {
  kDocument = 0, kSlides, kSharedStrings, kSheets, kNotes, kComments, kHeaders, kFooters,
  kFootnotes, kDrawings, kProperties, kRest, kSkip
};
constexpr int kLastTextRank = kProperties;

Rank RankOf(std::string_view rawName, Kind* kind) {
  const std::string name = Lower(rawName);
  *kind = Kind::kOther;
  if (name.empty() || name.back() == '/') return kSkip;
  const size_t slash = name.rfind('/');
  const std::string_view base = std::string_view(name).substr(slash == std::string::npos ? 0 : slash + 1);
  const size_t dot = base.rfind('.');
  const std::string_view ext = dot == std::string_view::npos ? "" : base.substr(dot + 1);
  static constexpr std::string_view kBinary[] = {
      "png", "jpg", "jpeg", "jpe", "jfif", "gif", "bmp", "dib", "tif", "tiff", "emf", "wmf",
      "emz", "wmz", "wdp", "jxr", "hdp", "ico", "svg", "pict", "pct", "webp", "heic", "eps",
      "bin", "odttf", "ttf", "otf", "fntdata", "eot", "woff", "woff2", "mp3", "mp4", "m4a",
      "m4v", "wav", "wma", "wmv", "avi", "mov", "mpg", "mpeg", "mid", "midi", "aif", "aiff",
      "ogg", "swf", "docx", "docm", "xlsx", "xlsm", "xlsb", "pptx", "pptm", "sldx", "doc",
      "xls", "ppt", "pdf", "zip", "cab", "exe", "dll", "ole", "dat", "sigs"};
  for (std::string_view b : kBinary)
    if (ext == b) return kSkip;
  auto under = [&](std::string_view dir) { return name.compare(0, dir.size(), dir) == 0; };
  auto baseStarts = [&](std::string_view s) { return base.compare(0, s.size(), s) == 0; };
  if (ext != "xml") return under("docprops/") ? kProperties : kRest;
  if (under("word/") && slash == 4) {
    if (baseStarts("document")) return kDocument;
    if (baseStarts("comments")) return kComments;
    if (baseStarts("header")) return kHeaders;
    if (baseStarts("footer")) return kFooters;
    if (baseStarts("footnotes") || baseStarts("endnotes")) return kFootnotes;
  }
  if (under("ppt/slides/")) return kSlides;
  if (under("ppt/notesslides/")) return kNotes;
  if (under("ppt/comments/") || under("xl/threadedcomments/")) return kComments;
  if (name == "xl/workbook.xml") {
    *kind = Kind::kWorkbook;
    return kDocument;
  }
  if (name == "xl/sharedstrings.xml") return kSharedStrings;
  if (under("xl/worksheets/") && slash == 13) {
    *kind = Kind::kSheet;
    return kSheets;
  }
  if (under("xl/") && baseStarts("comments")) return kComments;
  if (under("xl/drawings/") || under("ppt/diagrams/") || under("word/diagrams/") ||
      under("xl/diagrams/") || name.find("/charts/chart") != std::string::npos)
    return kDrawings;
  if (under("docprops/")) return kProperties;
  return kRest;
}

class Inflater {
 public:
  Inflater() { ok_ = inflateInit2(&z_, -15) == Z_OK; }
  ~Inflater() {
    if (ok_) inflateEnd(&z_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  // Ready for a new member, nothing of the last one's input left.
  bool Reset() {
    z_.next_in = nullptr;
    z_.avail_in = 0;
    return ok_ && inflateReset(&z_) == Z_OK;
  }
  z_stream& z() { return z_; }

 private:
  z_stream z_{};
  bool ok_ = false;
};

struct MemberResult {
  bool ended = false;      // the deflate stream (or the stored data) ended
  uint64_t consumed = 0;   // compressed bytes taken
};

class PackageWalk {
 public:
  PackageWalk(const Source& source, ExtractionContext& ctx)
      : source_(source),
        work_(ctx.file.get()),
        sink_{reinterpret_cast<unsigned char*>(ctx.text.get())} {}

  int32_t Run() {
    if (!FromCentralDirectory()) FromLocalHeaders();
    sink_.text[sink_.t] = 0;
    return sink_.t;
  }

 private:
  struct Entry {
    uint32_t nameOffset;  // in the directory copy at work_
    uint16_t nameLength;
    uint16_t flags, method;
    uint64_t compressedSize, size, headerOffset;
    int rank;
    Kind kind;
    uint32_t index;
  };

  // Reads `compressed` bytes of member data at `offset` (UINT64_MAX: until the
  // deflate stream ends) through the XML walk, leaving `reserve` bytes of room.
  MemberResult Member(uint64_t offset, uint64_t compressed, uint16_t method, Kind kind,
                      uint64_t reserve) {
    MemberResult result;
    const int32_t limit = kOpenXmlTextLimit;
    sink_.room = (int32_t)std::max<int64_t>(sink_.t, (int64_t)limit - (int64_t)reserve);
    sink_.full = sink_.t >= sink_.room;
    if (sink_.full) return result;
    XmlWalk walk(sink_, kind);
    unsigned char* const in = work_ + kInOffset;
    unsigned char* const out = work_ + kOutOffset;
    const uint64_t available = offset < source_.size() ? source_.size() - offset : 0;
    const uint64_t total = std::min(compressed, available);
    size_t carry = 0;  // an unfinished UTF-8 character kept at out[0]
    if (method == 0) {
      uint64_t done = 0;
      while (done < total && !walk.Finished()) {
        const size_t want = (size_t)std::min<uint64_t>(kChunk - carry, total - done);
        const size_t got = source_.ReadAt(offset + done, out + carry, want);
        if (got == 0) break;
        done += got;
        const size_t have = carry + got;
        const size_t used = walk.Feed(out, have, done >= total);
        carry = have - used;
        std::memmove(out, out + used, carry);
      }
      if (carry && !walk.Finished()) walk.Feed(out, carry, true);
      walk.End();
      result.ended = done >= total && compressed != UINT64_MAX;
      result.consumed = done;
      return result;
    }
    if (method != 8 || !inflater_.Reset()) return result;
    z_stream& z = inflater_.z();
    uint64_t read = 0;
    int rc = Z_OK;
    while (!walk.Finished() && rc == Z_OK) {
      if (z.avail_in == 0) {
        if (read >= total) break;
        const size_t got =
            source_.ReadAt(offset + read, in, (size_t)std::min<uint64_t>(kChunk, total - read));
        if (got == 0) break;
        read += got;
        z.next_in = in;
        z.avail_in = (uInt)got;
      }
      z.next_out = out + carry;
      z.avail_out = (uInt)(kChunk - carry);
      rc = inflate(&z, Z_SYNC_FLUSH);
      if (rc == Z_BUF_ERROR) rc = Z_OK;  // no progress possible yet: more input comes
      const size_t produced = kChunk - carry - z.avail_out;
      inflated_ += produced;
      if (inflated_ > kInflateBudget) {
        budgetSpent_ = true;
        break;
      }
      const size_t have = carry + produced;
      const bool last = rc != Z_OK;
      const size_t used = walk.Feed(out, have, last);
      carry = have - used;
      std::memmove(out, out + used, carry);
    }
    if (carry && !walk.Finished()) walk.Feed(out, carry, true);
    walk.End();
    result.ended = rc == Z_STREAM_END;
    result.consumed = read - z.avail_in;
    return result;
  }

  bool FromCentralDirectory() {
    const uint64_t size = source_.size();
    if (size < 22) return false;
    // The end record sits in the last 22 bytes plus a comment of up to 65,535.
    const size_t tailLength = (size_t)std::min<uint64_t>(size, 22 + 65535);
    const uint64_t tailStart = size - tailLength;
    if (source_.ReadAt(tailStart, work_, tailLength) != tailLength) return false;
    size_t e = tailLength - 22 + 1;
    bool found = false;
    while (e-- > 0) {
      if (IsSignature(work_ + e, 5, 6)) {
        found = true;
        break;
      }
    }
    if (!found) return false;
    uint64_t count = Le16(work_ + e + 10);
    uint64_t dirSize = Le32(work_ + e + 12);
    uint64_t dirOffset = Le32(work_ + e + 16);
    uint64_t dirEnd = tailStart + e;
    // ZIP64: a locator just before the end record names the larger record.
    if (e >= 20 && IsSignature(work_ + e - 20, 6, 7)) {
      const uint64_t recordOffset = Le64(work_ + e - 20 + 8);
      unsigned char record[56];
      if (recordOffset < dirEnd && source_.ReadAt(recordOffset, record, 56) == 56 &&
          IsSignature(record, 6, 6)) {
        count = Le64(record + 32);
        dirSize = Le64(record + 40);
        dirOffset = Le64(record + 48);
        dirEnd = recordOffset;
      }
    }
    if (dirOffset > dirEnd || dirSize > dirEnd - dirOffset || count == 0) return false;
    const size_t length = (size_t)std::min<uint64_t>(dirSize, kDirectoryRoom);
    if (source_.ReadAt(dirOffset, work_, length) != length) return false;

    std::vector<Entry> entries;
    size_t p = 0;
    while (p + 46 <= length && IsSignature(work_ + p, 1, 2)) {
      const unsigned char* h = work_ + p;
      const size_t nameLength = Le16(h + 28), extraLength = Le16(h + 30);
      const size_t next = p + 46 + nameLength + extraLength + Le16(h + 32);
      if (p + 46 + nameLength + extraLength > length) break;
      Entry entry{(uint32_t)(p + 46), (uint16_t)nameLength, Le16(h + 8), Le16(h + 10),
                  Le32(h + 20), Le32(h + 24), Le32(h + 42), kRest, Kind::kOther,
                  (uint32_t)entries.size()};
      // ZIP64 extra field: the 8-byte values of the fields that read all ones.
      const unsigned char* x = h + 46 + nameLength;
      for (size_t k = 0; k + 4 <= extraLength;) {
        const size_t fieldLength = Le16(x + k + 2);
        if (Le16(x + k) == 1) {
          size_t v = k + 4;
          const size_t fieldEnd = std::min(k + 4 + fieldLength, extraLength);
          for (uint64_t* field : {&entry.size, &entry.compressedSize, &entry.headerOffset}) {
            if (*field != 0xFFFFFFFFu) continue;
            if (v + 8 > fieldEnd) break;
            *field = Le64(x + v);
            v += 8;
          }
        }
        k += 4 + fieldLength;
      }
      entry.rank = RankOf(std::string_view(reinterpret_cast<const char*>(work_) + entry.nameOffset,
                                           nameLength),
                          &entry.kind);
      if (entry.rank != kSkip && !(entry.flags & 1)) entries.push_back(entry);
      p = next;
    }
    if (entries.empty()) return p > 0 && IsSignature(work_, 1, 2);
    // One member is read once, however many entries point at it.
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
      return a.headerOffset != b.headerOffset ? a.headerOffset < b.headerOffset : a.index < b.index;
    });
    entries.erase(std::unique(entries.begin(), entries.end(),
                              [](const Entry& a, const Entry& b) {
                                return a.headerOffset == b.headerOffset;
                              }),
                  entries.end());
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
      return a.rank != b.rank ? a.rank < b.rank : a.index < b.index;
    });
    // What the small text and property members still to come may need.
    std::vector<uint64_t> reserve(entries.size() + 1, 0);
    for (size_t i = entries.size(); i-- > 0;) {
      const Entry& x = entries[i];
      const bool small = x.rank <= kLastTextRank && x.size <= kSmallMember;
      reserve[i] = std::min(kReserveCap, reserve[i + 1] + (small ? x.size : 0));
    }
    bool anyHeader = false;
    for (size_t i = 0; i < entries.size() && sink_.t < kOpenXmlTextLimit && !budgetSpent_; ++i) {
      const Entry& x = entries[i];
      unsigned char header[30];
      if (source_.ReadAt(x.headerOffset, header, 30) != 30 || !IsSignature(header, 3, 4)) continue;
      anyHeader = true;
      const uint64_t data = x.headerOffset + 30 + Le16(header + 26) + Le16(header + 28);
      Member(data, x.compressedSize, x.method, x.kind, reserve[i + 1]);
    }
    // Offsets that lead nowhere (bytes put before the archive): walk the headers.
    return anyHeader;
  }

  // The offset of the next local header at or after `from`, or the end of the
  // package when a central directory header or the end comes first.
  uint64_t NextLocalHeader(uint64_t from) {
    unsigned char* const window = work_ + kInOffset;
    while (from + 4 <= source_.size()) {
      const size_t got = source_.ReadAt(from, window, kChunk);
      if (got < 4) break;
      for (size_t i = 0; i + 4 <= got; ++i) {
        if (IsSignature(window + i, 1, 2)) return source_.size();
        if (IsSignature(window + i, 3, 4)) return from + i;
      }
      from += got - 3;
    }
    return source_.size();
  }

  // Without a central directory: the local headers in file order.
  void FromLocalHeaders() {
    bool trustStreamEnd = true;  // cleared once a stream failed to end
    uint64_t p = NextLocalHeader(0);
    unsigned char header[30];
    unsigned char* const name = work_;  // no directory in this walk
    while (p + 30 <= source_.size() && sink_.t < kOpenXmlTextLimit && !budgetSpent_) {
      if (source_.ReadAt(p, header, 30) != 30) break;
      const uint16_t flags = Le16(header + 6), method = Le16(header + 8);
      uint64_t compressed = Le32(header + 18);
      const size_t nameLength = Le16(header + 26);
      const uint64_t data = p + 30 + nameLength + Le16(header + 28);
      if (data > source_.size()) break;
      const size_t gotName = source_.ReadAt(p + 30, name, nameLength);
      Kind kind;
      const Rank rank = RankOf(std::string_view(reinterpret_cast<char*>(name), gotName), &kind);
      const bool unsized = compressed == 0 && (flags & 0x08);
      if (unsized && method == 8 && trustStreamEnd) {
        // Sizes in a data descriptor: a deflated member ends where its stream ends.
        MemberResult r;
        if (rank != kSkip && !(flags & 1)) r = Member(data, UINT64_MAX, method, kind, 0);
        // A member whose text stopped early (full room, a zero byte) still has an end.
        if (!r.ended) r = Skim(data);
        trustStreamEnd = r.ended;
        p = NextLocalHeader(r.ended ? data + r.consumed : data);
        continue;
      }
      if (!unsized && rank != kSkip && !(flags & 1)) Member(data, compressed, method, kind, 0);
      p = NextLocalHeader(unsized || compressed > source_.size() - data ? data : data + compressed);
    }
  }

  // Inflates a member that gives no text only to learn where it ends.
  MemberResult Skim(uint64_t offset) {
    MemberResult result;
    if (!inflater_.Reset()) return result;
    z_stream& z = inflater_.z();
    unsigned char* const in = work_ + kInOffset;
    unsigned char* const out = work_ + kOutOffset;
    uint64_t read = 0;
    int rc = Z_OK;
    while (rc == Z_OK) {
      if (z.avail_in == 0) {
        const size_t got = source_.ReadAt(offset + read, in, kChunk);
        if (got == 0) break;
        read += got;
        z.next_in = in;
        z.avail_in = (uInt)got;
      }
      z.next_out = out;
      z.avail_out = (uInt)kChunk;
      rc = inflate(&z, Z_SYNC_FLUSH);
      if (rc == Z_BUF_ERROR) rc = Z_OK;
      inflated_ += kChunk - z.avail_out;
      if (inflated_ > kInflateBudget) {
        budgetSpent_ = true;
        break;
      }
    }
    result.ended = rc == Z_STREAM_END;
    result.consumed = read - z.avail_in;
    return result;
  }

  const Source& source_;
  unsigned char* const work_;
  TextSink sink_;
  Inflater inflater_;
  uint64_t inflated_ = 0;
  bool budgetSpent_ = false;
};
}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  std::u16string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const char32_t cp = DecodeUtf8(s, utf8.size(), i);
    if (cp >= 0x10000) {
      out.push_back((char16_t)(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back((char16_t)(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back((char16_t)cp);
    }
  }
  return out;
}

std::string Utf16ToShiftJis(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size() * 2);
  size_t i = 0;
  if (!utf16.empty() && IsByteOrderMark(utf16[0])) i = 1;
  for (; i < utf16.size(); ++i) {
    const char16_t u = utf16[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      ++i;
      out.push_back(' ');
      continue;
    }
    AppendCp932(out, u, ' ');
  }
  return out;
}

size_t Utf8ToShiftJis(const unsigned char* src, size_t length, unsigned char* dst) {
  size_t i = 0, w = 0;
  bool first = true;
  while (i < length) {
    const size_t start = i;
    const char32_t cp = DecodeUtf8(src, length, i);
    if (first) {
      first = false;
      if (IsByteOrderMark(cp)) continue;
    }
    const int code = cp < 0x10000 ? Utf16ToCp932((char16_t)cp) : -1;
    // A two-byte code from a one-byte character would overtake the input.
    if (code < 0 || (code >= 0x100 && i - start < 2)) {
      dst[w++] = ' ';
    } else if (code < 0x100) {
      dst[w++] = (unsigned char)code;
    } else {
      dst[w++] = (unsigned char)(code >> 8);
      dst[w++] = (unsigned char)(code & 0xFF);
    }
  }
  return w;
}

std::string Utf8ToShiftJis(std::string_view utf8) {
  std::string out(utf8.size(), '\0');
  const size_t n = Utf8ToShiftJis(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size(),
                                  reinterpret_cast<unsigned char*>(out.data()));
  out.resize(n);
  return out;
}

int ExtractOpenXmlFile(const std::string& path, int32_t, ExtractionContext& ctx) {
  if (!ctx.Ready()) return 0;
  const int fd = OpenFileForReading(path);
  if (fd < 0) return 0;
  struct stat st;
  int32_t n = 0;
  if (fstat(fd, &st) == 0 && st.st_size >= 0) {
    const Source source(fd, (uint64_t)st.st_size);
    n = PackageWalk(source, ctx).Run();
  }
  close(fd);
  return n;
}

int32_t ExtractOpenXmlPackage(const unsigned char* data, size_t length, ExtractionContext& ctx) {
  if (!ctx.Ready()) return 0;
  const Source source(data, length);
  return PackageWalk(source, ctx).Run();
}

}  // namespace kuribo

// Excel binary workbooks (BIFF2 to BIFF8): a walk over the record chain that
// turns cell labels, sheet names, drawing-object and text-box texts, formula
// string results and the shared strings into text.
#include <cstring>

#include "encoding/sjis.h"
#include "extract/office/office.h"
#include "extract/office/office_common.h"
#include "extract/text/compact.h"

namespace kuribo {
namespace {

using office::ByteAt;
using office::U16At;
using office::U32At;

constexpr int32_t kOutStop = 983'544;
// A hard ceiling far above what the walk can reach, kept for hostile records.
constexpr int32_t kOutCeiling = kTextBufferSize - 16;
constexpr int32_t kByteCap = 8'227;
constexpr int32_t kSimpleCap = 8'226;
constexpr int32_t kLineCut = 8'225;

constexpr uint16_t kContinue = 0x003C;
constexpr uint16_t kSst = 0x00FC;
constexpr uint16_t kTxo = 0x01B6;

// The option bytes of a shared-string entry that are read: 8-bit or UTF-16,
// with or without formatting runs and phonetic block.
bool IsStringOption(uint32_t opt) { return (opt & ~0x0Du) == 0; }

class Walker {
 public:
  Walker(const unsigned char* file, int32_t n, char* out) : f_(file), n_(n), out_(out) {}

  int32_t Run() {
    int64_t pos = 0;
    while (pos < (int64_t)n_ - 4 && len_ < kOutStop) {
      const uint32_t type = U16At(f_, n_, pos);
      const uint32_t len = U16At(f_, n_, pos + 2);
      if (state_ != 0 && pos + 4 + len > n_) break;
      DetectBof(type, len, pos + 4);
      if (state_ != 0) Handle(type, pos + 4, len);
      if (state_ == 0) {
        pos += 4;
      } else {
        pos += 4 + len;
        if (type != kContinue) prevType_ = type;
      }
    }
    return CompactText(out_, len_);
  }

 private:
  // A pending shared string: its characters not yet read, and the bytes of
  // formatting runs and phonetic block that follow them.
  struct Pending {
    bool active = false;
    int64_t chars = 0;
    int64_t trailing = 0;
    // outLen right after the line of the string's first piece; the next piece
    // joins it when nothing was written in between.
    int64_t joinAt = -1;
  };

  void DetectBof(uint32_t type, uint32_t len, int64_t d) {
    if (type == 0x0009 && len == 4) {
      state_ = 2;
    } else if (type == 0x0209 && len == 6) {
      state_ = 3;
    } else if (type == 0x0409 && len == 6) {
      state_ = 4;
    } else if (type == 0x0809 && len >= 8) {
      state_ = U16At(f_, n_, d) == 0x0500 && len == 8 ? 5 : 8;
    }
  }

  void Handle(uint32_t type, int64_t d, int64_t len) {
    switch (type) {
      case 0x0004:
        if (state_ == 2) Simple(d, len, 8);
        break;
      case 0x0204:
        if (state_ == 8) {
          Biff8Label(d, len);
        } else {
          Simple(d, len, 8);
        }
        break;
      case 0x008F:
        if (state_ == 4) Simple(d, len, 5);
        break;
      case 0x0085:
        if (state_ == 8) {
          Biff8SheetName(d, len);
        } else {
          Simple(d, len, 7);
        }
        break;
      case 0x0007:
        if (state_ == 2) Counted(d + 1, ByteAt(f_, n_, d), d + len);
        break;
      case 0x0207:
        if (state_ == 8) {
          Biff8String(d, len);
        } else if (state_ >= 3) {
          Counted(d + 2, U16At(f_, n_, d), d + len);
        }
        break;
      case 0x005D:
        if ((state_ == 5 || state_ == 8) && len >= 83) {
          DrawingText(d + 82, len - 82);
        } else if (state_ == 4 && len >= 63) {
          DrawingText(d + 62, len - 62);
        }
        break;
      case kSst:
        if (state_ == 8) {
          pending_ = Pending();
          Entries(d + 8, d + len);
        }
        break;
      case kContinue:
        if (state_ != 8) break;
        if (prevType_ == kSst) {
          SstContinue(d, d + len);
        } else if (prevType_ == kTxo) {
          TextBox(d, len);
          prevType_ = 0;
        }
        break;
      default:
        break;
    }
  }

  bool Room(int64_t bytes) const { return len_ + bytes <= kOutCeiling; }

  // Bytes from `from` up to the first NUL, at most `cap` and not past `limit`.
  int64_t TextLength(int64_t from, int64_t cap, int64_t limit, bool stopAtLineFeed) const {
    int64_t k = 0;
    while (k < cap && from + k < limit && from + k < n_) {
      unsigned char c = f_[from + k];
      if (c == 0 || (stopAtLineFeed && c == 0x0A)) break;
      ++k;
    }
    return k;
  }

  void PutBytes(int64_t from, int64_t k) {
    if (k <= 0 || !Room(k)) return;
    std::memcpy(out_ + len_, f_ + from, (size_t)k);
    len_ += (int32_t)k;
  }
  void PutChar(char c) {
    if (Room(1)) out_[len_++] = c;
  }

  // Cell label, sheet name: bytes taken as Shift_JIS, then a space. The space
  // is written even when a NUL ends the text early, so neighbouring labels
  // never run together.
  void Simple(int64_t d, int64_t len, int64_t start) {
    if (len < start) return;
    int64_t k = len < kSimpleCap ? len : kSimpleCap;
    PutBytes(d + start, TextLength(d + start, k - start, d + k, false));
    PutChar(' ');
  }

  // Formula result strings before BIFF8: a count, then the 8-bit characters.
  void Counted(int64_t chars, int64_t count, int64_t end) {
    int64_t k = count < kSimpleCap ? count : kSimpleCap;
    if (chars + k > end) k = end - chars;
    if (k < 0) return;
    PutBytes(chars, TextLength(chars, k, end, false));
    PutChar(' ');
  }

  // Characters of a BIFF8 string: `count` characters at `from`, 8-bit or
  // UTF-16, ending at the first zero and not past `limit`. Returns bytes written.
  int64_t PutChars(int64_t from, int64_t count, bool wide, int64_t limit) {
    if (count > kByteCap) count = kByteCap;
    if (count <= 0) return 0;
    if (!wide) {
      int64_t k = TextLength(from, count, limit, false);
      PutBytes(from, k);
      return k;
    }
    int64_t units = count;
    if (from + 2 * units > limit) units = (limit - from) / 2;
    if (from + 2 * units > n_) units = (n_ - from) / 2;
    if (units <= 0 || !Room(2 * units)) return 0;
    int32_t w = office::Utf16LeToSjis(f_ + from, (int32_t)units, out_ + len_);
    len_ += w;
    return w;
  }

  // A line: written only when not empty, cut to kLineCut bytes, then " \n".
  void EndLine(int64_t start, bool always = false) {
    if (len_ == start && !always) return;
    if (len_ - start > kLineCut) len_ = (int32_t)(start + kLineCut);
    PutChar(' ');
    PutChar('\n');
  }

  void Biff8SheetName(int64_t d, int64_t len) {
    if (len < 9) return;
    uint32_t cch = ByteAt(f_, n_, d + 6);
    uint32_t opt = ByteAt(f_, n_, d + 7);
    if (opt > 1) return;
    int64_t start = len_;
    PutChars(d + 8, cch < kSimpleCap ? cch : kSimpleCap, opt == 1, d + len);
    EndLine(start);
  }

  // BIFF8 cell labels carry an option byte before the characters. Excel 95
  // writes worksheet BOFs that look like BIFF8 but labels without that byte:
  // a label whose length fits count + 8-bit characters is read the old way.
  void Biff8Label(int64_t d, int64_t len) {
    const uint32_t cch = U16At(f_, n_, d + 6);
    const uint32_t opt = ByteAt(f_, n_, d + 8);
    if (len < 9 || len == 8 + (int64_t)cch || opt > 1) {
      Simple(d, len, 8);
      return;
    }
    PutChars(d + 9, cch, opt == 1, d + len);
    PutChar(' ');
  }

  // BIFF8 formula result: count, option byte, characters.
  void Biff8String(int64_t d, int64_t len) {
    if (len < 3) return;
    uint32_t opt = ByteAt(f_, n_, d + 2);
    PutChars(d + 3, U16At(f_, n_, d), (opt & 0x01) != 0, d + len);
    PutChar(' ');
  }

  void DrawingText(int64_t from, int64_t avail) {
    int64_t k = avail < kSimpleCap ? avail : kSimpleCap;
    PutBytes(from, TextLength(from, k, from + k, true));
    PutChar(' ');
  }

  void TextBox(int64_t d, int64_t len) {
    if (len < 1) return;
    uint32_t opt = ByteAt(f_, n_, d);
    if (opt > 1) return;
    int64_t start = len_;
    int64_t count = opt == 1 ? (len - 1) / 2 : len - 1;
    PutChars(d + 1, count, opt == 1, d + len);
    EndLine(start);
  }

  // Whole shared-string entries from `e` to the record end; the last one may
  // continue in the next CONTINUE record.
  void Entries(int64_t e, int64_t recEnd) {
    while (e < recEnd - 3) {
      const uint32_t cch = U16At(f_, n_, e);
      const uint32_t opt = ByteAt(f_, n_, e + 2);
      if (!IsStringOption(opt)) return;
      int64_t header = 3, runs = 0, ext = 0;
      if (opt & 0x08) {
        runs = U16At(f_, n_, e + 3);
        header += 2;
      }
      if (opt & 0x04) {
        ext = U32At(f_, n_, e + header);
        header += 4;
      }
      if (e + header > recEnd) return;
      const bool wide = (opt & 0x01) != 0;
      const int64_t size = wide ? 2 : 1;
      const int64_t trailing = 4 * runs + ext;
      const int64_t chars = e + header;
      const int64_t here = (recEnd - chars) / size < cch ? (recEnd - chars) / size : cch;
      int64_t start = len_;
      PutChars(chars, here, wide, recEnd);
      EndLine(start);
      if (here < cch) {
        pending_ = Pending{true, cch - here, trailing, len_ > start ? len_ : -1};
        return;
      }
      e = chars + cch * size + trailing;
      if (e > recEnd) {
        pending_ = Pending{true, 0, e - recEnd, -1};
        return;
      }
    }
  }

  // A continued string starts again with an option byte saying whether its
  // remaining characters are 8-bit or UTF-16; the writer may change that
  // between the pieces.
  void SstContinue(int64_t d, int64_t recEnd) {
    int64_t e = d;
    if (pending_.active && pending_.chars > 0) {
      if (e >= recEnd) return;
      const bool wide = (ByteAt(f_, n_, e) & 0x01) != 0;
      ++e;
      const int64_t size = wide ? 2 : 1;
      int64_t here = (recEnd - e) / size;
      if (here > pending_.chars) here = pending_.chars;
      const bool joined = pending_.joinAt == len_ && len_ >= 2;
      if (joined) len_ -= 2;
      const int64_t start = len_;
      PutChars(e, here, wide, recEnd);
      EndLine(start, joined);
      e += here * size;
      pending_.chars -= here;
      pending_.joinAt = len_ > start ? len_ : -1;
      if (pending_.chars > 0) return;
    }
    if (pending_.active && pending_.trailing > 0) {
      int64_t skip = recEnd - e < pending_.trailing ? recEnd - e : pending_.trailing;
      e += skip;
      pending_.trailing -= skip;
      if (pending_.trailing > 0) return;
    }
    pending_ = Pending();
    Entries(e, recEnd);
  }

  const unsigned char* f_;
  const int32_t n_;
  char* out_;
  int32_t len_ = 0;
  int state_ = 0;
  uint32_t prevType_ = 0;
  Pending pending_;
};

}  // namespace

int32_t DecodeExcelBytes(const unsigned char* file, int32_t n, char* out) {
  return Walker(file, n, out).Run();
}

int ExtractXlsText(const std::string& path, int32_t, ExtractionContext& ctx) {
  if (!ctx.Ready()) return 0;
  int32_t n = office::LoadDocumentBytes(path, {"Workbook", "Book"}, 0, ctx.file.get());
  if (n < 5) return 0;
  return DecodeExcelBytes(ctx.file.get(), n, ctx.text.get());
}

}  // namespace kuribo

// Text values of drawings turned into code page 932: the drawing's character
// set decoded, escapes (\\U+XXXX, \\M+1XXXX, %%d) and paragraph formatting codes
// taken out. Shared by the DXF and DWG readers.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "encoding/codepage_tables.h"
#include "encoding/sjis.h"
#include "extract/context.h"

namespace kuribo {

enum class Charset { kShiftJis, kUtf8, kCp1252, kAsciiOnly, kTable };

// Code page 1252 above 0x7F as UTF-16; 0 where it has no character.
inline constexpr char16_t kCp1252High[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0, 0x017D, 0, 0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

// The code page a DWG header names by its index; 0 for one it cannot name.
inline unsigned DwgCodePage(unsigned index) {
  static constexpr unsigned short kPages[] = {
      0,    20127, 28591, 28592, 28593, 28594, 28595, 28596, 28597, 28598, 28599, 437,
      850,  852,   855,   857,   860,   861,   863,   864,   865,   869,   932,   10000,
      950,  949,   1361,  866,   1250,  1251,  1252,  936,   1253,  1254,  1255,  1256,
      1257, 874,   932,   936,   949,   950,   1361,  0,     1258};
  return index < sizeof kPages / sizeof kPages[0] ? kPages[index] : 0;
}

// Appends values to a text buffer, each followed by a space, until
// kMaxTextLength bytes would be passed.
class TextSink {
 public:
  explicit TextSink(char* text) : text_(text) {}

  bool Full() const { return full_; }
  int32_t Length() const { return out_; }
  void SetCharset(Charset c) { charset_ = c; }
  // A Windows or DOS code page by number: one with no table keeps ASCII only.
  void SetCodePage(unsigned cp) {
    if (cp == 932) return SetCharset(Charset::kShiftJis);
    if (cp == 1252) return SetCharset(Charset::kCp1252);
    for (size_t i = 0; i < tables::kCodePageCount; ++i) {
      if (tables::kCodePages[i].codePage == cp) {
        table_ = &tables::kCodePages[i];
        return SetCharset(Charset::kTable);
      }
    }
    SetCharset(Charset::kAsciiOnly);
  }

  // `mtext`: the value may hold paragraph formatting codes.
  // `utf8`: the value is UTF-8 whatever the drawing's character set.
  void Add(std::string_view value, bool mtext, bool utf8 = false) {
    if (value == "<>") return;  // a dimension's measured value, not text
    line_.clear();
    const Charset saved = charset_;
    if (utf8) charset_ = Charset::kUtf8;
    Decode(value);
    charset_ = saved;
    if (mtext) StripFormatting();
    Emit();
  }

 private:
  void Unit(char32_t cp) {
    if (cp < 0x80) {
      line_.push_back(static_cast<char>(cp));
    } else if (cp <= 0xFFFF) {
      AppendCp932(line_, static_cast<char16_t>(cp), '?');
    } else {
      line_.push_back('?');
    }
  }

  static int Hex(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  }
  static int32_t HexRun(std::string_view s, size_t at, int digits) {
    if (at + digits > s.size()) return -1;
    int32_t v = 0;
    for (int i = 0; i < digits; ++i) {
      const int h = Hex(static_cast<unsigned char>(s[at + i]));
      if (h < 0) return -1;
      v = v * 16 + h;
    }
    return v;
  }

  // Bytes of the drawing's character set, escapes decoded, into line_.
  void Decode(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
      const unsigned char c = static_cast<unsigned char>(s[i]);
      if (c == '\\' && i + 2 < s.size() && s[i + 2] == '+') {
        if (s[i + 1] == 'U' || s[i + 1] == 'u') {
          const int32_t cp = HexRun(s, i + 3, 4);
          if (cp >= 0) {
            Unit(static_cast<char32_t>(cp));
            i += 7;
            continue;
          }
        } else if (s[i + 1] == 'M' || s[i + 1] == 'm') {
          // \M+nXXXX: a double-byte character of an Asian code page; n = 1 is 932.
          const int32_t code = HexRun(s, i + 4, 4);
          if (i + 3 < s.size() && code >= 0) {
            if (s[i + 3] == '1' && IsLeadByte(static_cast<unsigned char>(code >> 8))) {
              line_.push_back(static_cast<char>(code >> 8));
              line_.push_back(static_cast<char>(code & 0xFF));
            } else {
              line_.push_back('?');
            }
            i += 8;
            continue;
          }
        }
      }
      if (c == '%' && i + 2 < s.size() && s[i + 1] == '%') {
        const char k = static_cast<char>(s[i + 2] | 0x20);
        if (k == 'd') { Unit(0x00B0); i += 3; continue; }
        if (k == 'p') { Unit(0x00B1); i += 3; continue; }
        if (k == 'c') { Unit(0x2205); i += 3; continue; }
        if (k == 'u' || k == 'o' || k == 'k') { i += 3; continue; }
        if (s[i + 2] == '%') { line_.push_back('%'); i += 3; continue; }
      }
      if (c < 0x80) {
        line_.push_back(static_cast<char>(c));
        ++i;
        continue;
      }
      switch (charset_) {
        case Charset::kShiftJis:
          line_.push_back(static_cast<char>(c));
          if (IsLeadByte(c) && i + 1 < s.size()) line_.push_back(s[++i]);
          ++i;
          break;
        case Charset::kUtf8: {
          int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
          char32_t cp = extra == 3 ? (c & 0x07) : extra == 2 ? (c & 0x0F) : (c & 0x1F);
          size_t j = i + 1;
          for (int k = 0; k < extra && ok(j, s); ++k, ++j) {
            cp = (cp << 6) | (static_cast<unsigned char>(s[j]) & 0x3F);
          }
          if (extra < 0 || j - i != static_cast<size_t>(extra) + 1) {
            line_.push_back('?');
            i = extra < 0 ? i + 1 : j;
          } else {
            Unit(cp);
            i = j;
          }
          break;
        }
        case Charset::kCp1252: {
          const char16_t u = c < 0xA0 ? kCp1252High[c - 0x80] : c;
          Unit(u == 0 ? U'?' : u);
          ++i;
          break;
        }
        case Charset::kAsciiOnly:
          line_.push_back('?');
          ++i;
          break;
        case Charset::kTable: {
          unsigned code = c;
          if (IsTableLead(c) && i + 1 < s.size()) code = c << 8 | static_cast<unsigned char>(s[++i]);
          const int32_t u = TableUnit(code);
          Unit(u < 0 ? U'?' : static_cast<char32_t>(u));
          ++i;
          break;
        }
      }
    }
  }
  bool IsTableLead(unsigned char c) const {
    return std::memchr(table_->leads, c, table_->leadCount) != nullptr;
  }
  // The tables list codes in rising order.
  int32_t TableUnit(unsigned code) const {
    size_t lo = 0, hi = table_->count;
    while (lo < hi) {
      const size_t mid = (lo + hi) / 2;
      const unsigned k = table_->pairs[2 * mid];
      if (k == code) return table_->pairs[2 * mid + 1];
      if (k < code) lo = mid + 1; else hi = mid;
    }
    return -1;
  }
  static bool ok(size_t j, std::string_view s) {
    return j < s.size() && (static_cast<unsigned char>(s[j]) & 0xC0) == 0x80;
  }

  // Paragraph text codes: \P and \~ become spaces, \\ \{ \} their characters,
  // codes with a parameter up to ';' and one-letter toggles go, braces go.
  void StripFormatting() {
    std::string out;
    out.reserve(line_.size());
    const std::string& s = line_;
    for (size_t i = 0; i < s.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(s[i]);
      if (IsLeadByte(c) && i + 1 < s.size()) {  // line_ is code page 932 by now
        out.push_back(s[i]);
        out.push_back(s[++i]);
        continue;
      }
      if (c == '{' || c == '}') continue;
      if (c != '\\' || i + 1 >= s.size()) {
        out.push_back(static_cast<char>(c));
        continue;
      }
      const char k = s[++i];
      switch (k) {
        case 'P': case 'X': case '~': case 'n': case 'N':  // \N: column break
          out.push_back(' ');
          break;
        case '\\': case '{': case '}':
          out.push_back(k);
          break;
        case 'L': case 'l': case 'O': case 'o': case 'K': case 'k':
          break;
        case 'S': {  // stacked text: its parts, apart from what precedes them
          out.push_back(' ');
          size_t j = i + 1;
          while (j < s.size() && s[j] != ';') {
            const char d = s[j];
            out.push_back(d == '^' || d == '/' || d == '#' ? ' ' : d);
            ++j;
          }
          out.push_back(' ');
          i = j;
          break;
        }
        case 'A': case 'a': case 'C': case 'c': case 'F': case 'f': case 'H': case 'h':
        case 'Q': case 'q': case 'T': case 't': case 'W': case 'w': case 'p': {
          size_t j = i + 1;
          while (j < s.size() && s[j] != ';') ++j;
          i = j;  // the ';' itself, or the end
          break;
        }
        default:
          out.push_back('\\');
          out.push_back(k);
      }
    }
    line_.swap(out);
  }

  void Emit() {
    if (line_.empty() || full_) return;
    if (static_cast<int64_t>(out_) + static_cast<int64_t>(line_.size()) + 1 > kMaxTextLength) {
      full_ = true;
      return;
    }
    std::memcpy(text_ + out_, line_.data(), line_.size());
    out_ += static_cast<int32_t>(line_.size());
    text_[out_++] = ' ';
  }

  char* text_;
  int32_t out_ = 0;
  bool full_ = false;
  Charset charset_ = Charset::kShiftJis;
  const tables::CodePageTable* table_ = nullptr;
  std::string line_;
};

}  // namespace kuribo

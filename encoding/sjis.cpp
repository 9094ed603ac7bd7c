#include "encoding/sjis.h"


#include <array>
#include <memory>

#include "encoding/codepage_tables.h"

namespace kuribo {
namespace {

// Both directions come from tables generated at build time from iconv's CP932
// and are kept flat, so no conversion ever calls into a library per character.
struct Tables {
  std::array<int32_t, 65536> toUnicode;  // code -> unit or -1
  std::array<int32_t, 65536> fromUnicode;  // unit -> code or -1

  Tables() {
    toUnicode.fill(-1);
    fromUnicode.fill(-1);
    for (size_t i = 0; i < tables::kCp932DecodeCount; ++i) {
      const unsigned code = tables::kCp932Decode[2 * i];
      const unsigned unit = tables::kCp932Decode[2 * i + 1];
      const unsigned lead = code >> 8, trail = code & 0xFF;
      const bool known = code < 0x100 ? !IsCp932Lead((unsigned char)code)
                                      : IsCp932Lead((unsigned char)lead) && trail >= 0x40 && trail <= 0xFC;
      if (known) toUnicode[code] = (int32_t)unit;
    }
    for (size_t i = 0; i < tables::kCp932EncodeCount; ++i)
      fromUnicode[tables::kCp932Encode[2 * i]] = tables::kCp932Encode[2 * i + 1];
  }
};

const Tables& GetTables() {
  static const std::unique_ptr<Tables> tables = std::make_unique<Tables>();
  return *tables;
}

void AppendCode(std::string& out, int code) {
  if (code < 0x100) {
    out.push_back((char)code);
  } else {
    out.push_back((char)(code >> 8));
    out.push_back((char)(code & 0xFF));
  }
}

}  // namespace

int Cp932ToUtf16(uint16_t code) { return GetTables().toUnicode[code]; }

int Utf16ToCp932(char16_t unit) { return GetTables().fromUnicode[unit]; }

const int32_t* Cp932ToUtf16Table() { return GetTables().toUnicode.data(); }

const int32_t* Utf16ToCp932Table() { return GetTables().fromUnicode.data(); }

namespace {

// Writes cp's UTF-8 form at o; returns the end.
inline char* PutUtf8(char* o, char32_t cp) {
  if (cp < 0x80) {
    *o++ = (char)cp;
  } else if (cp < 0x800) {
    *o++ = (char)(0xC0 | (cp >> 6));
    *o++ = (char)(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *o++ = (char)(0xE0 | (cp >> 12));
    *o++ = (char)(0x80 | ((cp >> 6) & 0x3F));
    *o++ = (char)(0x80 | (cp & 0x3F));
  } else {
    *o++ = (char)(0xF0 | (cp >> 18));
    *o++ = (char)(0x80 | ((cp >> 12) & 0x3F));
    *o++ = (char)(0x80 | ((cp >> 6) & 0x3F));
    *o++ = (char)(0x80 | (cp & 0x3F));
  }
  return o;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  char bytes[4];
  out.append(bytes, (size_t)(PutUtf8(bytes, cp) - bytes));
}

std::string SjisToUtf8(std::string_view sjis, char32_t replacement) {
  const Tables& t = GetTables();
  // No source byte yields more than four bytes (a replacement for a lone byte).
  std::string out(4 * sjis.size(), '\0');
  char* o = out.data();
  size_t i = 0;
  while (i < sjis.size()) {
    unsigned char c = (unsigned char)sjis[i];
    int u;
    if (c < 0x80) {
      *o++ = (char)c;
      ++i;
      continue;
    }
    if (IsCp932Lead(c)) {
      if (i + 1 >= sjis.size()) break;
      // A byte that cannot be a trail byte (an ASCII "/", a line end) starts a
      // character of its own; the lone lead byte has none.
      if (!IsTrailByte((unsigned char)sjis[i + 1])) {
        u = -1;
        ++i;
      } else {
        u = t.toUnicode[(c << 8) | (unsigned char)sjis[i + 1]];
        i += 2;
      }
    } else {
      u = t.toUnicode[c];
      ++i;
    }
    if (u >= 0) {
      o = PutUtf8(o, (char32_t)u);
    } else if (replacement) {
      o = PutUtf8(o, replacement);
    }
  }
  out.resize((size_t)(o - out.data()));
  return out;
}

std::string Utf8ToSjis(std::string_view s, char replacement, bool* lossless) {
  const Tables& t = GetTables();
  std::string out;
  out.reserve(s.size());
  bool ok = true;
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = (unsigned char)s[i];
    if (c < 0x80) {
      out.push_back((char)c);
      ++i;
      continue;
    }
    int len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    char32_t cp = 0;
    bool valid = len > 0 && i + len <= s.size();
    if (valid) {
      cp = len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
      for (int k = 1; k < len; ++k) {
        unsigned char cc = (unsigned char)s[i + k];
        if ((cc & 0xC0) != 0x80) {
          valid = false;
          break;
        }
        cp = (cp << 6) | (cc & 0x3F);
      }
      if (valid && ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
                    (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))))
        valid = false;
    }
    if (!valid) {
      out.push_back(replacement);
      ok = false;
      ++i;
      continue;
    }
    i += len;
    int code = cp < 0x10000 ? t.fromUnicode[cp] : -1;
    if (code < 0) {
      out.push_back(replacement);
      ok = false;
    } else {
      AppendCode(out, code);
    }
  }
  if (lossless) *lossless = ok;
  return out;
}

std::string Utf16ToSjis(std::u16string_view s, char replacement) {
  const Tables& t = GetTables();
  std::string out;
  out.reserve(s.size() * 2);
  for (char16_t u : s) {
    const int code = t.fromUnicode[u];
    if (code < 0) {
      out.push_back(replacement);
    } else {
      AppendCode(out, code);
    }
  }
  return out;
}

void AppendCp932(std::string& out, char16_t unit, char replacement) {
  const int code = GetTables().fromUnicode[unit];
  if (code < 0) {
    out.push_back(replacement);
  } else {
    AppendCode(out, code);
  }
}

}  // namespace kuribo

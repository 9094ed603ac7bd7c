// The PDF reader on qpdf: qpdf gives the structure (pages, resources, decoded
// streams, Form XObjects, annotations, form fields); this file walks it and
// turns the strings shown into Shift_JIS, following the font in force.
// qpdf 11: no PointerHolder in its headers.
#define POINTERHOLDER_TRANSITION 4
// Complete before QPDFObjectHandle.hh for clang in C++20.
#ifndef KURIBO_NO_QPDF
#include <qpdf/JSON.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFLogger.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define KURIBO_FDOPEN _fdopen
#define KURIBO_CLOSE _close
#else
#include <unistd.h>
#define KURIBO_FDOPEN fdopen
#define KURIBO_CLOSE close
#endif

#include "encoding/sjis.h"
#include "extract/pdf/cmap.h"
#include "extract/pdf/pdf.h"
#include "extract/text/compact.h"
#include "platform/fs.h"

namespace kuribo {

#ifndef KURIBO_NO_QPDF

using pdf::CodeSpace;
using pdf::JapaneseCodes;

namespace {

// Decoded bytes allowed for one stream and for one document: a stream that
// would inflate to gigabytes stops here.
constexpr size_t kStreamCap = 64u << 20;
constexpr size_t kDocumentCap = 512u << 20;
constexpr size_t kFontProgramCap = 32u << 20;
constexpr int kMaxFormDepth = 12;
constexpr int kMaxFieldDepth = 32;

struct CapReached {};

// Collects decoded stream bytes up to a cap; past it, decoding is stopped by
// an exception that qpdf turns into a failed (partial) read.
class CappedSink : public Pipeline {
 public:
  CappedSink(std::string& out, size_t cap) : Pipeline("kuribo", nullptr), out_(out), cap_(cap) {}
  void write(unsigned char const* data, size_t len) override {
    const size_t room = cap_ > out_.size() ? cap_ - out_.size() : 0;
    out_.append((const char*)data, std::min(room, len));
    if (len > room) throw CapReached();
  }
  void finish() override {}

 private:
  std::string& out_;
  size_t cap_;
};

// The text of one document in Shift_JIS, with its limit.
struct TextOut {
  char* dst;
  int32_t cap;
  int32_t n = 0;
  bool Full() const { return n >= cap; }
  void Byte(char c) {
    if (n < cap) dst[n++] = c;
  }
  void Unit(uint32_t cp) {
    if (cp < 0x20 || cp == 0xFEFF || cp == 0xFFFE) {
      if (cp != 0xFEFF && cp != 0xFFFE) Byte(' ');
      return;
    }
    if (cp >= 0xFB00 && cp <= 0xFB06) {
      static const char* const kLig[] = {"ff", "fi", "fl", "ffi", "ffl", "st", "st"};
      for (const char* p = kLig[cp - 0xFB00]; *p; ++p) Byte(*p);
      return;
    }
    // Vertical presentation forms (Adobe-Japan1's vertical identifiers) as
    // the characters a user types.
    static const char16_t kVertical10[] = {0xFF0C, 0x3001, 0x3002, 0xFF1A, 0xFF1B,
                                           0xFF01, 0xFF1F, 0x3016, 0x3017, 0x2026};
    static const char16_t kVertical30[] = {0x2025, 0x2014, 0x2013, 0xFF3F, 0xFF3F, 0xFF08, 0xFF09,
                                           0xFF5B, 0xFF5D, 0x3014, 0x3015, 0x3010, 0x3011, 0x300A,
                                           0x300B, 0x3008, 0x3009, 0x300C, 0x300D, 0x300E, 0x300F};
    if (cp >= 0xFE10 && cp <= 0xFE19) cp = kVertical10[cp - 0xFE10];
    if (cp >= 0xFE30 && cp <= 0xFE44) cp = kVertical30[cp - 0xFE30];
    const int s = cp > 0xFFFF ? -1 : Utf16ToCp932((char16_t)cp);
    if (s < 0) {
      Byte(' ');
    } else if (s < 0x100) {
      Byte((char)s);
    } else if (n + 2 <= cap) {
      Byte((char)(s >> 8));
      Byte((char)(s & 0xFF));
    } else {
      n = cap;
    }
  }
  void Sjis(int s) {
    if (s < 0x100) {
      Byte((char)s);
    } else if (n + 2 <= cap) {
      Byte((char)(s >> 8));
      Byte((char)(s & 0xFF));
    } else {
      n = cap;
    }
  }
  void Units(const std::u16string& u) {
    for (size_t i = 0; i < u.size(); ++i) {
      const char16_t c = u[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < u.size() && u[i + 1] >= 0xDC00 &&
          u[i + 1] <= 0xDFFF) {
        Unit(0x10000 + ((uint32_t)(c - 0xD800) << 10) + (u[i + 1] - 0xDC00));
        ++i;
      } else {
        Unit(c);
      }
    }
  }
};

std::string NameOf(QPDFObjectHandle h) { return h.isName() ? h.getName() : std::string(); }

QPDFObjectHandle Key(QPDFObjectHandle dict, const char* key) {
  if (!dict.isDictionary()) return QPDFObjectHandle::newNull();
  return dict.getKey(key);
}

// How the codes of one font become text.
struct Font {
  bool composite = false;
  std::vector<CodeSpace> space;  // composite fonts: how strings split into codes
  pdf::UnicodeMap toUnicode;
  bool hasToUnicode = false;
  // Simple fonts: code -> text (empty: nothing known).
  std::vector<std::u16string> simple;
  bool sjisBytes = false;  // a Japanese simple font without a map: bytes are Shift_JIS
  // Composite fonts.
  JapaneseCodes codes = JapaneseCodes::kNone;
  bool embeddedCmap = false;
  pdf::CidMap cidMap;
  bool japan1 = false;
  std::vector<char32_t> cidToUnicode;  // from an embedded TrueType font's cmap
};

// Reads a stream's decoded data into out, capped; false when nothing came.
bool ReadStream(QPDFObjectHandle s, std::string& out, size_t cap, size_t& budget) {
  out.clear();
  if (!s.isStream() || budget == 0) return false;
  CappedSink sink(out, std::min(cap, budget));
  try {
    s.pipeStreamData(&sink, 0, qpdf_dl_generalized, true, false);
  } catch (...) {
  }
  budget -= std::min(budget, out.size());
  return !out.empty();
}

uint16_t Be16(const std::string& d, size_t p) {
  return (uint16_t)((unsigned char)d[p] << 8 | (unsigned char)d[p + 1]);
}
uint32_t Be32(const std::string& d, size_t p) { return (uint32_t)Be16(d, p) << 16 | Be16(d, p + 2); }

// Glyph index -> Unicode from a TrueType font's cmap (Unicode subtables):
// among the code points of one glyph, one with a Shift_JIS form wins.
void ReadTrueTypeCmap(const std::string& f, std::vector<char32_t>& gidToUnicode) {
  if (f.size() < 12) return;
  const uint16_t tables = Be16(f, 4);
  size_t cmap = 0, cmapLen = 0;
  for (size_t i = 0; i < tables && 12 + 16 * (i + 1) <= f.size(); ++i) {
    const size_t rec = 12 + 16 * i;
    if (f.compare(rec, 4, "cmap") == 0) {
      cmap = Be32(f, rec + 8);
      cmapLen = Be32(f, rec + 12);
    }
  }
  if (cmap == 0 || cmap >= f.size() || cmapLen > f.size() - cmap || cmapLen < 4) return;
  const uint16_t subtables = Be16(f, cmap + 2);
  std::vector<std::pair<uint32_t, uint32_t>> pairs;  // (code point, glyph)
  // Work allowed for one font's cmap: a real one maps far fewer codes.
  size_t work = 0;
  constexpr size_t kMaxWork = 1'000'000;
  for (size_t i = 0; i < subtables && cmap + 4 + 8 * (i + 1) <= f.size(); ++i) {
    const size_t rec = cmap + 4 + 8 * i;
    const uint16_t platform = Be16(f, rec), encoding = Be16(f, rec + 2);
    const bool unicode = platform == 0 || (platform == 3 && (encoding == 1 || encoding == 10));
    if (!unicode) continue;
    const size_t st = cmap + Be32(f, rec + 4);
    if (st + 4 > f.size()) continue;
    const uint16_t format = Be16(f, st);
    if (format == 4 && st + 14 <= f.size()) {
      const size_t segs = Be16(f, st + 6) / 2;
      const size_t ends = st + 14, starts = ends + 2 * segs + 2, deltas = starts + 2 * segs,
                   offsets = deltas + 2 * segs;
      if (offsets + 2 * segs > f.size()) continue;
      for (size_t s = 0; s < segs && work < kMaxWork; ++s) {
        const uint32_t end = Be16(f, ends + 2 * s), start = Be16(f, starts + 2 * s);
        const uint16_t delta = Be16(f, deltas + 2 * s), ro = Be16(f, offsets + 2 * s);
        if (start > end || end - start > 0xFFFF) continue;
        for (uint32_t c = start; c <= end && c != 0xFFFF && ++work < kMaxWork; ++c) {
          uint32_t g;
          if (ro == 0) {
            g = (uint16_t)(c + delta);
          } else {
            const size_t at = offsets + 2 * s + ro + 2 * (c - start);
            if (at + 2 > f.size()) break;
            g = Be16(f, at);
            if (g != 0) g = (uint16_t)(g + delta);
          }
          if (g != 0) pairs.push_back({c, g});
        }
      }
    } else if (format == 12 && st + 16 <= f.size()) {
      const uint32_t groups = Be32(f, st + 12);
      for (uint32_t k = 0; k < groups && work < kMaxWork && st + 16 + 12 * (size_t)(k + 1) <= f.size(); ++k) {
        const size_t g = st + 16 + 12 * (size_t)k;
        const uint32_t a = Be32(f, g), b = Be32(f, g + 4), gid = Be32(f, g + 8);
        if (b < a || b - a > 0x10000 || b > 0x10FFFF) continue;
        for (uint32_t c = a; c <= b && ++work < kMaxWork; ++c) pairs.push_back({c, gid + (c - a)});
      }
    }
    if (work >= kMaxWork) break;
  }
  const int32_t* toSjis = Utf16ToCp932Table();
  for (const auto& [cp, gid] : pairs) {
    if (gid > 0xFFFF) continue;
    if (gid >= gidToUnicode.size()) gidToUnicode.resize(gid + 1, 0);
    char32_t& slot = gidToUnicode[gid];
    const bool better = slot == 0 || (cp <= 0xFFFF && toSjis[cp] >= 0 &&
                                      (slot > 0xFFFF || toSjis[slot] < 0));
    if (better) slot = cp;
  }
}

bool LooksJapaneseName(const std::string& name) {
  for (unsigned char c : name) {
    if (c >= 0x80) return true;  // a name written in Shift_JIS
  }
  static const char* const kHints[] = {"Mincho", "Gothic", "Ryumin", "GothicBBB", "Heisei",
                                       "Osaka",  "MS-",    "HG",     "Kozuka",    "Hiragino"};
  for (const char* h : kHints) {
    if (name.find(h) != std::string::npos) return true;
  }
  return false;
}

class Walker {
 public:
  Walker(QPDF& q, TextOut& out) : qpdf_(q), out_(out) {}

  void Run() {
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(qpdf_).getAllPages();
    for (QPDFPageObjectHelper& page : pages) {
      if (out_.Full() || budget_ == 0) return;
      try {
        Page(page);
      } catch (...) {
        // A damaged page gives what was read before the damage.
      }
    }
    try {
      Fields(qpdf_.getRoot().getKey("/AcroForm").getKey("/Fields"), 0);
    } catch (...) {
    }
  }

 private:
  void Page(QPDFPageObjectHelper& page) {
    formsOnPage_.clear();
    QPDFObjectHandle obj = page.getObjectHandle();
    QPDFObjectHandle res = page.getAttribute("/Resources", false);
    QPDFObjectHandle contents = obj.getKey("/Contents");
    std::string data;
    if (contents.isArray()) {
      std::string part;
      const int n = contents.getArrayNItems();
      for (int i = 0; i < n && budget_ > 0; ++i) {
        if (ReadStream(contents.getArrayItem(i), part, kStreamCap, budget_)) {
          data += part;
          data += '\n';
        }
      }
    } else {
      ReadStream(contents, data, kStreamCap, budget_);
    }
    Content(data, res, 0);
    QPDFObjectHandle annots = obj.getKey("/Annots");
    if (!annots.isArray()) return;
    const int n = annots.getArrayNItems();
    for (int i = 0; i < n && !out_.Full(); ++i) {
      QPDFObjectHandle a = annots.getArrayItem(i);
      QPDFObjectHandle ap = Key(Key(a, "/AP"), "/N");
      if (ap.isDictionary() && !ap.isStream()) {
        QPDFObjectHandle as = Key(a, "/AS");
        ap = as.isName() ? ap.getKey(as.getName()) : QPDFObjectHandle::newNull();
      }
      if (ap.isStream()) Form(ap, res, 0);
    }
  }

  // Text fields' values, for fields whose widgets show no appearance of their own.
  void Fields(QPDFObjectHandle fields, int depth) {
    if (!fields.isArray() || depth > kMaxFieldDepth) return;
    const int n = fields.getArrayNItems();
    for (int i = 0; i < n && !out_.Full(); ++i) {
      QPDFObjectHandle f = fields.getArrayItem(i);
      if (!f.isDictionary()) continue;
      if (f.isIndirect() && !fieldsSeen_.insert(f.getObjGen()).second) continue;
      QPDFObjectHandle v = f.getKey("/V");
      if (v.isString() && !HasAppearance(f)) {
        out_.Byte(' ');
        out_.Units(Utf8ToUtf16(v.getUTF8Value()));
      }
      Fields(f.getKey("/Kids"), depth + 1);
    }
  }

  static bool HasAppearance(QPDFObjectHandle f) {
    if (Key(Key(f, "/AP"), "/N").isStream()) return true;
    QPDFObjectHandle kids = f.getKey("/Kids");
    if (!kids.isArray()) return false;
    const int n = std::min(kids.getArrayNItems(), 64);
    for (int i = 0; i < n; ++i) {
      QPDFObjectHandle k = kids.getArrayItem(i);
      if (!Key(k, "/T").isNull()) continue;  // a child field, not a widget
      if (Key(Key(k, "/AP"), "/N").isStream()) return true;
    }
    return false;
  }

  static std::u16string Utf8ToUtf16(const std::string& s) {
    std::u16string u;
    for (size_t i = 0; i < s.size();) {
      const unsigned char c = (unsigned char)s[i];
      uint32_t cp;
      int len;
      if (c < 0x80) {
        cp = c, len = 1;
      } else if ((c >> 5) == 6) {
        cp = c & 0x1F, len = 2;
      } else if ((c >> 4) == 14) {
        cp = c & 0x0F, len = 3;
      } else if ((c >> 3) == 30) {
        cp = c & 0x07, len = 4;
      } else {
        ++i;
        continue;
      }
      if (i + (size_t)len > s.size()) break;
      for (int k = 1; k < len; ++k) cp = cp << 6 | ((unsigned char)s[i + (size_t)k] & 0x3F);
      i += (size_t)len;
      if (cp >= 0x10000) {
        cp -= 0x10000;
        u += (char16_t)(0xD800 + (cp >> 10));
        u += (char16_t)(0xDC00 + (cp & 0x3FF));
      } else {
        u += (char16_t)cp;
      }
    }
    return u;
  }

  void Form(QPDFObjectHandle xo, QPDFObjectHandle parentRes, int depth) {
    if (depth >= kMaxFormDepth || out_.Full()) return;
    if (xo.isIndirect() && !formsOnPage_.insert(xo.getObjGen()).second) return;
    QPDFObjectHandle res = xo.getDict().getKey("/Resources");
    if (!res.isDictionary()) res = parentRes;
    std::string data;
    ReadStream(xo, data, kStreamCap, budget_);
    Content(data, res, depth + 1);
  }

  // The content stream lexer: operands are kept until their operator.
  void Content(const std::string& d, QPDFObjectHandle res, int depth) {
    const size_t n = d.size();
    size_t p = 0;
    strings_.clear();
    std::string lastName;
    int arrayDepth = 0;
    Font* font = current_;
    auto isWhite = [](unsigned char c) {
      return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == 0;
    };
    auto isDelim = [](unsigned char c) {
      return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' ||
             c == '}' || c == '/' || c == '%';
    };
    while (p < n && !out_.Full()) {
      const unsigned char c = (unsigned char)d[p];
      if (isWhite(c)) {
        ++p;
      } else if (c == '%') {
        while (p < n && d[p] != '\n' && d[p] != '\r') ++p;
      } else if (c == '(') {
        strings_.emplace_back();
        p = Literal(d, p + 1, strings_.back());
      } else if (c == '<' && p + 1 < n && d[p + 1] == '<') {
        p += 2;
      } else if (c == '<') {
        strings_.emplace_back();
        std::string& s = strings_.back();
        int high = -1;
        for (++p; p < n && d[p] != '>'; ++p) {
          const int v = HexValue((unsigned char)d[p]);
          if (v < 0) continue;
          if (high < 0) {
            high = v;
          } else {
            s += (char)(high << 4 | v);
            high = -1;
          }
        }
        if (high >= 0) s += (char)(high << 4);
        ++p;
      } else if (c == '>' || c == '{' || c == '}') {
        ++p;
      } else if (c == '[') {
        ++arrayDepth;
        ++p;
      } else if (c == ']') {
        if (arrayDepth > 0) --arrayDepth;
        ++p;
      } else if (c == '/') {
        size_t q = ++p;
        while (q < n && !isWhite((unsigned char)d[q]) && !isDelim((unsigned char)d[q])) ++q;
        lastName.assign(d, p, q - p);
        p = q;
      } else {
        size_t q = p;
        while (q < n && !isWhite((unsigned char)d[q]) && !isDelim((unsigned char)d[q])) ++q;
        if (q == p) q = p + 1;
        const char* op = d.data() + p;
        const size_t len = q - p;
        p = q;
        if ((op[0] >= '0' && op[0] <= '9') || op[0] == '-' || op[0] == '+' || op[0] == '.') {
          continue;  // a number
        }
        if (arrayDepth > 0) continue;  // true, false, null inside an array
        if (len == 2 && op[0] == 'T' && op[1] == 'f') {
          font = FontNamed(res, lastName);
          current_ = font;
        } else if ((len == 2 && op[0] == 'T' && (op[1] == 'j' || op[1] == 'J')) ||
                   (len == 1 && (op[0] == '\'' || op[0] == '"'))) {
          for (const std::string& s : strings_) Show(font, s);
        } else if (len == 2 && op[0] == 'D' && op[1] == 'o') {
          QPDFObjectHandle xo = Key(Key(res, "/XObject"), ("/" + lastName).c_str());
          if (xo.isStream() && NameOf(xo.getDict().getKey("/Subtype")) == "/Form") {
            Form(xo, res, depth);
            font = current_;
          }
        } else if (len == 2 && op[0] == 'I' && op[1] == 'D') {
          // Inline image data runs to "EI" standing alone.
          size_t e = p + 1;
          while (e + 2 <= n && !(d[e] == 'E' && d[e + 1] == 'I' && isWhite((unsigned char)d[e - 1]) &&
                                 (e + 2 == n || isWhite((unsigned char)d[e + 2])))) {
            ++e;
          }
          p = std::min(n, e + 2);
        }
        strings_.clear();
      }
    }
    strings_.clear();
  }

  static int HexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  }

  // A literal string from just after '('; returns the position after ')'.
  static size_t Literal(const std::string& d, size_t p, std::string& s) {
    int depth = 1;
    const size_t n = d.size();
    while (p < n) {
      const char c = d[p++];
      if (c == '\\') {
        if (p >= n) break;
        const char e = d[p++];
        switch (e) {
          case 'n': s += '\n'; break;
          case 'r': s += '\r'; break;
          case 't': s += '\t'; break;
          case 'b': s += '\b'; break;
          case 'f': s += '\f'; break;
          case '\r':
            if (p < n && d[p] == '\n') ++p;
            break;
          case '\n': break;
          default:
            if (e >= '0' && e <= '7') {
              int v = e - '0';
              for (int k = 0; k < 2 && p < n && d[p] >= '0' && d[p] <= '7'; ++k) v = v * 8 + (d[p++] - '0');
              s += (char)(v & 0xFF);
            } else {
              s += e;
            }
        }
      } else if (c == '(') {
        ++depth;
        s += c;
      } else if (c == ')') {
        if (--depth == 0) break;
        s += c;
      } else {
        s += c;
      }
    }
    return p;
  }

  Font* FontNamed(QPDFObjectHandle res, const std::string& name) {
    QPDFObjectHandle f = Key(Key(res, "/Font"), ("/" + name).c_str());
    if (!f.isDictionary()) return nullptr;
    if (!f.isIndirect()) {
      direct_.push_back(std::make_unique<Font>());
      Build(*direct_.back(), f);
      return direct_.back().get();
    }
    auto it = fonts_.find(f.getObjGen());
    if (it != fonts_.end()) return it->second.get();
    auto font = std::make_unique<Font>();
    Build(*font, f);
    Font* raw = font.get();
    fonts_.emplace(f.getObjGen(), std::move(font));
    return raw;
  }

  void Build(Font& font, QPDFObjectHandle f) {
    std::string data;
    QPDFObjectHandle tu = f.getKey("/ToUnicode");
    if (tu.isStream() && ReadStream(tu, data, kStreamCap, budget_)) {
      font.toUnicode.Parse(data);
      font.hasToUnicode = !font.toUnicode.Empty();
    }
    const std::string subtype = NameOf(f.getKey("/Subtype"));
    QPDFObjectHandle enc = f.getKey("/Encoding");
    if (subtype == "/Type0") {
      font.composite = true;
      QPDFObjectHandle desc = f.getKey("/DescendantFonts");
      if (desc.isArray() && desc.getArrayNItems() > 0) desc = desc.getArrayItem(0);
      QPDFObjectHandle info = Key(desc, "/CIDSystemInfo");
      QPDFObjectHandle ordering = Key(info, "/Ordering");
      std::string encName = NameOf(enc);
      if (enc.isStream()) {
        if (ReadStream(enc, data, kStreamCap, budget_)) font.cidMap.Parse(data);
        font.embeddedCmap = true;
        font.space = font.cidMap.space();
        if (!ordering.isString()) ordering = Key(enc.getDict().getKey("/CIDSystemInfo"), "/Ordering");
        encName = font.cidMap.usecmap();
      }
      std::vector<CodeSpace> predefined;
      font.codes = pdf::PredefinedCodes(encName.empty() ? "" : encName.substr(encName[0] == '/'), predefined);
      if (font.space.empty()) font.space = predefined;
      const std::string order = ordering.isString() ? ordering.getStringValue() : "";
      // Other orderings (Chinese, Korean) have other identifiers: never the Japanese table.
      font.japan1 = order == "Japan1";
      if (!font.hasToUnicode && !font.japan1) {
        QPDFObjectHandle file2 = Key(Key(desc, "/FontDescriptor"), "/FontFile2");
        std::vector<char32_t> gidToUnicode;
        if (file2.isStream() && ReadStream(file2, data, kFontProgramCap, budget_)) {
          ReadTrueTypeCmap(data, gidToUnicode);
        }
        QPDFObjectHandle c2g = Key(desc, "/CIDToGIDMap");
        if (c2g.isStream() && ReadStream(c2g, data, kStreamCap, budget_)) {
          font.cidToUnicode.assign(data.size() / 2, 0);
          for (size_t cid = 0; cid < data.size() / 2; ++cid) {
            const uint16_t gid = Be16(data, 2 * cid);
            if (gid < gidToUnicode.size()) font.cidToUnicode[cid] = gidToUnicode[gid];
          }
        } else {
          font.cidToUnicode = std::move(gidToUnicode);
        }
      }
      return;
    }
    // Simple fonts: one byte per code.
    font.simple.assign(256, std::u16string());
    const std::string baseFont = NameOf(f.getKey("/BaseFont"));
    const char16_t* base = subtype == "/TrueType" ? pdf::WinAnsiEncoding() : pdf::StandardEncoding();
    QPDFObjectHandle differences;
    std::string baseName = NameOf(enc);
    if (enc.isDictionary()) {
      baseName = NameOf(enc.getKey("/BaseEncoding"));
      differences = enc.getKey("/Differences");
    }
    if (baseName == "/WinAnsiEncoding") base = pdf::WinAnsiEncoding();
    else if (baseName == "/MacRomanEncoding") base = pdf::MacRomanEncoding();
    else if (baseName == "/StandardEncoding") base = pdf::StandardEncoding();
    for (int c = 0; c < 256; ++c) {
      if (base[c] != 0) font.simple[(size_t)c] = std::u16string(1, base[c]);
    }
    bool anyDifference = false;
    if (differences.isArray()) {
      int code = 0;
      const int n = differences.getArrayNItems();
      for (int i = 0; i < n; ++i) {
        QPDFObjectHandle item = differences.getArrayItem(i);
        if (item.isInteger()) {
          code = (int)item.getIntValue();
        } else if (item.isName()) {
          if (code >= 0 && code < 256) {
            font.simple[(size_t)code] = pdf::GlyphNameToUnicode(item.getName().substr(1));
            anyDifference = true;
          }
          ++code;
        }
      }
    }
    font.sjisBytes = !font.hasToUnicode && !anyDifference && enc.isNull() &&
                     LooksJapaneseName(baseFont);
  }

  void Show(Font* font, const std::string& s) {
    const unsigned char* b = (const unsigned char*)s.data();
    const size_t n = s.size();
    if (font == nullptr) {
      // No font in force: bytes as they stand, when they are text.
      for (size_t i = 0; i < n; ++i) out_.Byte(b[i] >= 0x20 && b[i] < 0x7F ? (char)b[i] : ' ');
      return;
    }
    unit_.clear();
    if (!font->composite) {
      for (size_t i = 0; i < n; ++i) {
        if (font->sjisBytes) {
          if (IsLeadByte(b[i]) && i + 1 < n) {
            out_.Sjis(b[i] << 8 | b[i + 1]);
            ++i;
          } else {
            out_.Byte(b[i] >= 0x20 ? (char)b[i] : ' ');
          }
          continue;
        }
        unit_.clear();
        if (font->hasToUnicode && font->toUnicode.Lookup(b[i], 1, unit_)) {
          out_.Units(unit_);
        } else {
          out_.Units(font->simple[b[i]]);
        }
      }
      return;
    }
    for (size_t i = 0; i < n;) {
      const int len = std::min<int>(pdf::CodeLength(font->space, b + i, n - i), (int)(n - i));
      uint32_t code = 0;
      for (int k = 0; k < len; ++k) code = code << 8 | b[i + (size_t)k];
      i += (size_t)len;
      unit_.clear();
      if (font->hasToUnicode && font->toUnicode.Lookup(code, len, unit_)) {
        out_.Units(unit_);
        continue;
      }
      Composite(*font, code, len);
    }
  }

  void Composite(const Font& font, uint32_t code, int len) {
    switch (font.codes) {
      case JapaneseCodes::kShiftJis:
        if (len == 1 && code < 0x20) return out_.Byte(' ');
        return out_.Sjis((int)code);
      case JapaneseCodes::kEuc: {
        const int s = pdf::EucToSjis(code, len);
        return s < 0 ? out_.Byte(' ') : out_.Sjis(s);
      }
      case JapaneseCodes::kJis: {
        const int s = pdf::JisToSjis(code);
        return s < 0 ? out_.Byte(' ') : out_.Sjis(s);
      }
      case JapaneseCodes::kUcs2:
      case JapaneseCodes::kUtf16:
      case JapaneseCodes::kUtf8:
      case JapaneseCodes::kUtf32:
      case JapaneseCodes::kHojo: {
        const uint32_t cp = pdf::PredefinedUnicode(font.codes, code, len);
        return cp == 0 ? out_.Byte(' ') : out_.Unit(cp);
      }
      case JapaneseCodes::kNone:
        break;
    }
    int32_t cid = (int32_t)code;
    if (font.embeddedCmap) {
      cid = font.cidMap.Lookup(code, len);
      if (cid < 0) return;
    }
    if (font.japan1) {
#ifdef KURIBO_JAPAN1_UNICODE
      if (cid >= 0 && cid < pdf::kJapan1UnicodeCount) {
        if (pdf::kJapan1Unicode[cid] != 0) out_.Unit(pdf::kJapan1Unicode[cid]);
        return;
      }
#endif
      const int s = CidToSjis(cid);
      if (s > 0) out_.Sjis(s);
      return;
    }
    if ((size_t)cid < font.cidToUnicode.size() && font.cidToUnicode[(size_t)cid] != 0) {
      out_.Unit(font.cidToUnicode[(size_t)cid]);
    }
  }

 public:
  // Adobe-Japan1 identifiers to Shift_JIS through the CID table of cmap.dat,
  // where the generated Unicode table is absent or ends.
  const PdfRangeTable* cid = nullptr;

 private:
  int CidToSjis(int32_t c) const {
    // The proportional and half-width Roman identifiers are ASCII, as
    // Adobe's own Unicode table has them (not the full-width forms).
    if (c >= 1 && c <= 95) return 0x1F + c;
    if (c >= 231 && c <= 325) return 0x20 + (c - 231);
    if (cid == nullptr || c < 0 || c > 0xFFFF) return -1;
    for (int32_t i = 0; i < cid->count; ++i) {
      if (cid->start[i] <= c && c <= cid->end[i]) {
        return (uint16_t)(cid->value[i] + (c - cid->start[i]));
      }
    }
    return -1;
  }

  QPDF& qpdf_;
  TextOut& out_;
  size_t budget_ = kDocumentCap;
  std::map<QPDFObjGen, std::unique_ptr<Font>> fonts_;
  std::vector<std::unique_ptr<Font>> direct_;
  std::set<QPDFObjGen> formsOnPage_;
  std::set<QPDFObjGen> fieldsSeen_;
  std::vector<std::string> strings_;
  std::u16string unit_;
  Font* current_ = nullptr;
};

void PrepareCmap(PdfWorkspace& ws, const std::string& programDir) {
  std::string cmapPath = programDir;
  if (!cmapPath.empty() && cmapPath.back() != '/') cmapPath += '/';
  cmapPath += "cmap.dat";
  if (cmapPath != ws.cmapPath) {
    ws.cmapPath = std::move(cmapPath);
    ws.cmapRead = false;
  }
  LoadPredefinedCMap(ws, "");
}

// Runs the walk over an opened document; returns the compacted length.
int Walk(QPDF& q, ExtractionContext& ctx) {
  PdfWorkspace& ws = *ctx.pdf;
  PrepareCmap(ws, ctx.programDir);
  TextOut out{ctx.text.get(), kMaxTextLength};
  Walker w(q, out);
  w.cid = ws.cid.count > 0 ? &ws.cid : nullptr;
  try {
    w.Run();
  } catch (...) {
  }
  ctx.text[out.n] = '\0';
  return CompactText(ctx.text.get(), out.n);
}

void Quiet(QPDF& q) {
  q.setSuppressWarnings(true);
  q.setAttemptRecovery(true);
  auto logger = QPDFLogger::create();
  logger->setWarn(logger->discard());
  logger->setError(logger->discard());
  logger->setInfo(logger->discard());
  q.setLogger(logger);
}

}  // namespace

int ExtractPdfMemory(const unsigned char* data, size_t size, ExtractionContext& ctx) {
  if (ctx.pdf == nullptr || !ctx.pdf->workspaceReady || !ctx.Ready()) return 0;
  try {
    QPDF q;
    Quiet(q);
    q.processMemoryFile("document", (const char*)data, size);
    return Walk(q, ctx);
  } catch (...) {
    return -1;
  }
}

int ExtractPdfDescriptor(int fd, const std::string& path, ExtractionContext& ctx) {
  std::FILE* f = KURIBO_FDOPEN(fd, "rb");
  if (f == nullptr) {
    KURIBO_CLOSE(fd);
    return -1;
  }
  try {
    QPDF q;
    Quiet(q);
    q.processFile(path.c_str(), f, true);
    return Walk(q, ctx);
  } catch (...) {
    // processFile closes the file even when it throws.
    return -1;
  }
}

#else  // a build without qpdf (a cross build that lacks it): the shallow reader alone

int ExtractPdfMemory(const unsigned char*, size_t, ExtractionContext&) { return -1; }

int ExtractPdfDescriptor(int fd, const std::string&, ExtractionContext&) {
  KURIBO_CLOSE(fd);
  return -1;
}

#endif

int ExtractPdfData(int32_t size, ExtractionContext& ctx) {
  if (ctx.pdf == nullptr || !ctx.Ready() || size <= 0) return 0;
  if (size > kFileBufferSize) size = kFileBufferSize;
  const int n = ExtractPdfMemory(ctx.file.get(), (size_t)size, ctx);
  if (n >= 0) return n;
  return ExtractPdfClassic(size, ctx);
}

int ExtractPdfText(const std::string& path, int32_t /*size*/, ExtractionContext& ctx) {
  PdfWorkspace* ws = ctx.pdf.get();
  if (ws == nullptr || !ws->workspaceReady || !ctx.Ready()) return 0;
  const int fd = OpenFileForReading(path);
  if (fd < 0) return 0;
  const int n = ExtractPdfDescriptor(fd, path, ctx);
  if (n >= 0) return n;
  // qpdf refused the file: the shallow reader tries its first 5,000,000 bytes.
  const int again = OpenFileForReading(path);
  if (again < 0) return 0;
  const size_t got = ReadFully(again, ctx.file.get(), (size_t)kFileBufferSize);
  KURIBO_CLOSE(again);
  return ExtractPdfClassic((int32_t)got, ctx);
}

}  // namespace kuribo

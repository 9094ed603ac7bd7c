#include "extract/pdf/cmap.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "encoding/codepage_tables.h"

namespace kuribo::pdf {

namespace {

// Bounds that keep a hostile CMap from costing more than a real one.
constexpr size_t kMaxEntries = 200'000;
constexpr size_t kMaxPool = 1'000'000;

bool IsSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == 0;
}
bool IsDelimiter(unsigned char c) {
  return c == '<' || c == '>' || c == '[' || c == ']' || c == '(' || c == ')' || c == '/' ||
         c == '{' || c == '}' || c == '%';
}
int Nibble(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The tokens of a CMap: hex strings, names, numbers, brackets and keywords.
struct Token {
  enum Kind { kEnd, kHex, kName, kWord, kOpen, kClose } kind = kEnd;
  std::string text;  // hex: the bytes; name: without '/'; word: as written
};

class Lexer {
 public:
  explicit Lexer(std::string_view s) : s_(s) {}
  Token Next() {
    Token t;
    for (;;) {
      while (p_ < s_.size() && IsSpace((unsigned char)s_[p_])) ++p_;
      if (p_ < s_.size() && s_[p_] == '%') {
        while (p_ < s_.size() && s_[p_] != '\n' && s_[p_] != '\r') ++p_;
        continue;
      }
      break;
    }
    if (p_ >= s_.size()) return t;
    const char c = s_[p_];
    if (c == '<' && p_ + 1 < s_.size() && s_[p_ + 1] == '<') {
      p_ += 2;
      t.kind = Token::kWord;
      t.text = "<<";
      return t;
    }
    if (c == '<') {
      ++p_;
      int high = -1;
      while (p_ < s_.size() && s_[p_] != '>') {
        const int v = Nibble((unsigned char)s_[p_++]);
        if (v < 0) continue;
        if (high < 0) {
          high = v;
        } else {
          t.text += (char)(high << 4 | v);
          high = -1;
        }
      }
      if (high >= 0) t.text += (char)(high << 4);
      if (p_ < s_.size()) ++p_;
      t.kind = Token::kHex;
      return t;
    }
    if (c == '[' || c == ']') {
      ++p_;
      t.kind = c == '[' ? Token::kOpen : Token::kClose;
      return t;
    }
    if (c == '(') {
      // Literal strings (CMap names in dictionaries) are passed over.
      int depth = 0;
      while (p_ < s_.size()) {
        const char d = s_[p_++];
        if (d == '\\') {
          ++p_;
        } else if (d == '(') {
          ++depth;
        } else if (d == ')' && --depth == 0) {
          break;
        }
      }
      t.kind = Token::kWord;
      return t;
    }
    const bool name = c == '/';
    if (name || IsDelimiter((unsigned char)c)) ++p_;
    const size_t from = p_;
    while (p_ < s_.size() && !IsSpace((unsigned char)s_[p_]) &&
           !IsDelimiter((unsigned char)s_[p_])) {
      ++p_;
    }
    t.kind = name ? Token::kName : Token::kWord;
    t.text.assign(s_.substr(from, p_ - from));
    return t;
  }

 private:
  std::string_view s_;
  size_t p_ = 0;
};

uint32_t CodeValue(const std::string& bytes) {
  uint32_t v = 0;
  for (size_t i = 0; i < bytes.size() && i < 4; ++i) v = v << 8 | (unsigned char)bytes[i];
  return v;
}

std::u16string Units(const std::string& bytes) {
  std::u16string u;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    u += (char16_t)((unsigned char)bytes[i] << 8 | (unsigned char)bytes[i + 1]);
  }
  // A one-byte destination (written by some producers) is its own unit.
  if (bytes.size() == 1) u += (char16_t)(unsigned char)bytes[0];
  return u;
}

void AddSpace(std::vector<CodeSpace>& space, const std::string& lo, const std::string& hi) {
  if (lo.empty() || lo.size() != hi.size() || lo.size() > 4 || space.size() > 64) return;
  CodeSpace cs;
  cs.bytes = (int)lo.size();
  for (int i = 0; i < cs.bytes; ++i) {
    cs.lo[i] = (unsigned char)lo[(size_t)i];
    cs.hi[i] = (unsigned char)hi[(size_t)i];
  }
  space.push_back(cs);
}

}  // namespace

int CodeLength(const std::vector<CodeSpace>& space, const unsigned char* s, size_t n) {
  int shortest = 5;
  for (int len = 1; len <= 4; ++len) {
    for (const CodeSpace& cs : space) {
      if (cs.bytes != len) continue;
      shortest = std::min(shortest, len);
      if ((size_t)len > n) continue;
      bool in = true;
      for (int i = 0; i < len && in; ++i) in = s[i] >= cs.lo[i] && s[i] <= cs.hi[i];
      if (in) return len;
    }
  }
  return shortest == 5 ? 1 : shortest;
}

void UnicodeMap::Add(uint32_t lo, uint32_t hi, int bytes, std::u16string_view dst) {
  if (entries_.size() >= kMaxEntries || pool_.size() + dst.size() > kMaxPool || hi < lo) return;
  if (dst.size() >= 0xFFFF) dst = dst.substr(0, 0xFFFE);
  entries_.push_back({lo, hi, bytes, (uint32_t)pool_.size(), (uint16_t)dst.size()});
  pool_.append(dst);
  sorted_ = false;
}

void UnicodeMap::Parse(std::string_view cmap) {
  Lexer lex(cmap);
  enum { kNone, kSpace, kChar, kRange } block = kNone;
  std::vector<Token> pending;
  for (Token t = lex.Next(); t.kind != Token::kEnd; t = lex.Next()) {
    if (t.kind == Token::kWord) {
      if (t.text == "begincodespacerange") block = kSpace;
      else if (t.text == "beginbfchar") block = kChar;
      else if (t.text == "beginbfrange") block = kRange;
      else if (t.text.rfind("end", 0) == 0) block = kNone;
      pending.clear();
      continue;
    }
    if (block == kNone) continue;
    if (block == kRange && t.kind == Token::kOpen && pending.size() == 2) {
      // An array destination: one string per code of the range.
      const uint32_t lo = CodeValue(pending[0].text), hi = CodeValue(pending[1].text);
      const int bytes = (int)pending[0].text.size();
      uint32_t code = lo;
      const size_t first = arrays_.size();
      for (Token d = lex.Next(); d.kind != Token::kEnd && d.kind != Token::kClose; d = lex.Next()) {
        if (d.kind != Token::kHex || code > hi || pool_.size() > kMaxPool) continue;
        const std::u16string u = Units(d.text);
        arrays_.push_back({(uint32_t)pool_.size(), (uint16_t)std::min<size_t>(u.size(), 0xFFFE)});
        pool_ += u;
        ++code;
      }
      if (code > lo && entries_.size() < kMaxEntries) {
        entries_.push_back({lo, code - 1, bytes, (uint32_t)first, 0xFFFF});
        sorted_ = false;
      }
      pending.clear();
      continue;
    }
    pending.push_back(std::move(t));
    if (block == kSpace && pending.size() == 2) {
      AddSpace(space_, pending[0].text, pending[1].text);
      pending.clear();
    } else if (block == kChar && pending.size() == 2) {
      const std::string& src = pending[0].text;
      if (pending[1].kind == Token::kHex) {
        Add(CodeValue(src), CodeValue(src), (int)src.size(), Units(pending[1].text));
      } else if (pending[1].kind == Token::kName) {
        Add(CodeValue(src), CodeValue(src), (int)src.size(), GlyphNameToUnicode(pending[1].text));
      }
      pending.clear();
    } else if (block == kRange && pending.size() == 3) {
      const std::string& src = pending[0].text;
      if (pending[2].kind == Token::kHex) {
        Add(CodeValue(src), CodeValue(pending[1].text), (int)src.size(), Units(pending[2].text));
      }
      pending.clear();
    }
  }
  Sort();
}

void UnicodeMap::Sort() {
  // Stable: where ranges overlap, the one written first is found first.
  std::stable_sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
    return a.bytes != b.bytes ? a.bytes < b.bytes : a.lo < b.lo;
  });
  sorted_ = true;
}

bool UnicodeMap::Lookup(uint32_t code, int bytes, std::u16string& out) const {
  if (entries_.empty()) return false;
  for (int pass = 0; pass < 2; ++pass) {
    // First the entries of the code's own length, then (for maps written
    // with another code length than the font uses) any entry.
    auto begin = entries_.begin(), end = entries_.end();
    if (pass == 0) {
      begin = std::lower_bound(entries_.begin(), entries_.end(), bytes,
                               [](const Entry& e, int b) { return e.bytes < b; });
      end = std::upper_bound(begin, entries_.end(), bytes,
                             [](int b, const Entry& e) { return b < e.bytes; });
    }
    for (auto it = begin; it != end; ++it) {
      if (pass == 0 && it->lo > code) break;
      if (code < it->lo || code > it->hi) continue;
      const uint32_t k = code - it->lo;
      if (it->length == 0xFFFF) {
        const auto& a = arrays_[it->offset + k];
        out.append(pool_, a.first, a.second);
      } else if (it->length > 0) {
        // A range destination: its last unit counts up with the code.
        out.append(pool_, it->offset, it->length);
        out.back() = (char16_t)(out.back() + k);
      }
      return true;
    }
  }
  return false;
}

void CidMap::Parse(std::string_view cmap) {
  Lexer lex(cmap);
  enum { kNone, kSpace, kChar, kRange } block = kNone;
  std::vector<Token> pending;
  Token last;
  for (Token t = lex.Next(); t.kind != Token::kEnd; t = lex.Next()) {
    if (t.kind == Token::kWord && !(block != kNone && !t.text.empty() &&
                                    (t.text[0] == '-' || (t.text[0] >= '0' && t.text[0] <= '9')))) {
      if (t.text == "begincodespacerange") block = kSpace;
      else if (t.text == "begincidchar") block = kChar;
      else if (t.text == "begincidrange") block = kRange;
      else if (t.text.rfind("end", 0) == 0) block = kNone;
      else if (t.text == "usecmap" && last.kind == Token::kName) usecmap_ = last.text;
      pending.clear();
      last = t;
      continue;
    }
    last = t;
    if (block == kNone) continue;
    pending.push_back(t);
    const size_t need = block == kRange ? 3 : 2;
    if (pending.size() < need) continue;
    if (block == kSpace) {
      AddSpace(space_, pending[0].text, pending[1].text);
    } else if (ranges_.size() < kMaxEntries) {
      const Token& cid = pending[need - 1];
      const uint32_t lo = CodeValue(pending[0].text);
      const uint32_t hi = block == kRange ? CodeValue(pending[1].text) : lo;
      char* endp = nullptr;
      const long v = std::strtol(cid.text.c_str(), &endp, 10);
      if (cid.kind == Token::kWord && hi >= lo && v >= 0 && v < 65536) {
        ranges_.push_back({lo, hi, (int)pending[0].text.size(), (uint32_t)v});
      }
    }
    pending.clear();
  }
}

int32_t CidMap::Lookup(uint32_t code, int bytes) const {
  for (const Range& r : ranges_) {
    if (r.bytes == bytes && code >= r.lo && code <= r.hi) return (int32_t)(r.cid + (code - r.lo));
  }
  return -1;
}

namespace {

// Names of 0x20-0x7E and 0xA1-0xFF in the Latin-1 order.
const char* const kAsciiNames[95] = {
    "space", "exclam", "quotedbl", "numbersign", "dollar", "percent", "ampersand", "quotesingle",
    "parenleft", "parenright", "asterisk", "plus", "comma", "hyphen", "period", "slash", "zero",
    "one", "two", "three", "four", "five", "six", "seven", "eight", "nine", "colon", "semicolon",
    "less", "equal", "greater", "question", "at", "A", "B", "C", "D", "E", "F", "G", "H", "I", "J",
    "K", "L", "M", "N", "O", "P", "Q", "R", "S", "T", "U", "V", "W", "X", "Y", "Z", "bracketleft",
    "backslash", "bracketright", "asciicircum", "underscore", "grave", "a", "b", "c", "d", "e",
    "f", "g", "h", "i", "j", "k", "l", "m", "n", "o", "p", "q", "r", "s", "t", "u", "v", "w", "x",
    "y", "z", "braceleft", "bar", "braceright", "asciitilde"};
const char* const kLatin1Names[95] = {
    "exclamdown", "cent", "sterling", "currency", "yen", "brokenbar", "section", "dieresis",
    "copyright", "ordfeminine", "guillemotleft", "logicalnot", "sfthyphen", "registered",
    "macron", "degree", "plusminus", "twosuperior", "threesuperior", "acute", "mu", "paragraph",
    "periodcentered", "cedilla", "onesuperior", "ordmasculine", "guillemotright", "onequarter",
    "onehalf", "threequarters", "questiondown", "Agrave", "Aacute", "Acircumflex", "Atilde",
    "Adieresis", "Aring", "AE", "Ccedilla", "Egrave", "Eacute", "Ecircumflex", "Edieresis",
    "Igrave", "Iacute", "Icircumflex", "Idieresis", "Eth", "Ntilde", "Ograve", "Oacute",
    "Ocircumflex", "Otilde", "Odieresis", "multiply", "Oslash", "Ugrave", "Uacute", "Ucircumflex",
    "Udieresis", "Yacute", "Thorn", "germandbls", "agrave", "aacute", "acircumflex", "atilde",
    "adieresis", "aring", "ae", "ccedilla", "egrave", "eacute", "ecircumflex", "edieresis",
    "igrave", "iacute", "icircumflex", "idieresis", "eth", "ntilde", "ograve", "oacute",
    "ocircumflex", "otilde", "odieresis", "divide", "oslash", "ugrave", "uacute", "ucircumflex",
    "udieresis", "yacute", "thorn", "ydieresis"};

struct NamedGlyph {
  const char* name;
  const char16_t* text;
};
const NamedGlyph kOtherNames[] = {
    {"Euro", u"\u20AC"}, {"quotesinglbase", u"\u201A"}, {"florin", u"\u0192"},
    {"quotedblbase", u"\u201E"}, {"ellipsis", u"\u2026"}, {"dagger", u"\u2020"},
    {"daggerdbl", u"\u2021"}, {"circumflex", u"\u02C6"}, {"perthousand", u"\u2030"},
    {"Scaron", u"\u0160"}, {"guilsinglleft", u"\u2039"}, {"OE", u"\u0152"}, {"Zcaron", u"\u017D"},
    {"quoteleft", u"\u2018"}, {"quoteright", u"\u2019"}, {"quotedblleft", u"\u201C"},
    {"quotedblright", u"\u201D"}, {"bullet", u"\u2022"}, {"endash", u"\u2013"},
    {"emdash", u"\u2014"}, {"tilde", u"\u02DC"}, {"trademark", u"\u2122"}, {"scaron", u"\u0161"},
    {"guilsinglright", u"\u203A"}, {"oe", u"\u0153"}, {"zcaron", u"\u017E"},
    {"Ydieresis", u"\u0178"}, {"fi", u"fi"}, {"fl", u"fl"}, {"ff", u"ff"}, {"ffi", u"ffi"},
    {"ffl", u"ffl"}, {"dotlessi", u"\u0131"}, {"Lslash", u"\u0141"}, {"lslash", u"\u0142"},
    {"fraction", u"\u2044"}, {"minus", u"\u2212"}, {"breve", u"\u02D8"}, {"dotaccent", u"\u02D9"},
    {"ring", u"\u02DA"}, {"hungarumlaut", u"\u02DD"}, {"ogonek", u"\u02DB"}, {"caron", u"\u02C7"},
    {"nbspace", u"\u00A0"}, {"nonbreakingspace", u"\u00A0"}, {"middot", u"\u00B7"},
    {"notequal", u"\u2260"}, {"infinity", u"\u221E"}, {"lessequal", u"\u2264"},
    {"greaterequal", u"\u2265"}, {"partialdiff", u"\u2202"}, {"summation", u"\u2211"},
    {"product", u"\u220F"}, {"pi", u"\u03C0"}, {"integral", u"\u222B"}, {"Omega", u"\u03A9"},
    {"radical", u"\u221A"}, {"approxequal", u"\u2248"}, {"Delta", u"\u2206"}, {"lozenge", u"\u25CA"},
    {"apple", u"\uF8FF"}, {"twodotenleader", u"\u2025"}, {"onedotenleader", u"\u2024"},
    {"arrowleft", u"\u2190"}, {"arrowup", u"\u2191"}, {"arrowright", u"\u2192"},
    {"arrowdown", u"\u2193"}, {"degreecentigrade", u"\u2103"}, {"Alpha", u"\u0391"},
    {"alpha", u"\u03B1"}, {"beta", u"\u03B2"}, {"gamma", u"\u03B3"}, {"delta", u"\u03B4"},
    {"epsilon", u"\u03B5"}, {"lambda", u"\u03BB"}, {"mu1", u"\u00B5"}, {"sigma", u"\u03C3"},
    {"theta", u"\u03B8"}, {"omega", u"\u03C9"}, {"periodcentered", u"\u00B7"},
};

const std::unordered_map<std::string_view, std::u16string>& NameTable() {
  static const auto* table = [] {
    auto* t = new std::unordered_map<std::string_view, std::u16string>();
    for (int i = 0; i < 95; ++i) {
      t->emplace(kAsciiNames[i], std::u16string(1, (char16_t)(0x20 + i)));
      t->emplace(kLatin1Names[i], std::u16string(1, (char16_t)(0xA1 + i)));
    }
    for (const NamedGlyph& g : kOtherNames) t->emplace(g.name, g.text);
#ifdef KURIBO_GLYPH_LIST
    // Where a name is listed twice, its first value stands.
    for (int32_t i = 0; i < kGlyphListCount; ++i) {
      t->emplace(kGlyphList[i].name, kGlyphList[i].text);
    }
#endif
    return t;
  }();
  return *table;
}

bool HexRun(std::string_view s, size_t digits, uint32_t& v) {
  if (s.size() != digits) return false;
  v = 0;
  for (char c : s) {
    const int n = Nibble((unsigned char)c);
    if (n < 0 || (c >= 'a' && c <= 'f')) return false;  // upper-case digits only
    v = v << 4 | (uint32_t)n;
  }
  return true;
}

void AppendCodePoint(std::u16string& out, uint32_t cp) {
  if (cp >= 0x10000 && cp <= 0x10FFFF) {
    cp -= 0x10000;
    out += (char16_t)(0xD800 + (cp >> 10));
    out += (char16_t)(0xDC00 + (cp & 0x3FF));
  } else if (cp < 0xD800 || (cp > 0xDFFF && cp < 0x10000)) {
    out += (char16_t)cp;
  }
}

}  // namespace

std::u16string GlyphNameToUnicode(std::string_view name) {
  const size_t dot = name.find('.');
  if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
  const auto& table = NameTable();
  auto it = table.find(name);
  if (it != table.end()) return it->second;
  std::u16string out;
  uint32_t v = 0;
  if (name.size() >= 7 && name.substr(0, 3) == "uni" && (name.size() - 3) % 4 == 0) {
    for (size_t i = 3; i < name.size(); i += 4) {
      if (!HexRun(name.substr(i, 4), 4, v)) return {};
      AppendCodePoint(out, v);
    }
    return out;
  }
  if (name.size() >= 5 && name.size() <= 7 && name[0] == 'u' &&
      HexRun(name.substr(1), name.size() - 1, v)) {
    AppendCodePoint(out, v);
    return out;
  }
  // Ligatures and variants written as parts joined by '_'.
  const size_t us = name.find('_');
  if (us != std::string_view::npos && us > 0) {
    for (size_t from = 0; from <= name.size();) {
      size_t to = name.find('_', from);
      if (to == std::string_view::npos) to = name.size();
      const std::u16string part = GlyphNameToUnicode(name.substr(from, to - from));
      if (part.empty()) return {};
      out += part;
      from = to + 1;
    }
  }
  return out;
}

namespace {

struct Encodings {
  char16_t standard[256] = {};
  char16_t winAnsi[256] = {};
  char16_t macRoman[256] = {};
};

const char16_t kWinAnsiHigh[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0, 0x017D, 0, 0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};
const char16_t kMacRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4,
    0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF,
    0x00F1, 0x00F3, 0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020,
    0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4,
    0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202,
    0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF, 0x00A1,
    0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x0020, 0x00C0, 0x00C3,
    0x00D5, 0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,
    0x00FF, 0x0178, 0x2044, 0x00A4, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A,
    0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1, 0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC,
    0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC, 0x00AF,
    0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7};
// StandardEncoding above 0x7F: (code, unit) pairs.
const char16_t kStandardHigh[][2] = {
    {0xA1, 0x00A1}, {0xA2, 0x00A2}, {0xA3, 0x00A3}, {0xA4, 0x2044}, {0xA5, 0x00A5},
    {0xA6, 0x0192}, {0xA7, 0x00A7}, {0xA8, 0x00A4}, {0xA9, 0x0027}, {0xAA, 0x201C},
    {0xAB, 0x00AB}, {0xAC, 0x2039}, {0xAD, 0x203A}, {0xAE, 0xFB01}, {0xAF, 0xFB02},
    {0xB1, 0x2013}, {0xB2, 0x2020}, {0xB3, 0x2021}, {0xB4, 0x00B7}, {0xB6, 0x00B6},
    {0xB7, 0x2022}, {0xB8, 0x201A}, {0xB9, 0x201E}, {0xBA, 0x201D}, {0xBB, 0x00BB},
    {0xBC, 0x2026}, {0xBD, 0x2030}, {0xBF, 0x00BF}, {0xC1, 0x0060}, {0xC2, 0x00B4},
    {0xC3, 0x02C6}, {0xC4, 0x02DC}, {0xC5, 0x00AF}, {0xC6, 0x02D8}, {0xC7, 0x02D9},
    {0xC8, 0x00A8}, {0xCA, 0x02DA}, {0xCB, 0x00B8}, {0xCD, 0x02DD}, {0xCE, 0x02DB},
    {0xCF, 0x02C7}, {0xD0, 0x2014}, {0xE1, 0x00C6}, {0xE3, 0x00AA}, {0xE8, 0x0141},
    {0xE9, 0x00D8}, {0xEA, 0x0152}, {0xEB, 0x00BA}, {0xF1, 0x00E6}, {0xF5, 0x0131},
    {0xF8, 0x0142}, {0xF9, 0x00F8}, {0xFA, 0x0153}, {0xFB, 0x00DF}};

const Encodings& Tables() {
  static const Encodings* e = [] {
    auto* t = new Encodings();
    for (int c = 0x20; c < 0x7F; ++c) t->standard[c] = t->winAnsi[c] = t->macRoman[c] = (char16_t)c;
    t->standard[0x27] = 0x2019;
    t->standard[0x60] = 0x2018;
    for (const auto& p : kStandardHigh) t->standard[p[0]] = p[1];
    for (int c = 0; c < 32; ++c) t->winAnsi[0x80 + c] = kWinAnsiHigh[c];
    for (int c = 0xA0; c < 0x100; ++c) t->winAnsi[c] = (char16_t)c;
    t->winAnsi[0xA0] = 0x20;
    for (int c = 0; c < 128; ++c) t->macRoman[0x80 + c] = kMacRomanHigh[c];
    return t;
  }();
  return *e;
}

}  // namespace

const char16_t* StandardEncoding() { return Tables().standard; }
const char16_t* WinAnsiEncoding() { return Tables().winAnsi; }
const char16_t* MacRomanEncoding() { return Tables().macRoman; }

JapaneseCodes PredefinedCodes(std::string_view n, std::vector<CodeSpace>& space) {
  space.clear();
  auto add = [&](int bytes, std::initializer_list<unsigned char> lohi) {
    CodeSpace cs;
    cs.bytes = bytes;
    auto it = lohi.begin();
    for (int i = 0; i < bytes; ++i) {
      cs.lo[i] = *it++;
      cs.hi[i] = *it++;
    }
    space.push_back(cs);
  };
  auto has = [&](std::string_view part) { return n.find(part) != std::string_view::npos; };
  if (has("RKSJ") && !has("UCS2")) {
    add(1, {0x00, 0x80});
    add(1, {0xA0, 0xDF});
    add(2, {0x81, 0x9F, 0x40, 0xFC});
    add(2, {0xE0, 0xFC, 0x40, 0xFC});
    return JapaneseCodes::kShiftJis;
  }
  if ((n.rfind("EUC-", 0) == 0 || n.rfind("78-EUC-", 0) == 0)) {
    add(1, {0x00, 0x80});
    add(2, {0x8E, 0x8E, 0xA0, 0xDF});
    add(2, {0xA1, 0xFE, 0xA1, 0xFE});
    return JapaneseCodes::kEuc;
  }
  static const char* const kJisNames[] = {"H",     "V",     "78-H",  "78-V",  "Add-H",
                                          "Add-V", "Ext-H", "Ext-V", "NWP-H", "NWP-V"};
  for (const char* j : kJisNames) {
    if (n == j) {
      add(2, {0x21, 0x7E, 0x21, 0x7E});
      return JapaneseCodes::kJis;
    }
  }
  if (n.rfind("Uni", 0) == 0 && has("-UCS2")) {
    add(2, {0x00, 0xFF, 0x00, 0xFF});
    return JapaneseCodes::kUcs2;
  }
  if (n.rfind("Uni", 0) == 0 && has("-UTF16")) {
    add(4, {0xD8, 0xDB, 0x00, 0xFF, 0xDC, 0xDF, 0x00, 0xFF});
    add(2, {0x00, 0xD7, 0x00, 0xFF});
    add(2, {0xE0, 0xFF, 0x00, 0xFF});
    return JapaneseCodes::kUtf16;
  }
  if (n.rfind("Uni", 0) == 0 && has("-UTF8-")) {
    add(1, {0x00, 0x7F});
    add(2, {0xC2, 0xDF, 0x80, 0xBF});
    add(3, {0xE0, 0xEF, 0x80, 0xBF, 0x80, 0xBF});
    add(4, {0xF0, 0xF4, 0x80, 0xBF, 0x80, 0xBF, 0x80, 0xBF});
    return JapaneseCodes::kUtf8;
  }
  if (n.rfind("Uni", 0) == 0 && has("-UTF32-")) {
    add(4, {0x00, 0x00, 0x00, 0x10, 0x00, 0xFF, 0x00, 0xFF});
    return JapaneseCodes::kUtf32;
  }
  if (n == "Hojo-H" || n == "Hojo-V") {
    add(2, {0x21, 0x7E, 0x21, 0x7E});
    return JapaneseCodes::kHojo;
  }
  if (n == "Hojo-EUC-H" || n == "Hojo-EUC-V") {
    // EUC-JP's third set, written with or without its 0x8F prefix.
    add(1, {0x00, 0x80});
    add(2, {0xA1, 0xFE, 0xA1, 0xFE});
    add(3, {0x8F, 0x8F, 0xA1, 0xFE, 0xA1, 0xFE});
    return JapaneseCodes::kHojo;
  }
  add(2, {0x00, 0xFF, 0x00, 0xFF});
  return JapaneseCodes::kNone;
}

int JisToSjis(uint32_t code) {
  const uint32_t j1 = code >> 8, j2 = code & 0xFF;
  if (j1 < 0x21 || j1 > 0x7E || j2 < 0x21 || j2 > 0x7E) return -1;
  const uint32_t s1 = ((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0);
  const uint32_t s2 = j2 + ((j1 & 1) ? (j2 >= 0x60 ? 0x20 : 0x1F) : 0x7E);
  return (int)(s1 << 8 | s2);
}

int EucToSjis(uint32_t code, int bytes) {
  if (bytes == 1) return code < 0x80 ? (int)code : -1;
  if (bytes != 2) return -1;
  const uint32_t b1 = code >> 8, b2 = code & 0xFF;
  if (b1 == 0x8E) return (b2 >= 0xA1 && b2 <= 0xDF) ? (int)b2 : -1;
  return JisToSjis(code - 0x8080);
}

namespace {

uint32_t Jis0212ToUnicode(uint32_t code) {
  const uint32_t j1 = (code >> 8 & 0xFF) & 0x7F, j2 = (code & 0xFF) & 0x7F;
  if (j1 < 0x21 || j1 > 0x7E || j2 < 0x21 || j2 > 0x7E) return 0;
  const uint16_t index = (uint16_t)((j1 - 0x21) * 94 + (j2 - 0x21));
  // The generated pairs are in index order.
  size_t lo = 0, hi = tables::kJis0212DecodeCount;
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    const uint16_t at = tables::kJis0212Decode[2 * mid];
    if (at == index) return tables::kJis0212Decode[2 * mid + 1];
    if (at < index) lo = mid + 1;
    else hi = mid;
  }
  return 0;
}

uint32_t Utf8Value(uint32_t code, int bytes) {
  if (bytes == 1) return code < 0x80 ? code : 0;
  static const uint32_t kLeadMask[5] = {0, 0, 0x1F, 0x0F, 0x07};
  static const uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (bytes < 2 || bytes > 4) return 0;
  uint32_t cp = code >> (8 * (bytes - 1)) & kLeadMask[bytes];
  for (int i = bytes - 2; i >= 0; --i) {
    const uint32_t b = code >> (8 * i) & 0xFF;
    if ((b & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (b & 0x3F);
  }
  if (cp < kLeast[bytes] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return cp;
}

}  // namespace

uint32_t PredefinedUnicode(JapaneseCodes codes, uint32_t code, int bytes) {
  switch (codes) {
    case JapaneseCodes::kUcs2:
    case JapaneseCodes::kUtf16:
      if (bytes == 4) {
        const uint32_t high = code >> 16, low = code & 0xFFFF;
        if (high < 0xD800 || high > 0xDBFF || low < 0xDC00 || low > 0xDFFF) return 0;
        return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
      }
      return code;
    case JapaneseCodes::kUtf8:
      return Utf8Value(code, bytes);
    case JapaneseCodes::kUtf32:
      return bytes == 4 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF) ? code : 0;
    case JapaneseCodes::kHojo:
      if (bytes == 1) return code < 0x80 ? code : 0;
      if (bytes == 3 && code >> 16 != 0x8F) return 0;
      return bytes == 2 || bytes == 3 ? Jis0212ToUnicode(code & 0xFFFF) : 0;
    default:
      return 0;
  }
}

}  // namespace kuribo::pdf

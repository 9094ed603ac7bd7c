#include "app/settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "encoding/sjis.h"
#include "platform/fs.h"

namespace kuribo {
namespace {

bool IsBlank(char c) { return (unsigned char)c <= 0x20; }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = (char)(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = (char)(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// "[name]" with blanks around; empty view when the line is no section header.
std::string_view SectionName(std::string_view line) {
  std::string_view t = line;
  while (!t.empty() && IsBlank(t.front())) t.remove_prefix(1);
  while (!t.empty() && IsBlank(t.back())) t.remove_suffix(1);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return {};
  return t.substr(1, t.size() - 2);
}

bool IsSection(std::string_view line) { return SectionName(line).data() != nullptr; }

// Whether `line` is "key = value" for `key`; `value` receives the raw text after "=".
bool KeyLine(std::string_view line, std::string_view key, std::string_view* value) {
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  std::string_view name = line.substr(0, eq);
  while (!name.empty() && IsBlank(name.front())) name.remove_prefix(1);
  while (!name.empty() && IsBlank(name.back())) name.remove_suffix(1);
  if (!EqualsIgnoreCase(name, key)) return false;
  if (value) *value = line.substr(eq + 1);
  return true;
}

// Cuts UTF-8 text to at most `limit` bytes without splitting a character.
std::string CutUtf8(std::string s, size_t limit) {
  if (s.size() <= limit) return s;
  size_t n = limit;
  while (n > 0 && ((unsigned char)s[n] & 0xC0) == 0x80) --n;
  s.resize(n);
  return s;
}

// The file's first kMaxSettingsFileBytes (cut after its last whole line), or
// nothing when it cannot be read (a directory or a pipe in its place, no
// permission); never throws, never blocks.
bool ReadFileBytes(const std::string& path, std::string* bytes) {
  const int fd = OpenFileForReading(path);
  if (fd < 0) return false;
  bytes->resize(kMaxSettingsFileBytes + 1);
  bytes->resize(ReadFully(fd, bytes->data(), bytes->size()));
  close(fd);
  if (bytes->size() > kMaxSettingsFileBytes) {
    const size_t nl = bytes->rfind('\n', kMaxSettingsFileBytes - 1);
    bytes->resize(nl == std::string::npos ? 0 : nl + 1);
  }
  return true;
}

// Shift_JIS as the Windows build writes it: every lead byte with a trail byte,
// every code a character.
bool IsValidSjis(std::string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = (unsigned char)s[i];
    if (c < 0x80) continue;
    if (IsCp932Lead(c)) {
      if (i + 1 >= s.size() || !IsTrailByte((unsigned char)s[i + 1])) return false;
      if (Cp932ToUtf16((uint16_t)(c << 8 | (unsigned char)s[i + 1])) < 0) return false;
      ++i;
    } else if (Cp932ToUtf16(c) < 0) {
      return false;
    }
  }
  return true;
}

// Decided per value: one stray byte elsewhere in the file changes nothing
// here. Bytes that are neither UTF-8 nor Shift_JIS stay as they are (a path in
// another encoding still names its directory).
std::string DecodeValue(std::string_view raw) {
  if (IsValidUtf8(raw) || !IsValidSjis(raw)) return std::string(raw);
  return SjisToUtf8(raw);
}

}  // namespace

std::string TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return std::string(s);
}

std::vector<std::string> SplitSettingValue(std::string_view value, bool trimLast) {
  std::vector<std::string> entries;
  std::string rest(value);
  while (!rest.empty()) {
    size_t sep = rest.find(";;");
    if (sep == std::string::npos) {
      entries.push_back(trimLast ? TrimBlanks(rest) : rest);
      break;
    }
    entries.push_back(TrimBlanks(std::string_view(rest).substr(0, sep)));
    rest = TrimBlanks(std::string_view(rest).substr(sep + 2));
  }
  return entries;
}

std::string JoinSettingValue(const std::vector<std::string>& entries) {
  std::string out;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i) out += ";;";
    out += entries[i];
  }
  return out;
}

std::string BuildTypeValue(const std::array<bool, kTypeBoxes>& checked, std::string_view other) {
  std::string typ;
  for (int i = 0; i < kTypeBoxes; ++i) {
    if (!checked[i]) continue;
    typ += ";;";
    typ += kTypeBoxTable[i].ext1;
    if (kTypeBoxTable[i].ext2) {
      typ += ";;";
      typ += kTypeBoxTable[i].ext2;
    }
  }
  std::string rest = TrimBlanks(other);
  while (!rest.empty()) {
    size_t semi = rest.find(';');
    typ += ";;";
    if (semi == std::string::npos) {
      typ += TrimBlanks(rest);
      break;
    }
    typ += TrimBlanks(std::string_view(rest).substr(0, semi));
    rest = TrimBlanks(std::string_view(rest).substr(semi + 1));
  }
  if (typ.size() > 2) typ = TrimBlanks(std::string_view(typ).substr(2));
  return typ;
}

TypeSelection ParseTypeValue(std::string_view value) {
  TypeSelection types;
  for (const std::string& entry : SplitSettingValue(value, false)) {
    bool ticked = false;
    for (int i = 0; i < kTypeBoxes && !ticked; ++i) {
      const TypeBox& box = kTypeBoxTable[i];
      if (entry == box.ext1 || (box.ext2 && entry == box.ext2)) {
        types.checked[i] = true;
        ticked = true;
      }
    }
    if (ticked) continue;
    if (types.other.empty()) {
      types.other = entry;
    } else {
      types.other += " ; ";
      types.other += entry;
    }
  }
  return types;
}

std::string NormalizeOtherExtensions(std::string_view text) {
  std::string out;
  std::string rest = TrimBlanks(text);
  while (!rest.empty()) {
    std::string entry;
    size_t semi = rest.find(';');
    if (semi == std::string::npos) {
      entry = rest;
      rest.clear();
    } else {
      entry = TrimBlanks(std::string_view(rest).substr(0, semi));
      rest = TrimBlanks(std::string_view(rest).substr(semi + 1));
    }
    if (out.empty()) {
      out = entry;
    } else {
      out += " ; ";
      out += entry;
    }
  }
  return out;
}

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = (unsigned char)s[i];
    size_t n;
    char32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      n = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;
    for (size_t k = 1; k <= n; ++k) {
      unsigned char d = (unsigned char)s[i + k];
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF.
    if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += n + 1;
  }
  return true;
}

std::string FitSettingList(std::string_view value) {
  if (value.size() <= kMaxSettingValueBytes) return std::string(value);
  // An entry ends where a separator starts (or at the end); the last one that
  // ends within the limit is the last one kept.
  const size_t sep = value.rfind(";;", kMaxSettingValueBytes);
  return sep == std::string_view::npos ? std::string() : TrimBlanks(value.substr(0, sep));
}

IniText IniText::FromFileBytes(std::string_view bytes) {
  // Lines stay as bytes; each value is decoded when it is read (a file written
  // by the Windows build keeps the system code page).
  std::string_view text = bytes;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  IniText ini;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    size_t end = nl == std::string::npos ? text.size() : nl;
    std::string line(text.substr(start, end - start));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ini.lines_.push_back(std::move(line));
    start = end + 1;
  }
  return ini;
}

std::string IniText::Get(std::string_view section, std::string_view key) const {
  return CutUtf8(GetWhole(section, key), kMaxSettingValueBytes);
}

std::string IniText::GetWhole(std::string_view section, std::string_view key) const {
  bool inSection = false;
  for (const std::string& line : lines_) {
    if (IsSection(line)) {
      inSection = EqualsIgnoreCase(SectionName(line), section);
      continue;
    }
    std::string_view value;
    if (inSection && KeyLine(line, key, &value)) {
      return DecodeValue(TrimBlanks(value));
    }
  }
  return {};
}

void IniText::Set(std::string_view section, std::string_view key, std::string_view value) {
  std::string line(key);
  line += '=';
  // A line break inside a value would start a line of its own.
  for (char c : value) line += (c == '\r' || c == '\n') ? ' ' : c;

  size_t sectionAt = lines_.size();
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (IsSection(lines_[i]) && EqualsIgnoreCase(SectionName(lines_[i]), section)) {
      sectionAt = i;
      break;
    }
  }
  if (sectionAt == lines_.size()) {
    if (!lines_.empty() && !TrimBlanks(lines_.back()).empty()) lines_.emplace_back();
    lines_.push_back("[" + std::string(section) + "]");
    lines_.push_back(std::move(line));
    return;
  }
  size_t lastContent = sectionAt;
  for (size_t i = sectionAt + 1; i < lines_.size() && !IsSection(lines_[i]); ++i) {
    if (KeyLine(lines_[i], key, nullptr)) {
      lines_[i] = std::move(line);
      return;
    }
    if (!TrimBlanks(lines_[i]).empty()) lastContent = i;
  }
  lines_.insert(lines_.begin() + (std::ptrdiff_t)lastContent + 1, std::move(line));
}

std::string IniText::ToBytes() const {
  std::string out;
  for (const std::string& line : lines_) {
    out += line;
    out += '\n';
  }
  return out;
}

SettingsValues ReadSettingsFile(const std::string& path) {
  SettingsValues values;
  std::string bytes;
  if (!ReadFileBytes(path, &bytes)) return values;
  IniText ini = IniText::FromFileBytes(bytes);
  values.key = FitSettingList(ini.GetWhole(kSettingsSection, "KEY"));
  values.dir = FitSettingList(ini.GetWhole(kSettingsSection, "DIR"));
  values.typ = FitSettingList(ini.GetWhole(kSettingsSection, "TYP"));
  return values;
}

bool SettingsFit(const SettingsValues& values) {
  return values.key.size() <= kMaxSettingValueBytes && values.dir.size() <= kMaxSettingValueBytes &&
         values.typ.size() <= kMaxSettingValueBytes;
}

bool WriteSettingsFile(const std::string& path, const SettingsValues& values,
                       const std::vector<std::pair<std::string, std::string>>& extra,
                       bool* readOnly) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (readOnly) *readOnly = false;
  IniText ini;
  std::string old;
  if (ReadFileBytes(path, &old)) ini = IniText::FromFileBytes(old);
  ini.Set(kSettingsSection, "KEY", values.key);
  ini.Set(kSettingsSection, "DIR", values.dir);
  ini.Set(kSettingsSection, "TYP", values.typ);
  for (const auto& [key, value] : extra) ini.Set(kSettingsSection, key, value);
  const std::string bytes = ini.ToBytes();

  // A link (a settings file kept elsewhere) is written through, not replaced.
  std::string target = path;
  if (fs::is_symlink(path, ec)) {
    fs::path resolved = fs::canonical(path, ec);
    if (ec) return false;
    target = resolved.string();
  }
  if (fs::is_directory(target, ec)) return false;
  // A file the user made read-only is left as it is, even where this process
  // could replace it (the directory writable, or running as root).
  struct stat st;
  const bool exists = stat(target.c_str(), &st) == 0;
  if (exists && ((st.st_mode & 0222) == 0 || access(target.c_str(), W_OK) != 0)) {
    if (readOnly) *readOnly = true;
    return false;
  }
  const std::string temp = target + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), (std::streamsize)bytes.size());
    out.close();
    if (!out) {
      fs::remove(temp, ec);
      return false;
    }
  }
  if (exists) chmod(temp.c_str(), st.st_mode & 07777);
  fs::rename(temp, target, ec);
  if (ec) {
    fs::remove(temp, ec);
    return false;
  }
  return true;
}

std::string ReadSettingsKey(const std::string& path, std::string_view key) {
  std::string bytes;
  if (!ReadFileBytes(path, &bytes)) return {};
  return IniText::FromFileBytes(bytes).Get(kSettingsSection, key);
}

}  // namespace kuribo

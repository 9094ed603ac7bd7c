// The settings file: keywords, directories and the file-type selection kept
// from one run of the program to the next. INI text of our own reading and
// writing, so that values stay byte for byte as the user made them.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/search.h"

namespace kuribo {

constexpr const char* kSettingsFileName = "kuribo.ini";
constexpr const char* kSettingsSection = "COMMON";
// A value is read back up to this many bytes.
constexpr size_t kMaxSettingValueBytes = 2047;
// Of a settings file only this much is read: three values of that size, and
// room for the other lines the user keeps beside them.
constexpr size_t kMaxSettingsFileBytes = 1 << 20;

// Blanks here are the space and the control characters.
std::string TrimBlanks(std::string_view s);

// Splits a value at ";;". Entries before a separator and the text after it are
// trimmed; the last entry is trimmed only when `trimLast` (TYP keeps it as is).
std::vector<std::string> SplitSettingValue(std::string_view value, bool trimLast);

// Entries joined with ";;", untrimmed.
std::string JoinSettingValue(const std::vector<std::string>& entries);

// The TYP value of the ticked boxes (in table order) and the other-extensions text.
std::string BuildTypeValue(const std::array<bool, kTypeBoxes>& checked, std::string_view other);

// What a TYP value means: boxes ticked by exact (case-sensitive) extensions,
// every other entry appended to the other-extensions text with " ; ".
TypeSelection ParseTypeValue(std::string_view value);

// The other-extensions text as it reads after the user leaves the box: its
// ";"-separated entries trimmed and joined with " ; ".
std::string NormalizeOtherExtensions(std::string_view text);

// A list value as the read limit leaves it: an entry that does not fit whole
// within kMaxSettingValueBytes is dropped with everything after it, never cut
// (a cut directory would name its parent).
std::string FitSettingList(std::string_view value);

// The three values as they stand in the file (UTF-8).
struct SettingsValues {
  std::string key;
  std::string dir;
  std::string typ;
};

// INI text kept line by line, so that a save leaves every other line as it was.
// Section and key names compare without regard to ASCII case.
class IniText {
 public:
  IniText() = default;
  // Bytes of a file. Each value is read as UTF-8, or as Shift_JIS when it is
  // not valid UTF-8 but valid Shift_JIS; other bytes are kept as they are.
  static IniText FromFileBytes(std::string_view bytes);

  // The value (trimmed of blanks at both ends, at most kMaxSettingValueBytes
  // bytes, never cut inside a character); empty when absent.
  std::string Get(std::string_view section, std::string_view key) const;
  // The same, whole.
  std::string GetWhole(std::string_view section, std::string_view key) const;
  void Set(std::string_view section, std::string_view key, std::string_view value);
  std::string ToBytes() const;

 private:
  std::vector<std::string> lines_;
};

bool IsValidUtf8(std::string_view s);

// Reads the settings file (lists as FitSettingList leaves them); a missing or
// unreadable file reads as empty values.
SettingsValues ReadSettingsFile(const std::string& path);

// Whether the three values will read back whole.
bool SettingsFit(const SettingsValues& values);

// Writes the three values under "COMMON", keeping the rest of the file. The
// file is replaced whole (through a neighbour and a rename), so a failed save
// never leaves it half written. False when it could not be written;
// `readOnly` then tells a file the user made read-only, which is not touched.
// `extra`: further keys of the same section (the window's size and column
// widths), written beside the three.
bool WriteSettingsFile(const std::string& path, const SettingsValues& values,
                       const std::vector<std::pair<std::string, std::string>>& extra = {},
                       bool* readOnly = nullptr);

// One further key of the section; empty when absent or unreadable.
std::string ReadSettingsKey(const std::string& path, std::string_view key);

}  // namespace kuribo

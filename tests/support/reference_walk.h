// The text walks written out one byte at a time into a new string, as plainly
// as the rules read: the yardstick for the in-place walks in tests and fuzzing.
#pragma once

#include <string>

namespace kuribo::test {

enum class WalkRules { kCompact, kHtml, kCsv };

inline std::string ReferenceWalk(const std::string& in, WalkRules rules) {
  std::string out;
  const size_t cap = rules == WalkRules::kCompact ? 1'000'000 : rules == WalkRules::kHtml ? 999'999 : in.size();
  const size_t limit = in.size() < cap ? in.size() : cap;
  auto space = [&] {
    if (!out.empty() && out.back() != ' ') out.push_back(' ');
  };
  size_t r = 0;
  while (r < limit) {
    const unsigned char c = (unsigned char)in[r];
    const bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    const bool printable = (c >= 0x20 && c <= 0x7E) || (c >= 0xA1 && c <= 0xDF);
    if (lead && r + 1 == in.size()) break;  // a lone lead byte at the end is dropped
    if (c == 0x81 && (unsigned char)in[r + 1] == 0x40) {
      r += 2;
      space();
    } else if (lead) {
      out.push_back((char)c);
      out.push_back(in[r + 1]);
      r += 2;
    } else if (rules == WalkRules::kHtml && c == '<') {
      const size_t close = in.find('>', r);
      r = close == std::string::npos ? in.size() : close + 1;
      space();
    } else if (rules == WalkRules::kCsv && c == ',') {
      ++r;
      if (!out.empty() && out.back() != ' ') out.push_back(',');
    } else if (c == ' ' || !printable) {
      ++r;
      space();
    } else {
      out.push_back((char)c);
      ++r;
    }
    if (rules == WalkRules::kCompact && out.size() > 999'998) break;
  }
  return out;
}

}  // namespace kuribo::test

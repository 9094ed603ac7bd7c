// Keyword variants, match counting and the result snippet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kuribo {

// Shift_JIS byte strings: the user's keywords first, then their variants.
using KeywordList = std::vector<std::string>;

// The longest keyword (and variant) in Shift_JIS bytes.
constexpr size_t kMaxKeywordBytes = 127;
constexpr size_t kSnippetBufferSize = 512;
constexpr int kMaxSnippetBytes = 100;

// Appends the width, case, katakana and number variants of every keyword
// present at the call; no entry is added twice.
void ExpandKeywords(KeywordList& keywords);

// Counts `keyword` in `text` (each of the given length). After a match starting
// at s the search resumes at s + m - 1. `first` (when given) receives the
// position of the first match's second-to-last byte, or -1.
int CountMatches(const char* text, size_t textLength, const char* keyword, size_t keywordLength,
                 int* first = nullptr);

// The matching step of one file: hits of every entry in the path and in the
// text, and the snippet near the earliest hit in the text, zero-terminated, in
// `snippet` (kSnippetBufferSize bytes). `text` must be zero-terminated at textLength.
int MatchFile(const std::string& sjisPath, const char* text, int32_t textLength,
              const KeywordList& keywords, char* snippet);

// Checks a keyword as the user typed it (UTF-8, trimmed by the caller) and gives
// its Shift_JIS form; on refusal returns false with a message in Japanese.
bool KeywordToSjis(const std::string& utf8, std::string* sjis, std::string* error);

}  // namespace kuribo

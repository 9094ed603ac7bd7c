// Plain text, HTML and CSV files: text in any Japanese encoding (HTML with its
// tags turned into spaces), and CSV taken as Shift_JIS as it stands.
#pragma once

#include <cstdint>
#include <string>

#include "extract/context.h"

namespace kuribo {

// Extractors: the text at ctx.text, its length returned (0 when the file cannot
// be read). `size` is not used.
int ExtractTextFile(const std::string& path, int32_t size, ExtractionContext& ctx);
int ExtractHtmlFile(const std::string& path, int32_t size, ExtractionContext& ctx);
int ExtractCsvFile(const std::string& path, int32_t size, ExtractionContext& ctx);

// The in-place walks behind the HTML and CSV extractors, over n bytes of
// Shift_JIS. HTML: the compaction rules, with each tag from "<" to the next ">"
// (or to the end) yielding one space; at most 999,999 bytes are walked. CSV: the
// compaction rules, with a comma emitted only after something other than a
// space. Neither reads at or past buf[n]. Return the new length.
int32_t WalkHtmlText(char* buf, int32_t n);
int32_t WalkCsvText(char* buf, int32_t n);

}  // namespace kuribo

// Conversion of a whole text file in any common Japanese encoding to Shift_JIS
// (code page 932), for the plain-text and HTML extractors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kuribo {

// Bytes are stored while the stored count is at most 999,900.
constexpr int32_t kConvertedTextCap = 999'901;

enum class TextEncoding { kAscii, kShiftJis, kEucJp, kIso2022Jp, kUtf8, kUtf16Le, kUtf16Be };

// Converts the file at `path` into `out` (room for kConvertedTextCap bytes) and
// returns the byte count, or -1 when the file cannot be opened. The input
// encoding is detected among ISO-2022-JP, EUC-JP, Shift_JIS, UTF-8 (with or
// without a byte-order mark) and UTF-16 (with a byte-order mark, or ASCII-heavy
// text without one); plain ASCII passes unchanged. Line ends pass unchanged,
// half-width katakana become full-width ones (voiced and semi-voiced marks
// merged), a byte-order mark is dropped, and characters without a Shift_JIS
// form are dropped. The file is read in chunks; reading ends once the output is
// full. `options` follows the flag letters of the callers ("-s": Shift_JIS out,
// input detected), which is the only behaviour there is.
int32_t ConvertFileToShiftJis(const std::string& path, std::string_view options, char* out);

// The same conversion of bytes in memory, read where they lie.
int32_t ConvertToShiftJis(const unsigned char* data, size_t size, char* out);

// The conversion of a file whose first `size` bytes are at `head`: when `fd` is
// not -1 the file goes on there (read in chunks, the descriptor left open),
// otherwise those bytes are the whole file.
int32_t ConvertFileStartToShiftJis(const unsigned char* head, size_t size, int fd, char* out);

// How a converted text is walked: compacted (the plain-text extractor) or with
// its HTML tags as spaces.
enum class TextWalk { kCompact, kHtml };

// ConvertToShiftJis followed by the compaction or the HTML walk of the
// extractors (CompactText, WalkHtmlText), in one pass where the text is UTF-8
// or ASCII and short enough that the converter's cap cannot cut it: then
// *walked is set and the walked length returned. Otherwise the text is only
// converted, as ConvertToShiftJis does, and the walk is left to the caller.
int32_t ConvertToShiftJisWalked(const unsigned char* data, size_t size, TextWalk walk, char* out, bool* walked);

// The same conversion through the byte-at-a-time state machines alone, and
// through the chunked reader: the yardsticks of tests and fuzzing.
int32_t ConvertToShiftJisStepwise(const unsigned char* data, size_t size, char* out);
int32_t ConvertToShiftJisChunked(const unsigned char* data, size_t size, char* out);

// The encoding the converter would choose for a text that begins with `data`
// (`complete`: the text ends there, so a character cut off at the end is an error).
TextEncoding DetectTextEncoding(const unsigned char* data, size_t size, bool complete);

// For tests and fuzzing: detection through the converter's own decoders, the
// yardstick of the lean scorers; and the score of p[0, n) read as `enc`
// (kUtf8, kShiftJis or kEucJp), by the lean scorers fed in two pieces cut at
// `cut`, and by the decoders.
TextEncoding DetectTextEncodingReference(const unsigned char* data, size_t size, bool complete);
long DetectionScore(TextEncoding enc, const unsigned char* p, size_t n, size_t cut, bool complete);
long DetectionScoreReference(TextEncoding enc, const unsigned char* p, size_t n, bool complete);
// The most DetectionScore can give the first min(n, 1024) bytes, from their values alone.
long DetectionScoreCeiling(TextEncoding enc, const unsigned char* p, size_t n);

}  // namespace kuribo

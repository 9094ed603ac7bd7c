// The outside converters: "xdoc2txt" in the program directory and
// "xpdf/pdftotext" below it. Each prints a document's text in Shift_JIS on its
// standard output; that text is read through a pipe and compacted.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "extract/context.h"

namespace kuribo {

// Bytes of converter output kept; the rest is read and dropped.
constexpr int32_t kConverterOutputCap = 999'999;
// A converter still running after this long on one document is killed, and the
// document keeps what it printed so far.
constexpr std::chrono::milliseconds kConverterTimeout{120'000};

// `xdoc2txt DOCUMENT`, run in the program directory. Returns the compacted text
// length, or -1 when nothing could be run.
int ExtractWithXdoc2txt(const std::string& path, int32_t size, ExtractionContext& ctx);

// Rewrites xpdf/xpdfrc, then runs `pdftotext -enc Shift-JIS -raw DOCUMENT -`
// in the program directory's "xpdf". Returns the compacted text length, or -1
// when nothing could be run (the configuration included). `size` is not used.
int ExtractWithPdftotext(const std::string& path, int32_t size, ExtractionContext& ctx);

// The same two with the time limit given.
int ConvertWithXdoc2txt(const std::string& path, ExtractionContext& ctx,
                        std::chrono::milliseconds timeout);
int ConvertWithPdftotext(const std::string& path, ExtractionContext& ctx,
                         std::chrono::milliseconds timeout);

// The program directory as the pdftotext configuration names it: every
// `separator` byte turned into "/", except the second byte of a two-byte
// Shift_JIS character.
std::string ConfigDirectoryForm(const std::string& dir, char separator);

// xpdf/sample-xpdfrc copied over xpdf/xpdfrc, then the Japanese block appended
// (CR LF line ends). Without a readable template the configuration holds the
// block alone. The new file replaces the old one whole, so a
// pdftotext started meanwhile by another worker never reads a half-written
// one. False when xpdf/xpdfrc cannot be opened for appending or written.
bool RewriteXpdfrc(const std::string& programDir);

}  // namespace kuribo

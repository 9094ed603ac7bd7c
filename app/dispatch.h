// Per-file extraction dispatch: one extractor chosen by extension, then the
// document properties, then the matching step.
#pragma once

#include <cstdint>
#include <string>

#include "app/keywords.h"
#include "extract/context.h"

namespace kuribo {

// Every extractor: the file-system path, the size clamped to 32 bits (0 when it
// did not fit) and the context; returns the bytes of Shift_JIS text written at
// ctx.text (0 or less: no text). Never throws, never prints.
using Extractor = int (*)(const std::string& path, int32_t size, ExtractionContext& ctx);

struct DispatchRow {
  const char* ext;  // lower case, with the leading "."
  Extractor extractor;
};

// The extension of the last path component from its last ".", lower-cased
// (ASCII letters only); empty when there is none.
std::string LowerExtension(const std::string& path);

// The extractor for `ext` from table A (xdoc2txt present) or table B; null when
// none applies.
Extractor ChooseExtractor(const std::string& ext, bool xdoc2txtPresent, bool pdftotextPresent);

// Steps 1-4 of the per-file work: the chosen extractor, then the document
// properties, then the terminating zero byte. Returns the text length.
int32_t ExtractDocument(const std::string& path, int32_t size, ExtractionContext& ctx);

// The whole per-file work: text, properties, hits in path and text, snippet.
int ExtractFileText(const std::string& path, const std::string& sjisPath, int32_t size,
                    const KeywordList& keywords, ExtractionContext& ctx, char* snippet);

// Converter presence, tested once in the program directory (ending in "/").
struct ConverterPresence {
  bool xdoc2txt = false;
  bool pdftotext = false;
};
ConverterPresence DetectConverters(const std::string& programDir);

// A context with its buffers (and PDF workspace) reserved; Ready() is false
// when a reservation failed.
// Workers when none are asked for: eight per core. A search reads every file,
// and with the files not yet in the page cache a worker waiting for the disk
// leaves its core to another while more reads keep the disk busy (measured cold
// on 2 cores over 20,000 files: 4 workers 1.02 times grep's time, 8 workers
// 0.55, 16 workers 0.51, 32 workers 0.53); with the files cached the extra
// workers cost nothing measurable, and each holds its buffers only as far as
// the largest file it has read.
unsigned DefaultWorkerCount();

std::unique_ptr<ExtractionContext> MakeExtractionContext(const std::string& programDir,
                                                         ConverterPresence converters);

}  // namespace kuribo

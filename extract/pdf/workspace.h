// The PDF reader's fixed storage: reserved once per extraction context and
// reused for every PDF that context reads.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "extract/context.h"

namespace kuribo {

constexpr int32_t kPdfInflateBufferSize = 1'000'000;
constexpr int32_t kPdfMaxObjects = 10'000;
constexpr int32_t kPdfMaxStreams = 10'000;
constexpr int32_t kPdfMaxRanges = 10'000;
constexpr int32_t kPdfMaxSections = 10;
// Room of the reader's short text fields, terminating zero included.
constexpr int32_t kPdfFieldSize = 20;
// cmap.dat: seven range tables, 6 bytes per entry, no header.
constexpr int32_t kCmapFileSize = 56'880;
constexpr int32_t kCidTableCount = 225;

// Codes c with start <= c <= end map to value + (c - start); the first entry
// in table order wins; codes no entry covers stay as they are.
struct PdfRangeTable {
  std::unique_ptr<uint16_t[]> start;
  std::unique_ptr<uint16_t[]> end;
  std::unique_ptr<uint16_t[]> value;
  int32_t count = 0;
};

uint16_t MapThroughRanges(const PdfRangeTable& table, uint16_t code);

struct PdfStreamRecord {
  int32_t objectNumber;
  // Data bytes; 0 once the stream has served as a ToUnicode map.
  int32_t length;
  int32_t offset;
  char toUnicodeRef[kPdfFieldSize];
  char encodingName[kPdfFieldSize];
  // The length as found, kept so a ToUnicode map can be loaded again after
  // another one replaced it.
  int32_t foundLength;
};

struct PdfWorkspace {
  std::unique_ptr<unsigned char[]> inflate;
  std::unique_ptr<int32_t[]> objectOffsets;
  std::unique_ptr<int32_t[]> objectExtents;
  std::unique_ptr<PdfStreamRecord[]> streams;
  PdfRangeTable toUnicode;
  PdfRangeTable predefined;
  PdfRangeTable cid;
  bool workspaceReady = false;

  // Per-document state, reset at the start of every document.
  char toUnicodeRef[kPdfFieldSize] = {};
  char encodingName[kPdfFieldSize] = {};
  int32_t objectCount = 0;
  int32_t streamCount = 0;
  int32_t outputPos = 0;
  bool toUnicodeLoaded = false;
  bool predefinedLoaded = false;

  // cmap.dat, read from disk once per workspace (and again only when the
  // path changes); every table load copies from this image.
  std::string cmapPath;
  bool cmapRead = false;
  bool cmapPresent = false;
  int32_t cmapSize = 0;
  std::array<unsigned char, kCmapFileSize> cmapImage{};
};

// Reserves the workspace into ctx.pdf. Returns 1 when every array was
// obtained (workspaceReady), 0 otherwise (nothing of the arrays is kept).
int AllocatePdfWorkspace(ExtractionContext& ctx);
// Releases every array present and the workspace itself; null is allowed.
void FreePdfWorkspace(PdfWorkspace* ws);

}  // namespace kuribo

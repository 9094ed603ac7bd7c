#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <unordered_set>
#include <vector>

#include "extract/pdf/bytes.h"
#include "extract/pdf/pdf.h"
#include "extract/text/compact.h"

namespace kuribo {

using pdf::IsLineEnd;
using pdf::MatchAt;
using pdf::ReadDecimal;
using pdf::Trim;

namespace {

constexpr int32_t kInflateRoom = 499'995;
constexpr int32_t kPlainCopyLimit = 999'995;
constexpr int32_t kTextLimit = 999'990;

// Past the next CR or LF and every CR and LF after it: blank lines vanish.
int64_t SkipLine(const unsigned char* d, int64_t size, int64_t p) {
  if (p < 0) return p;
  while (p < size && !IsLineEnd(d[p])) ++p;
  while (p < size && IsLineEnd(d[p])) ++p;
  return p;
}

void CopyField(char (&field)[kPdfFieldSize], std::string_view text) {
  const size_t n = std::min(text.size(), (size_t)kPdfFieldSize - 1);
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

void ComputeExtents(int32_t size, const int32_t* offsets, int32_t* extents, int32_t count,
                    const int32_t* sections, int32_t sectionCount) {
  // Each object runs to the nearest following object or section; sorting
  // gives the same answer as comparing every pair.
  std::vector<int32_t> sorted(offsets, offsets + count);
  std::sort(sorted.begin(), sorted.end());
  for (int32_t k = 0; k < count; ++k) {
    const int64_t o = offsets[k];
    int64_t extent = (int64_t)size - o - 5;
    auto next = std::upper_bound(sorted.begin(), sorted.end(), offsets[k]);
    if (next != sorted.end()) extent = std::min(extent, (int64_t)*next - o);
    for (int32_t s = 0; s < sectionCount; ++s) {
      if (sections[s] > o) extent = std::min(extent, (int64_t)sections[s] - o);
    }
    extents[k] = (int32_t)std::max<int64_t>(extent, INT32_MIN);
  }
}

// Records at most one stream per object, with the font hints seen so far.
void FindStreams(PdfWorkspace& ws, const unsigned char* d, int32_t size) {
  for (int32_t k = 0; k < ws.objectCount && ws.streamCount < kPdfMaxStreams; ++k) {
    const int64_t o = ws.objectOffsets[k];
    const int64_t e = o + ws.objectExtents[k];
    const int64_t window = std::min({(int64_t)size, e, o + 200});
    int64_t p = o;
    while (p < window) {
      if (MatchAt(d, size, p, "/encoding")) {
        p += 9;
        const int64_t limit = std::min((int64_t)size - 10, p + 30);
        int64_t q = p;
        while (q < limit && d[q] != '/') ++q;
        if (q >= limit) continue;
        int64_t r = q + 1;
        bool delimited = false;
        while (r < limit && r - (q + 1) < 511) {
          const unsigned char c = d[r];
          if (c == '/' || IsLineEnd(c) || c == '>') {
            delimited = true;
            break;
          }
          ++r;
        }
        if (delimited) {
          CopyField(ws.encodingName,
                    Trim(std::string_view((const char*)d + q + 1, (size_t)(r - (q + 1)))));
        }
        p = r;
        continue;
      }
      if (MatchAt(d, size, p, "/tounicode ")) {
        p += 11;
        const int64_t from = p;
        bool delimited = false;
        while (p < size && p - from < 511) {
          const unsigned char c = d[p];
          if (c == ' ' || IsLineEnd(c) || c == '>' || c == '/') {
            delimited = true;
            break;
          }
          ++p;
        }
        if (delimited) {
          const int32_t ref =
              ReadDecimal(Trim(std::string_view((const char*)d + from, (size_t)(p - from))));
          std::snprintf(ws.toUnicodeRef, sizeof ws.toUnicodeRef, "%d", ref);
        }
        continue;
      }
      if (MatchAt(d, size, p, "stream")) {
        if (p > 3 && MatchAt(d, size, p - 3, "endstream")) {
          p += 6;
          continue;
        }
        int64_t start = p + 6;
        while (start < size && IsLineEnd(d[start])) ++start;
        // Only the last 100 bytes of the object are searched for its end.
        int64_t found = -1;
        for (int64_t r = e; r < (int64_t)size - 10 && r >= o && r >= e - 100; --r) {
          if (MatchAt(d, size, r, "endstream")) {
            found = r;
            break;
          }
        }
        if (found < 0) {
          p = start;
          continue;
        }
        int64_t last = found - 1;
        while (last >= 0 && IsLineEnd(d[last])) --last;
        if (last <= start) {
          p = start;
          continue;
        }
        PdfStreamRecord& rec = ws.streams[ws.streamCount++];
        rec.length = (int32_t)(last - start + 1);
        rec.foundLength = rec.length;
        rec.offset = (int32_t)start;
        std::memcpy(rec.toUnicodeRef, ws.toUnicodeRef, kPdfFieldSize);
        std::memcpy(rec.encodingName, ws.encodingName, kPdfFieldSize);
        int64_t n = 0;
        while (n < 10 && o + n < size && d[o + n] != ' ') ++n;
        rec.objectNumber = ReadDecimal(std::string_view((const char*)d + o, (size_t)n));
        break;
      }
      ++p;
    }
  }
}

// Decodes the streams in record order, loading the font map each one needs.
void DecodeStreams(PdfWorkspace& ws, const unsigned char* d, char* text) {
  ws.toUnicodeRef[0] = '\0';
  ws.encodingName[0] = '\0';
  unsigned char* buf = ws.inflate.get();
  for (int32_t i = 0; i < ws.streamCount; ++i) {
    const PdfStreamRecord& s = ws.streams[i];
    const int32_t t = ReadDecimal(s.toUnicodeRef);
    if (t != 0 && (t != ReadDecimal(ws.toUnicodeRef) || !ws.toUnicodeLoaded)) {
      for (int32_t j = 0; j < ws.streamCount; ++j) {
        PdfStreamRecord& map = ws.streams[j];
        if (map.objectNumber != t) continue;
        const int32_t n = InflateStream(d + map.offset, buf, map.foundLength);
        LoadToUnicodeMap(ws, buf, n);
        std::snprintf(ws.toUnicodeRef, sizeof ws.toUnicodeRef, "%d", t);
        map.length = 0;
        break;
      }
    } else if (s.encodingName[0] != '\0' &&
               (std::strcmp(s.encodingName, ws.encodingName) != 0 || !ws.predefinedLoaded)) {
      LoadPredefinedCMap(ws, s.encodingName);
      std::memcpy(ws.encodingName, s.encodingName, kPdfFieldSize);
    }
    const int32_t n = InflateStream(d + s.offset, buf, s.length);
    ws.outputPos +=
        ExtractContentText(ws, buf, n, text + ws.outputPos, kTextLimit - ws.outputPos);
  }
}

}  // namespace

uint16_t MapThroughRanges(const PdfRangeTable& table, uint16_t code) {
  for (int32_t i = 0; i < table.count; ++i) {
    if (table.start[i] <= code && code <= table.end[i]) {
      return (uint16_t)(table.value[i] + (code - table.start[i]));
    }
  }
  return code;
}

int AllocatePdfWorkspace(ExtractionContext& ctx) {
  ctx.pdf = std::unique_ptr<PdfWorkspace, void (*)(PdfWorkspace*)>(
      new (std::nothrow) PdfWorkspace(), FreePdfWorkspace);
  PdfWorkspace* ws = ctx.pdf.get();
  if (ws == nullptr) return 0;
  ws->inflate.reset(new (std::nothrow) unsigned char[kPdfInflateBufferSize]);
  ws->objectOffsets.reset(new (std::nothrow) int32_t[kPdfMaxObjects]);
  ws->objectExtents.reset(new (std::nothrow) int32_t[kPdfMaxObjects]);
  ws->streams.reset(new (std::nothrow) PdfStreamRecord[kPdfMaxStreams]);
  bool ok = ws->inflate && ws->objectOffsets && ws->objectExtents && ws->streams;
  for (PdfRangeTable* t : {&ws->toUnicode, &ws->predefined, &ws->cid}) {
    t->start.reset(new (std::nothrow) uint16_t[kPdfMaxRanges]);
    t->end.reset(new (std::nothrow) uint16_t[kPdfMaxRanges]);
    t->value.reset(new (std::nothrow) uint16_t[kPdfMaxRanges]);
    t->count = 0;
    ok = ok && t->start && t->end && t->value;
  }
  if (!ok) {
    ws->inflate.reset();
    ws->objectOffsets.reset();
    ws->objectExtents.reset();
    ws->streams.reset();
    for (PdfRangeTable* t : {&ws->toUnicode, &ws->predefined, &ws->cid}) {
      t->start.reset();
      t->end.reset();
      t->value.reset();
    }
    ws->workspaceReady = false;
    return 0;
  }
  ws->workspaceReady = true;
  return 1;
}

void FreePdfWorkspace(PdfWorkspace* ws) { delete ws; }

int32_t InflateStream(const unsigned char* src, unsigned char* dst, int32_t length) {
  if (length < 0) length = 0;
  z_stream zs{};
  zs.next_in = const_cast<Bytef*>(src);
  zs.avail_in = (uInt)length;
  zs.next_out = dst;
  zs.avail_out = kInflateRoom;
  int32_t n = 0;
  if (inflateInit(&zs) == Z_OK) {
    // One call: a damaged stream still gives what came before the damage.
    inflate(&zs, Z_FINISH);
    n = (int32_t)std::min<uLong>(zs.total_out, kInflateRoom);
    dst[n] = 0;
    inflateEnd(&zs);
  }
  if (n != 0) return n;
  for (int32_t i = 0; i < length; ++i) {
    const unsigned char c = src[i];
    if (!(c == '\r' || c == '\n' || c == '\t' || (c >= 0x20 && c <= 0x7E))) return 0;
  }
  const int32_t copied = std::min(length, kPlainCopyLimit);
  std::memcpy(dst, src, (size_t)copied);
  return copied;
}

int ParseXrefChain(const unsigned char* data, int32_t size, int32_t* offsets, int32_t* extents,
                   int32_t& count) {
  count = 0;
  if (size <= 0) return 0;
  int64_t p = -1;
  for (int64_t q = (int64_t)size - 1; q >= std::max<int64_t>(0, (int64_t)size - 100); --q) {
    if (MatchAt(data, size, q, "startxref")) {
      p = q + 9;
      break;
    }
  }
  if (p < 0) return 0;
  while (p < size && (data[p] == ' ' || IsLineEnd(data[p]))) ++p;
  const int64_t lineStart = p;
  while (p < size && !IsLineEnd(data[p]) && p - lineStart < 511) ++p;
  const int32_t first =
      ReadDecimal(std::string_view((const char*)data + lineStart, (size_t)(p - lineStart)));
  if (first == 0) return 0;

  int32_t sections[kPdfMaxSections];
  int32_t sectionCount = 0;
  sections[sectionCount++] = first;
  // A /Prev chain that comes back to a section already read ends there.
  std::unordered_set<int32_t> visited{first};
  int64_t pos = SkipLine(data, size, SkipLine(data, size, first));
  while (pos >= 0 && pos < size && count < kPdfMaxObjects) {
    if (MatchAt(data, size, pos, "trailer")) {
      const int64_t from = pos + 7;
      int32_t prev = 0;
      for (int64_t q = from; q < from + 200 && q < size; ++q) {
        if (!MatchAt(data, size, q, "/prev ")) continue;
        const int64_t v = q + 6;
        int64_t r = v;
        while (r < size && r - v < 500 && data[r] != '/' && !IsLineEnd(data[r]) &&
               data[r] != '>') {
          ++r;
        }
        prev = ReadDecimal(Trim(std::string_view((const char*)data + v, (size_t)(r - v))));
        break;
      }
      if (prev == 0 || !visited.insert(prev).second) break;
      if (sectionCount < kPdfMaxSections) sections[sectionCount++] = prev;
      pos = SkipLine(data, size, SkipLine(data, size, prev));
      continue;
    }
    int64_t r = pos;
    while (r < size && r - pos < 512 && data[r] != ' ' && !IsLineEnd(data[r])) ++r;
    const std::string_view field((const char*)data + pos, (size_t)(r - pos));
    const int32_t offset = ReadDecimal(field);
    if (offset > 0 && Trim(field).size() == 10) offsets[count++] = offset;
    pos = SkipLine(data, size, pos);
  }
  ComputeExtents(size, offsets, extents, count, sections, sectionCount);
  return 1;
}

int ExtractPdfClassic(int32_t size, ExtractionContext& ctx) {
  PdfWorkspace* ws = ctx.pdf.get();
  if (ws == nullptr || !ctx.Ready()) return 0;
  ws->toUnicodeRef[0] = '\0';
  ws->encodingName[0] = '\0';
  ws->toUnicodeLoaded = false;
  ws->predefinedLoaded = false;
  ws->objectCount = 0;
  ws->streamCount = 0;
  ws->outputPos = 0;
  if (!ws->workspaceReady) return 0;
  if (size < 0) size = 0;
  if (size > kFileBufferSize) return 0;
  std::string cmapPath = ctx.programDir;
  if (!cmapPath.empty() && cmapPath.back() != '/') cmapPath += '/';
  cmapPath += "cmap.dat";
  if (cmapPath != ws->cmapPath) {
    ws->cmapPath = std::move(cmapPath);
    ws->cmapRead = false;
  }

  const unsigned char* data = ctx.file.get();
  ParseXrefChain(data, size, ws->objectOffsets.get(), ws->objectExtents.get(), ws->objectCount);
  LoadPredefinedCMap(*ws, "");
  FindStreams(*ws, data, size);
  DecodeStreams(*ws, data, ctx.text.get());
  ctx.text[ws->outputPos] = '\0';
  return CompactText(ctx.text.get(), std::min(ws->outputPos, kMaxTextLength));
}

}  // namespace kuribo

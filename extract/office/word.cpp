// Word binary documents: the text between fcMin and fcMac of the Word stream,
// decoded in 128-byte blocks. Which decoding applies depends on the writer, so
// each block is judged by how much of it converts as UTF-16 or as 8-bit text.
#include <cstring>

#include "encoding/sjis.h"
#include "extract/office/office.h"
#include "extract/office/office_common.h"
#include "extract/text/compact.h"

namespace kuribo {
namespace {

using office::ByteAt;

constexpr int32_t kFibAt = 512;
constexpr int32_t kBlock = 128;
constexpr int32_t kOutStop = 999'871;

bool IsSeparator(uint32_t c) {
  constexpr uint32_t kSeparators[] = {0x00, 0x07, 0x09, 0x0B, 0x0C, 0x0D, 0x0E, 0x13,
                                      0x14, 0x1E, 0x1F, 0x20, 0x2D, 0x5C, 0xA0};
  for (uint32_t s : kSeparators)
    if (c == s) return true;
  return false;
}

// The last block reaches past fcMac into whatever the stream holds next. Those
// bytes are no text: they become zero, a separator in every decoding, so they
// neither pair with text nor tip a block's ratio.
void BlankBeyondEnd(unsigned char* b, int textBytes) {
  for (int i = textBytes; i < kBlock; ++i) b[i] = 0;
}

// Older Japanese writers store each double-byte character trail byte first.
int32_t DecodeSwapped(const unsigned char* b, char* dst) {
  int32_t k = 0;
  int i = 0;
  while (i < kBlock) {
    if (i + 1 < kBlock && IsLeadByte(b[i + 1]) && IsTrailByte(b[i])) {
      dst[k++] = (char)b[i + 1];
      dst[k++] = (char)b[i];
      i += 2;
      continue;
    }
    if (b[i] != 0) dst[k++] = IsPrintableSingle(b[i]) ? (char)b[i] : ' ';
    ++i;
  }
  return k;
}

int32_t DecodeShiftJis(const unsigned char* b, char* dst) {
  int i = 0;
  while (i < kBlock) {
    if (i + 1 < kBlock && IsLeadByte(b[i]) && IsTrailByte(b[i + 1])) {
      dst[i] = (char)b[i];
      dst[i + 1] = (char)b[i + 1];
      i += 2;
      continue;
    }
    dst[i] = IsPrintableSingle(b[i]) ? (char)b[i] : ' ';
    ++i;
  }
  return kBlock;
}

// Appends the block as UTF-16 when fewer than a tenth of its counted units lack
// a code page 932 form; returns -1 when it is not taken as UTF-16.
int32_t DecodeUtf16(const unsigned char* b, char* dst) {
  unsigned char units[kBlock];
  int total = 0, bad = 0;
  for (int u = 0; u < kBlock / 2; ++u) {
    uint32_t v = b[2 * u] | b[2 * u + 1] << 8;
    if (IsSeparator(v)) {
      v = ' ';
    } else {
      ++total;
      if (Utf16ToCp932((char16_t)v) < 0) ++bad;
    }
    units[2 * u] = (unsigned char)(v & 0xFF);
    units[2 * u + 1] = (unsigned char)(v >> 8);
  }
  double ratio = total == 0 ? 0.0 : (double)bad / total;
  if (ratio >= 0.1) return -1;
  return office::Utf16LeToSjis(units, kBlock / 2, dst);
}

int32_t DecodeOneByte(const unsigned char* b, char* dst) {
  int total = 0, bad = 0;
  for (int i = 0; i < kBlock; ++i) {
    if (IsSeparator(b[i])) {
      dst[i] = ' ';
      continue;
    }
    ++total;
    if (IsPrintableSingle(b[i])) {
      dst[i] = (char)b[i];
    } else {
      dst[i] = ' ';
      ++bad;
    }
  }
  if (total != 0 && (double)bad / total > 0.1) return 0;
  return kBlock;
}

}  // namespace

int32_t DecodeWordBytes(const unsigned char* file, int32_t n, char* out) {
  if (n < kFibAt + 32) return 0;
  const unsigned char version = file[kFibAt + 4];
  const unsigned char flags = file[kFibAt + 10];
  const int32_t fcMin = (int32_t)office::U32At(file, n, kFibAt + 24);
  const int32_t fcMac = (int32_t)office::U32At(file, n, kFibAt + 28);
  int64_t pos = (int64_t)fcMin + kFibAt;
  const int64_t end = (int64_t)fcMac + kFibAt;
  const int64_t stop = end < n ? end : n;
  int32_t outLen = 0;
  while (pos > 0 && pos < stop && outLen < kOutStop) {
    unsigned char b[kBlock];
    for (int i = 0; i < kBlock; ++i) b[i] = (unsigned char)ByteAt(file, n, pos + i);
    BlankBeyondEnd(b, end - pos < kBlock ? (int)(end - pos) : kBlock);
    char* dst = out + outLen;
    if (version == 0x69) {
      outLen += DecodeSwapped(b, dst);
    } else if (version == 0x63) {
      int32_t got = DecodeUtf16(b, dst);
      outLen += got >= 0 ? got : DecodeShiftJis(b, dst);
    } else if (version == 0xC0 || version == 0xE0) {
      // Such writers' text is not read.
    } else {
      if (flags & 0x04) break;
      int32_t got = DecodeUtf16(b, dst);
      outLen += got >= 0 ? got : DecodeOneByte(b, dst);
    }
    pos += kBlock;
  }
  return CompactText(out, outLen);
}

int ExtractDocText(const std::string& path, int32_t, ExtractionContext& ctx) {
  if (!ctx.Ready()) return 0;
  int32_t n = office::LoadDocumentBytes(path, {"WordDocument"}, kFibAt, ctx.file.get());
  if (n < kFibAt + 32) return 0;
  return DecodeWordBytes(ctx.file.get(), n, ctx.text.get());
}

}  // namespace kuribo

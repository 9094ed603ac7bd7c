// PowerPoint binary presentations: a byte-by-byte scan for the headers of the
// two text atoms. Containers are not followed; scanning their bodies reaches
// the atoms nested inside.
#include <cstring>

#include "extract/office/office.h"
#include "extract/office/office_common.h"
#include "extract/text/compact.h"

namespace kuribo {
namespace {

constexpr uint32_t kTextCharsAtom = 0x0FA0;
constexpr uint32_t kTextBytesAtom = 0x0FA8;
constexpr int64_t kMaxBody = 2'048;
constexpr int64_t kOutStop = 999'995;

}  // namespace

int32_t DecodePowerPointBytes(const unsigned char* file, int32_t n, char* out) {
  int64_t outLen = 0;
  // The scan stands on the record type, the second field of the 8-byte header.
  for (int64_t p = 0; p < n; ++p) {
    if (p + 6 > n) break;
    const uint32_t type = office::U16At(file, n, p);
    if (type != kTextCharsAtom && type != kTextBytesAtom) continue;
    const int64_t len = office::U32At(file, n, p + 2);
    if (len > kMaxBody || p + 6 + len > n) continue;
    const unsigned char* body = file + p + 6;
    char text[2 * (kMaxBody / 2) + 1];
    int64_t k;
    if (type == kTextCharsAtom) {
      k = office::Utf16LeToSjis(body, (int32_t)(len / 2), text);
    } else {
      const void* nul = std::memchr(body, 0, (size_t)len);
      k = nul ? (const unsigned char*)nul - body : len;
      std::memcpy(text, body, (size_t)k);
    }
    if (k > 0) {
      if (k + outLen > kOutStop) break;
      std::memcpy(out + outLen, text, (size_t)k);
      outLen += k;
    }
    p += 6 + len - 1;
  }
  return CompactText(out, (int32_t)outLen);
}

int ExtractPptText(const std::string& path, int32_t, ExtractionContext& ctx) {
  if (!ctx.Ready()) return 0;
  int32_t n = office::LoadDocumentBytes(path, {"PowerPoint Document"}, 0, ctx.file.get());
  if (n <= 0) return 0;
  return DecodePowerPointBytes(ctx.file.get(), n, ctx.text.get());
}

}  // namespace kuribo

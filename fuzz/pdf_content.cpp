// ExtractContentText over one decoded stream, with the font map chosen by the
// first byte: none, a predefined CMap, or a ToUnicode map from the input.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "extract/context.h"
#include "extract/pdf/pdf.h"

namespace {

std::string CmapPath() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "cmap.dat";
  self[n] = '\0';
  const std::filesystem::path dir = std::filesystem::path(self).parent_path();
  return (dir.parent_path() / "bin" / "cmap.dat").string();
}

kuribo::PdfWorkspace& Workspace() {
  static kuribo::ExtractionContext* ctx = [] {
    auto* c = new kuribo::ExtractionContext();
    kuribo::AllocatePdfWorkspace(*c);
    c->pdf->cmapPath = CmapPath();
    return c;
  }();
  return *ctx->pdf;
}

const char* const kNames[] = {"", "90ms-RKSJ-H", "UniJIS-UCS2-H", "83pv-RKSJ-H", "90msp-RKSJ-V"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 1'000'000) return 0;
  kuribo::PdfWorkspace& ws = Workspace();
  ws.toUnicodeLoaded = false;
  ws.predefinedLoaded = false;
  const uint8_t mode = data[0];
  const int32_t capacity = (mode & 0x80) ? 64 : 999'990;
  ++data;
  --size;
  if ((mode & 0x07) < 5) {
    if ((mode & 0x07) > 0 || (mode & 0x08)) kuribo::LoadPredefinedCMap(ws, kNames[mode & 0x07]);
  } else {
    // The first half is a ToUnicode map, the second the content.
    const size_t half = size / 2;
    std::vector<unsigned char> map(data, data + half);
    kuribo::LoadToUnicodeMap(ws, map.data(), (int32_t)map.size());
    data += half;
    size -= half;
  }
  // Exactly the stream's bytes, so a read past its end is caught.
  std::vector<unsigned char> stream(data, data + size);
  static std::vector<char> out(999'990);
  const int32_t n = kuribo::ExtractContentText(ws, stream.data(), (int32_t)stream.size(),
                                               out.data(), capacity);
  if (n < 0 || n > capacity) __builtin_trap();
  return 0;
}

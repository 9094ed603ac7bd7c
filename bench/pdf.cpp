// Throughput of the PDF reader on generated documents: Japanese text shown
// through a ToUnicode map and through UniJIS-UCS2-H (cmap.dat).
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "extract/context.h"
#include "extract/pdf/pdf.h"

namespace {

std::string Deflate(const std::string& data) {
  uLongf room = compressBound((uLong)data.size());
  std::string out(room, '\0');
  compress2((Bytef*)out.data(), &room, (const Bytef*)data.data(), (uLong)data.size(), 6);
  out.resize(room);
  return out;
}

// `pages` content streams of hex-coded kana and kanji after one font.
std::string MakePdf(int pages, bool toUnicode) {
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  auto object = [&](const std::string& body) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
  };
  auto stream = [&](const std::string& data) {
    const std::string z = Deflate(data);
    object("<< /Length " + std::to_string(z.size()) + " /Filter /FlateDecode >>\nstream\n" + z +
           "\nendstream");
  };
  std::string codes;
  char hex[8];
  for (int i = 0; i < 400; ++i) {
    std::snprintf(hex, sizeof hex, "%04X", toUnicode ? 1 + i % 300 : 0x3042 + i % 80);
    codes += hex;
  }
  std::string content;
  for (int line = 0; line < 40; ++line) content += "BT\n/F1 10 Tf\n<" + codes + "> Tj\nET\n";
  object(toUnicode ? "<< /Type /Font /Encoding /Identity-H /ToUnicode 2 0 R >>"
                   : "<< /Type /Font /Encoding /UniJIS-UCS2-H >>");
  if (toUnicode) {
    std::string map = "/CMapName /Bench def\n300 beginbfchar\n";
    for (int i = 1; i <= 300; ++i) {
      std::snprintf(hex, sizeof hex, "%04X", i);
      char dst[8];
      std::snprintf(dst, sizeof dst, "%04X", 0x4E00 + i * 7);
      map += std::string("<") + hex + "> <" + dst + ">\n";
    }
    stream(map + "endbfchar\n");
  }
  for (int p = 0; p < pages; ++p) stream(content);
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
  char entry[32];
  for (size_t off : offsets) {
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", off);
    pdf += entry;
  }
  pdf += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

std::string ProgramDir() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "./";
  self[n] = '\0';
  return (std::filesystem::path(self).parent_path().parent_path() / "bin").string() + "/";
}

void Run(benchmark::State& state, bool toUnicode) {
  kuribo::ExtractionContext ctx;
  ctx.text.reset(new char[kuribo::kTextBufferSize]);
  ctx.file.reset(new unsigned char[kuribo::kFileBufferSize]);
  ctx.programDir = ProgramDir();
  kuribo::AllocatePdfWorkspace(ctx);
  const std::string pdf = MakePdf((int)state.range(0), toUnicode);
  std::memcpy(ctx.file.get(), pdf.data(), pdf.size());
  int text = 0;
  for (auto _ : state) {
    text = kuribo::ExtractPdfData((int32_t)pdf.size(), ctx);
    benchmark::DoNotOptimize(text);
  }
  // Items are the 16-bit codes decoded: 40 lines of 400 per page.
  state.SetItemsProcessed((int64_t)state.iterations() * state.range(0) * 40 * 400);
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)pdf.size());
  state.counters["text_bytes"] = text;
  state.counters["file_bytes"] = (double)pdf.size();
}

void BM_PdfToUnicode(benchmark::State& state) { Run(state, true); }
void BM_PdfUniJis(benchmark::State& state) { Run(state, false); }

}  // namespace

BENCHMARK(BM_PdfToUnicode)->Arg(20)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PdfUniJis)->Arg(20)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();

#include "app/dispatch.h"

#include <new>
#include <thread>

#include "extract/cad/dwg.h"
#include "extract/cad/dxf.h"
#include "extract/office/compound.h"
#include "extract/office/office.h"
#include "extract/office/properties.h"
#include "extract/pdf/pdf.h"
#include "extract/text/converter.h"
#include "extract/text/openxml.h"
#include "extract/text/plain.h"
#include "platform/fs.h"

namespace kuribo {
namespace {

// Table A: xdoc2txt is in the program directory and takes over the office types.
const DispatchRow kTableA[] = {
    {".sxw", ExtractWithXdoc2txt},  {".sxc", ExtractWithXdoc2txt},  {".sxi", ExtractWithXdoc2txt},
    {".sxd", ExtractWithXdoc2txt},  {".odt", ExtractWithXdoc2txt},  {".ods", ExtractWithXdoc2txt},
    {".odp", ExtractWithXdoc2txt},  {".odg", ExtractWithXdoc2txt},  {".docx", ExtractWithXdoc2txt},
    {".docm", ExtractWithXdoc2txt}, {".xlsx", ExtractWithXdoc2txt}, {".xlsm", ExtractWithXdoc2txt},
    {".pptx", ExtractWithXdoc2txt}, {".pptm", ExtractWithXdoc2txt}, {".doc", ExtractWithXdoc2txt},
    {".xls", ExtractWithXdoc2txt},  {".ppt", ExtractWithXdoc2txt},  {".rtf", ExtractWithXdoc2txt},
    {".jaw", ExtractWithXdoc2txt},  {".jtw", ExtractWithXdoc2txt},  {".jbw", ExtractWithXdoc2txt},
    {".juw", ExtractWithXdoc2txt},  {".jfw", ExtractWithXdoc2txt},  {".jvw", ExtractWithXdoc2txt},
    {".jtd", ExtractWithXdoc2txt},  {".jtt", ExtractWithXdoc2txt},  {".oas", ExtractWithXdoc2txt},
    {".oa2", ExtractWithXdoc2txt},  {".oa3", ExtractWithXdoc2txt},  {".bun", ExtractWithXdoc2txt},
    {".wj2", ExtractWithXdoc2txt},  {".wj3", ExtractWithXdoc2txt},  {".wk3", ExtractWithXdoc2txt},
    {".wk4", ExtractWithXdoc2txt},  {".123", ExtractWithXdoc2txt},  {".wri", ExtractWithXdoc2txt},
    {".pdf", ExtractWithXdoc2txt},  {".mht", ExtractWithXdoc2txt},  {".html", ExtractWithXdoc2txt},
    {".eml", ExtractWithXdoc2txt},
    // The check box offers .htm beside .html; both are the same kind of page.
    {".htm", ExtractWithXdoc2txt},
    {".txt", ExtractTextFile},
    {".csv", ExtractCsvFile},
    {".dwg", ExtractDwgText},
    {".dxf", ExtractDxfText},
    {nullptr, nullptr},
};

// Table B: the engine's own readers.
const DispatchRow kTableB[] = {
    {".doc", ExtractDocText},
    {".xls", ExtractXlsText},
    {".ppt", ExtractPptText},
    {".pdf", ExtractPdfText},
    {".html", ExtractHtmlFile},
    {".htm", ExtractHtmlFile},
    {".txt", ExtractTextFile},
    {".csv", ExtractCsvFile},
    {".dwg", ExtractDwgText},
    {".dxf", ExtractDxfText},
    // The macro-enabled packages are the same ZIP of XML members.
    {".docx", ExtractOpenXmlFile},
    {".docm", ExtractOpenXmlFile},
    {".xlsx", ExtractOpenXmlFile},
    {".xlsm", ExtractOpenXmlFile},
    {".pptx", ExtractOpenXmlFile},
    {".pptm", ExtractOpenXmlFile},
    {nullptr, nullptr},
};

// Consulted before table B when pdftotext is in the program directory.
const DispatchRow kPdftotextRows[] = {
    {".pdf", ExtractWithPdftotext},
    {nullptr, nullptr},
};

Extractor Find(const DispatchRow* rows, const std::string& ext) {
  for (; rows->ext; ++rows) {
    if (ext == rows->ext) return rows->extractor;
  }
  return nullptr;
}

}  // namespace

std::string LowerExtension(const std::string& path) {
  size_t slash = path.rfind('/');
  size_t start = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < start) return {};
  std::string ext = path.substr(dot);
  for (char& c : ext) {
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
  }
  return ext;
}

Extractor ChooseExtractor(const std::string& ext, bool xdoc2txtPresent, bool pdftotextPresent) {
  if (ext.empty()) return nullptr;
  if (xdoc2txtPresent) return Find(kTableA, ext);
  if (pdftotextPresent) {
    if (Extractor e = Find(kPdftotextRows, ext)) return e;
  }
  return Find(kTableB, ext);
}

int32_t ExtractDocument(const std::string& path, int32_t size, ExtractionContext& ctx) {
  if (!ctx.Ready()) return 0;
  int32_t n = 0;
  ctx.headSize = -1;
  if (Extractor e = ChooseExtractor(LowerExtension(path), ctx.xdoc2txtPresent, ctx.pdftotextPresent)) {
    n = e(path, size, ctx);
    // An extractor never leaves more than a million bytes; keep the terminator in the buffer anyway.
    if (n < 0) n = 0;
    if (n > kMaxTextLength) n = kMaxTextLength;
  }
  // Property sets live only in compound documents; a start the extractor has
  // already read settles that without a second open.
  const bool mayHaveProperties = ctx.headSize < 0 || HasCompoundSignature(ctx.head, (size_t)ctx.headSize);
  int32_t m = mayHaveProperties ? AppendDocumentProperties(path, ctx.text.get() + n, n) : n;
  if (m < n || m > kMaxTextLength) m = n;
  ctx.text[m] = '\0';
  return m;
}

int ExtractFileText(const std::string& path, const std::string& sjisPath, int32_t size,
                    const KeywordList& keywords, ExtractionContext& ctx, char* snippet) {
  snippet[0] = '\0';
  int32_t m = ExtractDocument(path, size, ctx);
  static const char kEmpty[1] = {'\0'};
  const char* text = ctx.Ready() ? ctx.text.get() : kEmpty;
  return MatchFile(sjisPath, text, m, keywords, snippet);
}

ConverterPresence DetectConverters(const std::string& programDir) {
  ConverterPresence p;
  p.xdoc2txt = IsExecutableFile(programDir + "xdoc2txt");
  p.pdftotext = IsExecutableFile(programDir + "xpdf/pdftotext");
  return p;
}

unsigned DefaultWorkerCount() {
  const unsigned cores = std::thread::hardware_concurrency();
  return 8 * (cores ? cores : 1);
}

std::unique_ptr<ExtractionContext> MakeExtractionContext(const std::string& programDir,
                                                         ConverterPresence converters) {
  auto ctx = std::make_unique<ExtractionContext>();
  ctx->programDir = programDir;
  ctx->xdoc2txtPresent = converters.xdoc2txt;
  ctx->pdftotextPresent = converters.pdftotext;
  ctx->text.reset(new (std::nothrow) char[kTextBufferSize]);
  ctx->file = MakeFileBuffer(kFileBufferSize);
  if (!ctx->Ready()) {
    ctx->text.reset();
    ctx->file.reset();
  }
  // Without its workspace the PDF reader simply yields no text.
  AllocatePdfWorkspace(*ctx);
  return ctx;
}

}  // namespace kuribo

// The shallow reader that stands in for files qpdf refuses: cross-reference
// chain, objects, streams, font hints.
#include <gtest/gtest.h>

#include <filesystem>

#include "extract/pdf/pdf.h"
#include "pdf_builder.h"

namespace kuribo {
namespace {

using namespace pdftest;

std::string HelloPdf() {
  PdfBuilder b;
  b.Object("<< /Type /Catalog >>");
  b.FlateStream("", TextObject("(Hello World) Tj"));
  return b.Finish();
}

std::string HelloPages() {
  PageDoc d;
  d.Page(TextObject("(Hello World) Tj"));
  return d.Finish();
}

TEST(PdfWorkspace, NoWorkspaceMeansNoTextAndAnUntouchedBuffer) {
  test::TempDir t;
  const std::string path = t.Write("a.pdf", HelloPages());
  ExtractionContext ctx;
  ctx.text.reset(new char[kTextBufferSize]);
  ctx.file = MakeFileBuffer(kFileBufferSize);
  ctx.text[0] = 'Z';
  EXPECT_EQ(ExtractPdfText(path, (int32_t)std::filesystem::file_size(path), ctx), 0);
  EXPECT_EQ(ctx.text[0], 'Z');

  ASSERT_EQ(AllocatePdfWorkspace(ctx), 1);
  EXPECT_TRUE(ctx.pdf->workspaceReady);
  const int n = ExtractPdfText(path, (int32_t)std::filesystem::file_size(path), ctx);
  EXPECT_EQ(std::string(ctx.text.get(), n), "Hello World");
  ctx.pdf->workspaceReady = false;
  EXPECT_EQ(ExtractPdfText(path, (int32_t)std::filesystem::file_size(path), ctx), 0);
}

TEST(PdfReader, ReadsAFlateContentStreamAndItsTruncatedTwinGivesNothing) {
  auto ctx = MakeContext(BinDir());
  const std::string pdf = HelloPdf();
  EXPECT_EQ(ExtractClassic(*ctx, pdf), "Hello World");
  // Without its last 40 bytes the startxref keyword is gone.
  EXPECT_EQ(ExtractClassic(*ctx, pdf.substr(0, pdf.size() - 40)), "");
  EXPECT_EQ(ExtractClassic(*ctx, ""), "");
}

TEST(PdfReader, MissingFileGivesNothing) {
  auto ctx = MakeContext(BinDir());
  test::TempDir t;
  EXPECT_EQ(ExtractPdfText(t.path() + "none.pdf", 100, *ctx), 0);
}

TEST(PdfReader, FilesOverFiveMillionBytesAreReadAndTheShallowReaderStopsThere) {
  // Padding before the first object; the qpdf path reads the whole file.
  PageDoc d;
  d.b.Raw("%" + std::string(6'000'000, 'p') + "\n");
  d.Page(TextObject("(Edge) Tj"));
  test::TempDir t;
  auto ctx = MakeContext(BinDir());
  const std::string big = d.Finish();
  const std::string a = t.Write("big.pdf", big);
  const int n = ExtractPdfText(a, (int32_t)big.size(), *ctx);
  EXPECT_EQ(std::string(ctx->text.get(), n > 0 ? n : 0), "Edge");
  EXPECT_EQ(ExtractClassic(*ctx, big), "<too large>");
}

TEST(PdfReader, StartxrefIsSearchedOnlyInTheLast100Bytes) {
  const std::string base = HelloPdf();
  const size_t keyword = base.rfind("startxref");
  const size_t fromKeyword = base.size() - keyword;
  auto withTail = [&](size_t distance) {
    return base + std::string(distance - fromKeyword - 1, '%') + "\n";
  };
  auto ctx = MakeContext(BinDir());
  EXPECT_EQ(ExtractClassic(*ctx, withTail(100)), "Hello World");
  EXPECT_EQ(ExtractClassic(*ctx, withTail(101)), "");
}

TEST(PdfReader, StartxrefValueMustBeAPlainNumber) {
  std::string pdf = HelloPdf();
  const size_t eol = pdf.find('\n', pdf.rfind("startxref") + 10);
  std::string spaced = pdf;
  spaced.insert(eol, " ");
  auto ctx = MakeContext(BinDir());
  EXPECT_EQ(ExtractClassic(*ctx, spaced), "");
  int32_t offsets[kPdfMaxObjects], extents[kPdfMaxObjects], count = 7;
  EXPECT_EQ(ParseXrefChain((const unsigned char*)spaced.data(), (int32_t)spaced.size(), offsets,
                           extents, count),
            0);
  EXPECT_EQ(count, 0);
}

TEST(PdfReader, EntriesNeedTenDigitOffsetsAndExtentsRunToTheNextObjectOrSection) {
  // Objects at 100, 200 and 300, one entry written with 9 and one with 11 digits.
  std::string data(400, ' ');
  data += "xref\n0 6\n0000000000 65535 f \n0000000300 00000 n \n0000000100 00000 n \n"
          "000000200 00000 n \n00000000200 00000 n \n0000000200 00000 n \n"
          "trailer\n<< /Size 6 >>\nstartxref\n400\n%%EOF\n";
  int32_t offsets[kPdfMaxObjects], extents[kPdfMaxObjects], count = 0;
  ASSERT_EQ(ParseXrefChain((const unsigned char*)data.data(), (int32_t)data.size(), offsets,
                           extents, count),
            1);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(offsets[0], 300);
  EXPECT_EQ(offsets[1], 100);
  EXPECT_EQ(offsets[2], 200);
  EXPECT_EQ(extents[0], 100);  // up to the section at 400
  EXPECT_EQ(extents[1], 100);
  EXPECT_EQ(extents[2], 100);
}

TEST(PdfReader, IncrementalUpdateReadsNewestSectionFirstAndBothVersions) {
  PdfBuilder b;
  b.Object("<< /Type /Catalog >>");
  b.FlateStream("", TextObject("(Old ) Tj"));
  b.Section();
  b.StreamNumbered(2, "/Filter /FlateDecode", Deflate(TextObject("(New ) Tj")));
  const std::string pdf = b.Finish();
  ASSERT_NE(pdf.find("/Prev "), std::string::npos);
  auto ctx = MakeContext(BinDir());
  EXPECT_EQ(ExtractClassic(*ctx, pdf), "New Old ");
}

TEST(PdfReader, PrevChainThatLoopsEnds) {
  // The update's /Prev names its own section: read once, then stop.
  PdfBuilder b;
  b.FlateStream("", TextObject("(Once) Tj"));
  std::string pdf = b.Finish();
  const size_t xref = pdf.rfind("xref\n0");
  const std::string self = " /Prev " + std::to_string(xref);
  pdf.insert(pdf.find(" >>\nstartxref"), self);
  auto ctx = MakeContext(BinDir());
  EXPECT_EQ(ExtractClassic(*ctx, pdf), "Once");
}

TEST(PdfReader, StreamKeywordBeyondTheFirst200BytesIsNeverFound) {
  auto ctx = MakeContext(BinDir());
  PdfBuilder shortDict, longDict;
  shortDict.FlateStream("/Pad (" + std::string(100, 'x') + ")", TextObject("(Found) Tj"));
  longDict.FlateStream("/Pad (" + std::string(200, 'x') + ")", TextObject("(Found) Tj"));
  EXPECT_EQ(ExtractClassic(*ctx, shortDict.Finish()), "Found");
  EXPECT_EQ(ExtractClassic(*ctx, longDict.Finish()), "");
}

TEST(PdfReader, EndstreamMoreThan100BytesBeforeTheObjectEndIsNeverFound) {
  auto withComment = [](size_t commentBytes) {
    PdfBuilder b;
    b.ObjectNumbered(1, "<< /Length 20 >>\nstream\n" + TextObject("(Near) Tj") +
                            "endstream\n%" + std::string(commentBytes, 'c'));
    return b.Finish();
  };
  auto ctx = MakeContext(BinDir());
  // The object ends at the section: "\nendobj\n" (8 bytes) follows the comment.
  EXPECT_EQ(ExtractClassic(*ctx, withComment(70)), "Near");
  EXPECT_EQ(ExtractClassic(*ctx, withComment(90)), "");
}

TEST(PdfReader, PlainStreamsMustBePrintableAscii) {
  auto ctx = MakeContext(BinDir());
  PdfBuilder plain, binary;
  plain.Stream("", TextObject("(Plain\ttext) Tj"));
  binary.Stream("", TextObject("(Plain) Tj\n% \x80"));
  EXPECT_EQ(ExtractClassic(*ctx, plain.Finish()), "Plain text");
  EXPECT_EQ(ExtractClassic(*ctx, binary.Finish()), "");
}

TEST(PdfReader, InflateOutputIsCutAt499995Bytes) {
  auto ws = MakeContext(BinDir());
  const std::string big(600'000, 'a');
  const std::string z = Deflate(big);
  unsigned char* out = ws->pdf->inflate.get();
  EXPECT_EQ(InflateStream((const unsigned char*)z.data(), out, (int32_t)z.size()), 499'995);
  EXPECT_EQ(out[499'995], 0);
  // A damaged stream still gives what came before the damage.
  std::string damaged = z;
  damaged.resize(damaged.size() / 2);
  EXPECT_GT(InflateStream((const unsigned char*)damaged.data(), out, (int32_t)damaged.size()), 0);
}

TEST(PdfReader, FontHintsApplyToTheStreamsAfterThem) {
  if (!CmapBuilt()) GTEST_SKIP() << "cmap.dat was not built (poppler-data missing)";
  // U+3042 through UniJIS-UCS2-H is あ; through the CID table alone it is not.
  PdfBuilder before, after;
  before.Object("<< /Type /Font /Subtype /Type0 /Encoding /UniJIS-UCS2-H >>");
  before.FlateStream("", TextObject("<3042> Tj"));
  after.FlateStream("", TextObject("<3042> Tj"));
  after.Object("<< /Type /Font /Subtype /Type0 /Encoding /UniJIS-UCS2-H >>");
  auto ctx = MakeContext(BinDir());
  EXPECT_EQ(ExtractClassic(*ctx, before.Finish()), "あ");
  EXPECT_NE(ExtractClassic(*ctx, after.Finish()), "あ");
}

std::string ToUnicodeCmap(const std::string& lines) {
  return "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
         "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n" +
         lines + "endcmap\n";
}

TEST(PdfReader, ToUnicodeMapOfTheFontDecodesHexStringsAndGivesNoTextOfItsOwn) {
  PdfBuilder b;
  b.Object("<< /Type /Font /Subtype /Type0 /Encoding /Identity-H /ToUnicode 3 0 R >>");
  b.FlateStream("", TextObject("[<0001> 120 <0002>] TJ"));
  b.FlateStream("", ToUnicodeCmap("2 beginbfchar\n<0001> <3042>\n<0002> <6F22>\nendbfchar\n"
                                  "BT\n(Secret) Tj\nET\n"));
  auto ctx = MakeContext(BinDir());
  EXPECT_EQ(ExtractClassic(*ctx, b.Finish()), "あ漢");
}

TEST(PdfReader, AToUnicodeMapLoadedAgainAfterAnotherStillMaps) {
  // Fonts A (map 5) and B (map 6) alternate over three content streams.
  PdfBuilder b;
  b.Object("<< /Type /Font /ToUnicode 5 0 R >>");
  b.FlateStream("", TextObject("<0001> Tj"));
  b.Object("<< /Type /Font /ToUnicode 6 0 R >>");
  b.FlateStream("", TextObject("<0001> Tj"));
  b.FlateStream("", ToUnicodeCmap("1 beginbfchar\n<0001> <3042>\nendbfchar\n"));
  b.FlateStream("", ToUnicodeCmap("1 beginbfchar\n<0001> <3044>\nendbfchar\n"));
  b.Object("<< /Type /Font /ToUnicode 5 0 R >>");
  b.FlateStream("", TextObject("<0001> Tj"));
  auto ctx = MakeContext(BinDir());
  EXPECT_EQ(ExtractClassic(*ctx, b.Finish()), "あいあ");
}

TEST(PdfReader, EveryDocumentStartsWithoutTheLastDocumentsMap) {
  if (!CmapBuilt()) GTEST_SKIP() << "cmap.dat was not built (poppler-data missing)";
  PdfBuilder withMap, identity;
  withMap.Object("<< /Type /Font /ToUnicode 3 0 R >>");
  withMap.FlateStream("", TextObject("<034B> Tj"));
  withMap.FlateStream("", ToUnicodeCmap("1 beginbfchar\n<034B> <6F22>\nendbfchar\n"));
  identity.Object("<< /Type /Font /Encoding /Identity-H >>");
  identity.FlateStream("", TextObject("<034B> Tj"));  // CID 843
  auto ctx = MakeContext(BinDir());
  EXPECT_EQ(ExtractClassic(*ctx, withMap.Finish()), "漢");
  EXPECT_EQ(ExtractClassic(*ctx, identity.Finish()), "あ");
}

TEST(PdfReader, WithoutCmapDatToUnicodeStillWorksAndCmapCodesPassUnchanged) {
  test::TempDir t;
  auto ctx = MakeContext(t.path());
  PdfBuilder mapped, named;
  mapped.Object("<< /Type /Font /ToUnicode 3 0 R >>");
  mapped.FlateStream("", TextObject("<0001> Tj"));
  mapped.FlateStream("", ToUnicodeCmap("1 beginbfchar\n<0001> <3042>\nendbfchar\n"));
  named.Object("<< /Type /Font /Encoding /90ms-RKSJ-H >>");
  named.FlateStream("", TextObject("<82A2> Tj <0345> Tj"));
  EXPECT_EQ(ExtractClassic(*ctx, mapped.Finish()), "あ");
  // 0x0345 keeps its non-zero high byte, a control byte that compaction blanks.
  EXPECT_EQ(ExtractClassic(*ctx, named.Finish()), "い E");
}

}  // namespace
}  // namespace kuribo

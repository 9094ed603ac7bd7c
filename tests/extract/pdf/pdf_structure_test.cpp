// The qpdf path: page order, Form XObjects, annotations, form fields, the
// files producers write today, and hostile input.
#define POINTERHOLDER_TRANSITION 4
#include <gtest/gtest.h>
#include <qpdf/JSON.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>
#include <sys/stat.h>
#include <zlib.h>

#include <string>

#include "pdf_builder.h"

namespace kuribo {
namespace {

using namespace pdftest;

const char* const kFont = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";

// The document rewritten by qpdf: object and cross-reference streams, or
// encrypted with the given user password.
std::string Rewrite(const std::string& pdf, bool objectStreams, const char* userPassword) {
  QPDF q;
  q.setSuppressWarnings(true);
  q.processMemoryFile("in", pdf.data(), pdf.size());
  QPDFWriter w(q);
  w.setOutputMemory();
  if (objectStreams) w.setObjectStreamMode(qpdf_o_generate);
  if (userPassword != nullptr) {
    w.setR6EncryptionParameters(userPassword, "owner", true, true, true, true, true, true,
                                qpdf_r3p_full, true);
  }
  w.write();
  auto buf = w.getBufferSharedPointer();
  return std::string((const char*)buf->getBuffer(), buf->getSize());
}

TEST(PdfStructure, PagesInOrderWithFormsOncePerPageAnnotationsAndFieldValues) {
  PageDoc d;
  d.Font("F1", kFont);
  // Two forms that draw each other: each is shown once per page.
  const int x1 = d.b.next(), x2 = x1 + 1;
  d.b.FlateStream("/Type /XObject /Subtype /Form /BBox [0 0 1 1] /Resources << /XObject << /X2 " +
                      std::to_string(x2) + " 0 R >> /Font << /F1 " + "1 0 R >> >>",
                  "BT /F1 1 Tf (form1) Tj ET /X2 Do");
  d.b.FlateStream("/Type /XObject /Subtype /Form /BBox [0 0 1 1] /Resources << /XObject << /X1 " +
                      std::to_string(x1) + " 0 R >> /Font << /F1 1 0 R >> >>",
                  "BT /F1 1 Tf (form2) Tj ET /X1 Do");
  d.xobjects = "/X1 " + std::to_string(x1) + " 0 R";
  const int ap = d.b.FlateStream("/Type /XObject /Subtype /Form /BBox [0 0 1 1]",
                                 "BT /F1 1 Tf (note) Tj ET");
  d.pageExtra = "/Annots [<< /Type /Annot /Subtype /FreeText /Rect [0 0 1 1] /AP << /N " +
                std::to_string(ap) + " 0 R >> >>]";
  d.Page("BT /F1 1 Tf (first) Tj ET /X1 Do");
  d.Page("q /X1 Do Q BT /F1 1 Tf [(sec) -20 (ond)] TJ ET");
  const int field = d.b.Object("<< /FT /Tx /T (name) /V (typed value) >>");
  const int shown = d.b.Object("<< /FT /Tx /T (other) /V (not twice) /AP << /N " +
                               std::to_string(ap) + " 0 R >> >>");
  d.catalogExtra = "/AcroForm << /Fields [" + std::to_string(field) + " 0 R " +
                   std::to_string(shown) + " 0 R] >>";
  auto ctx = MakeContext(BinDir());
  EXPECT_EQ(Extract(*ctx, d.Finish()), "firstform1form2noteform1form2second typed value");
}

std::string Hello() {
  PageDoc d;
  d.Font("F1", kFont);
  d.Page(TextObject("(Hello streams) Tj"));
  return d.Finish();
}

TEST(PdfStructure, ObjectStreamsAndEmptyPasswordEncryptionAreRead) {
  auto ctx = MakeContext(BinDir());
  const std::string packed = Rewrite(Hello(), true, nullptr);
  ASSERT_NE(packed.find("/ObjStm"), std::string::npos);
  EXPECT_EQ(Extract(*ctx, packed), "Hello streams");
  EXPECT_EQ(ExtractClassic(*ctx, packed), "");  // the shallow reader never saw these
  EXPECT_EQ(Extract(*ctx, Rewrite(Hello(), true, "")), "Hello streams");
  // A password we do not have: no text.
  EXPECT_EQ(Extract(*ctx, Rewrite(Hello(), false, "secret")), "");
}

TEST(PdfStructure, DamagedFilesAreRepairedOrGiveNothing) {
  auto ctx = MakeContext(BinDir());
  std::string pdf = Hello();
  // Cross-reference offsets all wrong: qpdf rebuilds the table.
  std::string shifted = "%comment that moves every object\n" + pdf;
  EXPECT_EQ(Extract(*ctx, shifted), "Hello streams");
  // Every prefix of the file: no crash, text or nothing.
  for (size_t cut = 0; cut < pdf.size(); cut += 7) {
    const std::string text = Extract(*ctx, pdf.substr(0, cut));
    EXPECT_TRUE(text.empty() || text == "Hello streams") << cut << ": " << text;
  }
}

TEST(PdfStructure, LoopsAndBombsEndWithBoundedWork) {
  auto ctx = MakeContext(BinDir());
  {
    // A page tree whose node lists itself.
    PdfBuilder b;
    b.Object("<< /Type /Pages /Kids [1 0 R 3 0 R] /Count 2 >>");
    b.SetRoot(b.Object("<< /Type /Catalog /Pages 1 0 R >>"));
    const int c = b.FlateStream("", "BT (kept) Tj ET");
    b.ObjectNumbered(3, "<< /Type /Page /Parent 1 0 R /Contents " + std::to_string(c) + " 0 R >>");
    (void)Extract(*ctx, b.Finish());
  }
  {
    // A content stream that inflates to 200 MB of spaces after its text.
    std::string bomb;
    z_stream zs{};
    deflateInit(&zs, 9);
    std::string head = "BT (start) Tj ET\n", chunk(1 << 20, ' ');
    unsigned char out[1 << 16];
    for (int i = 0; i <= 200; ++i) {
      const std::string& in = i == 0 ? head : chunk;
      zs.next_in = (Bytef*)in.data();
      zs.avail_in = (uInt)in.size();
      do {
        zs.next_out = out;
        zs.avail_out = sizeof out;
        deflate(&zs, i == 200 ? Z_FINISH : Z_NO_FLUSH);
        bomb.append((const char*)out, sizeof out - zs.avail_out);
      } while (zs.avail_out == 0);
    }
    deflateEnd(&zs);
    PdfBuilder b;
    const int c = b.Stream("/Filter /FlateDecode", bomb);
    b.Object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.Object("<< /Type /Page /Parent 2 0 R /Contents " + std::to_string(c) + " 0 R >>");
    b.SetRoot(b.Object("<< /Type /Catalog /Pages 2 0 R >>"));
    // Decoding stops at the stream cap; the text before it is kept.
    EXPECT_EQ(Extract(*ctx, b.Finish()), "start");
  }
}

// A candidate swapped for a named pipe between walk and read: refused at
// once, never waited on (the reader used to open documents by path).
TEST(PdfStructure, ANamedPipeIsRefusedWithoutBlocking) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no named pipes in the file system (mkfifo)";
#else
  test::TempDir t;
  const std::string fifo = t.path() + "swapped.pdf";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  auto ctx = MakeContext(BinDir());
  EXPECT_EQ(ExtractPdfText(fifo, 1000, *ctx), 0);
#endif
}

}  // namespace
}  // namespace kuribo

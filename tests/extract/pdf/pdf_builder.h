// Builds small PDF files byte by byte for the reader's tests, and the
// extraction context they run in.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "encoding/sjis.h"
#include "extract/context.h"
#include "extract/pdf/pdf.h"
#include "support/temp_dir.h"

namespace kuribo::pdftest {

inline std::string Deflate(const std::string& data) {
  uLongf room = compressBound((uLong)data.size());
  std::string out(room, '\0');
  compress2((Bytef*)out.data(), &room, (const Bytef*)data.data(), (uLong)data.size(), 9);
  out.resize(room);
  return out;
}

// Objects in the order added; the cross-reference table lists them in that
// order. An update appends objects and a section whose trailer has /Prev.
class PdfBuilder {
 public:
  PdfBuilder() : bytes_("%PDF-1.4\n") {}

  void Raw(const std::string& s) { bytes_ += s; }

  int Object(const std::string& body) { return ObjectNumbered(next_++, body); }
  int ObjectNumbered(int number, const std::string& body) {
    pending_.push_back((long long)bytes_.size());
    bytes_ += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
    return number;
  }
  int Stream(const std::string& dict, const std::string& data) {
    return StreamNumbered(next_++, dict, data);
  }
  int StreamNumbered(int number, const std::string& dict, const std::string& data) {
    return ObjectNumbered(number, "<< " + dict + " /Length " + std::to_string(data.size()) +
                                      " >>\nstream\n" + data + "\nendstream");
  }
  int FlateStream(const std::string& dict, const std::string& data) {
    return Stream(dict + " /Filter /FlateDecode", Deflate(data));
  }

  // Writes the section for the objects added since the last one.
  void Section() {
    const long long at = (long long)bytes_.size();
    bytes_ += "xref\n0 " + std::to_string(pending_.size() + 1) + "\n0000000000 65535 f \n";
    char entry[32];
    for (long long off : pending_) {
      std::snprintf(entry, sizeof entry, "%010lld 00000 n \n", off);
      bytes_ += entry;
    }
    bytes_ += "trailer\n<< /Size " + std::to_string(next_);
    if (root_ > 0) bytes_ += " /Root " + std::to_string(root_) + " 0 R";
    if (lastSection_ >= 0) bytes_ += " /Prev " + std::to_string(lastSection_);
    bytes_ += " >>\nstartxref\n" + std::to_string(at) + "\n%%EOF\n";
    lastSection_ = at;
    pending_.clear();
  }

  std::string Finish() {
    if (!pending_.empty() || lastSection_ < 0) Section();
    return bytes_;
  }
  const std::string& bytes() const { return bytes_; }
  int next() const { return next_; }
  void SetRoot(int n) { root_ = n; }

 private:
  std::string bytes_;
  std::vector<long long> pending_;
  long long lastSection_ = -1;
  int next_ = 1;
  int root_ = 0;
};

// A document with a page tree: fonts and forms go into every page's
// resources; each page shows one content stream.
class PageDoc {
 public:
  PdfBuilder b;
  std::string fonts;     // entries of the /Font dictionary
  std::string xobjects;  // entries of the /XObject dictionary
  std::string pageExtra;  // more entries of the next page's dictionary

  int Font(const std::string& name, const std::string& dict) {
    const int n = b.Object(dict);
    fonts += "/" + name + " " + std::to_string(n) + " 0 R ";
    return n;
  }
  void Page(const std::string& content) {
    contents_.push_back(b.FlateStream("", content));
    extras_.push_back(pageExtra);
    pageExtra.clear();
  }
  std::string Finish() {
    const int first = b.next();
    const int pages = first + (int)contents_.size();
    const std::string res = "/Resources << /Font << " + fonts + ">> /XObject << " + xobjects + ">> >>";
    std::string kids;
    for (size_t i = 0; i < contents_.size(); ++i) {
      kids += std::to_string(b.Object("<< /Type /Page /Parent " + std::to_string(pages) +
                                      " 0 R /MediaBox [0 0 612 792] /Contents " +
                                      std::to_string(contents_[i]) + " 0 R " + res + " " +
                                      extras_[i] + " >>")) + " 0 R ";
    }
    b.Object("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(contents_.size()) + " >>");
    b.SetRoot(b.Object("<< /Type /Catalog /Pages " + std::to_string(pages) + " 0 R " + catalogExtra + " >>"));
    return b.Finish();
  }
  std::string catalogExtra;

 private:
  std::vector<int> contents_;
  std::vector<std::string> extras_;
};

// A text object showing the given operands, one per line.
inline std::string TextObject(const std::string& operands) {
  return "BT\n/F1 12 Tf\n" + operands + "\nET\n";
}

inline std::string BinDir() { return std::string(KURIBO_BIN_DIR) + "/"; }
inline bool CmapBuilt() { return std::filesystem::exists(BinDir() + "cmap.dat"); }

inline std::unique_ptr<ExtractionContext> MakeContext(const std::string& programDir) {
  auto ctx = std::make_unique<ExtractionContext>();
  ctx->text.reset(new char[kTextBufferSize]);
  ctx->file = MakeFileBuffer(kFileBufferSize);
  ctx->programDir = programDir;
  EXPECT_EQ(AllocatePdfWorkspace(*ctx), 1);
  return ctx;
}

// Runs the extractor over bytes held in memory; the result as UTF-8.
inline std::string Extract(ExtractionContext& ctx, const std::string& pdf) {
  if (pdf.size() > (size_t)kFileBufferSize) return "<too large>";
  std::copy(pdf.begin(), pdf.end(), ctx.file.get());
  const int n = ExtractPdfData((int32_t)pdf.size(), ctx);
  if (n <= 0) return "";
  return SjisToUtf8(std::string_view(ctx.text.get(), (size_t)n));
}

// The shallow reader alone (files qpdf refuses).
inline std::string ExtractClassic(ExtractionContext& ctx, const std::string& pdf) {
  if (pdf.size() > (size_t)kFileBufferSize) return "<too large>";
  std::copy(pdf.begin(), pdf.end(), ctx.file.get());
  const int n = ExtractPdfClassic((int32_t)pdf.size(), ctx);
  if (n <= 0) return "";
  return SjisToUtf8(std::string_view(ctx.text.get(), (size_t)n));
}

inline std::string Sjis(const std::string& utf8) { return Utf8ToSjis(utf8); }

}  // namespace kuribo::pdftest

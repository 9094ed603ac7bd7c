// Shared pieces of the Word, Excel and PowerPoint tests: files written to a
// private temporary directory, one extraction context, text back as UTF-8.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "encoding/sjis.h"
#include "extract/context.h"
#include "extract/office/office.h"
#include "support/cfb_builder.h"

namespace kuribo::test {

inline std::string Le16(uint32_t v) { return {(char)(v & 0xFF), (char)(v >> 8 & 0xFF)}; }
inline std::string Le32(uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }

// UTF-8 literal to little-endian UTF-16 bytes (characters of the BMP only).
inline std::string Utf16Le(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = (unsigned char)utf8[i];
    uint32_t cp;
    if (c < 0x80) {
      cp = c, i += 1;
    } else if (c < 0xE0) {
      cp = (c & 0x1F) << 6 | (utf8[i + 1] & 0x3F), i += 2;
    } else {
      cp = (c & 0x0F) << 12 | (utf8[i + 1] & 0x3F) << 6 | (utf8[i + 2] & 0x3F), i += 3;
    }
    out += Le16(cp);
  }
  return out;
}

inline std::string Sjis(const std::string& utf8) { return Utf8ToSjis(utf8); }

class OfficeTest : public ::testing::Test {
 protected:
  using Extractor = int (*)(const std::string&, int32_t, ExtractionContext&);

  void SetUp() override {
    ctx_.text = std::make_unique<char[]>(kTextBufferSize);
    ctx_.file = MakeFileBuffer(kFileBufferSize);
    dir_ = std::filesystem::path(::testing::TempDir()) /
           ("kuribo_office_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::string Write(const std::string& name, const std::string& bytes) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary).write(bytes.data(), (std::streamsize)bytes.size());
    return path;
  }

  // Extracted text as Shift_JIS bytes.
  std::string Run(Extractor fn, const std::string& name, const std::string& bytes) {
    std::string path = Write(name, bytes);
    int n = fn(path, (int32_t)bytes.size(), ctx_);
    return n > 0 ? std::string(ctx_.text.get(), (size_t)n) : std::string();
  }
  std::string RunUtf8(Extractor fn, const std::string& name, const std::string& bytes) {
    return SjisToUtf8(Run(fn, name, bytes));
  }

  ExtractionContext ctx_;
  std::filesystem::path dir_;
};

// A twin of a compound document whose signature is broken: read as raw bytes.
inline std::string BreakSignature(std::string cfb) {
  cfb[0] = 'X';
  return cfb;
}

}  // namespace kuribo::test

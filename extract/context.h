// The extraction context: the buffers and workspaces one worker hands to every
// extractor. Made once per worker and reused for every file it reads.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstddef>
#include <memory>
#include <new>
#include <string>

namespace kuribo {

constexpr int32_t kTextBufferSize = 1'200'000;
constexpr int32_t kFileBufferSize = 5'000'000;
// Extracted text stays at or below this many bytes.
constexpr int32_t kMaxTextLength = 1'000'000;

struct PdfWorkspace;

// The file buffer starts on a cache line: the kernel copies page-cache bytes
// into an unaligned destination at well under half the speed.
struct FileBufferDelete {
  void operator()(unsigned char* p) const { ::operator delete[](p, std::align_val_t{64}); }
};
using FileBuffer = std::unique_ptr<unsigned char[], FileBufferDelete>;
// Null when the memory is not there.
inline FileBuffer MakeFileBuffer(size_t size) {
  return FileBuffer(static_cast<unsigned char*>(::operator new[](size, std::align_val_t{64}, std::nothrow)));
}

struct ExtractionContext {
  // Every extractor writes the document's text from text[0].
  std::unique_ptr<char[]> text;
  // Scratch for a file's raw bytes; its contents do not survive to the next file.
  FileBuffer file;
  // The PDF reader's fixed storage; null until it has been reserved.
  std::unique_ptr<PdfWorkspace, void (*)(PdfWorkspace*)> pdf{nullptr, nullptr};

  // The program directory, ending in "/": cmap.dat and the outside converters live there.
  std::string programDir;
  // Set once when the context is made and never changed afterwards.
  bool xdoc2txtPresent = false;
  bool pdftotextPresent = false;

  // The first bytes of the current file when its extractor read it from the
  // start (headSize of them; -1 when it did not), so the dispatcher can look for
  // property sets without opening the file again.
  unsigned char head[8] = {};
  int headSize = -1;

  // Raised when the search is stopped; long-running work (converters) ends early.
  const std::atomic<bool>* stop = nullptr;

  bool Ready() const { return text != nullptr && file != nullptr; }
  bool Stopped() const { return stop != nullptr && stop->load(std::memory_order_relaxed); }
};

}  // namespace kuribo

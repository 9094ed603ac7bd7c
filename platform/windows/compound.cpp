#include "platform/compound.h"

#include <io.h>
#include <objbase.h>

#include "platform/fs.h"
#include "platform/windows/wide.h"

namespace kuribo {
namespace {

IStream* OpenChild(void* storage, const char* name) {
  if (!storage) return nullptr;
  // Stream names are ASCII and control characters ("\005SummaryInformation").
  std::wstring w;
  for (const char* p = name; *p; ++p) w += (wchar_t)(unsigned char)*p;
  IStream* s = nullptr;
  if (FAILED(static_cast<IStorage*>(storage)->OpenStream(w.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE,
                                                          0, &s)))
    return nullptr;
  return s;
}

}  // namespace

CompoundFile::~CompoundFile() {
  if (infile_) static_cast<IStorage*>(infile_)->Release();
}

bool CompoundFile::Open(const std::string& path) {
  if (infile_) return true;
  // Regular files only, and the signature first, as on every platform.
  const int fd = OpenFileForReading(path);
  if (fd < 0) return false;
  unsigned char head[8];
  const size_t got = ReadFully(fd, head, sizeof head);
  _close(fd);
  if (!HasCompoundSignature(head, got)) return false;
  const std::wstring w = Widen(path);
  IStorage* storage = nullptr;
  HRESULT hr = StgOpenStorageEx(w.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, STGFMT_STORAGE, 0,
                                nullptr, nullptr, IID_IStorage, reinterpret_cast<void**>(&storage));
  if (FAILED(hr)) {
    // A document open in its program: a snapshot of it, shared.
    hr = StgOpenStorageEx(w.c_str(), STGM_READ | STGM_TRANSACTED | STGM_SHARE_DENY_NONE,
                          STGFMT_STORAGE, 0, nullptr, nullptr, IID_IStorage,
                          reinterpret_cast<void**>(&storage));
  }
  if (FAILED(hr) || !storage) return false;
  infile_ = storage;
  return true;
}

int64_t CompoundFile::StreamSize(const char* name) {
  IStream* s = OpenChild(infile_, name);
  if (!s) return -1;
  STATSTG st{};
  const bool ok = SUCCEEDED(s->Stat(&st, STATFLAG_NONAME));
  s->Release();
  return ok ? (int64_t)st.cbSize.QuadPart : -1;
}

int64_t CompoundFile::ReadStream(const char* name, unsigned char* dst, size_t cap) {
  IStream* s = OpenChild(infile_, name);
  if (!s) return -1;
  size_t done = 0;
  // Read in pieces so a damaged chain yields what came before the damage.
  while (done < cap) {
    const ULONG piece = (ULONG)(cap - done < 65536 ? cap - done : 65536);
    ULONG n = 0;
    if (FAILED(s->Read(dst + done, piece, &n)) || n == 0) break;
    done += n;
  }
  s->Release();
  return (int64_t)done;
}

}  // namespace kuribo

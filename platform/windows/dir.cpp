#include "platform/dir.h"

#include "platform/windows/wide.h"

namespace kuribo {

// The listing tells every file's status, so `wantStatus` need not be asked.
bool ListDirectory(const std::string& dir, std::vector<DirEntry>& out, FileId& id, std::string& error,
                   const std::function<bool(const std::string& name)>&) {
  out.clear();
  const std::wstring wdir = Widen(dir);
  // The directory's identity: volume and file index.
  HANDLE h = CreateFileW(wdir.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = ErrorText(GetLastError());
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(h, &info);
  CloseHandle(h);
  if (!known) {
    error = ErrorText(GetLastError());
    return false;
  }
  id = {info.dwVolumeSerialNumber, ((uint64_t)info.nFileIndexHigh << 32) | info.nFileIndexLow};

  std::wstring pattern = wdir;
  if (!pattern.empty() && pattern.back() != L'/' && pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW data;
  HANDLE f = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                              nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (f == INVALID_HANDLE_VALUE) {
    const DWORD e = GetLastError();
    if (e == ERROR_FILE_NOT_FOUND) return true;  // empty
    error = ErrorText(e);
    return false;
  }
  do {
    const wchar_t* n = data.cFileName;
    if (n[0] == L'.' && (n[1] == 0 || (n[1] == L'.' && n[2] == 0))) continue;
    DirEntry e;
    e.name = Narrow(n, wcslen(n));
    const DWORD a = data.dwFileAttributes;
    if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
      e.kind = DirEntry::Kind::kUnknown;  // a link: where it leads decides
    } else if (a & FILE_ATTRIBUTE_DIRECTORY) {
      e.kind = DirEntry::Kind::kDirectory;
    } else if (a & FILE_ATTRIBUTE_DEVICE) {
      e.kind = DirEntry::Kind::kOther;
    } else {
      e.kind = DirEntry::Kind::kFile;
      e.haveStatus = true;
      e.size = ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow;
      e.mtime = UnixSeconds(data.ftLastWriteTime);
    }
    out.push_back(std::move(e));
  } while (FindNextFileW(f, &data));
  const DWORD e = GetLastError();
  FindClose(f);
  if (e != ERROR_NO_MORE_FILES) {
    error = ErrorText(e);
    return !out.empty();
  }
  return true;
}

bool StatPath(const std::string& path, FileStatus& status) {
  // Opening follows links, so the status is that of what the path leads to.
  HANDLE h = CreateFileW(Widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(h, &info);
  const DWORD type = GetFileType(h);
  CloseHandle(h);
  if (!ok) return false;
  status.isDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  status.isRegular = !status.isDirectory && type == FILE_TYPE_DISK;
  status.size = ((uint64_t)info.nFileSizeHigh << 32) | info.nFileSizeLow;
  status.mtime = UnixSeconds(info.ftLastWriteTime);
  return true;
}

}  // namespace kuribo

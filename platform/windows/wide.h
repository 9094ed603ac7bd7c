// UTF-8 (the engine's paths) to UTF-16 (the system's) and back.
#pragma once

#include <windows.h>

#include <string>

namespace kuribo {

inline std::wstring Widen(const std::string& s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), nullptr, 0);
  std::wstring w((size_t)n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), w.data(), n);
  return w;
}

inline std::string Narrow(const wchar_t* w, size_t len) {
  if (len == 0) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, w, (int)len, nullptr, 0, nullptr, nullptr);
  std::string s((size_t)n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w, (int)len, s.data(), n, nullptr, nullptr);
  return s;
}

inline std::string Narrow(const std::wstring& w) { return Narrow(w.data(), w.size()); }

// 100-nanosecond intervals since 1601 to seconds since 1970.
inline int64_t UnixSeconds(const FILETIME& ft) {
  const uint64_t t = ((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
  return (int64_t)(t / 10000000ULL) - 11644473600LL;
}

// The system's message for an error code, in UTF-8.
inline std::string ErrorText(DWORD code) {
  wchar_t* buf = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  std::string s = n ? Narrow(buf, n) : "error " + std::to_string(code);
  if (buf) LocalFree(buf);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

// A program named without an extension is its ".exe", as the system itself
// finds programs.
inline std::string WithExeSuffix(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  const size_t dot = path.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) return path;
  return path + ".exe";
}

}  // namespace kuribo

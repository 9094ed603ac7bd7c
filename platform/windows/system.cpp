#include "platform/system.h"

#include "platform/windows/wide.h"

#include <shellapi.h>

namespace kuribo {

// Windows runs a thread of lower priority only while none of normal priority
// is ready, so a search would stall behind any busy program.
bool LowerThreadPriority() { return false; }

bool UtcTime(int64_t secondsSinceEpoch, std::tm& out) {
  const __time64_t t = secondsSinceEpoch;
  return _gmtime64_s(&out, &t) == 0;
}

std::tm LocalTimeNow(int& milliseconds) {
  SYSTEMTIME st;
  GetLocalTime(&st);
  std::tm tm{};
  tm.tm_year = st.wYear - 1900;
  tm.tm_mon = st.wMonth - 1;
  tm.tm_mday = st.wDay;
  tm.tm_hour = st.wHour;
  tm.tm_min = st.wMinute;
  tm.tm_sec = st.wSecond;
  tm.tm_wday = st.wDayOfWeek;
  milliseconds = st.wMilliseconds;
  return tm;
}

bool OpenWithAssociatedProgram(const std::string& path) {
  const std::wstring w = Widen(path);
  if ((INT_PTR)ShellExecuteW(nullptr, L"open", w.c_str(), nullptr, nullptr, SW_SHOWNORMAL) > 32)
    return true;
  // No association: the file is shown as text.
  const std::wstring args = L"\"" + w + L"\"";
  return (INT_PTR)ShellExecuteW(nullptr, L"open", L"notepad.exe", args.c_str(), nullptr,
                                SW_SHOWNORMAL) > 32;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int n = 0;
  wchar_t** w = CommandLineToArgvW(GetCommandLineW(), &n);
  if (!w) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  for (int i = 0; i < n; ++i) args.push_back(Narrow(w[i], wcslen(w[i])));
  LocalFree(w);
  return args;
}

}  // namespace kuribo

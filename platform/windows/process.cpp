#include "platform/process.h"

#include <thread>

#include "platform/windows/wide.h"

namespace kuribo {
namespace {

// One argument as the C runtime's command-line parser reads it back:
// backslashes are literal except before a quote, where they are doubled.
void AppendQuoted(std::wstring& line, const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    if (c == L'"') line.append(slashes * 2 + 1, L'\\');
    else line.append(slashes, L'\\');
    slashes = 0;
    line += c;
  }
  line.append(slashes * 2, L'\\');
  line += L'"';
}

struct Handle {
  HANDLE h = nullptr;
  ~Handle() {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

}  // namespace

static std::wstring QuoteCommandLine(const std::vector<std::string>& args) {
  std::wstring line;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i) line += L' ';
    AppendQuoted(line, Widen(args[i]));
  }
  return line;
}

CaptureResult RunAndCapture(const CaptureRequest& request) {
  CaptureResult result;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  Handle readEnd, writeEnd, nul, job;
  if (!CreatePipe(&readEnd.h, &writeEnd.h, &sa, 0)) return result;
  SetHandleInformation(readEnd.h, HANDLE_FLAG_INHERIT, 0);
  nul.h = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                      OPEN_EXISTING, 0, nullptr);
  if (nul.h == INVALID_HANDLE_VALUE) return result;

  // Only this run's handles are inherited, so conversions side by side never
  // hold each other's pipes open.
  SIZE_T attrSize = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &attrSize);
  std::vector<char> attrBuf(attrSize);
  auto* attrs = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attrBuf.data());
  if (!InitializeProcThreadAttributeList(attrs, 1, 0, &attrSize)) return result;
  HANDLE inherit[2] = {writeEnd.h, nul.h};
  UpdateProcThreadAttribute(attrs, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherit, sizeof inherit,
                            nullptr, nullptr);

  // Every process the converter starts stays in its job, so one call ends the
  // whole tree.
  job.h = CreateJobObjectW(nullptr, nullptr);
  if (!job.h) {
    DeleteProcThreadAttributeList(attrs);
    return result;
  }
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job.h, JobObjectExtendedLimitInformation, &limits, sizeof limits);

  STARTUPINFOEXW si{};
  si.StartupInfo.cb = sizeof si;
  si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  si.StartupInfo.hStdInput = nul.h;
  si.StartupInfo.hStdOutput = writeEnd.h;
  si.StartupInfo.hStdError = nul.h;
  si.lpAttributeList = attrs;
  std::wstring program = Widen(WithExeSuffix(request.program));
  std::wstring line = QuoteCommandLine(request.args);
  std::wstring dir = Widen(request.workDir);
  PROCESS_INFORMATION pi{};
  const BOOL started = CreateProcessW(
      program.c_str(), line.data(), nullptr, nullptr, TRUE,
      CREATE_SUSPENDED | CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT | CREATE_UNICODE_ENVIRONMENT,
      nullptr, dir.empty() ? nullptr : dir.c_str(), &si.StartupInfo, &pi);
  DeleteProcThreadAttributeList(attrs);
  if (!started) return result;
  Handle process{pi.hProcess}, thread{pi.hThread};
  AssignProcessToJobObject(job.h, pi.hProcess);
  ResumeThread(pi.hThread);
  CloseHandle(writeEnd.h);
  writeEnd.h = nullptr;

  // The pipe is drained by its own thread so a full pipe never stalls the
  // converter while this one watches the clock and the stop flag.
  std::thread reader([&] {
    char buf[65536];
    DWORD n = 0;
    while (ReadFile(readEnd.h, buf, sizeof buf, &n, nullptr) && n > 0) {
      const int64_t room = (int64_t)request.cap - result.bytes;
      if (room > 0 && request.out) {
        const int32_t take = (int32_t)(room < (int64_t)n ? room : (int64_t)n);
        memcpy(request.out + result.bytes, buf, (size_t)take);
        result.bytes += take;
      }
      result.printed += n;
    }
  });

  const auto deadline = std::chrono::steady_clock::now() + request.timeout;
  result.ending = CaptureResult::Ending::Exited;
  for (;;) {
    if (WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0) break;
    if (request.stop && request.stop->load()) {
      result.ending = CaptureResult::Ending::Stopped;
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      result.ending = CaptureResult::Ending::TimedOut;
      break;
    }
  }
  // What is left of the tree ends with the converter; its pipe ends close, so
  // the reader sees the end.
  TerminateJobObject(job.h, 1);
  WaitForSingleObject(pi.hProcess, INFINITE);
  reader.join();
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  result.status = (int)code;
  return result;
}

}  // namespace kuribo

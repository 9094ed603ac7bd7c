#include "platform/system.h"

#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace kuribo {

bool UtcTime(int64_t secondsSinceEpoch, std::tm& out) {
  const time_t t = (time_t)secondsSinceEpoch;
  return gmtime_r(&t, &out) != nullptr;
}

std::tm LocalTimeNow(int& milliseconds) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  std::tm tm{};
  const time_t t = tv.tv_sec;
  localtime_r(&t, &tm);
  milliseconds = (int)(tv.tv_usec / 1000);
  return tm;
}

bool LowerThreadPriority() {
#if defined(__linux__)
  // The nice value is the thread's own on Linux; five steps give a third of
  // the weight.
  const id_t self = (id_t)syscall(SYS_gettid);
  errno = 0;
  const int now = getpriority(PRIO_PROCESS, self);
  if (errno != 0) return false;
  return setpriority(PRIO_PROCESS, self, now + 5 < 19 ? now + 5 : 19) == 0;
#else
  return false;  // elsewhere the value belongs to the whole process
#endif
}

bool OpenWithAssociatedProgram(const std::string& path) {
  // The desktop's opener; waited for, since it hands the file on and ends.
  char* argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(path.c_str()), nullptr};
  pid_t pid;
  if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0) return false;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace kuribo

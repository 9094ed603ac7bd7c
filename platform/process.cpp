#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace kuribo {
namespace {

// How often the stop flag, the clock and the program are looked at.
constexpr int kPollMilliseconds = 5;
// Reads per look, so a program that prints without end cannot hold the loop.
constexpr int64_t kReadPerRound = 1 << 20;
// A stopped or timed-out program gets this long after SIGTERM to clean up
// (temporary files, its own helpers) before SIGKILL. A stop is the user
// waiting, so its grace is short: the whole run must end within 200 ms.
constexpr std::chrono::milliseconds kTermGrace{1000};
constexpr std::chrono::milliseconds kStopGrace{120};

class SpawnSetup {
 public:
  SpawnSetup() {
    okActions_ = posix_spawn_file_actions_init(&actions_) == 0;
    okAttr_ = posix_spawnattr_init(&attr_) == 0;
  }
  ~SpawnSetup() {
    if (okActions_) posix_spawn_file_actions_destroy(&actions_);
    if (okAttr_) posix_spawnattr_destroy(&attr_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  bool Prepare(int outFd, const std::string& workDir) {
    if (!okActions_ || !okAttr_) return false;
    if (posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0) != 0 ||
        posix_spawn_file_actions_adddup2(&actions_, outFd, 1) != 0 ||
        posix_spawn_file_actions_addopen(&actions_, 2, "/dev/null", O_WRONLY, 0) != 0 ||
        posix_spawn_file_actions_addchdir_np(&actions_, workDir.c_str()) != 0 ||
        // Descriptors some other code opened without close-on-exec stay with us.
        posix_spawn_file_actions_addclosefrom_np(&actions_, 3) != 0) {
      return false;
    }
    // Own process group, so the program's helpers can be killed with it; the
    // signal state of this process (ignored SIGPIPE, blocked signals in worker
    // threads) is not handed down.
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    return posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF |
                                                POSIX_SPAWN_SETSIGMASK) == 0 &&
           posix_spawnattr_setpgroup(&attr_, 0) == 0 &&
           posix_spawnattr_setsigdefault(&attr_, &all) == 0 &&
           posix_spawnattr_setsigmask(&attr_, &none) == 0;
  }

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attr() const { return &attr_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
  bool okActions_ = false;
  bool okAttr_ = false;
};

// Moves a descriptor above the standard three, so the child's redirections
// cannot close it before it is duplicated.
int AboveStandard(int fd) {
  if (fd < 0 || fd > 2) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

// True once the program has ended; it stays a zombie (its process group and
// pid stay reserved) until it is reaped.
bool Ended(pid_t pid) {
  for (;;) {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0) {
      return info.si_pid == pid;
    }
    if (errno != EINTR) return true;  // cannot be waited for: nothing to wait on
  }
}

int Reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

class OutputSink {
 public:
  OutputSink(char* out, int32_t cap) : out_(out), cap_(out ? cap : 0) {}

  // Reads what the pipe holds now, up to `limit` bytes. False at end of file.
  bool ReadAvailable(int fd, int64_t limit) {
    int64_t taken = 0;
    while (taken < limit) {
      char* dst = drain_;
      size_t room = sizeof drain_;
      if (bytes_ < cap_) {
        dst = out_ + bytes_;
        room = static_cast<size_t>(cap_ - bytes_);
      }
      const ssize_t n = read(fd, dst, room);
      if (n > 0) {
        if (dst != drain_) bytes_ += static_cast<int32_t>(n);
        printed_ += n;
        taken += n;
        continue;
      }
      if (n == 0) return false;
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    return true;
  }

  int32_t bytes() const { return bytes_; }
  int64_t printed() const { return printed_; }

 private:
  char* out_;
  int32_t cap_;
  int32_t bytes_ = 0;
  int64_t printed_ = 0;
  char drain_[16384];
};

// Every program started here carries a mark of its run in its environment, and
// its helpers inherit it. A helper that left the process group (setsid) is
// still found by the mark and killed with the rest.
constexpr char kRunMark[] = "KURIBO_CONVERTER_RUN=";

std::string NewRunMark() {
  static std::atomic<unsigned long> runs{0};
  return std::string(kRunMark) + std::to_string(getpid()) + "." + std::to_string(++runs);
}

// Whether process `pid` (one of ours) carries `mark` in its environment.
bool CarriesMark(const char* pid, const std::string& mark) {
  const std::string path = std::string("/proc/") + pid + "/environ";
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string env(1, '\0');
  char buf[8192];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || env.size() > (1u << 20)) break;
    env.append(buf, (size_t)n);
  }
  close(fd);
  env += '\0';
  return env.find('\0' + mark + '\0') != std::string::npos;
}

// SIGKILL to every process of this user that carries `mark`; a few rounds, for
// helpers forked while the earlier ones were being killed.
void KillMarked(const std::string& mark) {
  const pid_t self = getpid();
  const uid_t uid = geteuid();
  for (int round = 0; round < 3; ++round) {
    DIR* proc = opendir("/proc");
    if (!proc) return;
    int killed = 0;
    while (struct dirent* e = readdir(proc)) {
      char* end = nullptr;
      const long pid = std::strtol(e->d_name, &end, 10);
      if (*end != '\0' || pid <= 0 || pid == self) continue;
      struct stat st;
      if (fstatat(dirfd(proc), e->d_name, &st, 0) != 0 || st.st_uid != uid) continue;
      if (CarriesMark(e->d_name, mark) && kill((pid_t)pid, SIGKILL) == 0) ++killed;
    }
    closedir(proc);
    if (killed == 0) return;
  }
}

}  // namespace

CaptureResult RunAndCapture(const CaptureRequest& request) {
  CaptureResult result;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return result;
  const int readFd = AboveStandard(fds[0]);
  const int writeFd = AboveStandard(fds[1]);
  if (readFd < 0 || writeFd < 0) {
    if (readFd >= 0) close(readFd);
    if (writeFd >= 0) close(writeFd);
    return result;
  }

  std::vector<char*> argv;
  argv.reserve(request.args.size() + 1);
  for (const std::string& arg : request.args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const std::string mark = NewRunMark();
  std::vector<char*> envp;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, kRunMark, sizeof kRunMark - 1) != 0) envp.push_back(*e);
  }
  envp.push_back(const_cast<char*>(mark.c_str()));
  envp.push_back(nullptr);

  pid_t pid = -1;
  int spawned = -1;
  {
    SpawnSetup setup;
    if (setup.Prepare(writeFd, request.workDir)) {
      spawned = posix_spawn(&pid, request.program.c_str(), setup.actions(), setup.attr(),
                            argv.data(), envp.data());
    }
  }
  close(writeFd);
  if (spawned != 0) {
    close(readFd);
    return result;
  }
  fcntl(readFd, F_SETFL, fcntl(readFd, F_GETFL) | O_NONBLOCK);

  OutputSink sink(request.out, request.cap);
  bool pipeOpen = true;
  // One look: reads what the pipe holds, or waits a few milliseconds.
  auto look = [&] {
    if (pipeOpen) {
      pollfd p{readFd, POLLIN, 0};
      if (poll(&p, 1, kPollMilliseconds) > 0) pipeOpen = sink.ReadAvailable(readFd, kReadPerRound);
    } else {
      poll(nullptr, 0, kPollMilliseconds);
    }
  };

  const auto deadline = std::chrono::steady_clock::now() + request.timeout;
  for (;;) {
    if (request.stop != nullptr && request.stop->load(std::memory_order_relaxed)) {
      result.ending = CaptureResult::Ending::Stopped;
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      result.ending = CaptureResult::Ending::TimedOut;
      break;
    }
    if (Ended(pid)) {
      result.ending = CaptureResult::Ending::Exited;
      break;
    }
    look();
  }
  if (result.ending != CaptureResult::Ending::Exited) {
    kill(-pid, SIGTERM);
    const auto graceEnd = std::chrono::steady_clock::now() +
                          (result.ending == CaptureResult::Ending::Stopped ? kStopGrace : kTermGrace);
    while (!Ended(pid) && std::chrono::steady_clock::now() < graceEnd) look();
  }
  // Nothing of the program's group, nor a helper that left it, may outlive
  // the run; the program itself stays a zombie until reaped, so its mark and
  // pid cannot pass to another process meanwhile.
  kill(-pid, SIGKILL);
  KillMarked(mark);
  // What the program printed before it ended is in the pipe; nothing written
  // after this is read.
  if (pipeOpen) sink.ReadAvailable(readFd, kReadPerRound);
  close(readFd);
  result.status = Reap(pid);
  result.bytes = sink.bytes();
  result.printed = sink.printed();
  return result;
}

}  // namespace kuribo

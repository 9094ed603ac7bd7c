// Starting an outside program and reading what it prints, without a shell.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kuribo {

struct CaptureRequest {
  // The executable to start; args[0] is what it sees as its own name.
  std::string program;
  std::vector<std::string> args;
  // Working directory of the new process.
  std::string workDir;
  // Standard output goes to out[0..cap); anything beyond is read and dropped.
  char* out = nullptr;
  int32_t cap = 0;
  // When raised, the program is killed at once.
  const std::atomic<bool>* stop = nullptr;
  // The program is killed when it runs longer than this.
  std::chrono::milliseconds timeout{120'000};
};

struct CaptureResult {
  enum class Ending { NotStarted, Exited, Stopped, TimedOut };
  Ending ending = Ending::NotStarted;
  // Bytes stored at out (at most cap).
  int32_t bytes = 0;
  // Bytes the program printed in all, the dropped ones included.
  int64_t printed = 0;
  // The wait status from waitpid when the program was reaped.
  int status = 0;
};

// Starts `program` directly with the argument vector (no shell: every argument
// reaches it as given), in its own process group, standard input from
// /dev/null, standard error discarded, standard output read through a pipe.
// When the stop flag rises or the timeout passes, the whole group gets SIGTERM
// and, a second later at most, SIGKILL; when the program has ended, what is
// left of its group gets SIGKILL, and so does every process that inherited
// the run's mark in its environment (a helper that left the group with
// setsid). Output is read until the program has ended. The program is always
// reaped before this returns.
CaptureResult RunAndCapture(const CaptureRequest& request);

}  // namespace kuribo

// Workers lower their own priority, not their process's.
#include <gtest/gtest.h>

#include <thread>

#include "platform/system.h"

#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace kuribo {
namespace {

TEST(ThreadPriority, IsLoweredForTheCallingThreadOnly) {
#if defined(__linux__)
  auto nice = [] { return getpriority(PRIO_PROCESS, (id_t)syscall(SYS_gettid)); };
  const int before = nice();
  int inside = 0;
  bool lowered = false;
  std::thread([&] {
    lowered = LowerThreadPriority();
    inside = nice();
  }).join();
  EXPECT_TRUE(lowered);
  EXPECT_EQ(inside, before + 5 < 19 ? before + 5 : 19);
  EXPECT_EQ(nice(), before);
#else
  EXPECT_FALSE(LowerThreadPriority());
#endif
}

}  // namespace
}  // namespace kuribo

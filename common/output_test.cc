// Closed standard streams guarded: a write to them fails like one to a gone host, never SIGPIPE.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "common/output.h"

namespace {

TEST(GuardStandardStreams, ClosedStreamsFailLikeAGoneHostAndKeepTheirNumbers) {
  // In a child: the three streams are the test runner's own.
  const pid_t child = ::fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    ::close(STDIN_FILENO);
    ::close(STDOUT_FILENO);
    ::close(STDERR_FILENO);
    ignoreBrokenPipe();
    guardStandardStreams();
    int fds[2];
    char byte;
    const bool ok = ::pipe(fds) == 0 && fds[0] > STDERR_FILENO && fds[1] > STDERR_FILENO &&
                    !writeRecord("READY\n", STDOUT_FILENO) && errno == EPIPE &&
                    !writeRecord("x\n", STDERR_FILENO) && ::read(STDIN_FILENO, &byte, 1) == 0;
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

// A host's non-blocking pipe takes a long record in parts as it reads: every part arrives, once.
TEST(WriteRecord, ANonBlockingPipeTakesTheWholeRecord) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
  const std::string record(1 << 20, 'x');  // far more than the pipe holds
  std::string got;
  std::thread host([&] {
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) got.append(buffer, n);
  });
  EXPECT_TRUE(writeRecord(record, fds[1]));
  ::close(fds[1]);
  host.join();
  ::close(fds[0]);
  EXPECT_EQ(got, record);
}

}  // namespace

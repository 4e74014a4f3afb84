// Unbuffered record writing: each record reaches its reader in one write(2), never via a stdio
// buffer.
#include "common/output.h"

#include <cerrno>
#include <csignal>

bool writeRecord(std::string_view bytes, int fd) {
  const char* next = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, next, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    next += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

void ignoreBrokenPipe() {
  std::signal(SIGPIPE, SIG_IGN);
}

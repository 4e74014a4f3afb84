// Unbuffered record writing: each record reaches its reader in one write(2), never via a stdio
// buffer.
#include "common/output.h"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <csignal>

bool writeRecord(std::string_view bytes, int fd) {
  const char* next = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, next, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      // A host may hand over a non-blocking pipe: wait until it takes more, never drop the rest.
      pollfd writable{fd, POLLOUT, 0};
      if ((errno == EAGAIN || errno == EWOULDBLOCK) && ::poll(&writable, 1, -1) >= 0) continue;
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

void guardStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int ends[2];
    if (::pipe(ends) != 0) return;
    // pipe() takes the lowest free numbers, which may include `fd` itself.
    const int keep = fd == STDIN_FILENO ? ends[0] : ends[1];
    if (keep != fd) ::dup2(keep, fd);
    for (int end : ends) {
      if (end != fd) ::close(end);
    }
  }
}

// A descriptor whose bytes a test reads back: what a tool wrote to "standard output" or "error".
#include "testing/capture.h"

#include <stdlib.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

// An unlinked temporary file: POSIX, so the unit tests build on macOS as on Linux.
CapturedFd::CapturedFd() {
  const char* dir = ::getenv("TMPDIR");
  std::string path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/captureXXXXXX";
  fd_ = ::mkstemp(path.data());
  if (fd_ < 0) throw std::runtime_error("mkstemp failed for " + path);
  ::unlink(path.c_str());
}

CapturedFd::~CapturedFd() {
  ::close(fd_);
}

std::string CapturedFd::contents() const {
  std::string out;
  char buf[65536];
  off_t at = 0;
  for (;;) {
    ssize_t n = ::pread(fd_, buf, sizeof buf, at);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
    at += n;
  }
  return out;
}

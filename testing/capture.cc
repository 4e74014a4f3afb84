// A descriptor whose bytes a test reads back: what a tool wrote to "standard output" or "error".
#include "testing/capture.h"

#include <sys/mman.h>
#include <unistd.h>

#include <stdexcept>

CapturedFd::CapturedFd() : fd_(::memfd_create("captured", MFD_CLOEXEC)) {
  if (fd_ < 0) throw std::runtime_error("memfd_create failed");
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

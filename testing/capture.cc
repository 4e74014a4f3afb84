// A descriptor whose bytes a test reads back: what a tool wrote to "standard output" or "error".
#include "testing/capture.h"

#include <unistd.h>

std::string CapturedFd::contents() const {
  std::string out;
  char buf[65536];
  for (ssize_t n; (n = ::pread(fd(), buf, sizeof buf, static_cast<off_t>(out.size()))) > 0;)
    out.append(buf, static_cast<size_t>(n));
  return out;
}

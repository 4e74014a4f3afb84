// A descriptor whose bytes a test reads back: what a tool wrote to "standard output" or "error".
#pragma once

#include <cstdio>
#include <memory>
#include <string>

class CapturedFd {
 public:
  int fd() const { return ::fileno(file_.get()); }
  // Everything written so far.
  std::string contents() const;

 private:
  // An unlinked temporary file: standard C, so the unit tests build on macOS as on Linux.
  std::unique_ptr<FILE, int (*)(FILE*)> file_{std::tmpfile(), &std::fclose};
};

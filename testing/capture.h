// A descriptor whose bytes a test reads back: what a tool wrote to "standard output" or "error".
#pragma once

#include <string>

class CapturedFd {
 public:
  CapturedFd();
  ~CapturedFd();
  CapturedFd(const CapturedFd&) = delete;
  CapturedFd& operator=(const CapturedFd&) = delete;

  int fd() const { return fd_; }
  // Everything written so far.
  std::string contents() const;

 private:
  int fd_ = -1;
};

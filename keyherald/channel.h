// One trigger key and the two lines that announce it: the up/down state machine and `emit`.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "keyherald/keyboard.h"
#include "keyherald/trigger.h"

// Writes `line` and one line feed to `fd` in a single write. False when the reader is gone.
bool emit(std::string_view line, int fd);

// The handlers write at most one line each, to `outFd`, and return false only when that line could
// not be written (the host has closed its end).
class Channel {
 public:
  Channel(Trigger trigger, std::string downMsg, std::string upMsg)
      : trigger_(trigger), downMsg_(std::move(downMsg)), upMsg_(std::move(upMsg)) {}

  bool onFlagsChanged(const KeyEvent& event, int outFd);
  bool onKey(const KeyEvent& event, bool down, int outFd);

  const Trigger& trigger() const { return trigger_; }
  const std::string& downMsg() const { return downMsg_; }
  const std::string& upMsg() const { return upMsg_; }
  bool isDown() const { return isDown_; }

 private:
  bool pressedBy(const KeyEvent& event) const;
  bool moveTo(bool down, int outFd);

  Trigger trigger_;
  std::string downMsg_;
  std::string upMsg_;
  bool isDown_ = false;
};

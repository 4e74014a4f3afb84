// One trigger key and the two lines that announce it: the up/down state machine and `emit`.
#include "keyherald/channel.h"

#include "common/output.h"

bool emit(std::string_view line, int fd) {
  std::string record;
  record.reserve(line.size() + 1);
  record.append(line);
  record.push_back('\n');
  return writeRecord(record, fd);
}

bool Channel::pressedBy(const KeyEvent& event) const {
  if (trigger_.kind == Trigger::Kind::fnFlag) return (event.modifierFlags & FUNCTION_FLAG) != 0;
  // The device-independent flag stays set while the twin is held, so releasing right Option with
  // left Option down would look like a press. The side bits tell the twins apart; synthetic events
  // carry none, and then only the shared flag is left to judge by.
  if ((event.modifierFlags & sideBitsOf(trigger_.mask)) != 0) {
    return (event.modifierFlags & trigger_.sideBit) != 0;
  }
  return (event.modifierFlags & trigger_.mask) == trigger_.mask;
}

bool Channel::moveTo(bool down, int outFd) {
  if (isDown_ == down) return true;
  isDown_ = down;
  return emit(down ? downMsg_ : upMsg_, outFd);
}

bool Channel::onFlagsChanged(const KeyEvent& event, int outFd) {
  switch (trigger_.kind) {
    case Trigger::Kind::functionKey:
      return true;
    case Trigger::Kind::modifier:
      if (event.keyCode != trigger_.keyCode) return true;
      break;
    case Trigger::Kind::fnFlag:
      break;  // every flags-changed event decides the fn state afresh, whichever key caused it
  }
  return moveTo(pressedBy(event), outFd);
}

bool Channel::onKey(const KeyEvent& event, bool down, int outFd) {
  if (trigger_.kind != Trigger::Kind::functionKey || event.keyCode != trigger_.keyCode) return true;
  if (down && event.isARepeat) return true;
  // A second down or an up without a down contradicts the state: nothing is written.
  return moveTo(down, outFd);
}

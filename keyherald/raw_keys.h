// Turns raw key presses and releases (evdev codes) into the events a macOS key monitor delivers.
#pragma once

#include <bitset>
#include <cstdint>

#include "keyherald/keyboard.h"

// The key code of every key that has no macOS counterpart here: no trigger uses it.
constexpr uint16_t UNMAPPED_KEY_CODE = 0xFFFF;
// evdev codes end at KEY_MAX (0x2ff).
constexpr uint16_t EVDEV_CODES = 0x300;

// The macOS virtual key code of an evdev key code, or UNMAPPED_KEY_CODE.
uint16_t macKeyCodeOf(uint16_t evdevCode);

struct TranslatedEvent {
  EventKind kind;
  KeyEvent event;
};

// Raw events carry neither modifier state nor autorepeat, so both come from the keys seen held:
// a modifier press or release is a flags-changed event whose flags are computed from the modifiers
// held after it, and a press of a key already held is a repeat.
class RawKeyTranslator {
 public:
  TranslatedEvent press(uint16_t evdevCode);
  TranslatedEvent release(uint16_t evdevCode);

 private:
  uint64_t flags() const;
  TranslatedEvent translate(uint16_t evdevCode, bool down, bool repeat) const;

  std::bitset<EVDEV_CODES> held_;
};

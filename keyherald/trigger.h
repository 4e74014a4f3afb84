// Which physical key a channel follows, and the key-name table that names those keys.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Device-independent modifier flags (NSEventModifierFlags) and the function-key flag.
constexpr uint64_t SHIFT_FLAG = 0x20000;
constexpr uint64_t CONTROL_FLAG = 0x40000;
constexpr uint64_t OPTION_FLAG = 0x80000;
constexpr uint64_t COMMAND_FLAG = 0x100000;
constexpr uint64_t FUNCTION_FLAG = 0x800000;

// The device-dependent side bits macOS adds to modifierFlags: they tell the twins of a pair apart.
constexpr uint64_t LEFT_CONTROL_BIT = 0x1;
constexpr uint64_t LEFT_SHIFT_BIT = 0x2;
constexpr uint64_t RIGHT_SHIFT_BIT = 0x4;
constexpr uint64_t LEFT_COMMAND_BIT = 0x8;
constexpr uint64_t RIGHT_COMMAND_BIT = 0x10;
constexpr uint64_t LEFT_OPTION_BIT = 0x20;
constexpr uint64_t RIGHT_OPTION_BIT = 0x40;
constexpr uint64_t RIGHT_CONTROL_BIT = 0x2000;

// Both side bits of the pair a device-independent modifier flag stands for; 0 for other masks.
uint64_t sideBitsOf(uint64_t mask);

// A tagged union: a modifier key of a left/right pair, a key with ordinary key-down/up events, or
// the fn key followed through the function-key flag.
struct Trigger {
  enum class Kind { modifier, functionKey, fnFlag };

  Kind kind = Kind::fnFlag;
  uint64_t mask = 0;     // modifier: its one device-independent flag
  uint16_t keyCode = 0;  // modifier, functionKey: the macOS virtual key code
  uint64_t sideBit = 0;  // modifier: the side bit of this very key

  static constexpr Trigger modifier(uint64_t mask, uint16_t keyCode, uint64_t sideBit) {
    return Trigger{Kind::modifier, mask, keyCode, sideBit};
  }
  static constexpr Trigger functionKey(uint16_t keyCode) {
    return Trigger{Kind::functionKey, 0, keyCode, 0};
  }
  static constexpr Trigger fnFlag() { return Trigger{}; }

  friend bool operator==(const Trigger&, const Trigger&) = default;
};

// The trigger a key name stands for: exact, case-sensitive match of the whole name. "none" and
// every unknown name yield nothing.
std::optional<Trigger> triggerFor(std::string_view name);

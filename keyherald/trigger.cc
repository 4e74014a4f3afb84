// Which physical key a channel follows, and the key-name table that names those keys.
#include "keyherald/trigger.h"

#include <array>

namespace {

struct NamedTrigger {
  std::string_view name;
  Trigger trigger;
};

// macOS virtual key codes (kVK_*). F13-F19 do not rise in step with the key numbers.
constexpr std::array<NamedTrigger, 16> KEY_NAMES{{
    {"fn", Trigger::fnFlag()},
    {"right_cmd", Trigger::modifier(COMMAND_FLAG, 54, RIGHT_COMMAND_BIT)},
    {"left_cmd", Trigger::modifier(COMMAND_FLAG, 55, LEFT_COMMAND_BIT)},
    {"right_opt", Trigger::modifier(OPTION_FLAG, 61, RIGHT_OPTION_BIT)},
    {"left_opt", Trigger::modifier(OPTION_FLAG, 58, LEFT_OPTION_BIT)},
    {"right_ctrl", Trigger::modifier(CONTROL_FLAG, 62, RIGHT_CONTROL_BIT)},
    {"left_ctrl", Trigger::modifier(CONTROL_FLAG, 59, LEFT_CONTROL_BIT)},
    {"right_shift", Trigger::modifier(SHIFT_FLAG, 60, RIGHT_SHIFT_BIT)},
    {"left_shift", Trigger::modifier(SHIFT_FLAG, 56, LEFT_SHIFT_BIT)},
    {"f13", Trigger::functionKey(105)},
    {"f14", Trigger::functionKey(107)},
    {"f15", Trigger::functionKey(113)},
    {"f16", Trigger::functionKey(106)},
    {"f17", Trigger::functionKey(64)},
    {"f18", Trigger::functionKey(79)},
    {"f19", Trigger::functionKey(80)},
}};

}  // namespace

uint64_t sideBitsOf(uint64_t mask) {
  switch (mask) {
    case SHIFT_FLAG:
      return LEFT_SHIFT_BIT | RIGHT_SHIFT_BIT;
    case CONTROL_FLAG:
      return LEFT_CONTROL_BIT | RIGHT_CONTROL_BIT;
    case OPTION_FLAG:
      return LEFT_OPTION_BIT | RIGHT_OPTION_BIT;
    case COMMAND_FLAG:
      return LEFT_COMMAND_BIT | RIGHT_COMMAND_BIT;
    default:
      return 0;
  }
}

std::optional<Trigger> triggerFor(std::string_view name) {
  for (const auto& entry : KEY_NAMES) {
    if (entry.name == name) return entry.trigger;
  }
  return std::nullopt;
}

// Raw presses and releases to macOS-style events: kinds, key codes, flags with side bits, repeats.
#include "keyherald/raw_keys.h"

#include "keyherald/trigger.h"

#include <gtest/gtest.h>

namespace {

// evdev codes as the X server measured here reports them (X key code - 8).
constexpr uint16_t RIGHT_ALT = 100, LEFT_ALT = 56, RIGHT_CTRL = 97, LEFT_SHIFT = 42, F13 = 183,
                   KEY_A = 30, FN = 464;
constexpr uint64_t OPT = OPTION_FLAG, CTRL = CONTROL_FLAG, SHIFT = SHIFT_FLAG;
constexpr uint64_t L_OPT = LEFT_OPTION_BIT, R_OPT = RIGHT_OPTION_BIT, R_CTRL = RIGHT_CONTROL_BIT,
                   L_SHIFT = LEFT_SHIFT_BIT;

TEST(RawKeyTranslator, TurnsASequenceIntoMonitorEvents) {
  constexpr auto FLAGS = EventKind::FlagsChanged, DOWN = EventKind::KeyDown, UP = EventKind::KeyUp;
  struct Step {
    bool press;
    uint16_t evdev;
    EventKind kind;
    uint16_t keyCode;
    uint64_t flags;
    bool repeat;
  } steps[] = {
      {true, RIGHT_ALT, FLAGS, 61, OPT | R_OPT, false},
      {true, LEFT_ALT, FLAGS, 58, OPT | R_OPT | L_OPT, false},
      {false, RIGHT_ALT, FLAGS, 61, OPT | L_OPT, false},
      {true, RIGHT_CTRL, FLAGS, 62, OPT | L_OPT | CTRL | R_CTRL, false},
      {true, LEFT_SHIFT, FLAGS, 56, OPT | CTRL | L_OPT | R_CTRL | SHIFT | L_SHIFT, false},
      {false, LEFT_ALT, FLAGS, 58, CTRL | R_CTRL | SHIFT | L_SHIFT, false},
      {true, KEY_A, DOWN, 0x00, CTRL | R_CTRL | SHIFT | L_SHIFT, false},
      {true, KEY_A, DOWN, 0x00, CTRL | R_CTRL | SHIFT | L_SHIFT, true},
      {false, KEY_A, UP, 0x00, CTRL | R_CTRL | SHIFT | L_SHIFT, false},
      {false, RIGHT_CTRL, FLAGS, 62, SHIFT | L_SHIFT, false},
      {false, LEFT_SHIFT, FLAGS, 56, 0, false},
      {true, F13, DOWN, 105, 0, false},
      {true, F13, DOWN, 105, 0, true},
      {false, F13, UP, 105, 0, false},
      {false, F13, UP, 105, 0, false},
      {true, FN, DOWN, UNMAPPED_KEY_CODE, 0, false},
  };
  RawKeyTranslator translator;
  int i = 0;
  for (const auto& step : steps) {
    TranslatedEvent got =
        step.press ? translator.press(step.evdev) : translator.release(step.evdev);
    EXPECT_EQ(got.kind, step.kind) << "step " << i;
    EXPECT_EQ(got.event.keyCode, step.keyCode) << "step " << i;
    EXPECT_EQ(got.event.modifierFlags, step.flags) << "step " << i;
    EXPECT_EQ(got.event.isARepeat, step.repeat) << "step " << i;
    ++i;
  }
}

}  // namespace

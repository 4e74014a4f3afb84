// Raw presses and releases to macOS-style events: kinds, key codes, flags with side bits, repeats.
#include "keyherald/raw_keys.h"

#include <gtest/gtest.h>

namespace {

// evdev codes as the X server measured here reports them (X key code - 8).
constexpr uint16_t RIGHT_ALT = 100, LEFT_ALT = 56, RIGHT_CTRL = 97, LEFT_SHIFT = 42, F13 = 183,
                   KEY_A = 30, FN = 464;

TEST(MacKeyCodeOf, MapsTriggerKeysAndCommonKeys) {
  struct Row {
    uint16_t evdev;
    uint16_t mac;
  } rows[] = {
      {29, 59},
      {97, 62},
      {42, 56},
      {54, 60},
      {56, 58},
      {100, 61},
      {125, 55},
      {126, 54},
      {183, 105},
      {184, 107},
      {185, 113},
      {186, 106},
      {187, 64},
      {188, 79},
      {189, 80},
      {30, 0x00},
      {2, 0x12},
      {57, 0x31},
      {28, 0x24},
      {1, 0x35},
      {0, UNMAPPED_KEY_CODE},
      {240, UNMAPPED_KEY_CODE},
      {FN, UNMAPPED_KEY_CODE},
  };
  for (const auto& row : rows) EXPECT_EQ(macKeyCodeOf(row.evdev), row.mac) << "evdev " << row.evdev;
}

TEST(RawKeyTranslator, TurnsASequenceIntoMonitorEvents) {
  struct Step {
    bool press;
    uint16_t evdev;
    EventKind kind;
    uint16_t keyCode;
    uint64_t flags;
    bool repeat;
  } steps[] = {
      {true, RIGHT_ALT, EventKind::FlagsChanged, 61, 0x80000 | 0x40, false},
      {true, LEFT_ALT, EventKind::FlagsChanged, 58, 0x80000 | 0x40 | 0x20, false},
      {false, RIGHT_ALT, EventKind::FlagsChanged, 61, 0x80000 | 0x20, false},
      {true, RIGHT_CTRL, EventKind::FlagsChanged, 62, 0x80000 | 0x20 | 0x40000 | 0x2000, false},
      {true, LEFT_SHIFT, EventKind::FlagsChanged, 56, 0xC0000 | 0x20 | 0x2000 | 0x20000 | 0x2,
       false},
      {false, LEFT_ALT, EventKind::FlagsChanged, 58, 0x40000 | 0x2000 | 0x20000 | 0x2, false},
      {true, KEY_A, EventKind::KeyDown, 0x00, 0x40000 | 0x2000 | 0x20000 | 0x2, false},
      {true, KEY_A, EventKind::KeyDown, 0x00, 0x40000 | 0x2000 | 0x20000 | 0x2, true},
      {false, KEY_A, EventKind::KeyUp, 0x00, 0x40000 | 0x2000 | 0x20000 | 0x2, false},
      {false, RIGHT_CTRL, EventKind::FlagsChanged, 62, 0x20000 | 0x2, false},
      {false, LEFT_SHIFT, EventKind::FlagsChanged, 56, 0, false},
      {true, F13, EventKind::KeyDown, 105, 0, false},
      {true, F13, EventKind::KeyDown, 105, 0, true},
      {false, F13, EventKind::KeyUp, 105, 0, false},
      {true, F13, EventKind::KeyDown, 105, 0, false},
      {false, F13, EventKind::KeyUp, 105, 0, false},
      {false, F13, EventKind::KeyUp, 105, 0, false},
      {true, FN, EventKind::KeyDown, UNMAPPED_KEY_CODE, 0, false},
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

// Turns raw key presses and releases (evdev codes) into the events a macOS key monitor delivers.
#include "keyherald/raw_keys.h"

#include <array>
#include <utility>

#include "keyherald/trigger.h"

namespace {

// evdev code (linux/input-event-codes.h) to macOS virtual key code (kVK_*). Keys without a macOS
// counterpart are left out.
constexpr std::pair<uint16_t, uint16_t> KEY_CODES[] = {
    {1, 0x35},   {2, 0x12},   {3, 0x13},   {4, 0x14},   {5, 0x15},   {6, 0x17},   {7, 0x16},
    {8, 0x1A},   {9, 0x1C},   {10, 0x19},  {11, 0x1D},  {12, 0x1B},  {13, 0x18},  {14, 0x33},
    {15, 0x30},  {16, 0x0C},  {17, 0x0D},  {18, 0x0E},  {19, 0x0F},  {20, 0x11},  {21, 0x10},
    {22, 0x20},  {23, 0x22},  {24, 0x1F},  {25, 0x23},  {26, 0x21},  {27, 0x1E},  {28, 0x24},
    {29, 0x3B},  {30, 0x00},  {31, 0x01},  {32, 0x02},  {33, 0x03},  {34, 0x05},  {35, 0x04},
    {36, 0x26},  {37, 0x28},  {38, 0x25},  {39, 0x29},  {40, 0x27},  {41, 0x32},  {42, 0x38},
    {43, 0x2A},  {44, 0x06},  {45, 0x07},  {46, 0x08},  {47, 0x09},  {48, 0x0B},  {49, 0x2D},
    {50, 0x2E},  {51, 0x2B},  {52, 0x2F},  {53, 0x2C},  {54, 0x3C},  {55, 0x43},  {56, 0x3A},
    {57, 0x31},  {58, 0x39},  {59, 0x7A},  {60, 0x78},  {61, 0x63},  {62, 0x76},  {63, 0x60},
    {64, 0x61},  {65, 0x62},  {66, 0x64},  {67, 0x65},  {68, 0x6D},  {69, 0x47},  {71, 0x59},
    {72, 0x5B},  {73, 0x5C},  {74, 0x4E},  {75, 0x56},  {76, 0x57},  {77, 0x58},  {78, 0x45},
    {79, 0x53},  {80, 0x54},  {81, 0x55},  {82, 0x52},  {83, 0x41},  {86, 0x0A},  {87, 0x67},
    {88, 0x6F},  {96, 0x4C},  {97, 0x3E},  {98, 0x4B},  {100, 0x3D}, {102, 0x73}, {103, 0x7E},
    {104, 0x74}, {105, 0x7B}, {106, 0x7C}, {107, 0x77}, {108, 0x7D}, {109, 0x79}, {110, 0x72},
    {111, 0x75}, {125, 0x37}, {126, 0x36},
};

// F13-F20 (evdev 183-190): their macOS codes do not rise in step with the key numbers.
constexpr std::array<uint16_t, 8> F13_TO_F20{0x69, 0x6B, 0x71, 0x6A, 0x40, 0x4F, 0x50, 0x5A};
constexpr uint16_t EVDEV_F13 = 183;

// The modifier keys: the flag they share with their twin, and their own side bit. The fn key
// (evdev 464) lies above X's key code limit of 255 and never arrives here on X11.
struct Modifier {
  uint16_t evdevCode;
  uint64_t flag;
  uint64_t sideBit;
};
constexpr std::array<Modifier, 8> MODIFIERS{{
    {29, CONTROL_FLAG, LEFT_CONTROL_BIT},
    {97, CONTROL_FLAG, RIGHT_CONTROL_BIT},
    {42, SHIFT_FLAG, LEFT_SHIFT_BIT},
    {54, SHIFT_FLAG, RIGHT_SHIFT_BIT},
    {56, OPTION_FLAG, LEFT_OPTION_BIT},
    {100, OPTION_FLAG, RIGHT_OPTION_BIT},
    {125, COMMAND_FLAG, LEFT_COMMAND_BIT},
    {126, COMMAND_FLAG, RIGHT_COMMAND_BIT},
}};

const Modifier* modifierOf(uint16_t evdevCode) {
  for (const Modifier& modifier : MODIFIERS) {
    if (modifier.evdevCode == evdevCode) return &modifier;
  }
  return nullptr;
}

}  // namespace

uint16_t macKeyCodeOf(uint16_t evdevCode) {
  if (evdevCode >= EVDEV_F13 && evdevCode < EVDEV_F13 + F13_TO_F20.size()) {
    return F13_TO_F20[evdevCode - EVDEV_F13];
  }
  for (const auto& [evdev, mac] : KEY_CODES) {
    if (evdev == evdevCode) return mac;
  }
  return UNMAPPED_KEY_CODE;
}

uint64_t RawKeyTranslator::flags() const {
  uint64_t flags = 0;
  for (const Modifier& modifier : MODIFIERS) {
    if (held_.test(modifier.evdevCode)) flags |= modifier.flag | modifier.sideBit;
  }
  return flags;
}

TranslatedEvent RawKeyTranslator::translate(uint16_t evdevCode, bool down, bool repeat) const {
  EventKind kind = modifierOf(evdevCode) != nullptr ? EventKind::FlagsChanged
                   : down                           ? EventKind::KeyDown
                                                    : EventKind::KeyUp;
  return TranslatedEvent{kind, KeyEvent{macKeyCodeOf(evdevCode), flags(), down && repeat}};
}

TranslatedEvent RawKeyTranslator::press(uint16_t evdevCode) {
  bool repeat = false;
  if (evdevCode < EVDEV_CODES) {
    repeat = held_.test(evdevCode);
    held_.set(evdevCode);
  }
  return translate(evdevCode, true, repeat);
}

TranslatedEvent RawKeyTranslator::release(uint16_t evdevCode) {
  if (evdevCode < EVDEV_CODES) held_.reset(evdevCode);
  return translate(evdevCode, false, false);
}

// The channel state machine, fed with event sequences; the bytes it writes are what the host reads.
#include "keyherald/channel.h"

#include <gtest/gtest.h>

#include "testing/capture.h"

namespace {

enum Kind { FLAGS, DOWN, UP };

struct Step {
  Kind kind;
  uint16_t keyCode;
  uint64_t flags;
  bool repeat = false;
};

constexpr uint16_t RIGHT_OPT = 61, LEFT_OPT = 58, LEFT_SHIFT = 56, RIGHT_CMD = 54, F13 = 105;
constexpr uint64_t OPT = 0x80000, CMD = 0x100000, SHIFT = 0x20000, FN = 0x800000;
constexpr uint64_t L_OPT_BIT = 0x20, R_OPT_BIT = 0x40;

std::string play(std::vector<Channel>& channels, const std::vector<Step>& steps) {
  CapturedFd out;
  for (const Step& step : steps) {
    KeyEvent event{step.keyCode, step.flags, step.repeat};
    for (Channel& channel : channels) {
      bool written = step.kind == FLAGS ? channel.onFlagsChanged(event, out.fd())
                                        : channel.onKey(event, step.kind == DOWN, out.fd());
      EXPECT_TRUE(written);
    }
  }
  return out.contents();
}

TEST(Channel, FollowsItsKeyThroughEventSequences) {
  const Trigger rightOpt = Trigger::modifier(OPT, RIGHT_OPT, R_OPT_BIT);
  struct Row {
    const char* name;
    Trigger trigger;
    std::vector<Step> steps;
    std::string out;
  } rows[] = {
      {"right option down and up",
       rightOpt,
       {{FLAGS, RIGHT_OPT, OPT}, {FLAGS, RIGHT_OPT, 0}},
       "CMD_DOWN\nCMD_UP\n"},
      {"right option with side bits",
       rightOpt,
       {{FLAGS, RIGHT_OPT, OPT | R_OPT_BIT}, {FLAGS, RIGHT_OPT, 0}},
       "CMD_DOWN\nCMD_UP\n"},
      {"left option alone", rightOpt, {{FLAGS, LEFT_OPT, OPT}, {FLAGS, LEFT_OPT, 0}}, ""},
      {"left option alone with side bits",
       rightOpt,
       {{FLAGS, LEFT_OPT, OPT | L_OPT_BIT}, {FLAGS, LEFT_OPT, 0}},
       ""},
      // Without side bits the shared flag cannot tell the twins apart: the channel stays down
      // until right Option is released with both keys up.
      {"twin release without side bits",
       rightOpt,
       {{FLAGS, RIGHT_OPT, OPT},
        {FLAGS, LEFT_OPT, OPT},
        {FLAGS, RIGHT_OPT, OPT},
        {FLAGS, LEFT_OPT, 0},
        {FLAGS, RIGHT_OPT, OPT},
        {FLAGS, RIGHT_OPT, 0}},
       "CMD_DOWN\nCMD_UP\n"},
      {"twin release with side bits",
       rightOpt,
       {{FLAGS, RIGHT_OPT, OPT | R_OPT_BIT},
        {FLAGS, LEFT_OPT, OPT | R_OPT_BIT | L_OPT_BIT},
        {FLAGS, RIGHT_OPT, OPT | L_OPT_BIT},
        {FLAGS, LEFT_OPT, 0}},
       "CMD_DOWN\nCMD_UP\n"},
      {"right pressed while left held, with side bits",
       rightOpt,
       {{FLAGS, LEFT_OPT, OPT | L_OPT_BIT},
        {FLAGS, RIGHT_OPT, OPT | R_OPT_BIT | L_OPT_BIT},
        {FLAGS, LEFT_OPT, OPT | R_OPT_BIT},
        {FLAGS, RIGHT_OPT, 0}},
       "CMD_DOWN\nCMD_UP\n"},
      {"shift while right command held",
       Trigger::modifier(CMD, RIGHT_CMD, 0x10),
       {{FLAGS, RIGHT_CMD, CMD}, {FLAGS, LEFT_SHIFT, CMD | SHIFT}, {FLAGS, LEFT_SHIFT, CMD}},
       "CMD_DOWN\n"},
      {"fn flag from any key",
       Trigger::fnFlag(),
       {{FLAGS, LEFT_SHIFT, FN | SHIFT}, {FLAGS, LEFT_SHIFT, FN}, {FLAGS, 63, 0}},
       "CMD_DOWN\nCMD_UP\n"},
      {"fn ignores key events", Trigger::fnFlag(), {{DOWN, 63, FN}, {UP, 63, FN}}, ""},
      {"modifier ignores key events with its own code",
       rightOpt,
       {{DOWN, RIGHT_OPT, OPT}, {UP, RIGHT_OPT, 0}},
       ""},
      {"f13 with repeats",
       Trigger::functionKey(F13),
       {{DOWN, F13, 0}, {DOWN, F13, 0, true}, {DOWN, F13, 0, true}, {UP, F13, 0}},
       "CMD_DOWN\nCMD_UP\n"},
      {"f13 second down and stray up",
       Trigger::functionKey(F13),
       {{UP, F13, 0}, {DOWN, F13, 0}, {DOWN, F13, 0}, {UP, F13, 0}, {UP, F13, 0}},
       "CMD_DOWN\nCMD_UP\n"},
      {"f13 ignores flags changed",
       Trigger::functionKey(F13),
       {{FLAGS, F13, OPT}, {FLAGS, F13, 0}},
       ""},
      {"f13 ignores other keys", Trigger::functionKey(F13), {{DOWN, 107, 0}, {UP, 107, 0}}, ""},
  };
  for (const auto& row : rows) {
    std::vector<Channel> channels{Channel(row.trigger, "CMD_DOWN", "CMD_UP")};
    EXPECT_EQ(play(channels, row.steps), row.out) << row.name;
  }
}

TEST(Channel, TwoChannelsOnOneKeyWriteInListOrder) {
  std::vector<Channel> channels{Channel(Trigger::fnFlag(), "FN_DOWN", "FN_UP"),
                                Channel(Trigger::fnFlag(), "CMD_DOWN", "CMD_UP")};
  EXPECT_EQ(play(channels, {{FLAGS, 63, FN}, {FLAGS, 63, 0}}),
            "FN_DOWN\nCMD_DOWN\nFN_UP\nCMD_UP\n");
}

TEST(Emit, WritesTheLineAndOneLineFeed) {
  CapturedFd out;
  EXPECT_TRUE(emit("READY", out.fd()));
  EXPECT_EQ(out.contents(), std::string("\x52\x45\x41\x44\x59\x0A"));
}

}  // namespace

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

constexpr uint16_t RIGHT_OPT = 61, LEFT_OPT = 58, LEFT_SHIFT = 56, F13 = 105;
constexpr uint64_t OPT = OPTION_FLAG, L_BIT = LEFT_OPTION_BIT, R_BIT = RIGHT_OPTION_BIT;

TEST(Channel, FollowsItsKeyThroughEventSequences) {
  const Trigger rightOpt = Trigger::modifier(OPT, RIGHT_OPT, R_BIT);
  const Trigger f13 = Trigger::functionKey(F13);
  struct Row {
    const char* name;
    std::vector<Trigger> triggers;  // one channel each, in list order
    std::vector<Step> steps;
    std::string out;
  } rows[] = {
      // Without side bits the shared flag cannot tell the twins apart: the channel stays down
      // until right Option is released with both keys up.
      {"twin release without side bits",
       {rightOpt},
       {{FLAGS, RIGHT_OPT, OPT},
        {FLAGS, LEFT_OPT, OPT},
        {FLAGS, RIGHT_OPT, OPT},
        {FLAGS, LEFT_OPT, 0},
        {FLAGS, RIGHT_OPT, OPT},
        {FLAGS, RIGHT_OPT, 0}},
       "A_DOWN\nA_UP\n"},
      {"twin release with side bits",
       {rightOpt},
       {{FLAGS, RIGHT_OPT, OPT | R_BIT},
        {FLAGS, LEFT_OPT, OPT | R_BIT | L_BIT},
        {FLAGS, RIGHT_OPT, OPT | L_BIT},
        {FLAGS, LEFT_OPT, 0}},
       "A_DOWN\nA_UP\n"},
      {"right pressed while left held",
       {rightOpt},
       {{FLAGS, LEFT_OPT, OPT | L_BIT},
        {FLAGS, RIGHT_OPT, OPT | R_BIT | L_BIT},
        {FLAGS, LEFT_OPT, OPT | R_BIT},
        {FLAGS, RIGHT_OPT, 0}},
       "A_DOWN\nA_UP\n"},
      {"fn flag from any key, key events ignored",
       {Trigger::fnFlag()},
       {{DOWN, 63, FUNCTION_FLAG},
        {FLAGS, LEFT_SHIFT, FUNCTION_FLAG | SHIFT_FLAG},
        {FLAGS, LEFT_SHIFT, FUNCTION_FLAG},
        {FLAGS, 63, 0}},
       "A_DOWN\nA_UP\n"},
      {"f13: repeats, second down, stray ups, flags and other keys ignored",
       {f13},
       {{UP, F13, 0},
        {FLAGS, F13, OPT},
        {DOWN, 107, 0},
        {DOWN, F13, 0},
        {DOWN, F13, 0, true},
        {DOWN, F13, 0},
        {UP, F13, 0},
        {UP, F13, 0}},
       "A_DOWN\nA_UP\n"},
      // Held since before keyherald started: its repeats are no press.
      {"f13 repeats only", {f13}, {{DOWN, F13, 0, true}, {DOWN, F13, 0, true}, {UP, F13, 0}}, ""},
      {"two channels on one key write in list order",
       {Trigger::fnFlag(), Trigger::fnFlag()},
       {{FLAGS, 63, FUNCTION_FLAG}, {FLAGS, 63, 0}},
       "A_DOWN\nB_DOWN\nA_UP\nB_UP\n"},
  };
  for (const auto& row : rows) {
    std::vector<Channel> channels;
    for (size_t i = 0; i < row.triggers.size(); ++i) {
      const std::string name(1, static_cast<char>('A' + i));
      channels.emplace_back(row.triggers[i], name + "_DOWN", name + "_UP");
    }
    CapturedFd out;
    for (const Step& step : row.steps) {
      KeyEvent event{step.keyCode, step.flags, step.repeat};
      for (Channel& channel : channels) {
        EXPECT_TRUE(step.kind == FLAGS ? channel.onFlagsChanged(event, out.fd())
                                       : channel.onKey(event, step.kind == DOWN, out.fd()));
      }
    }
    EXPECT_EQ(out.contents(), row.out) << row.name;
  }
}

}  // namespace

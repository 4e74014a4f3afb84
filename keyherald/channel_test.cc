// The channel state machine, fed with event sequences; the bytes it writes are what the host reads.
#include "keyherald/channel.h"

#include <gtest/gtest.h>

#include <sstream>

#include "testing/capture.h"

namespace {

// Feeds the events of `script` to the channels: "f61:oR" is flags-changed of key 61 with the
// Option flag and the right side bit; d (down), r (repeated down) and u (up) are key events.
// Flags: o Option, L/R its left/right side bit, s Shift, n fn.
void play(std::vector<Channel>& channels, const std::string& script, int fd) {
  std::istringstream steps(script);
  for (std::string step; steps >> step;) {
    const size_t colon = step.find(':');
    KeyEvent event{static_cast<uint16_t>(std::stoi(step.substr(1, colon - 1))), 0, step[0] == 'r'};
    for (char flag : step.substr(colon == std::string::npos ? step.size() : colon + 1)) {
      event.modifierFlags |= flag == 'o'   ? OPTION_FLAG
                             : flag == 'L' ? LEFT_OPTION_BIT
                             : flag == 'R' ? RIGHT_OPTION_BIT
                             : flag == 's' ? SHIFT_FLAG
                                           : FUNCTION_FLAG;
    }
    for (Channel& channel : channels) {
      EXPECT_TRUE(step[0] == 'f' ? channel.onFlagsChanged(event, fd)
                                 : channel.onKey(event, step[0] != 'u', fd));
    }
  }
}

TEST(Channel, FollowsItsKeyThroughEventSequences) {
  const Trigger rightOpt = Trigger::modifier(OPTION_FLAG, 61, RIGHT_OPTION_BIT);
  const Trigger f13 = Trigger::functionKey(105), fn = Trigger::fnFlag();
  struct Row {
    const char* name;
    std::vector<Trigger> triggers;  // one channel each, in list order
    std::string script, out;
  } rows[] = {
      // Without side bits the shared flag cannot tell the twins apart: the channel stays down
      // until right Option is released with both keys up.
      {"twin release without side bits",
       {rightOpt},
       "f61:o f58:o f61:o f58 f61:o f61",
       "A_DOWN\nA_UP\n"},
      {"twin release with side bits", {rightOpt}, "f61:oR f58:oRL f61:oL f58", "A_DOWN\nA_UP\n"},
      {"right pressed while left held", {rightOpt}, "f58:oL f61:oRL f58:oR f61", "A_DOWN\nA_UP\n"},
      {"fn flag from any key, key events ignored",
       {fn},
       "d63:n f56:ns f56:n f63",
       "A_DOWN\nA_UP\n"},
      {"f13: repeats, second down, stray ups, flags and other keys ignored",
       {f13},
       "u105 f105:o d107 d105 r105 d105 u105 u105",
       "A_DOWN\nA_UP\n"},
      // Held since before keyherald started: its repeats are no press.
      {"f13 repeats only", {f13}, "r105 r105 u105", ""},
      {"two channels on one key write in list order",
       {fn, fn},
       "f63:n f63",
       "A_DOWN\nB_DOWN\nA_UP\nB_UP\n"},
  };
  for (const auto& row : rows) {
    std::vector<Channel> channels;
    for (size_t i = 0; i < row.triggers.size(); ++i) {
      const std::string name(1, static_cast<char>('A' + i));
      channels.emplace_back(row.triggers[i], name + "_DOWN", name + "_UP");
    }
    CapturedFd out;
    play(channels, row.script, out.fd());
    EXPECT_EQ(out.contents(), row.out) << row.name;
  }
}

}  // namespace

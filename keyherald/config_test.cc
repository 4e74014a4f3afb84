// Key names to channels: defaults, fall-back, collisions by name, and every diagnostic's bytes.
#include "keyherald/config.h"

#include <gtest/gtest.h>

#include "testing/capture.h"

namespace {

struct Expected {
  std::string downMsg;
  Trigger trigger;
};

const Trigger FN = Trigger::fnFlag();
const Trigger RIGHT_OPT = Trigger::modifier(0x80000, 61, 0x40);
const Trigger RIGHT_CTRL = Trigger::modifier(0x40000, 62, 0x2000);
const Trigger LEFT_CMD = Trigger::modifier(0x100000, 55, 0x8);
const std::string DASH = "\xE2\x80\x94";

TEST(BuildChannels, FollowsTheTableOfCases) {
  struct Row {
    const char* name;
    std::vector<std::string> args;  // after the program path
    std::vector<Expected> channels;
    bool needsKeyMonitor;
    std::string err;
  } rows[] = {
      {"no arguments",
       {},
       {{"FN_DOWN", FN}, {"CMD_DOWN", RIGHT_OPT}, {"EDIT_DOWN", RIGHT_CTRL}},
       false,
       ""},
      {"f13 alone",
       {"f13", "none", "none", "none"},
       {{"FN_DOWN", Trigger::functionKey(105)}},
       true,
       ""},
      {"fn and three nones", {"fn", "none", "none", "none"}, {{"FN_DOWN", FN}}, false, ""},
      {"case matters",
       {"FN"},
       {{"FN_DOWN", FN}, {"CMD_DOWN", RIGHT_OPT}, {"EDIT_DOWN", RIGHT_CTRL}},
       false,
       "unknown dictate key 'FN' " + DASH + " falling back to fn\n"},
      {"none as dictation key",
       {"none", "none", "none"},
       {{"FN_DOWN", FN}},
       false,
       "unknown dictate key 'none' " + DASH + " falling back to fn\n"},
      {"empty command key",
       {"fn", ""},
       {{"FN_DOWN", FN}, {"EDIT_DOWN", RIGHT_CTRL}},
       false,
       "unknown command key '' " + DASH + " Command Mode disabled\n"},
      {"command equals dictate",
       {"fn", "fn"},
       {{"FN_DOWN", FN}, {"EDIT_DOWN", RIGHT_CTRL}},
       false,
       "command key equals dictate key " + DASH + " Command Mode disabled\n"},
      {"default edit collides with command",
       {"fn", "right_ctrl"},
       {{"FN_DOWN", FN}, {"CMD_DOWN", RIGHT_CTRL}},
       false,
       "edit key collides with another key " + DASH + " Edit Mode disabled\n"},
      {"edit collides with an unknown command name",
       {"fn", "xyz", "xyz"},
       {{"FN_DOWN", FN}},
       false,
       "unknown command key 'xyz' " + DASH + " Command Mode disabled\n" +
           "edit key collides with another key " + DASH + " Edit Mode disabled\n"},
      {"fn under another name after a fall-back",
       {"bogus", "fn"},
       {{"FN_DOWN", FN}, {"CMD_DOWN", FN}, {"EDIT_DOWN", RIGHT_CTRL}},
       false,
       "unknown dictate key 'bogus' " + DASH + " falling back to fn\n"},
      {"fifth argument ignored",
       {"fn", "right_opt", "right_ctrl", "left_cmd", "f13"},
       {{"FN_DOWN", FN},
        {"CMD_DOWN", RIGHT_OPT},
        {"EDIT_DOWN", RIGHT_CTRL},
        {"AGENT_DOWN", LEFT_CMD}},
       false,
       ""},
      {"unknown edit and hands-free keys",
       {"fn", "none", "--help", "F13"},
       {{"FN_DOWN", FN}},
       false,
       "unknown edit key '--help' " + DASH + " Edit Mode disabled\n" +
           "unknown hands-free key 'F13' " + DASH + " hands-free disabled\n"},
      {"hands-free collides with edit",
       {"fn", "none", "f14", "f14"},
       {{"FN_DOWN", FN}, {"EDIT_DOWN", Trigger::functionKey(107)}},
       true,
       "hands-free key collides with another key " + DASH + " hands-free disabled\n"},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args{"/usr/bin/keyherald"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    CapturedFd err;
    Config config = buildChannels(args, err.fd());
    EXPECT_EQ(err.contents(), row.err) << row.name;
    EXPECT_EQ(config.needsKeyMonitor, row.needsKeyMonitor) << row.name;
    ASSERT_EQ(config.channels.size(), row.channels.size()) << row.name;
    for (size_t i = 0; i < row.channels.size(); ++i) {
      EXPECT_EQ(config.channels[i].downMsg(), row.channels[i].downMsg) << row.name << " #" << i;
      EXPECT_TRUE(config.channels[i].trigger() == row.channels[i].trigger) << row.name << " #" << i;
      EXPECT_FALSE(config.channels[i].isDown()) << row.name;
    }
  }
}

TEST(TriggerFor, KnowsExactlyTheTable) {
  struct Row {
    const char* name;
    std::optional<Trigger> trigger;
  } rows[] = {
      {"fn", Trigger::fnFlag()},
      {"right_cmd", Trigger::modifier(0x100000, 54, 0x10)},
      {"left_cmd", LEFT_CMD},
      {"right_opt", RIGHT_OPT},
      {"left_opt", Trigger::modifier(0x80000, 58, 0x20)},
      {"right_ctrl", RIGHT_CTRL},
      {"left_ctrl", Trigger::modifier(0x40000, 59, 0x1)},
      {"right_shift", Trigger::modifier(0x20000, 60, 0x4)},
      {"left_shift", Trigger::modifier(0x20000, 56, 0x2)},
      {"f13", Trigger::functionKey(105)},
      {"f14", Trigger::functionKey(107)},
      {"f15", Trigger::functionKey(113)},
      {"f16", Trigger::functionKey(106)},
      {"f17", Trigger::functionKey(64)},
      {"f18", Trigger::functionKey(79)},
      {"f19", Trigger::functionKey(80)},
      {"none", std::nullopt},
      {"", std::nullopt},
      {"f20", std::nullopt},
      {"right_opt ", std::nullopt},
      {"Right_Opt", std::nullopt},
  };
  for (const auto& row : rows) {
    EXPECT_TRUE(triggerFor(row.name) == row.trigger) << "'" << row.name << "'";
  }
}

}  // namespace

// Key names to channels: defaults, fall-back, collisions by name, and every diagnostic's bytes.
#include "keyherald/config.h"

#include <gtest/gtest.h>

#include "testing/capture.h"

namespace {

const Trigger FN = Trigger::fnFlag();
const Trigger RIGHT_OPT = *triggerFor("right_opt");
const Trigger RIGHT_CTRL = *triggerFor("right_ctrl");
const std::string DASH = "\xE2\x80\x94";

TEST(BuildChannels, FollowsTheTableOfCases) {
  struct Row {
    const char* name;
    std::vector<std::string> args;                          // after the program path
    std::vector<std::pair<std::string, Trigger>> channels;  // down line and key
    bool needsKeyMonitor;
    std::string err;
  } rows[] = {
      {"no arguments",
       {},
       {{"FN_DOWN", FN}, {"CMD_DOWN", RIGHT_OPT}, {"EDIT_DOWN", RIGHT_CTRL}},
       false,
       ""},
      {"names are case-sensitive; none is no dictation key",
       {"none", "none", "RIGHT_CTRL"},
       {{"FN_DOWN", FN}},
       false,
       "unknown dictate key 'none' " + DASH + " falling back to fn\n" +
           "unknown edit key 'RIGHT_CTRL' " + DASH + " Edit Mode disabled\n"},
      {"command equals dictate",
       {"fn", "fn"},
       {{"FN_DOWN", FN}, {"EDIT_DOWN", RIGHT_CTRL}},
       false,
       "command key equals dictate key " + DASH + " Command Mode disabled\n"},
      // Collisions compare names, so an unknown name still collides with its twin.
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
      {"hands-free collides with edit",
       {"fn", "none", "f14", "f14"},
       {{"FN_DOWN", FN}, {"EDIT_DOWN", *triggerFor("f14")}},
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
      EXPECT_EQ(config.channels[i].downMsg(), row.channels[i].first) << row.name << " #" << i;
      EXPECT_TRUE(config.channels[i].trigger() == row.channels[i].second) << row.name << " #" << i;
    }
  }
}

}  // namespace

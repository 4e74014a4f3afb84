// Key names to channels: fall-back, collisions by name, and every diagnostic's bytes.
#include "keyherald/config.h"

#include <gtest/gtest.h>

#include <sstream>

#include "testing/capture.h"

namespace {

TEST(BuildChannels, FollowsTheTableOfCases) {
  struct Row {
    const char* name;
    std::string args, channels;  // channels: each one's down line and the name of its key, in order
    bool needsKeyMonitor;
    std::string err;
  } rows[] = {
      {"names are case-sensitive; none is no dictation key", "none none RIGHT_CTRL", "FN_DOWN=fn",
       false,
       "unknown dictate key 'none' — falling back to fn\n"
       "unknown edit key 'RIGHT_CTRL' — Edit Mode disabled\n"},
      {"command equals dictate", "fn fn", "FN_DOWN=fn EDIT_DOWN=right_ctrl", false,
       "command key equals dictate key — Command Mode disabled\n"},
      // Collisions compare names, so an unknown name still collides with its twin.
      {"edit collides with an unknown command name", "fn xyz xyz", "FN_DOWN=fn", false,
       "unknown command key 'xyz' — Command Mode disabled\n"
       "edit key collides with another key — Edit Mode disabled\n"},
      {"hands-free collides with edit", "fn none f14 f14", "FN_DOWN=fn EDIT_DOWN=f14", true,
       "hands-free key collides with another key — hands-free disabled\n"},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args{"/usr/bin/keyherald"};
    std::istringstream words(row.args), want(row.channels);
    for (std::string word; words >> word;) args.push_back(word);
    CapturedFd err;
    const Config config = buildChannels(args, err.fd());
    EXPECT_EQ(err.contents(), row.err) << row.name;
    EXPECT_EQ(config.needsKeyMonitor, row.needsKeyMonitor) << row.name;
    size_t i = 0;
    for (std::string channel; want >> channel; ++i) {
      ASSERT_LT(i, config.channels.size()) << row.name;
      const size_t eq = channel.find('=');
      EXPECT_EQ(config.channels[i].downMsg(), channel.substr(0, eq)) << row.name;
      EXPECT_TRUE(config.channels[i].trigger() == triggerFor(channel.substr(eq + 1))) << row.name;
    }
    EXPECT_EQ(i, config.channels.size()) << row.name;
  }
}

}  // namespace

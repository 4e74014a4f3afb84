// The start sequence, the trust wait and SIGTERM, against a scripted keyboard platform.
#include "keyherald/watcher.h"

#include <gtest/gtest.h>

#include "testing/capture.h"
#include "testing/fake_keyboard.h"

namespace {

using Step = std::function<void(FakeKeyboard&)>;
const Step TICK = [](FakeKeyboard& k) { k.tick(); };
const Step TERM = [](FakeKeyboard& k) { k.sigterm(); };
const Step TRUST = [](FakeKeyboard& k) { k.trusted = true; };
Step key(EventKind kind, uint16_t code, uint64_t flags = 0, bool repeat = false) {
  return [=](FakeKeyboard& k) { k.send(kind, {code, flags, repeat}); };
}
constexpr auto FLAGS = EventKind::FlagsChanged, DOWN = EventKind::KeyDown, UP = EventKind::KeyUp;
constexpr uint64_t R_OPT = OPTION_FLAG | RIGHT_OPTION_BIT;
const std::string WAITING = "WAITING_FOR_ACCESSIBILITY\n";
const std::string GRANTED = "Accessibility granted \xE2\x80\x94 key monitor active (dictate=";
const std::string DEFAULT_KEYS = "fn command=right_opt edit=right_ctrl handsfree=none)\n";
// SIGTERM is taken over before READY can be read; READY comes before the timer exists.
const std::string START = "requestTrust isTrusted onTerminate isTrusted ";

TEST(Watcher, StartTrustWaitMonitorsAndSigterm) {
  struct Row {
    const char* name;
    std::vector<std::string> args;
    bool trusted;
    std::set<EventKind> failing;
    std::vector<Step> script;
    std::string out, err, calls;  // calls: how the log ends
  } rows[] = {
      {"trusted at start",
       {},
       true,
       {},
       {TICK},
       "READY\n",
       GRANTED + DEFAULT_KEYS,
       START + "add:FlagsChanged=1 timer:1000ms run"},
      {"function key: three monitors, a repeat is no press, a tick installs nothing more",
       {"f13", "none", "none", "none"},
       true,
       {},
       {key(DOWN, 105), key(DOWN, 105, 0, true), key(UP, 105), TICK},
       "READY\nFN_DOWN\nFN_UP\n",
       GRANTED + "f13 command=none edit=none handsfree=none)\n",
       START + "add:FlagsChanged=1 add:KeyDown=2 add:KeyUp=3 timer:1000ms run"},
      {"trust after three ticks",
       {"bogus"},
       false,
       {},
       {TICK, TICK, TICK, TRUST, TICK, TICK, key(FLAGS, 61, OPTION_FLAG)},
       "READY\nCMD_DOWN\n",
       "unknown dictate key 'bogus' \xE2\x80\x94 falling back to fn\n" + WAITING + GRANTED +
           "bogus command=right_opt edit=right_ctrl handsfree=none)\n",
       "isTrusted add:FlagsChanged=1"},
      {"key monitors alone are enough",
       {"f13"},
       true,
       {FLAGS},
       {TICK, key(DOWN, 105)},
       "READY\nFN_DOWN\n",
       GRANTED + "f13 command=right_opt edit=right_ctrl handsfree=none)\n",
       "add:KeyDown=1 add:KeyUp=2 timer:1000ms run"},
      {"retried at each tick while no monitor installs",
       {"f13"},
       true,
       {FLAGS, DOWN, UP},
       {TICK},
       "",
       "",
       "run isTrusted add:FlagsChanged=failed add:KeyDown=failed add:KeyUp=failed"},
      {"SIGTERM while waiting", {}, false, {}, {TICK, TERM, TRUST, TICK}, "", WAITING, "exit:0"},
      {"SIGTERM with a key held: no up line",
       {"fn", "right_opt", "right_ctrl", "f16"},
       true,
       {},
       {key(FLAGS, 61, R_OPT), TERM, key(FLAGS, 61)},
       "READY\nCMD_DOWN\n",
       GRANTED + "fn command=right_opt edit=right_ctrl handsfree=f16)\n",
       "remove:1 remove:2 remove:3 exit:0"},
  };
  for (const auto& row : rows) {
    CapturedFd out, err;
    FakeKeyboard keyboard;
    keyboard.trusted = row.trusted;
    keyboard.failingKinds = row.failing;
    keyboard.script = row.script;
    std::vector<std::string> args{"keyherald"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    Herald herald;
    herald.config = buildChannels(args, err.fd());
    herald.outFd = out.fd();
    herald.errFd = err.fd();
    startWatching(herald, keyboard);
    EXPECT_EQ(out.contents(), row.out) << row.name;
    EXPECT_EQ(err.contents(), row.err) << row.name;
    EXPECT_TRUE(keyboard.calls.ends_with(row.calls)) << row.name << ": " << keyboard.calls;
    EXPECT_FALSE(keyboard.killedBySignal) << row.name;
    EXPECT_TRUE(!keyboard.exitStatus || keyboard.liveMonitors() == 0) << row.name;
  }
}

}  // namespace

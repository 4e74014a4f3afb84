// keyherald's run against a scripted keyboard platform: arguments and events in, the host's bytes
// out.
#include "keyherald/watcher.h"

#include <gtest/gtest.h>

#include <sstream>

#include "testing/capture.h"
#include "testing/fake_keyboard.h"

namespace {

// One step of a script: t a tick, T trust granted, S SIGTERM; "f61:oR" a flags change of key 61
// with Option and its right side bit; d (down), r (repeated down) and u (up) are key events.
// Flags: o Option, L/R its left/right side bit, s Shift, n fn.
void play(FakeKeyboard& k, const std::string& s) {
  if (s == "t") return k.tick();
  if (s == "T") return void(k.trusted = true);
  if (s == "S") return k.sigterm();
  constexpr uint64_t BITS[] = {OPTION_FLAG, LEFT_OPTION_BIT, RIGHT_OPTION_BIT, SHIFT_FLAG,
                               FUNCTION_FLAG};
  const size_t colon = std::min(s.find(':'), s.size() - 1);
  KeyEvent event{static_cast<uint16_t>(std::stoi(s.substr(1))), 0, s[0] == 'r'};
  for (char flag : s.substr(colon + 1))
    event.modifierFlags |= BITS[std::string("oLRsn").find(flag)];
  k.send(s[0] == 'f'   ? EventKind::FlagsChanged
         : s[0] == 'u' ? EventKind::KeyUp
                       : EventKind::KeyDown,
         event);
}

struct Bytes {
  std::string out, err, calls;
};

// keyherald started with `args`, then `script` played by the run loop; `failing` names the kinds of
// monitor that cannot be installed (f flags changed, d key down, u key up).
Bytes run(const std::string& args, const std::string& script, bool trusted = true,
          const std::string& failing = "") {
  CapturedFd out, err;
  FakeKeyboard keyboard;
  keyboard.trusted = trusted;
  for (char kind : failing) keyboard.failingKinds.insert(EventKind(std::string("fdu").find(kind)));
  std::istringstream steps(script), words(args);
  for (std::string s; steps >> s;) keyboard.script.push_back([s](FakeKeyboard& k) { play(k, s); });
  std::vector<std::string> argv{"keyherald"};
  for (std::string word; words >> word;) argv.push_back(word);
  Herald herald{buildChannels(argv, err.fd()), {}, false, out.fd(), err.fd()};
  startWatching(herald, keyboard);
  EXPECT_FALSE(keyboard.killedBySignal) << args << ": " << script;
  EXPECT_TRUE(!keyboard.exitStatus || keyboard.liveMonitors() == 0) << args << ": " << script;
  return {out.contents(), err.contents(), keyboard.calls};
}

TEST(Watcher, EachChannelFollowsItsKey) {
  struct Row {
    const char* name;
    std::string args, script, out;  // out: after READY
  } rows[] = {
      // Without side bits the shared flag cannot tell the twins apart: the channel stays down
      // until right Option is released with both keys up.
      {"twins without side bits", "", "f61:o f58:o f61:o f58 f61:o f61", "CMD_DOWN\nCMD_UP\n"},
      {"twin release with side bits", "", "f61:oR f58:oRL f61:oL f58", "CMD_DOWN\nCMD_UP\n"},
      {"right pressed while left held", "", "f58:oL f61:oRL f58:oR f61", "CMD_DOWN\nCMD_UP\n"},
      {"fn flag from any key, key events ignored", "fn none none f13", "d63:n f56:ns f56:n f63",
       "FN_DOWN\nFN_UP\n"},
      {"f13: repeats, second down, stray ups, flags and other keys ignored", "f13 none none none",
       "u105 f105:o d107 d105 r105 d105 u105 u105", "FN_DOWN\nFN_UP\n"},
      // Held since before keyherald started: its repeats are no press.
      {"f13 repeats only", "f13", "r105 r105 u105", ""},
      {"two channels on one key write in list order", "bogus fn", "f63:n f63",
       "FN_DOWN\nCMD_DOWN\nFN_UP\nCMD_UP\n"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(run(row.args, row.script).out, "READY\n" + row.out) << row.name;
}

TEST(Watcher, StartTrustWaitMonitorsAndSigterm) {
  const std::string WAITING = "WAITING_FOR_ACCESSIBILITY\n";
  const std::string GRANTED = "Accessibility granted — key monitor active (dictate=";
  const std::string DEFAULT_KEYS = "fn command=right_opt edit=right_ctrl handsfree=none)\n";
  // SIGTERM is taken over before READY can be read; READY comes before the timer exists.
  const std::string START = "requestTrust isTrusted onTerminate isTrusted ";
  struct Row {
    const char* name;
    std::string args;
    bool trusted;
    std::string failing, script, out, err, calls;  // calls: how the log ends
  } rows[] = {
      {"trusted at start", "", true, "", "t", "READY\n", GRANTED + DEFAULT_KEYS,
       START + "add:FlagsChanged=1 timer:1000ms run"},
      {"function key: three monitors, a tick installs nothing more", "f13 none none none", true, "",
       "t", "READY\n", GRANTED + "f13 command=none edit=none handsfree=none)\n",
       START + "add:FlagsChanged=1 add:KeyDown=2 add:KeyUp=3 timer:1000ms run"},
      {"trust after three ticks", "bogus", false, "", "t t t T t t f61:o", "READY\nCMD_DOWN\n",
       "unknown dictate key 'bogus' — falling back to fn\n" + WAITING + GRANTED +
           "bogus command=right_opt edit=right_ctrl handsfree=none)\n",
       "isTrusted add:FlagsChanged=1"},
      {"key monitors alone are enough", "f13", true, "f", "t d105", "READY\nFN_DOWN\n",
       GRANTED + "f13 command=right_opt edit=right_ctrl handsfree=none)\n",
       "add:KeyDown=1 add:KeyUp=2 timer:1000ms run"},
      {"retried at each tick while no monitor installs", "f13", true, "fdu", "t", "", "",
       "run isTrusted add:FlagsChanged=failed add:KeyDown=failed add:KeyUp=failed"},
      {"SIGTERM while waiting", "", false, "", "t S T t", "", WAITING, "exit:0"},
      {"SIGTERM with a key held: no up line", "fn right_opt right_ctrl f16", true, "",
       "f61:oR S f61", "READY\nCMD_DOWN\n",
       GRANTED + "fn command=right_opt edit=right_ctrl handsfree=f16)\n",
       "remove:1 remove:2 remove:3 exit:0"},
  };
  for (const auto& row : rows) {
    const auto got = run(row.args, row.script, row.trusted, row.failing);
    EXPECT_EQ(got.out, row.out) << row.name;
    EXPECT_EQ(got.err, row.err) << row.name;
    EXPECT_TRUE(got.calls.ends_with(row.calls)) << row.name << ": " << got.calls;
  }
}

}  // namespace

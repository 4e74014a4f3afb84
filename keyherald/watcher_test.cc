// The start sequence, the trust wait and SIGTERM, against a scripted keyboard platform.
#include "keyherald/watcher.h"

#include <gtest/gtest.h>

#include "keyherald/fake_keyboard.h"
#include "testing/capture.h"

namespace {

using Calls = std::vector<std::string>;
using Step = std::function<void(FakeKeyboard&)>;

const std::string DASH = "\xE2\x80\x94";
std::string granted(std::string keys) {
  return "Accessibility granted " + DASH + " key monitor active (" + keys + ")\n";
}
const std::string GRANTED_DEFAULTS =
    granted("dictate=fn command=right_opt edit=right_ctrl handsfree=none");
const Step TICK = [](FakeKeyboard& k) { k.tick(); };
const Step TERM = [](FakeKeyboard& k) { k.sigterm(); };
const Step TRUST = [](FakeKeyboard& k) { k.trusted = true; };
Step key(EventKind kind, uint16_t code, uint64_t flags = 0, bool repeat = false) {
  return [=](FakeKeyboard& k) { k.send(kind, {code, flags, repeat}); };
}
// SIGTERM is handled before READY can be read; READY comes before the timer exists.
Calls startThen(Calls rest) {
  Calls calls{"requestTrust", "isTrusted", "onTerminate", "isTrusted"};
  calls.insert(calls.end(), rest.begin(), rest.end());
  return calls;
}

struct ScriptedRun {
  CapturedFd out;
  CapturedFd err;
  FakeKeyboard keyboard;
  Herald herald;

  ScriptedRun(std::vector<std::string> args, bool trusted, std::vector<Step> script) {
    args.insert(args.begin(), "keyherald");
    herald.config = buildChannels(args, err.fd());
    herald.outFd = out.fd();
    herald.errFd = err.fd();
    keyboard.trusted = trusted;
    keyboard.script = std::move(script);
  }
  void start() { startWatching(herald, keyboard); }
};

TEST(Watcher, StartSequences) {
  const Calls failedAll{"add FlagsChanged failed", "add KeyDown failed", "add KeyUp failed"};
  struct Row {
    const char* name;
    std::vector<std::string> args;
    bool trusted;
    std::set<EventKind> failing;
    std::vector<Step> script;
    std::string out, err;
    Calls calls;  // empty: not checked
  } rows[] = {
      {"trusted at start",
       {},
       true,
       {},
       {},
       "READY\n",
       GRANTED_DEFAULTS,
       startThen({"add FlagsChanged=1", "timer 1000ms", "run"})},
      // A tick while listening neither asks for trust nor installs again.
      {"function key needs three monitors",
       {"f13", "none", "none", "none"},
       true,
       {},
       {key(EventKind::KeyDown, 105), key(EventKind::KeyDown, 105, 0, true),
        key(EventKind::KeyUp, 105), TICK},
       "READY\nFN_DOWN\nFN_UP\n",
       granted("dictate=f13 command=none edit=none handsfree=none"),
       startThen({"add FlagsChanged=1", "add KeyDown=2", "add KeyUp=3", "timer 1000ms", "run"})},
      // A missing monitor is not retried once another exists.
      {"key monitors alone are enough",
       {"f13"},
       true,
       {EventKind::FlagsChanged},
       {TICK, key(EventKind::KeyDown, 105)},
       "READY\nFN_DOWN\n",
       granted("dictate=f13 command=right_opt edit=right_ctrl handsfree=none"),
       startThen(
           {"add FlagsChanged failed", "add KeyDown=1", "add KeyUp=2", "timer 1000ms", "run"})},
      {"no monitor installs: retried each tick, silently",
       {"f13"},
       true,
       {EventKind::FlagsChanged, EventKind::KeyDown, EventKind::KeyUp},
       {TICK, TICK},
       "",
       "",
       [&] {
         Calls c = startThen(failedAll);
         c.insert(c.end(), {"timer 1000ms", "run"});
         for (int i = 0; i < 2; ++i) {
           c.push_back("isTrusted");
           c.insert(c.end(), failedAll.begin(), failedAll.end());
         }
         return c;
       }()},
      {"trust after three ticks",
       {"bogus"},
       false,
       {},
       {TICK, TICK, TICK, TRUST, TICK, TICK, key(EventKind::FlagsChanged, 61, OPTION_FLAG)},
       "READY\nCMD_DOWN\n",
       "unknown dictate key 'bogus' " + DASH + " falling back to fn\nWAITING_FOR_ACCESSIBILITY\n" +
           granted("dictate=bogus command=right_opt edit=right_ctrl handsfree=none"),
       {}},
  };
  for (const auto& row : rows) {
    ScriptedRun run(row.args, row.trusted, row.script);
    run.keyboard.failingKinds = row.failing;
    run.start();
    EXPECT_EQ(run.out.contents(), row.out) << row.name;
    EXPECT_EQ(run.err.contents(), row.err) << row.name;
    if (!row.calls.empty()) {
      EXPECT_EQ(run.keyboard.calls, row.calls) << row.name;
    }
  }
}

TEST(Watcher, SigtermEndsWithStatusZeroAndNoUpLine) {
  struct Row {
    const char* name;
    std::vector<std::string> args;
    bool trusted;
    std::vector<Step> script;
    std::string out, err;
  } rows[] = {
      {"while waiting for trust",
       {},
       false,
       {TICK, TERM, TRUST, TICK},
       "",
       "WAITING_FOR_ACCESSIBILITY\n"},
      {"with a key held",
       {"fn", "right_opt", "right_ctrl", "f16"},
       true,
       {key(EventKind::FlagsChanged, 61, OPTION_FLAG | RIGHT_OPTION_BIT), TERM,
        key(EventKind::FlagsChanged, 61)},
       "READY\nCMD_DOWN\n",
       granted("dictate=fn command=right_opt edit=right_ctrl handsfree=f16")},
  };
  for (const auto& row : rows) {
    ScriptedRun run(row.args, row.trusted, row.script);
    run.start();
    EXPECT_EQ(run.out.contents(), row.out) << row.name;
    EXPECT_EQ(run.err.contents(), row.err) << row.name;
    EXPECT_EQ(run.keyboard.exitStatus, 0) << row.name;
    EXPECT_FALSE(run.keyboard.killedBySignal) << row.name;
    EXPECT_EQ(run.keyboard.liveMonitors(), 0u) << row.name;  // removed before the exit
    EXPECT_EQ(run.keyboard.calls.back(), "exit 0") << row.name;
  }
}

}  // namespace

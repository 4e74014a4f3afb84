// The start sequence, the trust wait and SIGTERM, against a scripted keyboard platform.
#include "keyherald/watcher.h"

#include <gtest/gtest.h>

#include "testing/capture.h"
#include "testing/fake_keyboard.h"

namespace {

using Calls = std::vector<std::string>;

const std::string GRANTED_DEFAULTS =
    "Accessibility granted \xE2\x80\x94 key monitor active (dictate=fn command=right_opt "
    "edit=right_ctrl handsfree=none)\n";

constexpr uint64_t OPT = 0x80000, R_OPT_BIT = 0x40;

using Step = std::function<void(FakeKeyboard&)>;
const Step TICK = [](FakeKeyboard& k) { k.tick(); };
const Step TERM = [](FakeKeyboard& k) { k.sigterm(); };
const Step TRUST = [](FakeKeyboard& k) { k.trusted = true; };
Step key(EventKind kind, uint16_t code, uint64_t flags = 0, bool repeat = false) {
  return [=](FakeKeyboard& k) { k.send(kind, {code, flags, repeat}); };
}
const Calls START{"requestTrust", "isTrusted", "onTerminate", "isTrusted"};

Calls startThen(Calls rest) {
  Calls calls = START;
  calls.insert(calls.end(), rest.begin(), rest.end());
  return calls;
}

struct Session {
  CapturedFd out;
  CapturedFd err;
  FakeKeyboard keyboard;
  Herald herald;

  explicit Session(std::vector<std::string> args) {
    args.insert(args.begin(), "keyherald");
    herald.config = buildChannels(args, err.fd());
    herald.outFd = out.fd();
    herald.errFd = err.fd();
  }
  void start() { startWatching(herald, keyboard); }
};

TEST(Watcher, TrustedAtStartWritesReadyAndTheGrantedLine) {
  Session run({});
  run.keyboard.trusted = true;
  run.start();
  EXPECT_EQ(run.out.contents(), "READY\n");
  EXPECT_EQ(run.err.contents(), GRANTED_DEFAULTS);
  EXPECT_EQ(run.keyboard.calls, startThen({"add FlagsChanged=1", "timer 1000ms", "run"}))
      << "SIGTERM is handled before READY can be read; READY comes before the timer exists";
}

TEST(Watcher, FunctionKeyNeedsThreeMonitorsInOrder) {
  Session run({"f13", "none", "none", "none"});
  run.keyboard.trusted = true;
  run.keyboard.script = {key(EventKind::KeyDown, 105), key(EventKind::KeyDown, 105, 0, true),
                         key(EventKind::KeyUp, 105), TICK};
  run.start();
  EXPECT_EQ(run.out.contents(), "READY\nFN_DOWN\nFN_UP\n");
  EXPECT_EQ(run.keyboard.calls, startThen({"add FlagsChanged=1", "add KeyDown=2", "add KeyUp=3",
                                           "timer 1000ms", "run"}))
      << "a tick while listening neither asks for trust nor installs again";
}

TEST(Watcher, TrustArrivingAfterThreeTicks) {
  Session run({"bogus"});
  run.keyboard.script = {
      TICK, TICK, TICK, TRUST, TICK, TICK, key(EventKind::FlagsChanged, 61, OPT)};
  run.start();
  EXPECT_EQ(run.out.contents(), "READY\nCMD_DOWN\n");
  EXPECT_EQ(run.err.contents(),
            "unknown dictate key 'bogus' \xE2\x80\x94 falling back to fn\n"
            "WAITING_FOR_ACCESSIBILITY\n"
            "Accessibility granted \xE2\x80\x94 key monitor active (dictate=bogus "
            "command=right_opt edit=right_ctrl handsfree=none)\n");
  EXPECT_EQ(run.keyboard.liveMonitors(), 1u);
}

TEST(Watcher, KeyMonitorsAloneAreEnoughForReady) {
  Session run({"f13"});
  run.keyboard.trusted = true;
  run.keyboard.failingKinds = {EventKind::FlagsChanged};
  run.keyboard.script = {TICK, key(EventKind::KeyDown, 105)};
  run.start();
  EXPECT_EQ(run.out.contents(), "READY\nFN_DOWN\n");
  EXPECT_EQ(run.keyboard.calls, startThen({"add FlagsChanged failed", "add KeyDown=1",
                                           "add KeyUp=2", "timer 1000ms", "run"}))
      << "a missing monitor is not retried once another exists";
}

TEST(Watcher, RetriesEachTickWhileNoMonitorInstalls) {
  Session run({"f13"});
  run.keyboard.trusted = true;
  run.keyboard.failingKinds = {EventKind::FlagsChanged, EventKind::KeyDown, EventKind::KeyUp};
  run.keyboard.script = {TICK, TICK};
  run.start();
  EXPECT_EQ(run.out.contents(), "");
  EXPECT_EQ(run.err.contents(), "");
  Calls failed{"add FlagsChanged failed", "add KeyDown failed", "add KeyUp failed"};
  Calls expected = startThen(failed);
  expected.insert(expected.end(), {"timer 1000ms", "run"});
  for (int i = 0; i < 2; ++i) {
    expected.push_back("isTrusted");
    expected.insert(expected.end(), failed.begin(), failed.end());
  }
  EXPECT_EQ(run.keyboard.calls, expected);
}

TEST(Watcher, SigtermWhileWaitingEndsQuietly) {
  Session run({});
  run.keyboard.script = {TICK, TERM, TRUST, TICK};
  run.start();
  EXPECT_EQ(run.keyboard.exitStatus, 0);
  EXPECT_FALSE(run.keyboard.killedBySignal);
  EXPECT_EQ(run.out.contents(), "");
  EXPECT_EQ(run.err.contents(), "WAITING_FOR_ACCESSIBILITY\n");
  EXPECT_EQ(run.keyboard.calls.back(), "exit 0");
}

TEST(Watcher, SigtermWithAKeyHeldRemovesMonitorsAndWritesNoUpLine) {
  Session run({"fn", "right_opt", "right_ctrl", "f16"});
  run.keyboard.trusted = true;
  run.keyboard.script = {key(EventKind::FlagsChanged, 61, OPT | R_OPT_BIT), TERM,
                         key(EventKind::FlagsChanged, 61)};
  run.start();
  EXPECT_EQ(run.out.contents(), "READY\nCMD_DOWN\n");
  EXPECT_EQ(run.keyboard.exitStatus, 0);
  EXPECT_EQ(run.keyboard.liveMonitors(), 0u);
  Calls tail(run.keyboard.calls.end() - 4, run.keyboard.calls.end());
  EXPECT_EQ(tail, (Calls{"remove 1", "remove 2", "remove 3", "exit 0"}));
}

}  // namespace

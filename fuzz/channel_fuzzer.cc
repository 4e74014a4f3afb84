// Fuzzes keyherald's channels through its start sequence: random key names, trust arriving late,
// raw X key presses and releases as well as synthetic macOS-style events, SIGTERM at any point.
// Standard output must be READY, then per channel lines that alternate, down first.
#include <cstddef>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/checks.h"
#include "keyherald/config.h"
#include "keyherald/raw_keys.h"
#include "keyherald/watcher.h"
#include "testing/capture.h"
#include "testing/fake_keyboard.h"

namespace {

constexpr const char* NAMES[] = {"fn",         "right_cmd", "left_cmd",    "right_opt",  "left_opt",
                                 "right_ctrl", "left_ctrl", "right_shift", "left_shift", "f13",
                                 "f14",        "f19",       "none",        "FN",         ""};
// Modifiers, F13-F19 and a few ordinary keys (evdev codes); the rest comes from the input.
constexpr uint16_t RAW_KEYS[] = {29, 97, 42, 54, 56, 100, 125, 126, 183, 184, 185, 189, 30, 464};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  std::vector<std::string> args{"keyherald"};
  const size_t given = in.ConsumeIntegralInRange<size_t>(0, 5);
  for (size_t i = 0; i < given; ++i) {
    args.emplace_back(NAMES[in.ConsumeIntegralInRange<size_t>(0, std::size(NAMES) - 1)]);
  }

  CapturedFd out, err;
  Herald herald;
  herald.config = buildChannels(args, err.fd());
  herald.outFd = out.fd();
  herald.errFd = err.fd();
  FakeKeyboard keyboard;
  keyboard.trusted = in.ConsumeBool();
  if (in.ConsumeIntegralInRange<int>(0, 7) == 0)
    keyboard.failingKinds.insert(EventKind::FlagsChanged);

  RawKeyTranslator raw;
  while (in.remaining_bytes() > 0) {
    switch (in.ConsumeIntegralInRange<int>(0, 15)) {
      case 0:
        keyboard.script.push_back([](FakeKeyboard& k) { k.trusted = true, k.tick(); });
        break;
      case 1:
        keyboard.script.push_back([](FakeKeyboard& k) { k.sigterm(); });
        break;
      case 2:
      case 3: {  // synthetic: any key code, any flags, repeat or not
        const auto kind = static_cast<EventKind>(in.ConsumeIntegralInRange<int>(0, 2));
        const KeyEvent event{in.ConsumeIntegral<uint16_t>(), in.ConsumeIntegral<uint64_t>(),
                             in.ConsumeBool()};
        keyboard.script.push_back([kind, event](FakeKeyboard& k) { k.send(kind, event); });
        break;
      }
      default: {  // raw, translated when the step runs, as the X11 layer does
        const bool down = in.ConsumeBool();
        const uint16_t code =
            in.ConsumeBool()
                ? RAW_KEYS[in.ConsumeIntegralInRange<size_t>(0, std::size(RAW_KEYS) - 1)]
                : in.ConsumeIntegral<uint16_t>();
        keyboard.script.push_back([&raw, down, code](FakeKeyboard& k) {
          const TranslatedEvent t = down ? raw.press(code) : raw.release(code);
          k.send(t.kind, t.event);
        });
      }
    }
  }
  startWatching(herald, keyboard);
  check(!keyboard.exitStatus || *keyboard.exitStatus == 0);
  check(!keyboard.killedBySignal || keyboard.exitStatus == std::nullopt);

  std::map<std::string, bool> down;  // per channel word: is it down now
  std::map<std::string, bool> known;
  for (const auto& channel : herald.config.channels) {
    const auto& d = channel.downMsg();
    known[d.substr(0, d.find('_'))] = true;
  }
  std::istringstream lines(out.contents());
  std::string line;
  bool first = true;
  while (std::getline(lines, line)) {
    if (first) {
      check(line == "READY");
      first = false;
      continue;
    }
    const size_t bar = line.find('_');
    check(bar != std::string::npos);
    const std::string word = line.substr(0, bar), state = line.substr(bar + 1);
    check(known.count(word) == 1);
    check(state == "DOWN" || state == "UP");
    check((state == "DOWN") != down[word]);  // strictly alternating, DOWN first
    down[word] = state == "DOWN";
  }
  check(out.contents().empty() || out.contents().back() == '\n');
  for (const auto& channel : herald.config.channels) {
    const auto& d = channel.downMsg();
    check(down[d.substr(0, d.find('_'))] == channel.isDown());
  }
  return 0;
}

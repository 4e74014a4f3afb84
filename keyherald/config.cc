// Start-up configuration: the four key names from the command line and the channels they give.
#include "keyherald/config.h"

#include "common/note.h"

namespace {

constexpr std::string_view NONE = "none";
constexpr std::string_view DASH = " \xE2\x80\x94 ";  // an em dash between two spaces

std::string argumentOr(const std::vector<std::string>& arguments, size_t position,
                       const char* fallback) {
  // An empty argument is a value, not a missing one.
  return arguments.size() > position ? arguments[position] : std::string(fallback);
}

std::string unknownKey(std::string_view role, const std::string& name, std::string_view effect) {
  std::string line = "unknown ";
  line.append(role).append(" key '").append(name).append("'");
  line.append(DASH).append(effect);
  return line;
}

// What an optional key's diagnostics and lines say.
struct OptionalKey {
  std::string_view role;       // in "unknown <role> key '<name>'"
  std::string_view collision;  // the line's start when the name equals an earlier one
  std::string_view effect;     // after the dash in both lines
  const char* downMsg;
  const char* upMsg;
};

constexpr OptionalKey COMMAND_KEY{"command", "command key equals dictate key",
                                  "Command Mode disabled", "CMD_DOWN", "CMD_UP"};
constexpr OptionalKey EDIT_KEY{"edit", "edit key collides with another key", "Edit Mode disabled",
                               "EDIT_DOWN", "EDIT_UP"};
constexpr OptionalKey AGENT_KEY{"hands-free", "hands-free key collides with another key",
                                "hands-free disabled", "AGENT_DOWN", "AGENT_UP"};

// Switched off by "none", by a name that equals an earlier one, or by an unknown name; otherwise
// its channel is appended.
void addOptionalKey(Config& config, const OptionalKey& key, const std::string& name,
                    const std::vector<const std::string*>& earlier, int errFd) {
  if (name == NONE) return;
  for (const std::string* other : earlier) {
    if (name == *other) {
      note(std::string(key.collision).append(DASH).append(key.effect), errFd);
      return;
    }
  }
  std::optional<Trigger> trigger = triggerFor(name);
  if (!trigger) {
    note(unknownKey(key.role, name, key.effect), errFd);
    return;
  }
  config.channels.emplace_back(*trigger, key.downMsg, key.upMsg);
}

}  // namespace

Config buildChannels(const std::vector<std::string>& arguments, int errFd) {
  Config config;
  config.dictateId = argumentOr(arguments, 1, DEFAULT_DICTATE_KEY);
  config.commandId = argumentOr(arguments, 2, DEFAULT_COMMAND_KEY);
  config.editId = argumentOr(arguments, 3, DEFAULT_EDIT_KEY);
  config.agentId = argumentOr(arguments, 4, DEFAULT_AGENT_KEY);

  std::optional<Trigger> dictate = triggerFor(config.dictateId);
  if (!dictate) {
    note(unknownKey("dictate", config.dictateId, "falling back to fn"), errFd);
    dictate = Trigger::fnFlag();
  }
  config.channels.emplace_back(*dictate, "FN_DOWN", "FN_UP");

  // Collisions are judged on the names, never on what they resolved to: a name equal to an earlier
  // one collides even when that earlier key was itself switched off.
  addOptionalKey(config, COMMAND_KEY, config.commandId, {&config.dictateId}, errFd);
  addOptionalKey(config, EDIT_KEY, config.editId, {&config.dictateId, &config.commandId}, errFd);
  addOptionalKey(config, AGENT_KEY, config.agentId,
                 {&config.dictateId, &config.commandId, &config.editId}, errFd);

  for (const Channel& channel : config.channels) {
    if (channel.trigger().kind == Trigger::Kind::functionKey) config.needsKeyMonitor = true;
  }
  return config;
}

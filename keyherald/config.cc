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

// One optional key: switched off by "none", by a name that equals an earlier one, or by an unknown
// name; otherwise its channel is appended.
void addOptionalKey(Config& config, const std::string& name,
                    const std::vector<const std::string*>& earlier, std::string_view collision,
                    std::string_view role, std::string_view effect, const char* downMsg,
                    const char* upMsg, int errFd) {
  if (name == NONE) return;
  for (const std::string* other : earlier) {
    if (name == *other) {
      note(std::string(collision).append(DASH).append(effect), errFd);
      return;
    }
  }
  std::optional<Trigger> trigger = triggerFor(name);
  if (!trigger) {
    note(unknownKey(role, name, effect), errFd);
    return;
  }
  config.channels.emplace_back(*trigger, downMsg, upMsg);
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
  addOptionalKey(config, config.commandId, {&config.dictateId}, "command key equals dictate key",
                 "command", "Command Mode disabled", "CMD_DOWN", "CMD_UP", errFd);
  addOptionalKey(config, config.editId, {&config.dictateId, &config.commandId},
                 "edit key collides with another key", "edit", "Edit Mode disabled", "EDIT_DOWN",
                 "EDIT_UP", errFd);
  addOptionalKey(config, config.agentId, {&config.dictateId, &config.commandId, &config.editId},
                 "hands-free key collides with another key", "hands-free", "hands-free disabled",
                 "AGENT_DOWN", "AGENT_UP", errFd);

  for (const Channel& channel : config.channels) {
    if (channel.trigger().kind == Trigger::Kind::functionKey) config.needsKeyMonitor = true;
  }
  return config;
}

// Start-up configuration: the four key names from the command line and the channels they give.
#pragma once

#include <string>
#include <vector>

#include "keyherald/channel.h"

constexpr const char* DEFAULT_DICTATE_KEY = "fn";
constexpr const char* DEFAULT_COMMAND_KEY = "right_opt";
constexpr const char* DEFAULT_EDIT_KEY = "right_ctrl";
constexpr const char* DEFAULT_AGENT_KEY = "none";

struct Config {
  // At most four, always in the order dictation, command, edit, hands-free; no gaps.
  std::vector<Channel> channels;
  bool needsKeyMonitor = false;  // some channel follows a key with ordinary key-down/up events
  // The names as given on the command line, unchanged, even when one fell back or was disabled.
  std::string dictateId;
  std::string commandId;
  std::string editId;
  std::string agentId;
};

// `arguments` starts with the program path. Each key that is unknown or collides by name with an
// earlier one is switched off with one diagnostic line on `errFd` (the dictation key falls back to
// fn instead); "none" switches an optional key off silently.
Config buildChannels(const std::vector<std::string>& arguments, int errFd);

// The JSON line that carries one poll's reading to the host application.
#include "fieldpeek/poll_line.h"

#include <nlohmann/json.hpp>

std::optional<std::string> pollLine(const Reading& reading) {
  try {
    nlohmann::json object = {{"role", reading.role}, {"texts", reading.texts}};
    std::string line = object.dump();
    line.push_back('\n');
    return line;
  } catch (...) {
    // Texts arrive as valid UTF-8 (unpaired surrogates already replaced), so dump should never
    // throw; if it does, this poll's line is dropped and the run goes on.
    return std::nullopt;
  }
}

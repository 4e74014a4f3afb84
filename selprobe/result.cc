// What selprobe hands the host: one compact JSON object on one line of standard output.
#include "selprobe/result.h"

#include "common/output.h"

nlohmann::json fail(std::string_view reason) {
  return {{"ok", false}, {"reason", reason}};
}

nlohmann::json success(std::string_view role, const Pieces& pieces) {
  return {{"ok", true},
          {"role", role},
          {"before", pieces.before},
          {"selected", pieces.selected},
          {"after", pieces.after},
          {"truncated", pieces.truncated}};
}

std::string resultLine(const nlohmann::json& object) {
  try {
    // Compact, and non-ASCII written as UTF-8; invalid UTF-8 throws, and then nothing is written.
    std::string line = object.dump();
    line.push_back('\n');
    return line;
  } catch (...) {
    return {};
  }
}

void emit(const nlohmann::json& object, int fd) {
  const std::string line = resultLine(object);
  if (!line.empty()) writeRecord(line, fd);
}

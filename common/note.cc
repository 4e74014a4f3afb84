// One human-readable diagnostic line on standard error.
#include "common/note.h"

#include <string>

#include "common/output.h"

void note(std::string_view message, int fd) {
  std::string line;
  line.reserve(message.size() + 1);
  line.append(message);
  line.push_back('\n');
  writeRecord(line, fd);
}

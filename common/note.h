// One human-readable diagnostic line on standard error.
#pragma once

#include <unistd.h>
#include <string_view>

// Writes `message` and one line feed (always added, even after a trailing one) in a single write.
void note(std::string_view message, int fd = STDERR_FILENO);

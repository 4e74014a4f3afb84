// Unbuffered record writing: each record reaches its reader in one write(2), never via a stdio
// buffer.
#pragma once

#include <unistd.h>
#include <string_view>

// Writes all of `bytes` to `fd` with one write(2) call, continuing only after a partial write or
// EINTR. Returns false when the reader is gone or the descriptor fails (EPIPE, EBADF, ...).
bool writeRecord(std::string_view bytes, int fd = STDOUT_FILENO);

// A host that closes its end of a pipe must not kill a tool with SIGPIPE: the write fails with
// EPIPE instead, and the tool ends by its own rules with status 0.
void ignoreBrokenPipe();

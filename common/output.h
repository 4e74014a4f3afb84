// Unbuffered record writing: each record reaches its reader in one write(2), never via a stdio
// buffer.
#pragma once

#include <unistd.h>
#include <string_view>

// Writes all of `bytes` to `fd` with one write(2) call, continuing only after a partial write or
// EINTR, or on a non-blocking descriptor once it takes more. Returns false when the reader is gone
// or the descriptor fails (EPIPE, EBADF, ...).
bool writeRecord(std::string_view bytes, int fd = STDOUT_FILENO);

// A host that closes its end of a pipe must not kill a tool with SIGPIPE: the write fails with
// EPIPE instead, and the tool ends by its own rules with status 0.
void ignoreBrokenPipe();

// A tool started with standard input, output or error closed would hand that number to the next
// descriptor it opens (the X or D-Bus socket) and then write its records into it. Each closed one
// of the three becomes a pipe whose other end is gone: reads see end of file and writes fail with
// EPIPE, exactly as when the host has left. Call it first, before anything opens a descriptor.
void guardStandardStreams();

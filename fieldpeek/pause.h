// The pause between two polls of fieldpeek, as the platform needs it.
#pragma once

#include <chrono>

// Sleeps the whole pause even when a signal interrupts it.
void sleepFor(std::chrono::milliseconds pause);

// The pause the tool makes between polls. On macOS it turns the main run loop, without which
// NSWorkspace keeps reporting the application that was frontmost at the first poll.
void pauseFor(std::chrono::milliseconds pause);

// The real keyboard platform of this system (XInput2 raw events on Linux, NSEvent monitors on
// macOS).
#pragma once

#include <memory>

#include "keyherald/keyboard.h"

// Nothing touches the window system until the first isTrusted() call, so start-up configuration
// runs before any platform call.
std::unique_ptr<Keyboard> makePlatformKeyboard();

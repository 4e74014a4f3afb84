// The real accessibility service of this platform (AT-SPI on Linux, the AX API on macOS).
#pragma once

#include <memory>

#include "ax/ax.h"

// Every call of the returned service is bounded in time: a frozen application or bus makes reads
// fail, it never hangs the caller.
std::unique_ptr<Accessibility> makePlatformAccessibility();

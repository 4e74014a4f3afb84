// The host application's bundle identifier, fixed at build time (CMake option HOST_BUNDLE_ID).
#pragma once

#include <string_view>

inline constexpr std::string_view hostBundleID = HOST_BUNDLE_ID;

// The ranking of gathered texts into a poll line's list: the combined text, then the longest ones.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The most single texts considered after the combined text.
inline constexpr int64_t MAX_CANDIDATES = 10;

// The gathered texts joined by line feeds and cut to MAX_CHARS characters.
std::string combinedText(const std::vector<std::string>& texts);

// Empty for no texts; otherwise the combined text, then the MAX_CANDIDATES longest texts (by
// character count, stable), leaving out those canonically equal to the combined text without
// taking further ones in their place.
std::vector<std::string> candidates(const std::vector<std::string>& texts);

// What selprobe hands the host: one compact JSON object on one line of standard output.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "selprobe/selection.h"

// {"ok":false,"reason":reason}: a failure carries the reason only.
nlohmann::json fail(std::string_view reason);

// {"ok":true,"role":..,"before":..,"selected":..,"after":..,"truncated":..}.
nlohmann::json success(std::string_view role, const Pieces& pieces);

// The object as compact JSON and one line feed; empty when it cannot be serialised.
std::string resultLine(const nlohmann::json& object);

// Writes the result line to `fd` in one record (nothing when it cannot be serialised). The caller
// ends the process right after, with status 0 whatever the outcome.
void emit(const nlohmann::json& object, int fd);

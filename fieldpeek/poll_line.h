// The JSON line that carries one poll's reading to the host application.
#pragma once

#include <optional>
#include <string>

#include "fieldpeek/read_candidates.h"

// {"role":...,"texts":[...]} in compact form followed by one line feed; a line feed inside a text
// is escaped, so the object never spans lines. Nothing when serialisation fails.
std::optional<std::string> pollLine(const Reading& reading);

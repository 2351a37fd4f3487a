#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace brisklet {

// Wall-clock instants in records (creation dates). Millisecond precision is kept in memory;
// records carry whole seconds.
using Timestamp = std::chrono::sys_time<std::chrono::milliseconds>;

// "2025-01-31T09:15:00Z": UTC, whole seconds (the fraction is dropped).
std::string formatIso8601(Timestamp instant);

// Reads "YYYY-MM-DDTHH:MM:SS", optionally with a fraction of a second, then "Z" or a "+HH:MM" /
// "-HH:MM" offset. None for anything else, including impossible dates.
std::optional<Timestamp> parseIso8601(std::string_view text);

}  // namespace brisklet

#pragma once

#include <string_view>

namespace brisklet {

// The one diagnostic log: a line on stderr with the "brisklet: " prefix. Safe from any thread;
// each line is written with a single call so lines from different threads never interleave.
// Users never read this; the status line is where they are told things.
void logLine(std::string_view message);

}  // namespace brisklet

#pragma once

#include <string>
#include <vector>

#include "media/platform/Composition.h"

namespace brisklet {

// `captions` as SubRip (.srt) text: numbered cues, "HH:MM:SS,mmm --> HH:MM:SS,mmm", the line,
// a blank line.
std::string subRipOf(const std::vector<Caption>& captions);

}  // namespace brisklet

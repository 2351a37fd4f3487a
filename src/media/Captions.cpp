#include "media/Captions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace brisklet {
namespace {

std::string timecode(double seconds) {
  const long long milliseconds = std::llround(std::max(seconds, 0.0) * 1000);
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld,%03lld", milliseconds / 3600000,
                milliseconds / 60000 % 60, milliseconds / 1000 % 60, milliseconds % 1000);
  return text;
}

}  // namespace

std::string subRipOf(const std::vector<Caption>& captions) {
  std::string text;
  for (size_t index = 0; index < captions.size(); ++index) {
    std::string line = captions[index].text;
    line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
    // A blank line would end the cue early.
    for (size_t at; (at = line.find("\n\n")) != std::string::npos;) line.erase(at, 1);
    text += std::to_string(index + 1) + "\n" + timecode(captions[index].startSec) + " --> " +
            timecode(captions[index].endSec) + "\n" + line + "\n\n";
  }
  return text;
}

}  // namespace brisklet

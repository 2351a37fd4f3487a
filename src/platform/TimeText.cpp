#include "platform/TimeText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace brisklet {

std::string formatMinutesSeconds(double seconds) {
  const long long rounded = std::isfinite(seconds) ? std::llround(std::max(seconds, 0.0)) : 0;
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", rounded / 60, rounded % 60);
  return text;
}

}  // namespace brisklet

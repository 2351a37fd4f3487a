#pragma once

#include <charconv>
#include <string>

namespace brisklet {

// `value` with `decimals` digits after the point, like printf's "%.*f" but always with a point:
// the app's locale may write decimal commas, and text for the model or for files must not.
inline std::string fixedPoint(double value, int decimals) {
  char buffer[400];  // the widest double in fixed notation, with room for the decimals
  const auto written =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  return written.ec == std::errc() ? std::string(buffer, written.ptr) : std::string("nan");
}

}  // namespace brisklet

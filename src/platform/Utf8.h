#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace brisklet {

// Whether `text` is well-formed UTF-8, as JSON text must be (a file name or a service's answer
// need not be).
inline bool isValidUtf8(std::string_view text) {
  try {
    static_cast<void>(nlohmann::json(std::string(text)).dump());
    return true;
  } catch (const nlohmann::json::exception&) {
    return false;
  }
}

}  // namespace brisklet

#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace brisklet {

// The SHA-256 digest of `bytes`.
std::array<std::uint8_t, 32> sha256(std::string_view bytes);

}  // namespace brisklet

#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace brisklet {

// A 128-bit identity. Its text form is upper-case 8-4-4-4-12 hex, the form folder names use.
struct Uuid {
  std::array<std::uint8_t, 16> bytes{};

  // A new random (version 4) identity.
  static Uuid random();
  // Reads the 8-4-4-4-12 form in either case; none for anything else.
  static std::optional<Uuid> parse(std::string_view text);

  std::string text() const;

  auto operator<=>(const Uuid&) const = default;
};

}  // namespace brisklet

template <>
struct std::hash<brisklet::Uuid> {
  size_t operator()(const brisklet::Uuid& uuid) const noexcept {
    return std::hash<std::string_view>()(
        std::string_view(reinterpret_cast<const char*>(uuid.bytes.data()), uuid.bytes.size()));
  }
};

#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brisklet {

// Opaque binary data (bookmarks); base64 text in JSON.
using ByteString = std::vector<std::uint8_t>;

// Standard alphabet, padded, no line breaks.
std::string encodeBase64(std::span<const std::uint8_t> bytes);

// Accepts only what encodeBase64 writes (padded, no white space); none for anything else.
std::optional<ByteString> decodeBase64(std::string_view text);

}  // namespace brisklet

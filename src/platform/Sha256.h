#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace brisklet {

using Sha256Digest = std::array<std::uint8_t, 32>;

// The SHA-256 digest of `bytes`.
Sha256Digest sha256(std::string_view bytes);
// The digest of a file's bytes, read in pieces. Throws FileError when it cannot be read.
Sha256Digest sha256OfFile(const std::filesystem::path& file);

// The first `bytes` bytes of `digest` in lower-case hexadecimal.
std::string hexPrefix(const Sha256Digest& digest, std::size_t bytes);

}  // namespace brisklet

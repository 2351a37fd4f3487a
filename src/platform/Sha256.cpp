#include "platform/Sha256.h"

#include <openssl/sha.h>

namespace brisklet {

std::array<std::uint8_t, 32> sha256(std::string_view bytes) {
  std::array<std::uint8_t, 32> digest{};
  SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest.data());
  return digest;
}

}  // namespace brisklet

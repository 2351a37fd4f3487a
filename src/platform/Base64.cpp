#include "platform/Base64.h"

#include <openssl/evp.h>

namespace brisklet {

std::string encodeBase64(std::span<const std::uint8_t> bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                                     static_cast<int>(bytes.size()));
  text.resize(static_cast<size_t>(length));
  return text;
}

std::optional<ByteString> decodeBase64(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  // EVP_DecodeBlock trims white space and forgives misplaced padding; the record format does not.
  const size_t padding = text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0;
  if (text.substr(0, text.size() - padding)
          .find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/") !=
      std::string_view::npos)
    return std::nullopt;

  ByteString bytes(text.size() / 4 * 3);
  const int length =
      EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                      static_cast<int>(text.size()));
  if (length < 0) return std::nullopt;
  bytes.resize(static_cast<size_t>(length) - padding);
  return bytes;
}

}  // namespace brisklet

#include "platform/Sha256.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <cerrno>
#include <fstream>
#include <memory>

#include "platform/AtomicFile.h"

namespace brisklet {

Sha256Digest sha256(std::string_view bytes) {
  Sha256Digest digest{};
  SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest.data());
  return digest;
}

Sha256Digest sha256OfFile(const std::filesystem::path& file) {
  errno = 0;
  std::ifstream in(file, std::ios::binary);
  if (!in) throw fileError("read", file, errno != 0 ? errno : ENOENT);
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                        EVP_MD_CTX_free);
  EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
  std::string piece(1 << 16, '\0');
  while (in) {
    in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    EVP_DigestUpdate(context.get(), piece.data(), static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) throw fileError("read", file, EIO);
  Sha256Digest digest{};
  EVP_DigestFinal_ex(context.get(), digest.data(), nullptr);
  return digest;
}

std::string hexPrefix(const Sha256Digest& digest, std::size_t bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::size_t index = 0; index < std::min(bytes, digest.size()); ++index) {
    hex += kDigits[digest[index] >> 4];
    hex += kDigits[digest[index] & 0x0F];
  }
  return hex;
}

}  // namespace brisklet

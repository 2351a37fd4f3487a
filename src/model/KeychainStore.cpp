#include "model/KeychainStore.h"

#include <algorithm>

#include "platform/SecretStore.h"

namespace brisklet::KeychainStore {

std::string_view accountName(Key key) {
  return key == Key::anthropic ? "anthropic-api-key" : "elevenlabs-api-key";
}

std::optional<std::string> get(Key key, std::stop_token stop) {
  return SecretStore::lookup(kService, accountName(key), std::move(stop));
}

std::optional<std::string> set(std::string_view value, Key key, std::stop_token stop) {
  return SecretStore::store(kService, accountName(key), value, std::move(stop));
}

TypedKey cleanTypedKey(std::string_view typed) {
  const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!typed.empty() && isSpace(typed.front())) typed.remove_prefix(1);
  while (!typed.empty() && isSpace(typed.back())) typed.remove_suffix(1);
  const bool hasControl = std::any_of(typed.begin(), typed.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
  });
  if (hasControl)
    return {{},
            "This key has a line break or another control character inside it. Copy the key "
            "again, on its own, and paste it here."};
  return {std::string(typed), std::nullopt};
}

void remove(Key key, std::stop_token stop) {
  SecretStore::remove(kService, accountName(key), std::move(stop));
}

std::string storageDescription(std::stop_token stop) {
  return SecretStore::secretServiceRuns(std::move(stop))
             ? "Keys are stored in your desktop keyring (Secret Service), never in project files."
             : "No desktop keyring is running, so keys are kept in a file only you can read.";
}

}  // namespace brisklet::KeychainStore

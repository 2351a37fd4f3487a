#include "model/KeychainStore.h"

#include "platform/SecretStore.h"

namespace brisklet::KeychainStore {

std::string_view accountName(Key key) {
  return key == Key::anthropic ? "anthropic-api-key" : "elevenlabs-api-key";
}

std::optional<std::string> get(Key key) { return SecretStore::lookup(kService, accountName(key)); }

void set(std::string_view value, Key key) { SecretStore::store(kService, accountName(key), value); }

void remove(Key key) { SecretStore::remove(kService, accountName(key)); }

}  // namespace brisklet::KeychainStore

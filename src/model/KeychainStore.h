#pragma once

#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace brisklet::KeychainStore {

// The two service keys, kept in the secret store under the service "com.kettlewick.Brisklet"
// and never written into a project record or the preferences.
enum class Key { anthropic, elevenLabs };

inline constexpr std::string_view kService = "com.kettlewick.Brisklet";

// "anthropic-api-key", "elevenlabs-api-key"
std::string_view accountName(Key key);

// Each call may wait on the desktop keyring (see SecretStore); a stop request cancels the wait.

// The stored key; none when there is none, the store cannot be read, or it is not UTF-8.
std::optional<std::string> get(Key key, std::stop_token stop = {});
// Stores the key; an empty value removes it. Returns why it could not be stored (a keyring that
// refuses, a key file that cannot be written), or none.
std::optional<std::string> set(std::string_view value, Key key, std::stop_token stop = {});
// A key as the user typed or pasted it, ready to store: the white space around it (a trailing
// line break from a copy) trimmed. A key with a control character inside cannot be sent in a
// request header; `problem` then says so and `key` is empty.
struct TypedKey {
  std::string key;
  std::optional<std::string> problem;
};
TypedKey cleanTypedKey(std::string_view typed);

// Removes the key; failures are not reported.
void remove(Key key, std::stop_token stop = {});

// Where keys are kept, as the settings tell the user: the desktop keyring, or, when no Secret
// Service runs, a file only the user can read.
std::string storageDescription(std::stop_token stop = {});

}  // namespace brisklet::KeychainStore

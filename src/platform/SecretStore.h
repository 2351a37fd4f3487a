#pragma once

#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace brisklet::SecretStore {

// Secrets addressed by a service and an account name, kept in the desktop's Secret Service
// (GNOME Keyring, KWallet) through libsecret. Where no Secret Service runs (no session bus, or
// nobody serves org.freedesktop.secrets), they go to a file readable by the user alone,
// applicationConfigFolder()/secrets.json, never into the preferences. A secret left in that file
// moves into the Secret Service the first time one answers.
//
// Failures are never thrown: a read that fails is a missing secret; a write that fails is logged
// (without the secret) and its reason returned. Blocking calls (D-Bus round trips, and a store
// may wait on the keyring's unlock prompt): never on the window's thread. A stop request cancels
// a call that waits; it then fails as one the service did not answer.

std::optional<std::string> lookup(std::string_view service, std::string_view account,
                                  std::stop_token stop = {});

// Replaces any secret stored under the service and account; an empty value removes it. Returns
// why it could not be stored ("The desktop keyring refused the key: …"), or none.
std::optional<std::string> store(std::string_view service, std::string_view account,
                                 std::string_view value, std::stop_token stop = {});

void remove(std::string_view service, std::string_view account, std::stop_token stop = {});

// Whether a Secret Service answers here; when none does, secrets go to the file.
bool secretServiceRuns(std::stop_token stop = {});

}  // namespace brisklet::SecretStore

#include "platform/SecretStore.h"

#include <libsecret/secret.h>

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>

#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "platform/Paths.h"

namespace brisklet::SecretStore {
namespace {

using json = nlohmann::json;

struct ErrorDeleter {
  void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPointer = std::unique_ptr<GError, ErrorDeleter>;

struct PasswordDeleter {
  void operator()(gchar* password) const { secret_password_free(password); }
};
using PasswordPointer = std::unique_ptr<gchar, PasswordDeleter>;

// A GCancellable that a stop request cancels, from whichever thread asks.
class Cancellable {
 public:
  explicit Cancellable(std::stop_token stop)
      : cancellable_(g_cancellable_new()),
        onStop_(std::in_place, std::move(stop), [this] { g_cancellable_cancel(cancellable_); }) {}
  ~Cancellable() {
    onStop_.reset();
    g_object_unref(cancellable_);
  }
  Cancellable(const Cancellable&) = delete;
  Cancellable& operator=(const Cancellable&) = delete;
  GCancellable* get() const { return cancellable_; }

 private:
  GCancellable* cancellable_;
  std::optional<std::stop_callback<std::function<void()>>> onStop_;
};

const SecretSchema* schema() {
  static const SecretSchema kSchema = {"com.kettlewick.Brisklet.Key",
                                       SECRET_SCHEMA_NONE,
                                       {
                                           {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                           {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                           {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       },
                                       0,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr};
  return &kSchema;
}

// True when the error says nobody serves secrets here, as opposed to a service that answered
// and refused (a locked keyring, a dismissed prompt) or did not answer in time. Only the first
// may send a key to the plain file.
bool meansNoSecretService(const GError* error) {
  // No session bus to connect to; unless the call timed out or was cancelled, or the service
  // answered with an error of its own (which GIO reports as a D-Bus error in its domain).
  if (error->domain == G_IO_ERROR)
    return error->code != G_IO_ERROR_TIMED_OUT && error->code != G_IO_ERROR_CANCELLED &&
           error->code != G_IO_ERROR_DBUS_ERROR;
  if (error->domain != G_DBUS_ERROR) return false;
  return error->code == G_DBUS_ERROR_SERVICE_UNKNOWN ||
         error->code == G_DBUS_ERROR_NAME_HAS_NO_OWNER || error->code == G_DBUS_ERROR_NO_SERVER ||
         error->code == G_DBUS_ERROR_SPAWN_FAILED ||
         error->code == G_DBUS_ERROR_SPAWN_EXEC_FAILED ||
         error->code == G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND;
}

// What the Secret Service said: either it is not there, or the outcome of the call.
enum class ServiceReply { unavailable, done, failed };

ServiceReply classify(const ErrorPointer& error, std::string_view action) {
  if (!error) return ServiceReply::done;
  if (meansNoSecretService(error.get())) return ServiceReply::unavailable;
  logLine("Secret store could not " + std::string(action) + ": " + error->message);
  return ServiceReply::failed;
}

struct ServiceLookup {
  ServiceReply reply;
  std::optional<std::string> secret;
};

ServiceLookup lookupInService(const std::string& service, const std::string& account,
                              std::stop_token stop) {
  const Cancellable cancellable(std::move(stop));
  GError* rawError = nullptr;
  PasswordPointer password(secret_password_lookup_sync(schema(), cancellable.get(), &rawError,
                                                       "service", service.c_str(), "account",
                                                       account.c_str(), nullptr));
  ErrorPointer error(rawError);
  const ServiceReply reply = classify(error, "read a key");
  if (reply != ServiceReply::done || !password) return {reply, std::nullopt};
  if (!g_utf8_validate(password.get(), -1, nullptr)) return {reply, std::nullopt};
  return {reply, std::string(password.get())};
}

// A store's outcome, with the service's words when it refused.
struct ServiceStore {
  ServiceReply reply;
  std::string refusal;
};

ServiceStore storeInService(const std::string& service, const std::string& account,
                            const std::string& value, std::stop_token stop) {
  const std::string label = "Brisklet: " + account;
  const Cancellable cancellable(std::move(stop));
  GError* rawError = nullptr;
  secret_password_store_sync(schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), value.c_str(),
                             cancellable.get(), &rawError, "service", service.c_str(), "account",
                             account.c_str(), nullptr);
  const ErrorPointer error(rawError);
  const ServiceReply reply = classify(error, "save a key");
  return {reply, reply == ServiceReply::failed ? std::string(error->message) : std::string()};
}

ServiceReply removeFromService(const std::string& service, const std::string& account,
                               std::stop_token stop) {
  const Cancellable cancellable(std::move(stop));
  GError* rawError = nullptr;
  secret_password_clear_sync(schema(), cancellable.get(), &rawError, "service", service.c_str(),
                             "account", account.c_str(), nullptr);
  return classify(ErrorPointer(rawError), "remove a key");
}

// The fallback file: {"<service>": {"<account>": "<secret>"}}, mode 0600.
std::filesystem::path fallbackFile() { return applicationConfigFolder() / "secrets.json"; }

json readFallback() {
  try {
    json secrets = json::parse(readFile(fallbackFile()));
    return secrets.is_object() ? secrets : json::object();
  } catch (const std::exception&) {
    return json::object();  // a missing or damaged file holds no secrets
  }
}

// Why the file could not be written, or none.
std::optional<std::string> writeFallback(const json& secrets) {
  try {
    createFolders(fallbackFile().parent_path());
    writeFileAtomically(fallbackFile(), secrets.dump(2), 0600);
    return std::nullopt;
  } catch (const std::exception& error) {
    logLine(std::string("Secret store could not write its file: ") + error.what());
    return error.what();
  }
}

std::optional<std::string> lookupInFallback(const std::string& service,
                                            const std::string& account) {
  const json secrets = readFallback();
  const auto serviceEntry = secrets.find(service);
  if (serviceEntry == secrets.end() || !serviceEntry->is_object()) return std::nullopt;
  const auto accountEntry = serviceEntry->find(account);
  if (accountEntry == serviceEntry->end() || !accountEntry->is_string()) return std::nullopt;
  return accountEntry->get<std::string>();
}

std::optional<std::string> setInFallback(const std::string& service, const std::string& account,
                                         std::optional<std::string> value) {
  json secrets = readFallback();
  if (value) {
    if (!secrets[service].is_object()) secrets[service] = json::object();
    secrets[service][account] = *value;
  } else {
    if (!secrets.contains(service) || !secrets[service].is_object()) return std::nullopt;
    if (secrets[service].erase(account) == 0) return std::nullopt;
    if (secrets[service].empty()) secrets.erase(service);
  }
  return writeFallback(secrets);
}

}  // namespace

std::optional<std::string> lookup(std::string_view service, std::string_view account,
                                  std::stop_token stop) {
  const std::string serviceName(service), accountName(account);
  ServiceLookup found = lookupInService(serviceName, accountName, stop);
  if (found.reply == ServiceReply::unavailable) return lookupInFallback(serviceName, accountName);
  if (found.reply == ServiceReply::done && !found.secret) {
    // A key saved while no Secret Service ran moves into it now, out of the plain file.
    std::optional<std::string> leftBehind = lookupInFallback(serviceName, accountName);
    if (leftBehind &&
        storeInService(serviceName, accountName, *leftBehind, stop).reply == ServiceReply::done)
      setInFallback(serviceName, accountName, std::nullopt);
    return leftBehind;
  }
  return found.secret;
}

std::optional<std::string> store(std::string_view service, std::string_view account,
                                 std::string_view value, std::stop_token stop) {
  if (value.empty()) {
    remove(service, account, std::move(stop));
    return std::nullopt;
  }
  const std::string serviceName(service), accountName(account), secret(value);
  const ServiceStore stored = storeInService(serviceName, accountName, secret, std::move(stop));
  switch (stored.reply) {
    case ServiceReply::unavailable:
      if (auto failure = setInFallback(serviceName, accountName, secret))
        return "The key file could not be written: " + *failure;
      return std::nullopt;
    case ServiceReply::done:
      // A key saved earlier while no Secret Service ran is superseded: a later session without
      // one must not find it and use it.
      if (lookupInFallback(serviceName, accountName))
        setInFallback(serviceName, accountName, std::nullopt);
      return std::nullopt;
    case ServiceReply::failed:
      break;
  }
  return "The desktop keyring refused the key: " + stored.refusal;
}

void remove(std::string_view service, std::string_view account, std::stop_token stop) {
  const std::string serviceName(service), accountName(account);
  removeFromService(serviceName, accountName, std::move(stop));
  // Also from the file, so a key removed while the service runs cannot come back from it.
  if (lookupInFallback(serviceName, accountName))
    setInFallback(serviceName, accountName, std::nullopt);
}

bool secretServiceRuns(std::stop_token stop) {
  // A lookup of nothing in particular tells whether anybody serves secrets.
  return lookupInService("com.kettlewick.Brisklet", "availability-probe", std::move(stop)).reply !=
         ServiceReply::unavailable;
}

}  // namespace brisklet::SecretStore

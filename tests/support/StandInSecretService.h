#pragma once

#include <string>

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GDBusMessage GDBusMessage;

namespace brisklet::testing {

// A Secret Service that misbehaves, on the session bus of the process (run the suite in a
// private one, under dbus-run-session): it owns org.freedesktop.secrets and either never
// answers a call (a keyring stuck behind a prompt that cannot appear) or refuses every call
// with `refusal` (a locked keyring nobody may unlock). Gone, and the name free, when destroyed.
class StandInSecretService {
 public:
  enum class Behaviour { silent, refusing };
  explicit StandInSecretService(Behaviour behaviour, std::string refusal = {});
  ~StandInSecretService();
  StandInSecretService(const StandInSecretService&) = delete;
  StandInSecretService& operator=(const StandInSecretService&) = delete;

 private:
  // Runs on GDBus's worker thread for every message that reaches the stand-in.
  static GDBusMessage* answer(GDBusConnection* connection, GDBusMessage* message, int incoming,
                              void* self);

  Behaviour behaviour_;
  std::string refusal_;
  GDBusConnection* connection_ = nullptr;
  unsigned filter_ = 0;
};

}  // namespace brisklet::testing

#include "support/StandInSecretService.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>

namespace brisklet::testing {
GDBusMessage* StandInSecretService::answer(GDBusConnection* connection, GDBusMessage* message,
                                           int incoming, void* self) {
  if (incoming == 0 || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL)
    return message;
  const auto& service = *static_cast<const StandInSecretService*>(self);
  if (service.behaviour_ == Behaviour::refusing) {
    GDBusMessage* reply = g_dbus_message_new_method_error(
        message, "org.freedesktop.DBus.Error.AccessDenied", "%s", service.refusal_.c_str());
    g_dbus_connection_send_message(connection, reply, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr,
                                   nullptr);
    g_object_unref(reply);
  }
  g_object_unref(message);
  return nullptr;  // silent: the caller waits for an answer that never comes
}

StandInSecretService::StandInSecretService(Behaviour behaviour, std::string refusal)
    : behaviour_(behaviour), refusal_(std::move(refusal)) {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address == nullptr) {
    ADD_FAILURE() << "run under dbus-run-session";
    return;
  }
  GError* error = nullptr;
  // A connection of its own, not the process's shared one that libsecret calls through.
  connection_ = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  if (connection_ == nullptr) {
    ADD_FAILURE() << "no session bus: " << error->message;
    g_error_free(error);
    return;
  }
  filter_ = g_dbus_connection_add_filter(connection_, answer, this, nullptr);
  GVariant* reply = g_dbus_connection_call_sync(
      connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "RequestName", g_variant_new("(su)", "org.freedesktop.secrets", 4u /* do not queue */),
      G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
  if (reply == nullptr) {
    ADD_FAILURE() << "could not own org.freedesktop.secrets: " << error->message;
    g_error_free(error);
    return;
  }
  guint32 outcome = 0;
  g_variant_get(reply, "(u)", &outcome);
  g_variant_unref(reply);
  EXPECT_EQ(outcome, 1u) << "another Secret Service owns the name on this bus";
}

StandInSecretService::~StandInSecretService() {
  if (connection_ == nullptr) return;
  g_dbus_connection_remove_filter(connection_, filter_);
  g_dbus_connection_close_sync(connection_, nullptr, nullptr);
  g_object_unref(connection_);
}

}  // namespace brisklet::testing

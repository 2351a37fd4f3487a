#include "app/SessionInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <string>

#include "app/StartArguments.h"
#include "platform/Log.h"

namespace brisklet {
namespace {

constexpr const char* kName = "com.kettlewick.Brisklet";
constexpr const char* kPath = "/com/kettlewick/Brisklet";
constexpr const char* kInterface = "org.freedesktop.Application";
// A running Brisklet answers at once; one that does not within this is treated as gone.
constexpr int kAnswerWaitMilliseconds = 5000;

}  // namespace

SessionInstance::SessionInstance(const std::vector<std::filesystem::path>& files, QObject* parent)
    : QObject(parent) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  if (bus.registerObject(kPath, this, QDBusConnection::ExportScriptableSlots) &&
      bus.registerService(kName))
    return;
  bus.unregisterObject(kPath);
  handedOver_ = handOver(files);
}

bool SessionInstance::handOver(const std::vector<std::filesystem::path>& files) {
  QDBusMessage call;
  if (files.empty()) {
    call = QDBusMessage::createMethodCall(kName, kPath, kInterface, "Activate");
    call << QVariantMap();
  } else {
    QStringList addresses;
    for (const std::filesystem::path& file : files)
      addresses << QString::fromStdString(fileAddress(std::filesystem::absolute(file)));
    call = QDBusMessage::createMethodCall(kName, kPath, kInterface, "Open");
    call << addresses << QVariantMap();
  }
  const QDBusMessage reply =
      QDBusConnection::sessionBus().call(call, QDBus::Block, kAnswerWaitMilliseconds);
  if (reply.type() == QDBusMessage::ReplyMessage) return true;
  logLine("The Brisklet already running did not answer (" + reply.errorMessage().toStdString() +
          "), so this one opens a window of its own.");
  return false;
}

void SessionInstance::Activate(const QVariantMap&) {
  if (open_) open_({});
}

void SessionInstance::Open(const QStringList& uris, const QVariantMap&) {
  // The addresses as a file manager passes them, read as the command line reads them; anything
  // else in the list (another host, an option) is not a local video and is left out.
  std::vector<std::string> addresses;
  for (const QString& uri : uris)
    if (uri.startsWith("file://")) addresses.push_back(uri.toStdString());
  const StartArguments parsed = parseStartArguments(addresses, {});
  if (open_) open_(parsed.files);
}

void SessionInstance::ActivateAction(const QString&, const QVariantList&, const QVariantMap&) {
  Activate({});
}

}  // namespace brisklet

#include "app/FileReveal.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDesktopServices>
#include <QUrl>

namespace brisklet {

void revealInFileBrowser(const std::filesystem::path& file) {
  const QUrl fileUrl = QUrl::fromLocalFile(QString::fromStdString(file.string()));
  QDBusInterface fileManager("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                             "org.freedesktop.FileManager1", QDBusConnection::sessionBus());
  if (fileManager.isValid()) {
    const QDBusMessage answer =
        fileManager.call("ShowItems", QStringList{fileUrl.toString()}, QString());
    if (answer.type() != QDBusMessage::ErrorMessage) return;
  }
  QDesktopServices::openUrl(
      QUrl::fromLocalFile(QString::fromStdString(file.parent_path().string())));
}

}  // namespace brisklet

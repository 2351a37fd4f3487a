#include "ui/DialogFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace brisklet {

QString dialogFolder(const std::optional<std::filesystem::path>& beside) {
  // Qt names ~/Videos even where it does not exist.
  const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
  if (!videos.isEmpty() && QFileInfo(videos).isDir()) return videos;
  if (beside) {
    const QString folder = QString::fromStdString(beside->string());
    if (QFileInfo(folder).isDir()) return folder;
  }
  return QDir::homePath();
}

}  // namespace brisklet

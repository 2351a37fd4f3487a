#pragma once

#include <QList>
#include <QStringList>
#include <QUrl>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <vector>

class QLabel;

namespace brisklet {

class AppState;

// The videos among dropped or chosen items, in their order: local files whose extension, in any
// case, is mov, mp4, m4v, mpg, mpeg or avi. Addresses of other kinds (web pages, remote shares)
// are left out.
std::vector<std::filesystem::path> acceptedVideoFiles(const QList<QUrl>& urls);

// The open dialog's filter: every extension above in lower and upper case, since the desktop's
// dialogs match names case-sensitively (phones write IMG_0412.MOV).
QString videoNameFilter();

// Asks for videos to import; an empty list when the user cancels.
using VideoChooser = std::function<std::vector<std::filesystem::path>(const QString& message)>;
// The desktop's open dialog for movies, several at once.
std::vector<std::filesystem::path> chooseVideosWithDialog(QWidget* parent, const QString& message);

// Shown when no project is selected: a dashed target to drop clips on and "Choose Videos…".
// Either way the files go to AppState::importVideos.
class ImportDropView : public QWidget {
  Q_OBJECT

 public:
  ImportDropView(AppState& state, VideoChooser chooseVideos, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void setTargeted(bool targeted);

  AppState& state_;
  bool isTargeted_ = false;
  QLabel* symbol_;
};

}  // namespace brisklet

#pragma once

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QPropertyAnimation>
#include <functional>
#include <stop_token>

#include "app/UpdateCheck.h"
#include "ui/ImportDropView.h"
#include "ui/ProjectDetailView.h"

class QAction;
class QPropertyAnimation;

class QVBoxLayout;

namespace brisklet {

class AppState;
class PipelineProgressView;
class ProjectSidebar;
class SettingsWindow;

// What the window is made with besides the state: how it asks the user for files and what the
// detail views are made with. Tests answer the dialogs themselves.
struct MainWindowSetup {
  DetailViewSetup detail = {};
  VideoChooser chooseVideos = {};  // the desktop's open dialog when empty
  // Where "Check for Updates…" looks; the environment's feed when empty.
  UpdateCheckOptions updates = {};
};

// The one window: the projects down the left, the selected project (or the drop zone) on the
// right, the progress of a long command over everything, and "Heads up" for whatever went wrong.
// It holds the menus: File, Edit (undo and redo) and Help.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(AppState& state, MainWindowSetup setup = {}, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The detail view on show, or null while the drop zone is.
  ProjectDetailView* detailView() const { return detail_; }
  QWidget* progressPanel() const;
  QMessageBox* alert() const { return alert_; }
  // The question asked when the window is closed while a command runs, while it is open.
  QMessageBox* quitQuestion() const { return quitQuestion_; }
  // Stops the running commands and closes without the question: a logout or `kill` has already
  // decided (SIGTERM, SIGINT).
  void closeWithoutAsking();
  QAction* toggleSidebarAction() const { return toggleSidebar_; }
  QWidget* sidebar() const;
  void openSettings();
  void importWithDialog();
  void checkForUpdates();

 signals:
  // "Check for Updates…" finished with this message.
  void updateCheckFinished(const QString& message);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  // Closing while a command runs asks first; quitting then stops the command, which removes
  // what it had begun writing.
  void closeEvent(QCloseEvent* event) override;
  // Clips dropped anywhere on the window are imported, as on the drop zone.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void buildMenus();
  void showSelectedProject();
  void showProgress();
  void showError();
  void placeProgressPanel();
  void toggleSidebar();

  AppState& state_;
  MainWindowSetup setup_;
  ProjectSidebar* sidebar_;
  QVBoxLayout* detailArea_;
  QWidget* shown_ = nullptr;  // the detail view or the drop zone
  ProjectDetailView* detail_ = nullptr;
  PipelineProgressView* progress_;
  QAction* toggleSidebar_ = nullptr;
  QPointer<QMessageBox> alert_;
  QPointer<SettingsWindow> settings_;
  // Ends a check for updates still under way when the window goes, so the process need not wait
  // for the feed's time-out.
  std::stop_source updateCheckStop_;
  QPointer<QMessageBox> quitQuestion_;
  bool quitConfirmed_ = false;
  bool sidebarVisible_ = true;
  QPointer<QPropertyAnimation> sidebarSlide_;
  QPointer<QPropertyAnimation> progressFade_;
};

}  // namespace brisklet

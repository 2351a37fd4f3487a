#pragma once

#include <QMainWindow>

class QLabel;
class QStackedWidget;
class QTreeWidget;

namespace brisklet {

class AppState;

// The main window for now: the stored projects with name, duration and creation date, newest
// first, following the state as it changes. The selection follows the state's selected project.
class ProjectListWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit ProjectListWindow(AppState& state, QWidget* parent = nullptr);

 private:
  void showProjects();
  void showSelection();

  AppState& state_;
  QStackedWidget* pages_;
  QLabel* emptyMessage_;
  QTreeWidget* list_;
};

}  // namespace brisklet

#pragma once

#include <QObject>
#include <functional>
#include <optional>

#include "model/Uuid.h"

class QAction;
class QWidget;

namespace brisklet {

class AppState;

// "Undo" (Ctrl+Z) and "Redo" (Ctrl+Shift+Z) for the project a window shows, enabled while there
// is a step to take; the Edit menu holds them and the window they are added to answers the keys.
class EditActions : public QObject {
 public:
  EditActions(AppState& state, std::function<std::optional<Uuid>()> shownProject, QWidget* window);

  QAction* undo() const { return undo_; }
  QAction* redo() const { return redo_; }

 private:
  void refresh();

  AppState& state_;
  std::function<std::optional<Uuid>()> shownProject_;
  QAction* undo_;
  QAction* redo_;
};

}  // namespace brisklet

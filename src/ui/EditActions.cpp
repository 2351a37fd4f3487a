#include "ui/EditActions.h"

#include <QAction>
#include <QWidget>

#include "app/AppState.h"

namespace brisklet {

EditActions::EditActions(AppState& state, std::function<std::optional<Uuid>()> shownProject,
                         QWidget* window)
    : QObject(window), state_(state), shownProject_(std::move(shownProject)) {
  undo_ = new QAction("Undo", window);
  undo_->setShortcut(QKeySequence::Undo);
  redo_ = new QAction("Redo", window);
  redo_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
  for (QAction* action : {undo_, redo_}) {
    action->setShortcutContext(Qt::WindowShortcut);
    window->addAction(action);
  }
  connect(undo_, &QAction::triggered, this, [this] {
    if (const auto project = shownProject_()) state_.undo(*project);
  });
  connect(redo_, &QAction::triggered, this, [this] {
    if (const auto project = shownProject_()) state_.redo(*project);
  });
  connect(&state_, &AppState::historyChanged, this, &EditActions::refresh);
  connect(&state_, &AppState::selectedProjectIDChanged, this, &EditActions::refresh);
  refresh();
}

void EditActions::refresh() {
  const std::optional<Uuid> project = shownProject_();
  undo_->setEnabled(project && state_.canUndo(*project));
  redo_->setEnabled(project && state_.canRedo(*project));
}

}  // namespace brisklet

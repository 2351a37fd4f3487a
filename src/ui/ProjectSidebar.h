#pragma once

#include <QPixmap>
#include <QWidget>
#include <functional>
#include <map>
#include <vector>

#include "model/Project.h"

class QLabel;
class QLineEdit;
class QTimer;
class QVBoxLayout;

namespace brisklet {

class AppState;

// One project in the sidebar: its first thumbnail (or a symbol until there is one), its name and
// length. A click selects it; its menu renames it in place or deletes it.
class ProjectCard : public QWidget {
  Q_OBJECT

 public:
  ProjectCard(AppState& state, const Project& project, bool selected, const QPixmap& thumbnail,
              QWidget* parent = nullptr);

  // Puts an editor over the name; Return keeps what was typed, Escape keeps the old name.
  void beginRename();
  QLineEdit* renameEditor() const { return renameEditor_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void endRename(bool keep);

  AppState& state_;
  const Project project_;
  const bool selected_;
  QLabel* name_;
  QLineEdit* renameEditor_ = nullptr;
};

// The list of projects down the left of the window, 236 px wide: a heading, the cards in the
// state's order and the import button.
class ProjectSidebar : public QWidget {
 public:
  static constexpr int kWidth = 236;

  ProjectSidebar(AppState& state, std::function<void()> importVideos, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // What one card shows.
  struct CardFace {
    Uuid id;
    std::string name;
    double durationSec;
    bool hasPlan;
    bool selected;
    bool hasThumbnail;
    bool operator==(const CardFace&) const = default;
  };

  void showProjects();

  AppState& state_;
  QVBoxLayout* cards_;
  std::vector<CardFace> shownFaces_;
  // Each project's first thumbnail, once there is one.
  std::map<Uuid, QPixmap> thumbnails_;
  // While a card has no thumbnail, looks again now and then: the timeline writes them as it
  // draws, without telling the list.
  QTimer* thumbnailRetry_;
};

}  // namespace brisklet

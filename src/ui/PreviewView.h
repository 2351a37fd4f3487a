#pragma once

#include <QTimer>
#include <QWidget>

namespace brisklet {

class PlayerController;

// The player's pictures, letterboxed on black inside a rounded frame, rendered at the view's size
// once a resize has settled (scaled meanwhile). A click plays or pauses.
class PreviewView : public QWidget {
 public:
  explicit PreviewView(PlayerController& player, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  PlayerController& player_;
  QTimer settle_;
};

}  // namespace brisklet

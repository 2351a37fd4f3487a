#pragma once

#include <QWidget>

namespace brisklet {

class PlayerController;

// The player's pictures, letterboxed on black inside a rounded frame, at whatever size the view
// is given.
class PreviewView : public QWidget {
 public:
  explicit PreviewView(PlayerController& player, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  PlayerController& player_;
};

}  // namespace brisklet

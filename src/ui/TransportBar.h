#pragma once

#include <QPointer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <optional>

#include "app/EditHistory.h"
#include "model/Uuid.h"

class QLabel;
class QSlider;
class QKeyEvent;
class QToolButton;

namespace brisklet {

class AppState;
class NeuButton;
class PlayerController;
class ToggleSwitch;

// The row under the preview: previous scene, play/pause (also Space, unless the focus is in a
// text field), next scene and the position in kept time; then the project's output settings:
// audio enhancement, music, transition and framing, each written through AppState.
class TransportBar : public QWidget {
  Q_OBJECT

 public:
  TransportBar(AppState& state, PlayerController& player, const Uuid& projectID,
               QWidget* parent = nullptr);

  // How a music file is chosen (the open dialog by default); none when the user cancels.
  using FileChooser = std::function<std::optional<std::filesystem::path>()>;
  void setMusicFileChooser(FileChooser chooser) { chooseMusicFile_ = std::move(chooser); }

  // The popovers, while open (for tests).
  QWidget* audioPopover() const { return audioPopover_; }
  QWidget* musicPopover() const { return musicPopover_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The editor's playhead keys; false for a key that is not one.
  bool moveByKey(const QKeyEvent& key);
  void showPosition();
  void showSettings();
  void openAudioPopover();
  void openMusicPopover();
  QWidget* popover(int width);

  AppState& state_;
  PlayerController& player_;
  const Uuid projectID_;
  FileChooser chooseMusicFile_;
  NeuButton* play_;
  QLabel* position_;
  QToolButton* audio_;
  QToolButton* music_;
  QToolButton* transition_;
  QToolButton* aspect_;
  // Popovers delete themselves on closing.
  QPointer<QWidget> audioPopover_;
  QPointer<QWidget> musicPopover_;
  EditGesture volumeGesture_ = EditGesture::fresh("volume", true);
};

}  // namespace brisklet

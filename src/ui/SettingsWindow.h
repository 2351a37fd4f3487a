#pragma once

#include <QWidget>

class QTabWidget;

namespace brisklet {

class AppState;
class KeyRing;

// The settings, 520 × 420, beside the main window (not modal): the service keys, the model and
// the music folder, and the narration voice. Every change is kept at once; there is no Save.
class SettingsWindow : public QWidget {
  Q_OBJECT

 public:
  explicit SettingsWindow(AppState& state, QWidget* parent = nullptr);

  QTabWidget& tabs() const { return *tabs_; }

 private:
  QTabWidget* tabs_;
};

// The tabs, each made afresh when the window is.
QWidget* makeKeysTab(KeyRing& keyRing, QWidget* parent);
QWidget* makeModelTab(AppState& state, QWidget* parent);
QWidget* makeVoiceTab(AppState& state, QWidget* parent);

}  // namespace brisklet

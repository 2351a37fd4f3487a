#pragma once

#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "app/PlayerController.h"
#include "model/Uuid.h"

class QLabel;

namespace brisklet {

class Asset;
class AppState;
class NeuButton;
class TimelineView;

// Asks the user where to save a movie: the proposed file name and the dialog's message; none when
// the user cancels.
using SaveLocationChooser = std::function<std::optional<std::filesystem::path>(
    const QString& proposedName, const QString& message)>;

// What the detail view is made with besides the state; tests count the builds and answer the
// save dialog themselves.
struct DetailViewSetup {
  PlayerController::PreviewBuild build = previewComposition;
  SaveLocationChooser chooseSaveLocation = {};  // the desktop's save dialog when empty
};

// "Trip — Edited.mp4" and "Trip — Short.mp4": the names the save dialogs propose.
QString editedMovieName(const std::string& projectName);
QString shortMovieName(const std::string& projectName);

// The right-hand side of the main window for one project: the project's commands, the preview
// with its transport bar, the timeline and the inspector. It owns the project's player,
// thumbnails and waveform, and builds the preview again 0.3 s after the last change that alters
// it. A different project gets a fresh view.
class ProjectDetailView : public QWidget {
  Q_OBJECT

 public:
  ProjectDetailView(AppState& state, const Uuid& projectID, DetailViewSetup setup = {},
                    QWidget* parent = nullptr);
  ~ProjectDetailView() override;

  const Uuid& projectID() const { return projectID_; }
  PlayerController& player() { return player_; }
  TimelineView& timeline() const { return *timeline_; }
  // The waveform has been read (or failed to be).
  bool waveformLoaded() const { return waveformLoaded_; }

  void exportVideo();
  void makeShort();

 private:
  void load();
  void loadWaveform(const Asset& source);
  void projectChanged();
  void refreshActions();
  std::optional<std::filesystem::path> askForLocation(const QString& proposedName,
                                                      const QString& message);
  QWidget* makeHeader();
  QWidget* makeAnalyzeHint(QWidget* parent);
  QWidget* makePreviewStatus(QWidget* parent);

  AppState& state_;
  const Uuid projectID_;
  DetailViewSetup setup_;
  PlayerController player_;
  std::stop_source stop_;
  QTimer rebuildDebounce_;
  std::string fingerprint_;
  bool waveformLoaded_ = false;

  QLabel* title_ = nullptr;
  NeuButton* analyze_ = nullptr;
  NeuButton* tighten_ = nullptr;
  NeuButton* generateVoice_ = nullptr;
  NeuButton* makeShort_ = nullptr;
  NeuButton* export_ = nullptr;
  QWidget* analyzeHint_ = nullptr;
  QWidget* previewStatus_ = nullptr;
  TimelineView* timeline_ = nullptr;
};

}  // namespace brisklet

#pragma once

#include <qcoro/qcorotask.h>

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <opencv2/core.hpp>
#include <optional>
#include <string>

#include "app/ProjectComposition.h"
#include "app/SoundOutput.h"
#include "media/Player.h"
#include "model/Project.h"
#include "model/ProjectStore.h"

namespace brisklet {

// Plays the open project's edit in the preview and publishes the playhead on both time axes: the
// timeline draws it on the source axis, the transport bar shows kept time. Edits rebuild the
// composition in the background; the newest finished build takes over at the same source moment
// and in the same play state. Main thread only.
class PlayerController : public QObject {
  Q_OBJECT

 public:
  // What a rebuild runs on a worker thread; tests slow it down.
  using PreviewBuild = std::function<CompositionResult(const Project&, const ProjectStore&)>;

  explicit PlayerController(const ProjectStore& store, PlayerOptions options = {},
                            PreviewBuild build = previewComposition, QObject* parent = nullptr);
  ~PlayerController() override;

  // Finds the project's source and builds its first item. A source that cannot be found is
  // logged ("PlayerController load failed: …") and leaves the player empty.
  void load(const Project& project);
  // Builds the edit of `project` again; only the latest call installs, and a build that fails
  // keeps the item that plays.
  void rebuild(const Project& project);
  void teardown();

  // The size, in device pixels, of the view the pictures are shown in; they are rendered to fit.
  void setViewSize(int width, int height);

  void play();
  void pause();
  void togglePlay();
  // Frame-exact: the picture at source time `sourceSec`; a dropped moment shows the next kept
  // one, a moment past the last the end of the edit.
  void seek(double sourceSec);
  void seekOutput(double outputSec);
  // To the start of the next (or this, or the previous) kept segment.
  void skipSegment(bool forward);
  // The editor's keys, on the output axis, each pausing first: `frames` frames on (negative:
  // back), landing on a frame's start; to the previous or next segment boundary; to the start or
  // the end of the edit.
  void stepFrames(int frames);
  void jumpToBoundary(bool forward);
  void jumpToEnd(bool end);
  // J and L (`direction` −1 and +1), by the rule of `shuttleRate`: forward at normal speed the
  // edit plays with its sound; any other speed moves the pictures alone, and stops at the start
  // or the end of the edit. K, a pause or a step stops it.
  void shuttle(int direction);
  // The shuttle's speed: 0 when it is still, 1 while the edit plays forward as usual.
  double shuttleSpeed() const { return shuttleRate_; }
  // How long one frame of the edit shows; 0 before it is built.
  double frameDurationSec() const;

  double currentSourceTime() const { return currentSourceTime_; }
  double currentKeptTime() const { return currentKeptTime_; }
  // The length of the edit; 0 while the plain source plays.
  double keptDuration() const { return keptDuration_; }
  bool isPlaying() const { return isPlaying_; }
  bool isReady() const { return isReady_; }
  // The picture on screen (BGR, at most the view's size) and its output time.
  const cv::Mat& picture() const { return picture_; }
  double pictureTimeSec() const { return pictureTimeSec_; }
  // Why the preview is not all there (a file gone, a source that cannot be read); empty when it is.
  const std::string& statusLine() const { return statusLine_; }
  const Player& player() const { return player_; }
  // Whether a sound device plays the sound (and paces the playhead).
  bool playsSound() const { return sound_ != nullptr; }
  int underruns() const;

 signals:
  void timeChanged();
  void isPlayingChanged();
  void isReadyChanged();
  void keptDurationChanged();
  void pictureChanged();
  void statusLineChanged();
  // A rebuild put its item into the player.
  void itemInstalled();

 private:
  QCoro::Task<> rebuildInBackground(Project project, std::uint64_t request);
  void measureWhenIdle();
  QCoro::Task<> measureLoudness(std::shared_ptr<const CompositionResult> result,
                                std::uint64_t request);
  void install(std::shared_ptr<const CompositionResult> result, bool isEdit,
               const std::string& missing);
  void showDuePicture();
  void publishTime();
  void setPlaying(bool playing);
  void setStatusLine(const std::string& line);
  void moveShuttle();
  void watchFilesOf(const CompositionResult& result);

  const ProjectStore& store_;
  const PreviewBuild build_;
  Player player_;
  std::unique_ptr<SoundOutput> sound_;
  QTimer pictureTimer_;
  QTimer timeObserver_;
  QTimer shuttleTimer_;
  QElapsedTimer shuttleClock_;
  double shuttleRate_ = 0;
  QFileSystemWatcher watcher_;

  std::optional<Project> project_;
  bool sourceFound_ = false;
  // The edit now playing; null while the plain source plays.
  std::shared_ptr<const CompositionResult> currentResult_;
  std::uint64_t rebuildRequests_ = 0;
  // The item installed last while its loudness is still to be measured, the wait before it is,
  // and what stops a measure under way.
  std::shared_ptr<const CompositionResult> unmeasured_;
  QTimer measureTimer_;
  std::stop_source measuring_;

  double currentSourceTime_ = 0;
  double currentKeptTime_ = 0;
  double keptDuration_ = 0;
  bool isPlaying_ = false;
  bool isReady_ = false;
  cv::Mat picture_;
  double pictureTimeSec_ = 0;
  std::string statusLine_;
};

}  // namespace brisklet

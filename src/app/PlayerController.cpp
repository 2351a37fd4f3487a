#include "app/PlayerController.h"

#include <QPointer>
#include <chrono>
#include <cmath>
#include <set>
#include <utility>

#include "app/LongCommand.h"
#include "app/ProjectComposition.h"
#include "media/CompositionWriter.h"
#include "media/PlayheadRules.h"
#include "media/SegmentTimeMapping.h"
#include "platform/Cancellation.h"
#include "platform/FileNames.h"
#include "platform/Log.h"

namespace brisklet {
namespace {

// Pictures not yet rendered are looked for this often.
constexpr int kPictureTickMs = 4;
// The playhead is published 30 times a second.
constexpr int kTimeObserverMs = 1000 / 30;
// The loudness of an edit is measured once it has stood this long with the preview paused.
constexpr std::chrono::milliseconds kMeasureSettleTime{1000};
// A shuttle away from normal speed seeks this often: about a picture per frame of the screen.
constexpr int kShuttleTickMs = 40;

// What the build left out because its file is gone, as the status line says it.
std::string missingFilesLine(const Project& project, const ProjectStore& store) {
  std::string line;
  const auto note = [&](const std::optional<std::string>& name, bool found, const char* what) {
    if (!name || found) return;
    line += std::string(line.empty() ? "" : " ") + what + " " + quotedFileName(*name) +
            " is missing; the preview plays without it.";
  };
  note(project.musicFileName, store.musicLocation(project).has_value(), "The music");
  note(project.denoisedAudioFileName, store.cleanAudioLocation(project).has_value(),
       "The enhanced sound");
  return line;
}

bool hasEdit(const Project& project) {
  return project.editPlan && !project.editPlan->segments.empty();
}

}  // namespace

PlayerController::PlayerController(const ProjectStore& store, PlayerOptions options,
                                   PreviewBuild build, QObject* parent)
    : QObject(parent),
      store_(store),
      build_(std::move(build)),
      player_(std::move(options)),
      sound_(SoundOutput::open(player_)) {
  pictureTimer_.setTimerType(Qt::PreciseTimer);
  pictureTimer_.setSingleShot(true);
  connect(&pictureTimer_, &QTimer::timeout, this, &PlayerController::showDuePicture);
  timeObserver_.setTimerType(Qt::PreciseTimer);
  timeObserver_.setInterval(kTimeObserverMs);
  connect(&timeObserver_, &QTimer::timeout, this, &PlayerController::publishTime);
  shuttleTimer_.setTimerType(Qt::PreciseTimer);
  shuttleTimer_.setInterval(kShuttleTickMs);
  connect(&shuttleTimer_, &QTimer::timeout, this, &PlayerController::moveShuttle);
  measureTimer_.setSingleShot(true);
  measureTimer_.setInterval(kMeasureSettleTime);
  connect(&measureTimer_, &QTimer::timeout, this, &PlayerController::measureWhenIdle);
  // A file the edit plays that is replaced or removed is read again, or left out, at once.
  connect(&watcher_, &QFileSystemWatcher::fileChanged, this, [this] {
    if (project_) rebuild(*project_);
  });
}

PlayerController::~PlayerController() { measuring_.request_stop(); }

void PlayerController::load(const Project& project) {
  project_ = project;
  try {
    store_.resolveVideoURL(project);
  } catch (const std::exception& error) {
    logLine(std::string("PlayerController load failed: ") + error.what());
    setStatusLine(std::string("The video cannot be played: ") + error.what());
    return;
  }
  sourceFound_ = true;
  rebuild(project);
  pictureTimer_.start();
  timeObserver_.start();
}

void PlayerController::rebuild(const Project& project) {
  project_ = project;
  if (!sourceFound_) return;
  rebuildInBackground(project, ++rebuildRequests_);
}

QCoro::Task<> PlayerController::rebuildInBackground(Project projectArgument,
                                                    std::uint64_t request) {
  const Project project = std::move(projectArgument);  // see runLongCommand on coroutine arguments
  QPointer<PlayerController> self(this);
  const ProjectStore* store = &store_;
  std::shared_ptr<const CompositionResult> result;
  // Named locals, not temporaries in the co_await operand: see runOnWorker.
  auto build = [project, store, builder = build_] {
    return std::make_shared<const CompositionResult>(builder(project, *store));
  };
  try {
    auto built = runOnWorker(std::move(build));
    result = co_await built;
  } catch (const std::exception& error) {
    if (!self || request != self->rebuildRequests_) co_return;
    logLine(std::string("Composition rebuild failed: ") + error.what());
    self->setStatusLine(std::string("The preview could not be updated: ") + error.what());
    co_return;
  }
  // A newer rebuild, or a teardown, supersedes this one.
  if (!self || request != self->rebuildRequests_) co_return;
  self->install(result, hasEdit(project), missingFilesLine(project, *store));

  // The preview plays at the gain the export will apply once the whole mix has been measured;
  // until then at the gain of the edit before, which is seldom far from it.
  self->measuring_.request_stop();
  self->unmeasured_ = result;
  self->measureTimer_.start();
}

// The measure runs while the edit stands still and the preview is paused, so it never competes
// with playback or with a run of quick edits; playing stops it, and it is tried again later.
void PlayerController::measureWhenIdle() {
  if (!unmeasured_) return;
  if (player_.isPlaying()) {
    measureTimer_.start();
    return;
  }
  auto task = measureLoudness(std::exchange(unmeasured_, nullptr), rebuildRequests_);
}

QCoro::Task<> PlayerController::measureLoudness(std::shared_ptr<const CompositionResult> result,
                                               std::uint64_t request) {
  QPointer<PlayerController> self(this);
  measuring_ = std::stop_source();
  auto measure = [result, stop = measuring_.get_token()] {
    const std::optional<double> target =
        result->audioMix ? result->audioMix->loudnessTargetLufs : std::nullopt;
    if (!target) return 1.0;
    return CompositionWriter::loudnessGain(
        CompositionWriter::measuredLoudness(result->composition, result->audioMix, stop), target);
  };
  double gain = 1;
  try {
    auto measured = runOnWorker(std::move(measure));
    gain = co_await measured;
  } catch (const Cancelled&) {
    // Stopped by playback: measured again once the preview pauses.
    if (self && request == self->rebuildRequests_ && !self->unmeasured_) {
      self->unmeasured_ = std::move(result);
      self->measureTimer_.start();
    }
    co_return;
  } catch (const std::exception&) {
    co_return;  // a sound that cannot be read is told by the player itself
  }
  if (!self || request != self->rebuildRequests_) co_return;
  self->player_.setSoundGain(gain);
}

void PlayerController::install(std::shared_ptr<const CompositionResult> result, bool isEdit,
                               const std::string& missing) {
  // The moment under the playhead now, not when the build began: playback went on meanwhile.
  const double position = player_.positionSec();
  const double resumeSource =
      currentResult_ ? sourceTime(currentResult_->mappings, position).value_or(position) : position;
  currentResult_ = isEdit ? result : nullptr;
  const double keptDuration = isEdit ? keptDurationSec(result->mappings) : 0;
  player_.setItem(result, isEdit ? seekTarget(result->mappings, resumeSource) : resumeSource);
  watchFilesOf(*result);
  if (keptDuration != keptDuration_) {
    keptDuration_ = keptDuration;
    emit keptDurationChanged();
  }
  if (!isReady_) {
    isReady_ = true;
    emit isReadyChanged();
  }
  setStatusLine(missing);
  publishTime();
  emit itemInstalled();
}

void PlayerController::teardown() {
  ++rebuildRequests_;
  pictureTimer_.stop();
  timeObserver_.stop();
  shuttleTimer_.stop();
  shuttleRate_ = 0;
  if (!watcher_.files().isEmpty()) watcher_.removePaths(watcher_.files());
  player_.setItem(nullptr);
  currentResult_.reset();
  sourceFound_ = false;
  setPlaying(false);
}

void PlayerController::play() {
  shuttleTimer_.stop();
  measuring_.request_stop();
  player_.play();
  setPlaying(player_.isPlaying());
  shuttleRate_ = player_.isPlaying() ? 1 : 0;
}

void PlayerController::pause() {
  shuttleTimer_.stop();
  shuttleRate_ = 0;
  player_.pause();
  setPlaying(false);
  publishTime();
}

void PlayerController::togglePlay() {
  if (player_.isPlaying())
    pause();
  else
    play();
}

void PlayerController::seek(double sourceSec) {
  seekOutput(currentResult_ ? seekTarget(currentResult_->mappings, sourceSec) : sourceSec);
}

void PlayerController::seekOutput(double outputSec) {
  player_.seek(outputSec);
  publishTime();
}

void PlayerController::skipSegment(bool forward) {
  if (!currentResult_) return;
  if (const auto target = skipTarget(currentResult_->mappings, player_.positionSec(), forward))
    seekOutput(*target);
}

double PlayerController::frameDurationSec() const {
  if (!currentResult_ || !currentResult_->videoComposition) return 0;
  return currentResult_->videoComposition->frameDuration.seconds();
}

void PlayerController::stepFrames(int frames) {
  if (!currentResult_) return;
  pause();
  seekOutput(
      frameStepTarget(player_.positionSec(), frames, frameDurationSec(), player_.durationSec()));
}

void PlayerController::jumpToBoundary(bool forward) {
  if (!currentResult_) return;
  pause();
  if (const auto target = boundaryTarget(currentResult_->mappings, player_.positionSec(), forward))
    seekOutput(*target);
}

void PlayerController::jumpToEnd(bool end) {
  if (!currentResult_) return;
  pause();
  seekOutput(end ? player_.durationSec() : 0.0);
}

void PlayerController::shuttle(int direction) {
  if (!currentResult_) return;
  const double now = shuttleTimer_.isActive() ? shuttleRate_ : (isPlaying_ ? 1 : 0);
  const double rate = shuttleRate(now, direction);
  if (rate == 1) {
    play();
    return;
  }
  pause();
  shuttleRate_ = rate;
  shuttleClock_.start();
  shuttleTimer_.start();
}

void PlayerController::moveShuttle() {
  const double elapsedSec = static_cast<double>(shuttleClock_.restart()) / 1000;
  const double end = player_.durationSec();
  const double target = std::clamp(player_.positionSec() + shuttleRate_ * elapsedSec, 0.0, end);
  seekOutput(target);
  if (target <= 0 || target >= end) pause();
}

int PlayerController::underruns() const {
  return player_.underruns() + (sound_ ? sound_->deviceUnderruns() : 0);
}

void PlayerController::setViewSize(int width, int height) {
  // Never below a thumbnail, never above what the sources hold (the renderer does not enlarge).
  player_.setViewBox({std::max(width, 160), std::max(height, 90)});
}

void PlayerController::showDuePicture() {
  if (std::optional<PlayerPicture> due = player_.pictureDue()) {
    picture_ = std::move(due->image);
    pictureTimeSec_ = due->timeSec;
    emit pictureChanged();
  }
  setPlaying(player_.isPlaying());
  if (const auto problem = player_.problem()) setStatusLine(*problem);
  // Woken when the next picture is due, so it shows on time; otherwise looked for again soon.
  const double untilNext = player_.secondsUntilNextPicture();
  pictureTimer_.start(
      untilNext < 0 ? kPictureTickMs
                    : std::min(kPictureTickMs, static_cast<int>(std::ceil(untilNext * 1000))));
}

void PlayerController::publishTime() {
  const double position = player_.positionSec();
  const double source =
      currentResult_ ? sourceTime(currentResult_->mappings, position).value_or(position) : position;
  if (position == currentKeptTime_ && source == currentSourceTime_) return;
  currentKeptTime_ = position;
  currentSourceTime_ = source;
  emit timeChanged();
}

void PlayerController::setPlaying(bool playing) {
  if (playing == isPlaying_) return;
  isPlaying_ = playing;
  emit isPlayingChanged();
}

void PlayerController::setStatusLine(const std::string& line) {
  if (line == statusLine_) return;
  statusLine_ = line;
  emit statusLineChanged();
}

void PlayerController::watchFilesOf(const CompositionResult& result) {
  std::set<std::filesystem::path> files;
  const auto add = [&](const std::optional<std::vector<TrackInsert>>& track) {
    if (track)
      for (const TrackInsert& insert : *track) files.insert(insert.file);
  };
  for (const TrackInsert& insert : result.composition.video) files.insert(insert.file);
  add(result.composition.mainAudio);
  add(result.composition.music);
  if (!watcher_.files().isEmpty()) watcher_.removePaths(watcher_.files());
  for (const std::filesystem::path& file : files)
    watcher_.addPath(QString::fromStdString(file.string()));
}

}  // namespace brisklet

#include "media/Player.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "media/platform/PictureConverter.h"
#include "platform/Cancellation.h"

namespace brisklet {
namespace {

// About half a second of sound is rendered ahead of the device.
constexpr std::size_t kSoundAheadFrames = Player::kSampleRate / 2;
constexpr std::size_t kSoundChunkFrames = 1024;
// How the playhead follows the device's reports: a tenth of the way at each, or all of it at once
// when it is further off than a device's burst could explain.
constexpr double kFollowRate = 0.1;
constexpr double kSnapSec = 0.08;

double steadyClockSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

Player::Player(PlayerOptions options)
    : options_([&] {
        if (!options.steadySeconds) options.steadySeconds = steadyClockSeconds;
        options.picturesAhead = std::max(1, options.picturesAhead);
        return options;
      }()),
      viewBox_(options_.viewBox),
      sound_(kSoundAheadFrames, kChannels),
      pictureThread_([this](std::stop_token stop) { renderPictures(stop); }),
      soundThread_([this](std::stop_token stop) { renderSound(stop); }) {}

Player::~Player() {
  {
    const std::lock_guard lock(mutex_);
    superseded_.request_stop();
  }
  pictureThread_.request_stop();
  soundThread_.request_stop();
}

double Player::now() const { return options_.steadySeconds(); }

void Player::setItem(std::shared_ptr<const CompositionResult> item, double atSec) {
  const std::lock_guard lock(mutex_);
  item_ = std::move(item);
  durationSec_ = item_ ? item_->composition.duration().seconds() : 0;
  problem_.reset();
  anchor(atSec);
}

std::shared_ptr<const CompositionResult> Player::item() const {
  const std::lock_guard lock(mutex_);
  return item_;
}

double Player::durationSec() const {
  const std::lock_guard lock(mutex_);
  return durationSec_;
}

void Player::play() {
  const std::lock_guard lock(mutex_);
  if (playing_ || !item_) return;
  const double at = anchorSec_ >= durationSec_ ? 0 : anchorSec_;
  if (at != anchorSec_) {
    anchor(at);
  } else {
    anchorSteadySec_ = now();
    // What the device still holds from before plays out first; the sound resumes exactly here.
    restartSoundLocked(at);
  }
  playing_ = true;
  changed_.notify_all();
}

void Player::pause() {
  const std::lock_guard lock(mutex_);
  if (!playing_) return;
  anchorSec_ = positionLocked();
  playing_ = false;
}

bool Player::isPlaying() const {
  const std::lock_guard lock(mutex_);
  return playing_;
}

void Player::seek(double outputSec) {
  const std::lock_guard lock(mutex_);
  anchor(outputSec);
}

double Player::positionSec() {
  const std::lock_guard lock(mutex_);
  return positionLocked();
}

double Player::positionLocked() {
  const double clock = clockLocked();
  if (clock < durationSec_) return std::max(anchorSec_, clock);
  anchorSec_ = durationSec_;
  playing_ = false;
  return durationSec_;
}

// While playback starts (the first picture or the first sound of a start or a seek is on its
// way), the clock stands before the anchor, so that no picture shows ahead of its sound.
double Player::clockLocked() const {
  constexpr double kStarting = -1;
  if (!playing_) return anchorSec_;
  if (waitingForPicture_) return anchorSec_ + kStarting;
  if (!soundDevice_) return anchorSec_ + (now() - anchorSteadySec_);
  if (framesPlayed_ == 0) return anchorSec_ + kStarting;
  // The steady clock kept in step with the device, never past the sound it was given.
  return anchorSec_ + std::min(now() - anchorSteadySec_ + correctionSec_,
                               static_cast<double>(framesPlayed_) / kSampleRate);
}

// Puts the playhead at `outputSec` and starts rendering both picture and sound from there.
void Player::anchor(double outputSec) {
  anchorSec_ = std::clamp(outputSec, 0.0, durationSec_);
  anchorSteadySec_ = now();
  superseded_.request_stop();
  superseded_ = std::stop_source();
  ++pictureGeneration_;
  pictureTargetSec_ = anchorSec_;
  pictures_.clear();
  picturesEnded_ = false;
  waitingForPicture_ = item_ && item_->videoComposition;
  restartSoundLocked(anchorSec_);
  changed_.notify_all();
}

void Player::restartSoundLocked(double outputSec) {
  ++soundGeneration_;
  soundTargetSec_ = outputSec;
  sound_.clear();
  soundEnded_ = false;
  framesPlayed_ = 0;
  changed_.notify_all();
}

std::optional<PlayerPicture> Player::pictureDue() {
  std::optional<PlayerPicture> due;
  const std::lock_guard lock(mutex_);
  positionLocked();  // pauses at the end
  const double clock = clockLocked();
  while (!pictures_.empty() && pictures_.front().timeSec <= clock + 1e-6) {
    if (due) ++dropped_;
    due = std::move(pictures_.front());
    pictures_.pop_front();
  }
  if (due) changed_.notify_all();
  return due;
}

double Player::secondsUntilNextPicture() const {
  const std::lock_guard lock(mutex_);
  const double clock = clockLocked();
  if (!playing_ || pictures_.empty() || clock < anchorSec_) return -1;
  return std::max(0.0, pictures_.front().timeSec - clock);
}

std::optional<PlayerPicture> Player::awaitPicture(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  const std::uint64_t generation = pictureGeneration_;
  changed_.wait_for(lock, timeout, [&] {
    return generation != pictureGeneration_ || !pictures_.empty() || picturesEnded_;
  });
  if (generation != pictureGeneration_ || pictures_.empty()) return std::nullopt;
  PlayerPicture picture = std::move(pictures_.front());
  pictures_.pop_front();
  changed_.notify_all();
  return picture;
}

void Player::setViewBox(PictureBox box) {
  const std::lock_guard lock(mutex_);
  if (box.width == viewBox_.width && box.height == viewBox_.height) return;
  viewBox_ = box;
  ++viewBoxChanges_;
  pictureTargetSec_ = positionLocked();
  superseded_.request_stop();
  superseded_ = std::stop_source();
  ++pictureGeneration_;
  pictures_.clear();
  picturesEnded_ = false;
  changed_.notify_all();
}

void Player::useSoundDevice() {
  const std::lock_guard lock(mutex_);
  if (soundDevice_) return;
  soundDevice_ = true;
  if (playing_) anchor(positionLocked());
}

void Player::pullSound(std::span<float> interleaved, double deviceBufferedSec) {
  const std::lock_guard lock(mutex_);
  std::size_t given = 0;
  if (playing_ && !waitingForPicture_) {
    given = sound_.read(interleaved);
    // Before the first sound after a seek or a start the playhead waits; that is no underrun.
    if (given * kChannels < interleaved.size() && !soundEnded_ && framesPlayed_ > 0) ++underruns_;
  }
  std::fill(interleaved.begin() + static_cast<std::ptrdiff_t>(given * kChannels), interleaved.end(),
            0.0f);
  if (given > 0) {
    // What the device has played of the sound since the anchor; it hears what it takes now once
    // the `deviceBufferedSec` it holds have played.
    const double heard = static_cast<double>(framesPlayed_) / kSampleRate - deviceBufferedSec;
    if (framesPlayed_ == 0) {
      anchorSteadySec_ = now() + deviceBufferedSec;
      correctionSec_ = 0;
    } else {
      // Devices take sound in uneven bursts: the playhead follows them smoothly, and jumps only
      // when it is far off (after the device stalled).
      const double error = heard - (now() - anchorSteadySec_ + correctionSec_);
      correctionSec_ += std::fabs(error) > kSnapSec ? error : kFollowRate * error;
    }
    changed_.notify_all();
  }
  framesPlayed_ += static_cast<std::int64_t>(given);
}

int Player::underruns() const {
  const std::lock_guard lock(mutex_);
  return underruns_;
}

int Player::droppedPictures() const {
  const std::lock_guard lock(mutex_);
  return dropped_;
}

std::optional<std::string> Player::problem() const {
  const std::lock_guard lock(mutex_);
  return problem_;
}

// The first picture of a seek (or the news that there is none) lets playback start.
void Player::pictureArrivedLocked() {
  if (waitingForPicture_) {
    waitingForPicture_ = false;
    anchorSteadySec_ = now();
  }
  changed_.notify_all();
}

void Player::renderPictures(std::stop_token stop) {
  std::shared_ptr<const CompositionResult> item;
  std::optional<VideoRenderer> renderer;
  std::uint64_t generation = 0;
  std::stop_token superseded;
  std::uint64_t viewBoxChanges = 0;
  bool ended = true;
  PictureConverter convert;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      if (!changed_.wait(lock, stop, [&] {
            return generation != pictureGeneration_ ||
                   (!ended && pictures_.size() < static_cast<std::size_t>(options_.picturesAhead));
          }))
        return;
      if (generation != pictureGeneration_) {
        generation = pictureGeneration_;
        superseded = superseded_.get_token();
        if (item != item_ || viewBoxChanges != viewBoxChanges_) {
          item = item_;
          viewBoxChanges = viewBoxChanges_;
          renderer.reset();
          if (item && item->videoComposition) {
            renderer.emplace(item->composition, item->videoComposition, 0, viewBox_);
            convert.setOriginalSize(item->videoComposition->renderWidth,
                                    item->videoComposition->renderHeight);
          }
        }
        ended = !renderer;
        if (renderer) renderer->seek(pictureTargetSec_);
        picturesEnded_ = ended;
        // An item without pictures is news too: whoever awaits a picture stops waiting.
        if (ended) pictureArrivedLocked();
      }
    }
    if (!renderer) continue;  // no item, or one without pictures: wait for the next
    try {
      const std::optional<RenderedPicture> rendered = renderer->next(superseded);
      std::optional<PlayerPicture> picture;
      if (rendered)
        picture = PlayerPicture{
            convert(*rendered->frame, {rendered->frame->width, rendered->frame->height}),
            rendered->timeSec};
      const std::lock_guard lock(mutex_);
      if (generation != pictureGeneration_) continue;
      if (picture)
        pictures_.push_back(std::move(*picture));
      else
        ended = picturesEnded_ = true;
      pictureArrivedLocked();
    } catch (const Cancelled&) {
      // A newer seek is waiting.
    } catch (const std::exception& error) {
      const std::lock_guard lock(mutex_);
      // The picture shown stays; the rest of this item is not rendered.
      ended = true;
      if (generation != pictureGeneration_) continue;
      picturesEnded_ = true;
      problem_ = error.what();
      pictureArrivedLocked();
    }
  }
}

void Player::setSoundGain(double gain) {
  const std::lock_guard lock(mutex_);
  soundGain_ = gain;
}

double Player::soundGain() const {
  const std::lock_guard lock(mutex_);
  return soundGain_;
}

void Player::renderSound(std::stop_token stop) {
  std::shared_ptr<const CompositionResult> item;
  std::optional<AudioRenderer> renderer;
  std::uint64_t generation = 0;
  bool ended = true;
  // After a failure the rest of the item is silence.
  bool silent = false;
  std::int64_t frame = 0;
  std::int64_t endFrame = 0;
  std::vector<float> chunk(kSoundChunkFrames * kChannels);
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      if (!changed_.wait(lock, stop, [&] {
            return generation != soundGeneration_ ||
                   (!ended && sound_.framesFree() >= kSoundChunkFrames);
          }))
        return;
      if (generation != soundGeneration_) {
        generation = soundGeneration_;
        if (item != item_) {
          item = item_;
          renderer.reset();
          silent = false;
          if (item) renderer.emplace(item->composition, item->audioMix, 0, soundGain_);
        }
        ended = !renderer;
        frame = std::llround(soundTargetSec_ * kSampleRate);
        endFrame = std::llround(durationSec_ * kSampleRate);
        if (renderer) renderer->seek(soundTargetSec_);
        soundEnded_ = ended;
      }
    }
    if (!renderer) continue;
    {
      const std::lock_guard lock(mutex_);
      renderer->setGain(soundGain_);
    }
    std::size_t rendered = 0;
    try {
      if (!silent) rendered = renderer->render(chunk);
    } catch (const std::exception& error) {
      silent = true;
      const std::lock_guard lock(mutex_);
      if (generation == soundGeneration_) problem_ = error.what();
    }
    if (silent) {
      rendered = static_cast<std::size_t>(
          std::clamp<std::int64_t>(endFrame - frame, 0, kSoundChunkFrames));
      std::fill(chunk.begin(), chunk.end(), 0.0f);
    }
    frame += static_cast<std::int64_t>(rendered);
    const std::lock_guard lock(mutex_);
    if (generation != soundGeneration_) continue;
    sound_.write(std::span<const float>(chunk).first(rendered * kChannels));
    if (rendered == 0) ended = soundEnded_ = true;
  }
}

}  // namespace brisklet

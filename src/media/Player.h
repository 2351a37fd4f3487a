#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <opencv2/core.hpp>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <thread>

#include "media/CompositionBuilder.h"
#include "media/SoundRing.h"
#include "media/platform/AudioRenderer.h"
#include "media/platform/Renderer.h"

namespace brisklet {

// A picture ready to show: BGR at the view's size, and the output time it belongs to.
struct PlayerPicture {
  cv::Mat image;
  double timeSec = 0;
};

struct PlayerOptions {
  // Pictures come out scaled down (never up) to fit this box.
  PictureBox viewBox{1280, 720};
  // How many pictures are rendered ahead of the one on screen.
  int picturesAhead = 4;
  // Seconds on a steady clock. It paces playback while no sound device does; tests replace it.
  std::function<double()> steadySeconds;
};

// Plays one edit at a time, the way export renders it. A video thread renders pictures ahead of
// the playhead and an audio thread keeps about half a second of mixed sound ready; the playhead
// follows the sound device's played position once one is attached, a steady clock otherwise. A
// picture is shown when the playhead reaches its time; one overtaken by a later picture is
// dropped, never shown late. A seek abandons whatever rendering it supersedes, so while the user
// scrubs only the latest position is rendered. Every method may be called from any thread.
class Player {
 public:
  static constexpr int kSampleRate = AudioRenderer::kSampleRate;
  static constexpr int kChannels = AudioRenderer::kChannels;

  explicit Player(PlayerOptions options = {});
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;
  ~Player();

  // Plays `item` from output time `atSec` on (frame-exact), playing or paused as before. None
  // empties the player.
  void setItem(std::shared_ptr<const CompositionResult> item, double atSec = 0);
  std::shared_ptr<const CompositionResult> item() const;
  // The length of the item on the output axis; 0 without one.
  double durationSec() const;

  // The master gain of the sound from now on (what an export's loudness target will apply);
  // it holds across items.
  void setSoundGain(double gain);
  double soundGain() const;

  // Pictures from now on fit this box (the view they are shown in): those ahead are drawn again
  // from where the playhead stands, while the sound and the clock go on.
  void setViewBox(PictureBox box);

  void play();
  void pause();
  bool isPlaying() const;
  // The next picture shown is the one at output time `outputSec`, or the last at or past the end.
  void seek(double outputSec);
  // The playhead on the output axis. Playback pauses by itself at the end.
  double positionSec();

  // The newest picture the playhead has reached that was not handed out yet; the pictures it
  // overtook are dropped.
  std::optional<PlayerPicture> pictureDue();
  // How long until the next rendered picture is due, in seconds; negative while paused, starting,
  // or with no picture rendered yet.
  double secondsUntilNextPicture() const;
  // Waits up to `timeout` for the picture of the latest seek (or item) and hands it out. None when
  // the time runs out or the picture cannot be rendered (see `problem`).
  std::optional<PlayerPicture> awaitPicture(std::chrono::milliseconds timeout);

  // From now on the sound device paces playback.
  void useSoundDevice();
  // Called by the sound device for its next samples (48 kHz, stereo, float), with how much of the
  // sound it took before it has not played yet. Silence while paused, past the end, or where the
  // sound was not rendered in time, which counts as an underrun.
  void pullSound(std::span<float> interleaved, double deviceBufferedSec);

  int underruns() const;
  int droppedPictures() const;
  // What stopped the picture or the sound, for the status line: a source that could not be read.
  std::optional<std::string> problem() const;

 private:
  double now() const;
  double positionLocked();
  double clockLocked() const;
  void pictureArrivedLocked();
  void anchor(double outputSec);
  void restartSoundLocked(double outputSec);
  void renderPictures(std::stop_token stop);
  void renderSound(std::stop_token stop);

  const PlayerOptions options_;
  mutable std::mutex mutex_;
  std::condition_variable_any changed_;

  std::shared_ptr<const CompositionResult> item_;
  double durationSec_ = 0;
  std::optional<std::string> problem_;

  // The playhead: where it stood when last anchored, and the clock readings since.
  bool playing_ = false;
  double anchorSec_ = 0;
  double anchorSteadySec_ = 0;
  bool soundDevice_ = false;
  // Sound handed to the device since the anchor, and how far its played position runs ahead of
  // the steady clock.
  std::int64_t framesPlayed_ = 0;
  double correctionSec_ = 0;

  // Pictures of the latest seek, in output order. Every seek or item change starts a new
  // generation and makes the one before it stop.
  std::uint64_t pictureGeneration_ = 0;
  double pictureTargetSec_ = 0;
  PictureBox viewBox_;
  // Counts the changes of the view box; the renderer is made again after one.
  std::uint64_t viewBoxChanges_ = 0;
  std::stop_source superseded_;
  std::deque<PlayerPicture> pictures_;
  bool picturesEnded_ = false;
  bool waitingForPicture_ = false;
  int dropped_ = 0;

  std::uint64_t soundGeneration_ = 0;
  double soundGain_ = 1;
  double soundTargetSec_ = 0;
  SoundRing sound_;
  bool soundEnded_ = false;
  int underruns_ = 0;

  std::jthread pictureThread_;
  std::jthread soundThread_;
};

}  // namespace brisklet

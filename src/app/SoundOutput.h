#pragma once

#include <QThread>
#include <atomic>
#include <memory>

namespace brisklet {

class Player;

// Plays a player's sound on the default output device. The device pulls the sound on a thread
// of its own, so a busy main thread never starves it, and its played position becomes the
// player's clock.
class SoundOutput {
 public:
  // None when there is no output device or it cannot play 48 kHz stereo floats; the player then
  // keeps its steady clock.
  static std::unique_ptr<SoundOutput> open(Player& player);
  SoundOutput(const SoundOutput&) = delete;
  SoundOutput& operator=(const SoundOutput&) = delete;
  // Stops the device before the player may go.
  ~SoundOutput();

  // How often the device ran dry (a stall of its own thread), besides the player's underruns.
  int deviceUnderruns() const { return deviceUnderruns_; }

 private:
  SoundOutput() = default;
  class Pump;
  QThread thread_;
  Pump* pump_ = nullptr;
  std::atomic<int> deviceUnderruns_ = 0;
};

}  // namespace brisklet

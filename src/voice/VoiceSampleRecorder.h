#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>

class QAudioFormat;
class QAudioSource;
class QIODevice;

namespace brisklet {

class WavWriter;

// The meter's reading of a stretch of sound: min(rms of the first channel × 6, 1); 0 for none.
// `interleaved` holds samples of `format` (16- or 32-bit integers, 32-bit floats, 8-bit unsigned).
double inputLevel(std::span<const std::byte> interleaved, const QAudioFormat& format);

// Records the user reading aloud, from the default input in its preferred format, into one WAV
// file (16-bit little-endian PCM at the input's rate and channel count). The sound goes to a
// hidden temporary beside the file and replaces it only when the recording ends with sound in
// it, also when the recorder is destroyed mid-way, so the previous sample stays until there is a
// new one. Recording stops by itself after 120 s, counted in 0.1 s ticks.
//
// The input hands its sound over late (the sound server holds up to a second), so a stop does
// not end the recording at once: the recorder goes on taking what the input still holds until
// the sound reaches the moment of the stop (exactly the longest length, when that ended it), and
// only then ends (`isRecording` false). No input device, or one that does not open, is shown as
// `permissionDenied` (Linux has no microphone permission to ask for). Main thread only.
class VoiceSampleRecorder : public QObject {
  Q_OBJECT

 public:
  inline static const char* const kUnavailableText =
      "Microphone unavailable. Connect a microphone and check your system's sound settings "
      "(Input).";
  inline static const char* const kNothingRecordedText =
      "No sound came from the input, so the previous sample was kept.";
  static constexpr double kLongestSec = 120;

  // The user's sample: applicationDataFolder()/Voice/voice_sample.wav.
  static std::filesystem::path defaultSamplePath();

  explicit VoiceSampleRecorder(std::filesystem::path sample = defaultSamplePath(),
                               QObject* parent = nullptr);
  ~VoiceSampleRecorder() override;

  const std::filesystem::path& samplePath() const { return sample_; }
  // Recordings stop by themselves after this long (at most, and by default, 120 s).
  void setLongestSec(double seconds);
  bool isRecording() const { return isRecording_; }
  double elapsedSec() const { return ticks_ / 10.0; }
  double level() const { return level_; }
  bool permissionDenied() const { return permissionDenied_; }

  // Why the last recording did not start or was not saved (the previous sample then stays);
  // none after one that was.
  const std::optional<std::string>& failure() const { return failure_; }

  // Stops a recording under way; otherwise starts one. A start that fails is logged as
  // "Recording failed to start: …" and its reason kept in failure().
  void toggle();
  // Ends the recording once the input has handed over the sound up to now (see above).
  void stop();
  // Ends the recording at once and throws away what it took: the file is left as it was.
  void abandon();

 signals:
  void isRecordingChanged();
  void elapsedSecChanged();
  void levelChanged();
  void permissionDeniedChanged();

 private:
  bool start();
  void readSound();
  void tick();
  // Stops taking sound once `frames` are written.
  void stopAt(std::uint64_t frames);
  // Ends the recording: keeps what was written when `keep` and there is some.
  void end(bool keep);
  void failWith(std::string reason);
  std::uint64_t longestFrames() const;
  // The frames heard from the first one up to `sec` on clock_, at most the longest length.
  std::uint64_t framesHeardBy(double sec) const;
  void setLevel(double level);
  void deny();

  std::filesystem::path sample_;
  std::unique_ptr<QAudioSource> source_;
  QIODevice* input_ = nullptr;  // owned by source_
  std::unique_ptr<WavWriter> writer_;
  std::unique_ptr<QAudioFormat> format_;
  QTimer timer_;
  QTimer drainLimit_;
  QElapsedTimer clock_;
  // When, on clock_, the first frame written was heard; known from the first sound handed over.
  std::optional<double> firstFrameSec_;
  std::optional<std::uint64_t> stopFrame_;
  // When, on clock_, a stop came before any sound did.
  std::optional<double> stoppedAtSec_;
  std::optional<std::string> failure_;
  int ticks_ = 0;
  int longestTicks_ = static_cast<int>(kLongestSec * 10);
  bool isRecording_ = false;
  double level_ = 0;
  bool permissionDenied_ = false;
};

}  // namespace brisklet

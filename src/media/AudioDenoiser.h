#pragma once

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <stop_token>
#include <string>

namespace brisklet {

class AudioDenoiserError : public std::runtime_error {
 public:
  enum class Case { noAudioTrack };

  static AudioDenoiserError noAudioTrack();
  Case which() const { return case_; }

 private:
  AudioDenoiserError(Case which, const std::string& description);
  Case case_;
};

namespace AudioDenoiser {

// (stage name, fraction done).
using Progress = std::function<void(const std::string& stage, double fraction)>;

// Makes the project's clean sound: the source video's sound, at 48 kHz in its own channels (more
// than two are mixed down to two), decoded straight from the video, with crystal clear through
// noise filtering and the speech equaliser, boosted by `gain` (clamped to 1…2) under a soft
// limiter whenever it is boosted or crystal clear, written as AAC at 192 kb/s to `output`
// (an .m4a). The result lines up with the source: its first sample is source time 0 and it lasts
// exactly as long as the source's sound. Stages: "Making the audio crystal clear…" or
// "Boosting volume…", with fractions from 0 to 1.
//
// Throws AudioDenoiserError (no sound) before anything is written, MediaError for
// a source that cannot be read or an output that cannot be written, std::invalid_argument for a
// gain that is not a number, and Cancelled when `stop` is requested. Any file at `output` is
// replaced only by a whole new one; a failure leaves it as it was.
void enhance(const std::filesystem::path& sourceVideo, const std::filesystem::path& output,
             bool crystalClear, double gain, const Progress& progress, std::stop_token stop = {});

}  // namespace AudioDenoiser
}  // namespace brisklet

#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "media/SegmentTimeMapping.h"
#include "media/platform/Asset.h"
#include "media/platform/Composition.h"
#include "model/EditPlan.h"
#include "model/OutputSettings.h"

namespace brisklet {

// An error of domain "Brisklet" with a code, as the builder's callers report it.
class BriskletError : public std::runtime_error {
 public:
  BriskletError(int code, const std::string& description)
      : std::runtime_error(description), code_(code) {}
  static constexpr const char* kDomain = "Brisklet";
  int code() const { return code_; }

 private:
  int code_;
};

// What the builder makes of a plan: the composition, its optional reframing and mix, where each
// kept segment lands, and the narration lines as captions, in output order.
struct CompositionResult {
  Composition composition;
  std::optional<VideoComposition> videoComposition;
  std::optional<AudioMix> audioMix;
  std::vector<SegmentTimeMapping> mappings;
  std::vector<Caption> captions;
};

namespace CompositionBuilder {

// Everything a build reads besides the plan.
struct Inputs {
  // Folder of the narration files; none: no narration.
  std::optional<std::filesystem::path> narrationDirectory;
  // The enhanced sound, used instead of the source's when it exists and has sound.
  std::optional<std::filesystem::path> cleanAudio;
  AspectRatio aspect = AspectRatio::original;
  TransitionStyle transition = TransitionStyle::none;
  std::optional<std::filesystem::path> music;
  // 1.0 is unity; clamped to 0.02…1.0.
  float musicVolume = 0.25f;
  // The integrated loudness an export is brought to, in LUFS; none: the mix as it is.
  std::optional<double> loudnessTargetLufs = -14.0;
  // The sound fades out over this at the end of the output.
  double soundFadeOutSec = 0.01;
  // Lay the pictures out (upright, at the render size) also in original framing without
  // transitions, where an export passes the source's own pictures through: what a preview or a
  // still shows.
  bool layOutPictures = false;
};

// The kept segments of `plan`, in source order, back to back, with reframing, dip-to-black,
// narration, the music bed and the ducking they call for. Throws BriskletError 1 "The video has
// no video track." and MediaError for files that cannot be read.
CompositionResult build(const EditPlan& plan, const Asset& source, const Inputs& inputs);

// Sorted by start; spans that start at most 0.6 s after the current one ends join it.
std::vector<std::pair<double, double>> mergeSpans(std::vector<std::pair<double, double>> spans);

}  // namespace CompositionBuilder
}  // namespace brisklet

#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "media/platform/MediaTime.h"

namespace brisklet {

// A stretch of time: from `start`, lasting `duration`.
struct TimeRange {
  MediaTime start;
  MediaTime duration;

  MediaTime end() const { return MediaTime{start.value + duration.value, start.timescale}; }
  bool operator==(const TimeRange&) const = default;
};

// A plane affine transform, x' = a·x + c·y + tx, y' = b·x + d·y + ty (pixels, y down).
struct AffineTransform {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

  static AffineTransform translation(double x, double y) { return {1, 0, 0, 1, x, y}; }
  static AffineTransform scale(double factor) { return {factor, 0, 0, factor, 0, 0}; }
  // The display matrix of a picture of `width` x `height` shown turned clockwise by
  // `degrees` (0, 90, 180, 270): the turned picture's corner lands at the origin.
  static AffineTransform rotation(int degrees, double width, double height);

  // This transform, then `next`.
  AffineTransform then(const AffineTransform& next) const;
  bool operator==(const AffineTransform&) const = default;
};

// The bounding box of the rectangle (0, 0, width, height) under `transform`.
struct Box {
  double x = 0, y = 0, width = 0, height = 0;
};
Box boundingBox(const AffineTransform& transform, double width, double height);

// One stretch of a file's stream placed on an output track.
struct TrackInsert {
  std::filesystem::path file;
  int streamIndex = -1;
  TimeRange source;
  MediaTime outputStart;

  bool operator==(const TrackInsert&) const = default;
};

// The kept picture and the sounds that go with it, on the output axis.
struct Composition {
  std::vector<TrackInsert> video;
  // How the source's picture stands upright (its display matrix).
  AffineTransform videoTransform;
  // Each sound track exists only when something plays on it.
  std::optional<std::vector<TrackInsert>> mainAudio;
  std::optional<std::vector<TrackInsert>> narration;
  std::optional<std::vector<TrackInsert>> music;

  // Where the picture ends.
  MediaTime pictureDuration() const;
  // The output's length: until the picture and every sound have ended. A narration line may run
  // past the last picture; the output then goes on in black until it ends.
  MediaTime duration() const;
};

// Opacity going linearly from `from` to `to` over `range`.
struct OpacityRamp {
  TimeRange range;
  double from = 1;
  double to = 1;
};

// A shift of the laid-out picture, in render pixels, at an output time: a crop window that
// moves over the picture.
struct PanKey {
  double timeSec = 0;
  double x = 0;
  double y = 0;
  bool operator==(const PanKey&) const = default;
};

// How the picture is laid out over a stretch of the output.
struct VideoInstruction {
  TimeRange range;
  AffineTransform transform;
  std::vector<OpacityRamp> opacityRamps;
  // Shifts applied after `transform`, linear between keys and held before the first and after
  // the last; none: the picture stays where `transform` puts it.
  std::vector<PanKey> pan{};
};

// The shift under `pan` at output time `seconds` (none when `pan` is empty).
AffineTransform panAt(const std::vector<PanKey>& pan, double seconds);

// Reframing and transitions: every output frame is renderWidth x renderHeight, one every
// frameDuration.
struct VideoComposition {
  int renderWidth = 0;
  int renderHeight = 0;
  MediaTime frameDuration{20, MediaTime::kDefaultTimescale};
  std::vector<VideoInstruction> instructions;
};

// Volume going linearly from `from` to `to` over `range`.
struct VolumeRamp {
  TimeRange range;
  float from = 1;
  float to = 1;
};

enum class MixedTrack { mainAudio, music };

// A level over time: `initialVolume` from time 0, then each ramp in turn; after a ramp the level
// stays at its end. Its ramps must not overlap.
struct VolumeEnvelope {
  float initialVolume = 1;
  std::vector<VolumeRamp> ramps;
};

// A track's volume: the product of its envelopes, each followed on its own, so that ramps of
// different kinds (a fade at the ends, a duck under narration) may overlap and both apply.
struct VolumeAutomation {
  MixedTrack track = MixedTrack::mainAudio;
  std::vector<VolumeEnvelope> envelopes;
};

// The volume of `automation` at output time `seconds`.
double volumeAt(const VolumeAutomation& automation, double seconds);

// The opacity at output time `seconds` under `ramps` (1 before the first).
double opacityAt(const std::vector<OpacityRamp>& ramps, double seconds);

struct AudioMix {
  std::vector<VolumeAutomation> inputs;
  // The output's sound rises from silence and falls back to it over these at its two ends.
  double fadeInSec = 0.01;
  double fadeOutSec = 0.01;
  // The integrated loudness an export is brought to, in LUFS; none: the mix as it is.
  std::optional<double> loudnessTargetLufs;
};

// A narration line on the output axis, where and as long as it sounds, for a text track.
struct Caption {
  double startSec = 0;
  double endSec = 0;
  std::string text;
  bool operator==(const Caption&) const = default;
};

}  // namespace brisklet

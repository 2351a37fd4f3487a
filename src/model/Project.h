#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/EditPlan.h"
#include "model/Iso8601.h"
#include "model/OutputSettings.h"
#include "model/Uuid.h"
#include "platform/Base64.h"

namespace brisklet {

// One vlog being edited: its source, its plan once analysed, its output and audio settings.
// Stored as "project.json" in a folder of its own (see ProjectStore).
struct Project {
  std::int64_t schemaVersion = 1;
  Uuid id;
  std::string name;
  ByteString videoBookmark;  // see platform/Bookmark.h
  double videoDurationSec = 0;
  Timestamp createdAt;
  std::optional<EditPlan> editPlan;
  // Plain file names inside the project folder.
  std::optional<std::string> denoisedAudioFileName;
  std::optional<bool> audioCrystalClear;
  std::optional<double> audioGainPercent;  // 100…200
  std::optional<std::string> aspectRatioRaw;
  std::optional<std::string> transitionStyleRaw;
  std::optional<std::string> musicFileName;
  std::optional<double> musicVolumePercent;  // 5…60
  std::optional<std::string> loudnessRaw;    // see LoudnessTarget

  bool operator==(const Project&) const = default;
};

inline constexpr double kDefaultMusicVolumePercent = 25;
inline constexpr double kMinimumMusicVolumePercent = 5;
inline constexpr double kMaximumMusicVolumePercent = 60;
inline constexpr double kDefaultAudioGainPercent = 100;

// What readers make of the optional settings when they are absent.
AspectRatio aspectRatio(const Project& project);
TransitionStyle transitionStyle(const Project& project);
LoudnessTarget loudnessTarget(const Project& project);
double musicVolumePercent(const Project& project);
// The music bed's gain handed to the composition: percent ÷ 100.
double musicVolumeFraction(const Project& project);
double audioGainPercent(const Project& project);
bool audioCrystalClear(const Project& project);

// A project as an import creates it: schema 1, a new id, created now, nothing else set.
Project makeProject(std::string name, ByteString videoBookmark, double videoDurationSec);

}  // namespace brisklet

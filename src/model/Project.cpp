#include "model/Project.h"

namespace brisklet {
namespace {

std::optional<std::string_view> viewOf(const std::optional<std::string>& text) {
  return text ? std::optional<std::string_view>(*text) : std::nullopt;
}

}  // namespace

AspectRatio aspectRatio(const Project& project) {
  return aspectRatioFromStored(viewOf(project.aspectRatioRaw));
}

TransitionStyle transitionStyle(const Project& project) {
  return transitionStyleFromStored(viewOf(project.transitionStyleRaw));
}

LoudnessTarget loudnessTarget(const Project& project) {
  return loudnessTargetFromStored(viewOf(project.loudnessRaw));
}

double musicVolumePercent(const Project& project) {
  return project.musicVolumePercent.value_or(kDefaultMusicVolumePercent);
}

double musicVolumeFraction(const Project& project) { return musicVolumePercent(project) / 100.0; }

double audioGainPercent(const Project& project) {
  return project.audioGainPercent.value_or(kDefaultAudioGainPercent);
}

bool audioCrystalClear(const Project& project) { return project.audioCrystalClear.value_or(false); }

Project makeProject(std::string name, ByteString videoBookmark, double videoDurationSec) {
  Project project;
  project.id = Uuid::random();
  project.name = std::move(name);
  project.videoBookmark = std::move(videoBookmark);
  project.videoDurationSec = videoDurationSec;
  // Records keep whole seconds; starting from one keeps the stored and the in-memory value equal.
  project.createdAt = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  return project;
}

}  // namespace brisklet

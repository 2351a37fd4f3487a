#include "app/ProjectComposition.h"

#include <cmath>

namespace brisklet {

CompositionBuilder::Inputs compositionInputs(const Project& project, const ProjectStore& store) {
  CompositionBuilder::Inputs inputs;
  inputs.narrationDirectory = store.projectDirectory(project.id) / "narration";
  inputs.cleanAudio = store.cleanAudioLocation(project);
  inputs.aspect = aspectRatioFromStored(project.aspectRatioRaw);
  inputs.transition = transitionStyleFromStored(project.transitionStyleRaw);
  inputs.loudnessTargetLufs = targetLufs(loudnessTarget(project));
  inputs.music = store.musicLocation(project);
  inputs.musicVolume =
      project.musicVolumePercent ? static_cast<float>(*project.musicVolumePercent / 100.0) : 0.25f;
  return inputs;
}

CompositionResult previewComposition(const Project& project, const ProjectStore& store) {
  const Asset source = Asset::open(store.resolveVideoURL(project));
  CompositionBuilder::Inputs inputs = compositionInputs(project, store);
  inputs.layOutPictures = true;
  if (project.editPlan && !project.editPlan->segments.empty())
    return CompositionBuilder::build(*project.editPlan, source, inputs);
  Segment whole;
  whole.id = project.id;
  whole.endSec = source.durationSec();
  EditPlan plan;
  plan.segments = {whole};
  return CompositionBuilder::build(plan, source, inputs);
}

namespace {

// Truncated; a stored value that is no number at all (a hand-edited record) reads as the default.
std::string wholePercent(double percent) {
  if (!std::isfinite(percent) || std::fabs(percent) > 1e9) percent = kDefaultMusicVolumePercent;
  return std::to_string(static_cast<long long>(percent));
}

}  // namespace

std::string settingsFingerprint(const Project& project) {
  const auto text = [](const std::optional<std::string>& value) { return value.value_or(""); };
  return std::to_string(project.editPlan ? project.editPlan->planRevision : -1) + "|" +
         text(project.denoisedAudioFileName) + "|" + text(project.aspectRatioRaw) + "|" +
         text(project.transitionStyleRaw) + "|" + text(project.musicFileName) + "|" +
         wholePercent(musicVolumePercent(project)) + "|" +
         std::string(rawValue(loudnessTarget(project)));
}

}  // namespace brisklet

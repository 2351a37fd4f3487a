#include "app/ProjectComposition.h"

namespace brisklet {

CompositionBuilder::Inputs compositionInputs(const Project& project, const ProjectStore& store) {
  CompositionBuilder::Inputs inputs;
  inputs.narrationDirectory = store.projectDirectory(project.id) / "narration";
  inputs.cleanAudio = store.cleanAudioLocation(project);
  inputs.aspect = aspectRatioFromStored(project.aspectRatioRaw);
  inputs.transition = transitionStyleFromStored(project.transitionStyleRaw);
  inputs.music = store.musicLocation(project);
  inputs.musicVolume =
      project.musicVolumePercent ? static_cast<float>(*project.musicVolumePercent / 100.0) : 0.25f;
  return inputs;
}

}  // namespace brisklet

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

}  // namespace brisklet

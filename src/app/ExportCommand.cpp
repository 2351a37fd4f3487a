#include "app/AppState.h"
#include "app/LongCommand.h"
#include "app/OutputDestination.h"
#include "media/CompositionExporter.h"

namespace brisklet {

namespace {

// What the preview and the export build from: the project's own files and settings.
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

}  // namespace

QCoro::Task<> AppState::exportProject(const Uuid& projectIDArgument,
                                      const std::filesystem::path& destinationArgument) {
  const Uuid projectID = projectIDArgument;  // see runLongCommand on coroutine arguments
  const std::filesystem::path destination = destinationArgument;
  const Project* found = project(projectID);
  if (found == nullptr || !found->editPlan) co_return;
  const Project project = *found;
  if (const std::optional<std::string> refusal = destinationRefusal(destination, project, store_)) {
    setLastError("Export refused: " + *refusal);
    co_return;
  }

  auto command = runLongCommand(
      *this, LongCommandSteps{"Exporting\u2026", "Export failed: ", 0.0},
      [project, destination, &store = store_](const ProgressReporter& report,
                                              std::stop_token stop) {
        const Asset source = Asset::open(store.resolveVideoURL(project));
        CompositionExporter::exportMovie(
            *project.editPlan, source, compositionInputs(project, store), destination,
            [&report](double fraction) { report("Exporting\u2026", fraction); }, std::move(stop));
        return destination;
      },
      [](AppState& state, const std::filesystem::path& written) { state.revealFile_(written); });
  co_await command;
}

}  // namespace brisklet

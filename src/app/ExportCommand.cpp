#include "app/AppState.h"
#include "app/LongCommand.h"
#include "app/OutputDestination.h"
#include "app/ProjectComposition.h"
#include "media/CompositionExporter.h"

namespace brisklet {

QCoro::Task<CommandOutcome> AppState::exportProject(
    const Uuid& projectIDArgument, const std::filesystem::path& destinationArgument) {
  const Uuid projectID = projectIDArgument;  // see runLongCommand on coroutine arguments
  const std::filesystem::path destination = withMovieExtension(destinationArgument);
  const ProjectToWrite found = projectToWrite(*this, projectID, destination, OutputKind::movie);
  if (!found.project) co_return found.refusal;
  const Project project = *found.project;
  if (auto refusal = claimDestination(*this, destination, projectID, "Export refused: "))
    co_return *refusal;
  QPointer<AppState> guard(this);

  auto command = runLongCommand(
      *this, LongCommandSteps{"Exporting\u2026", "Export failed: ", 0.0, projectID},
      [project, destination, &store = store_](const ProgressReporter& report,
                                              std::stop_token stop) {
        const Asset source = Asset::open(store.resolveVideoURL(project));
        CompositionExporter::exportMovie(
            *project.editPlan, source, compositionInputs(project, store), destination,
            [&report](double fraction) { report("Exporting\u2026", fraction); }, std::move(stop));
        return destination;
      },
      [](AppState& state, const std::filesystem::path& written) {
        state.revealFile_(written);
        return CommandOutcome::wrote(written);
      });
  CommandOutcome outcome = co_await command;
  if (guard) guard->releaseOutput(destination);
  co_return outcome;
}

}  // namespace brisklet

#include "app/AppState.h"
#include "app/LongCommand.h"
#include "app/OutputDestination.h"
#include "app/ProjectComposition.h"
#include "media/CompositionExporter.h"

namespace brisklet {

QCoro::Task<> AppState::exportProject(const Uuid& projectIDArgument,
                                      const std::filesystem::path& destinationArgument) {
  const Uuid projectID = projectIDArgument;  // see runLongCommand on coroutine arguments
  const std::filesystem::path destination = withMovieExtension(destinationArgument);
  const std::optional<Project> found =
      projectToWrite(*this, projectID, destination, OutputKind::movie);
  if (!found) co_return;
  const Project project = *found;
  if (!claimDestination(*this, destination, projectID, "Export refused: ")) co_return;
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
      [](AppState& state, const std::filesystem::path& written) { state.revealFile_(written); });
  co_await command;
  if (guard) guard->releaseOutput(destination);
}

}  // namespace brisklet

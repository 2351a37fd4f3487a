#include <stdexcept>

#include "app/AppState.h"
#include "app/LongCommand.h"
#include "app/OutputDestination.h"
#include "app/ProjectComposition.h"
#include "media/Captions.h"
#include "platform/OutputFile.h"

namespace brisklet {

QCoro::Task<CommandOutcome> AppState::exportCaptions(
    const Uuid& projectIDArgument, const std::filesystem::path& destinationArgument) {
  const Uuid projectID = projectIDArgument;  // see runLongCommand on coroutine arguments
  const std::filesystem::path destination = destinationArgument;
  const ProjectToWrite found = projectToWrite(*this, projectID, destination, OutputKind::captions);
  if (!found.project) co_return found.refusal;
  const Project project = *found.project;

  auto command = runLongCommand(
      *this, LongCommandSteps{"Writing captions\u2026", "Captions failed: ", -1.0, projectID},
      [project, destination, &store = store_](const ProgressReporter&, std::stop_token) {
        // The same composition the export writes, so the lines fall where the export puts them.
        const Asset source = Asset::open(store.resolveVideoURL(project));
        const CompositionResult result =
            CompositionBuilder::build(*project.editPlan, source, compositionInputs(project, store));
        // An empty file would pass for captions; nothing is written instead.
        if (result.captions.empty())
          throw std::runtime_error(
              "No narration line of the edit has audio to caption. Generate the voice first.");
        OutputFile output(destination);
        writeInto(subRipOf(result.captions), output);
        output.commit();
        return destination;
      },
      [](AppState& state, const std::filesystem::path& written) {
        state.revealFile_(written);
        return CommandOutcome::wrote(written);
      });
  CommandOutcome outcome = co_await command;
  co_return outcome;
}

}  // namespace brisklet

#include <algorithm>
#include <stdexcept>

#include "analysis/AIDirector.h"
#include "app/AppState.h"
#include "app/LongCommand.h"
#include "app/OutputDestination.h"
#include "app/ProjectComposition.h"
#include "app/ShortPlan.h"
#include "media/CompositionExporter.h"
#include "model/AppSettings.h"

namespace brisklet {
namespace {

const char* const kFailurePrefix = "Short creation failed: ";
// A Short stops wherever its thirty seconds run out, often mid-sentence: its sound ends softly.
constexpr double kShortSoundFadeOutSec = 0.5;

bool analysedWithTheModel(const Project& project) {
  return project.editPlan &&
         std::any_of(project.editPlan->segments.begin(), project.editPlan->segments.end(),
                     [](const Segment& segment) { return segment.sceneDescription.has_value(); });
}

}  // namespace

QCoro::Task<CommandOutcome> AppState::makeShort(const Uuid& projectIDArgument,
                                                const std::filesystem::path& destinationArgument,
                                                double targetSec) {
  const Uuid projectID = projectIDArgument;  // see runLongCommand on coroutine arguments
  const std::filesystem::path destination = withMovieExtension(destinationArgument);
  const Project* found = project(projectID);
  if (found == nullptr) co_return CommandOutcome::failed("The project is gone.");
  if (!analysedWithTheModel(*found))
    co_return tell(
        CommandOutcome::failed("Run Analyze (with your Anthropic key set) before making a Short."));
  const std::optional<std::string> key = serviceKey(KeychainStore::Key::anthropic);
  if (!key) co_return tell(CommandOutcome::failed("Add your Anthropic API key in Settings first."));
  if (const std::optional<std::string> refusal =
          destinationRefusal(destination, *found, store_, OutputKind::movie))
    co_return tell(CommandOutcome::failed(kFailurePrefix + *refusal));

  if (auto refusal = claimDestination(*this, destination, projectID, kFailurePrefix))
    co_return *refusal;
  QPointer<AppState> guard(this);

  // The Short is framed upright and carries no narration, whatever the project's own edit does.
  CompositionBuilder::Inputs inputs = compositionInputs(*found, store_);
  inputs.aspect = AspectRatio::vertical;
  inputs.narrationDirectory.reset();
  inputs.soundFadeOutSec = kShortSoundFadeOutSec;
  auto command = runLongCommand(
      *this, LongCommandSteps{"Directing your Short\u2026", kFailurePrefix, -1.0, projectID},
      [project = *found, inputs, destination, targetSec, &store = store_,
       client = AnthropicClient(*key, AppSettings::claudeModel())](
          const ProgressReporter& report,
          std::stop_token stop) -> std::optional<std::filesystem::path> {
        const std::vector<AIDirector::HighlightClip> clips =
            AIDirector::pickHighlights(*project.editPlan, targetSec, client, stop);
        if (clips.empty()) return std::nullopt;
        const EditPlan plan = shortPlan(*project.editPlan, clips, targetSec);
        if (plan.segments.empty())
          throw std::runtime_error(
              "None of the moments Claude picked lasts half a second inside its scene, so there "
              "is nothing to cut a Short from. Try again, or trim the scenes first.");
        const Asset source = Asset::open(store.resolveVideoURL(project));
        CompositionExporter::exportMovie(
            plan, source, inputs, destination,
            [&report](double fraction) { report("Exporting your Short\u2026", fraction); },
            std::move(stop));
        return destination;
      },
      [](AppState& state, const std::optional<std::filesystem::path>& written) {
        if (!written)
          return state.tell(
              CommandOutcome::failed("Claude couldn't find highlight-worthy moments."));
        state.revealFile_(*written);
        return CommandOutcome::wrote(*written);
      });
  CommandOutcome outcome = co_await command;
  if (guard) guard->releaseOutput(destination);
  co_return outcome;
}

}  // namespace brisklet

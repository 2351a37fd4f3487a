#include "analysis/AnalysisPipeline.h"
#include "app/AppState.h"
#include "app/LongCommand.h"
#include "app/StatusMessages.h"
#include "model/AppSettings.h"

namespace brisklet {

QCoro::Task<CommandOutcome> AppState::startAnalysis(const Uuid& projectIDArgument) {
  const Uuid projectID = projectIDArgument;  // see runLongCommand on coroutine arguments
  const Project* found = project(projectID);
  if (found == nullptr) co_return CommandOutcome::failed("The project is gone.");
  const Project project = *found;
  const std::optional<std::string> key = serviceKey(KeychainStore::Key::anthropic);
  const std::string model = AppSettings::claudeModel();

  auto command = runLongCommand(
      *this, LongCommandSteps{"Starting analysis…", "", -1.0, projectID},
      [project, key, model, &store = store_](const ProgressReporter& report, std::stop_token stop) {
        const std::filesystem::path source = store.resolveVideoURL(project);
        return AnalysisPipeline::run(
            source, key, model,
            [&report](const PipelineProgress& progress) {
              report(progress.stageName, progress.fraction);
            },
            std::move(stop));
      },
      [projectID, withoutKey = !key](AppState& state, EditPlan plan) {
        const bool stored = state.modifyProject(projectID, [&](Project& current) {
          // A re-analysis always moves the revision forward, so views rebuild.
          plan.planRevision = (current.editPlan ? current.editPlan->planRevision : 0) + 1;
          current.editPlan = plan;
        });
        if (!stored) return CommandOutcome::failed("The project is gone.");
        // Steps taken on the old plan do not apply to the new one.
        state.forgetHistory(projectID);
        state.setSelectedSegmentID(
            plan.segments.empty() ? std::nullopt : std::optional<Uuid>(plan.segments.front().id));
        if (withoutKey) return state.tell(CommandOutcome::doneSaying(kOnDeviceOnlyNotice));
        return CommandOutcome{};
      });
  CommandOutcome outcome = co_await command;
  co_return outcome;
}

}  // namespace brisklet

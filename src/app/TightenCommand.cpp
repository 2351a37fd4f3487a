#include <cstdio>

#include "app/AppState.h"
#include "app/LongCommand.h"
#include "media/ProjectSpeech.h"
#include "platform/TimeText.h"

namespace brisklet {
namespace {

// "1 pause", "23 pauses".
std::string pausesCount(size_t count) {
  return std::to_string(count) + (count == 1 ? " pause" : " pauses");
}

// "segment 3: 12.48–13.91 s (1.43 s)"
std::string pauseLine(size_t segmentNumber, const SourceSpan& pause) {
  char line[96];
  std::snprintf(line, sizeof line, "segment %zu: %.2f\u2013%.2f s (%.2f s)", segmentNumber,
                pause.startSec, pause.endSec, pause.durationSec());
  return line;
}

}  // namespace

QCoro::Task<CommandOutcome> AppState::tighten(const Uuid& projectIDArgument,
                                              const Tightening::Settings& settingsArgument,
                                              bool dryRun) {
  const Uuid projectID = projectIDArgument;  // see runLongCommand on coroutine arguments
  const Tightening::Settings settings = settingsArgument;
  const Project* found = project(projectID);
  if (found == nullptr) co_return CommandOutcome::failed("The project is gone.");
  if (!found->editPlan || found->editPlan->segments.empty())
    co_return tell(CommandOutcome::failed("Tighten failed: Analyze the video first."));

  auto command = runLongCommand(
      *this, LongCommandSteps{"Finding speech\u2026", "Tighten failed: ", -1.0, projectID},
      [project = *found, settings, &store = store_](const ProgressReporter&, std::stop_token stop) {
        const std::vector<SpeechActivity::SpeechSpan> speech =
            projectSpeech(project, store, std::move(stop));
        SetRemovedPauses edit;
        for (const Segment& segment : project.editPlan->segments)
          if (segment.keep)
            edit.segments.push_back(
                {segment.id, Tightening::pausesToRemove(segment, speech, settings)});
        return std::pair(project, edit);
      },
      [projectID, dryRun](AppState& state, std::pair<Project, SetRemovedPauses> found) {
        const auto& [project, edit] = found;
        size_t count = 0;
        double removedSec = 0;
        std::vector<std::string> details;
        for (const SegmentPauses& each : edit.segments) {
          size_t number = 0;
          while (project.editPlan->segments[number].id != each.segmentID) ++number;
          for (const SourceSpan& pause : each.pauses) {
            ++count;
            removedSec += pause.durationSec();
            details.push_back(pauseLine(number, pause));
          }
        }
        const std::string amount =
            pausesCount(count) + " (" + formatMinutesSeconds(removedSec) + ")";
        if (dryRun) {
          CommandOutcome outcome = CommandOutcome::doneSaying("Tighten would remove " + amount);
          outcome.details = std::move(details);
          return outcome;
        }
        const EditResult stored =
            state.makeEdit(projectID, edit, EditGesture::fresh("tighten", false));
        if (stored.failure) return CommandOutcome::failed(*stored.failure);
        return state.tell(CommandOutcome::doneSaying("Tighten removed " + amount));
      });
  CommandOutcome outcome = co_await command;
  co_return outcome;
}

}  // namespace brisklet

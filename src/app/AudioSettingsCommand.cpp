#include <algorithm>
#include <cmath>

#include "app/AppState.h"
#include "app/LongCommand.h"
#include "media/AudioDenoiser.h"

namespace brisklet {
namespace {

// Settings the user dragged to 100.5 % or less without crystal clear leave the sound alone.
constexpr double kUntouchedGainPercent = 100.5;

// The rendered sound is named after its settings, so settings used before cost nothing:
// "enhanced_cc_g150.m4a", "enhanced_raw_g130.m4a".
std::string enhancedAudioFileName(bool crystalClear, double gainPercent) {
  return std::string("enhanced_") + (crystalClear ? "cc" : "raw") + "_g" +
         std::to_string(static_cast<int>(gainPercent)) + ".m4a";
}

// The settings stored: done, or the failure the status line already tells.
CommandOutcome outcomeOf(const EditResult& stored) {
  return stored.failure ? CommandOutcome::failed(*stored.failure) : CommandOutcome{};
}

}  // namespace

QCoro::Task<CommandOutcome> AppState::applyAudioSettings(const Uuid& projectIDArgument,
                                                         bool crystalClear, double gainPercent) {
  const Uuid projectID = projectIDArgument;  // see runLongCommand on coroutine arguments
  const Project* found = project(projectID);
  if (found == nullptr) co_return CommandOutcome::failed("The project is gone.");
  // A render that ends after the user chose again must not undo the newer choice.
  const std::uint64_t request = ++audioSettingsRequests_[projectID];
  if (!std::isfinite(gainPercent))
    co_return tell(CommandOutcome::failed(
        "Audio enhancement failed: The volume boost must be a number from 100 to 200."));
  const double gain = std::clamp(gainPercent, 100.0, 200.0);
  if (!crystalClear && gain <= kUntouchedGainPercent)
    co_return outcomeOf(makeEdit(projectID, SetSound{}));

  // The settings are an edit of the user's: undo goes back to the sound there was, whose render
  // is still in the folder under its own name.
  const std::string name = enhancedAudioFileName(crystalClear, gain);
  const SetSound record{name, crystalClear, gain};
  // Renders are only ever renamed into place whole, so a file under the name is finished.
  const std::filesystem::path file = store_.projectDirectory(projectID) / name;
  std::error_code error;
  if (std::filesystem::exists(file, error)) co_return outcomeOf(makeEdit(projectID, record));

  auto command = runLongCommand(
      *this,
      LongCommandSteps{"Enhancing audio\u2026", "Audio enhancement failed: ", -1.0, projectID},
      [project = *found, file, crystalClear, gain, &store = store_](const ProgressReporter& report,
                                                                    std::stop_token stop) {
        AudioDenoiser::enhance(store.resolveVideoURL(project), file, crystalClear, gain / 100,
                               report, std::move(stop));
        return true;
      },
      [projectID, request, record](AppState& state, bool) {
        if (state.audioSettingsRequests_[projectID] != request) return CommandOutcome{};
        return outcomeOf(state.makeEdit(projectID, record));
      });
  CommandOutcome outcome = co_await command;
  co_return outcome;
}

}  // namespace brisklet

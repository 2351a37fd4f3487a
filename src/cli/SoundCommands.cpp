#include "app/ProjectLookup.h"
#include "cli/CliCommand.h"

namespace brisklet::cli {
namespace {

// Ends the command with the status line when the app state reported a failure.
void throwIfFailed(const AppState& state) {
  if (state.lastError()) throw CommandFailed(*state.lastError());
}

// Runs `start` (a command that leaves its outcome in the app state) on the project named first.
template <typename Start>
void runOnProject(Context& context, const std::string& name, Start&& start) {
  AppState& state = context.state;
  const Uuid id = findProject(state, name).id;
  state.setLastError(std::nullopt);
  runWithProgress(context, [&] { return start(state, id); });
  throwIfFailed(state);
}

// Runs the automatic pick and keeps what it gives: a coroutine of its own, since the pick's
// result outlives the task runWithProgress is handed.
QCoro::Task<> pickMusicInto(AppState& state, const Uuid& idArgument,
                            std::optional<std::string>& picked) {
  const Uuid id = idArgument;
  auto pick = state.autoPickMusic(id);
  picked = co_await pick;
}

}  // namespace

Command enhanceCommand() {
  return {"enhance", "enhance ID [--crystal-clear] [--gain PERCENT]",
          "renders the project's clean sound: voice isolation and speech EQ, a boost of 100-200 %",
          [](Context& context, Arguments arguments) {
            const ParsedArguments parsed =
                parseArguments(arguments, {"--crystal-clear"}, {"--gain"});
            if (parsed.positional.size() != 1) throw UsageError("enhance takes one project id");
            const std::optional<std::string> gain = parsed.value("--gain");
            const double percent = gain ? numberArgument(*gain, "--gain") : 100.0;
            if (percent < 100 || percent > 200)
              throw UsageError("--gain takes a boost from 100 to 200 percent");
            AppState& state = context.state;
            const Uuid id = findProject(state, parsed.positional[0]).id;
            runForOutcome(context, [&] {
              return state.applyAudioSettings(id, parsed.has("--crystal-clear"), percent);
            });
            return kSuccess;
          }};
}

Command musicCommand() {
  return {"music", "music ID --auto [--folder DIR]",
          "lets the model pick a track from the music folder (--folder sets it); prints its name",
          [](Context& context, Arguments arguments) {
            const ParsedArguments parsed = parseArguments(arguments, {"--auto"}, {"--folder"});
            if (parsed.positional.size() != 1 || !parsed.has("--auto"))
              throw UsageError("music takes one project id and --auto");
            AppState& state = context.state;
            const std::optional<std::string> folder = parsed.value("--folder");
            bool asked = false;
            state.setFolderChooser([&](const std::string&) -> std::optional<std::filesystem::path> {
              asked = true;
              if (folder) return std::filesystem::absolute(*folder);
              return std::nullopt;
            });
            if (folder && !state.chooseMusicFolder()) throwIfFailed(state);
            std::optional<std::string> picked;
            runOnProject(context, parsed.positional[0], [&](AppState& app, const Uuid& id) {
              return pickMusicInto(app, id, picked);
            });
            if (!picked && asked && !folder)
              throw UsageError("no music folder is remembered: choose one with --folder DIR");
            if (picked) context.out << *picked << "\n";
            return kSuccess;
          }};
}

}  // namespace brisklet::cli

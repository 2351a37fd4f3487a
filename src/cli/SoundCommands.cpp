#include "app/ProjectLookup.h"
#include "cli/CliCommand.h"

namespace brisklet::cli {

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
            if (folder) {
              const CommandOutcome chosen = state.chooseMusicFolder();
              if (!chosen.succeeded())
                throw CommandFailed(chosen.said.value_or("The music folder was not remembered."));
            }
            const Uuid id = findProject(state, parsed.positional[0]).id;
            const CommandOutcome picked =
                runForOutcome(context, [&] { return state.autoPickMusic(id); });
            if (!picked.chosen && asked && !folder)
              throw UsageError("no music folder is remembered: choose one with --folder DIR");
            if (picked.chosen) context.out << *picked.chosen << "\n";
            if (picked.chosen && picked.said) context.err << *picked.said << "\n";
            return kSuccess;
          }};
}

}  // namespace brisklet::cli

#include "cli/CliCommand.h"

namespace brisklet::cli {

Command importCommand() {
  return {"import", "import FILE... [--no-analyze]",
          "makes a project of a video, or of several clips merged in shooting order, and "
          "analyses it; prints the project's id",
          [](Context& context, Arguments arguments) {
            const ParsedArguments parsed = parseArguments(arguments, {"--no-analyze"});
            if (parsed.positional.empty()) throw UsageError("import takes at least one file");
            AppState& state = context.state;
            const std::vector<std::filesystem::path> files(parsed.positional.begin(),
                                                           parsed.positional.end());
            const CommandOutcome imported =
                runForOutcome(context, [&] { return state.importVideos(files, false); });
            if (!imported.made) throw CommandFailed("No project was made.");
            // The project stands either way; a failed analysis still fails the command.
            context.out << imported.made->text() << "\n";
            if (parsed.has("--no-analyze")) return kSuccess;
            const Uuid id = *imported.made;
            const CommandOutcome analysed =
                runForOutcome(context, [&] { return state.startAnalysis(id); });
            if (analysed.said) context.err << *analysed.said << "\n";
            return kSuccess;
          }};
}

}  // namespace brisklet::cli

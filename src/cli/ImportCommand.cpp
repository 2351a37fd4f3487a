#include "app/StatusMessages.h"
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
            state.setLastError(std::nullopt);
            const std::optional<Uuid> before = state.selectedProjectID();
            const bool analyze = !parsed.has("--no-analyze");
            const std::vector<std::filesystem::path> files(parsed.positional.begin(),
                                                           parsed.positional.end());
            runWithProgress(context, [&] { return state.importVideos(files, analyze); });
            const std::optional<Uuid> made = state.selectedProjectID();
            if (!made || made == before) throw CommandFailed(state.lastError().value_or(""));
            context.out << made->text() << "\n";
            const std::optional<std::string> status = state.lastError();
            if (!status) return kSuccess;
            context.err << *status << "\n";
            // The project stands either way; a failed analysis still fails the command.
            return *status == kOnDeviceOnlyNotice ? kSuccess : kFailed;
          }};
}

}  // namespace brisklet::cli

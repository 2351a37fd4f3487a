#include "app/ProjectLookup.h"
#include "cli/CliCommand.h"

namespace brisklet::cli {
namespace {

// `NAME ID -o FILE`: runs `write` for the project into FILE and prints the file's path.
Command writingCommand(std::string_view name, std::string_view synopsis,
                       std::string_view description,
                       QCoro::Task<> (AppState::*write)(const Uuid&, const std::filesystem::path&)) {
  return {name, synopsis, description, [name, write](Context& context, Arguments arguments) {
            if (arguments.size() != 3 || arguments[1] != "-o")
              throw UsageError(std::string(name) + " takes a project and -o FILE");
            AppState& state = context.state;
            const Project& project = findProject(state, arguments[0]);
            if (!project.editPlan) throw CommandFailed("The project has not been analysed yet.");
            const Uuid id = project.id;
            const std::filesystem::path destination = std::filesystem::absolute(arguments[2]);
            state.setFileRevealer([](const std::filesystem::path&) {});  // the path is printed
            state.setLastError(std::nullopt);
            runWithProgress(context, [&] { return (state.*write)(id, destination); });
            if (state.lastError()) throw CommandFailed(*state.lastError());
            context.out << destination.string() << "\n";
            return kSuccess;
          }};
}

}  // namespace

Command exportCommand() {
  return writingCommand("export", "export ID -o FILE",
                        "writes the edit to an MPEG-4 movie; prints the written file's path",
                        &AppState::exportProject);
}

Command captionsCommand() {
  return writingCommand(
      "captions", "captions ID -o FILE.srt",
      "the narration lines as SubRip captions where the export places them; prints the path",
      &AppState::exportCaptions);
}

}  // namespace brisklet::cli

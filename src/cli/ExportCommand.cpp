#include "app/ProjectLookup.h"
#include "cli/CliCommand.h"

namespace brisklet::cli {
namespace {

using Write = std::function<QCoro::Task<CommandOutcome>(AppState&, const Uuid&,
                                                        const std::filesystem::path&)>;

// `NAME ID -o FILE`: runs `write` for the project into FILE and prints the path of the file
// written (a movie's name may have been given its extension).
Command writingCommand(std::string_view name, std::string_view synopsis,
                       std::string_view description, Write write) {
  return {name, synopsis, description, [name, write](Context& context, Arguments arguments) {
            if (arguments.size() != 3 || arguments[1] != "-o")
              throw UsageError(std::string(name) + " takes a project and -o FILE");
            AppState& state = context.state;
            const Project& project = findProject(state, arguments[0]);
            if (!project.editPlan) throw CommandFailed("The project has not been analysed yet.");
            const Uuid id = project.id;
            const std::filesystem::path destination = std::filesystem::absolute(arguments[2]);
            // The file is told here, not shown in a file browser.
            state.setFileRevealer([](const std::filesystem::path&) {});
            const CommandOutcome outcome =
                runForOutcome(context, [&] { return write(state, id, destination); });
            if (!outcome.written) throw CommandFailed("Nothing was written.");
            context.out << outcome.written->string() << "\n";
            return kSuccess;
          }};
}

}  // namespace

Command exportCommand() {
  return writingCommand("export", "export ID -o FILE",
                        "writes the edit to an MPEG-4 movie; prints the written file's path",
                        [](AppState& state, const Uuid& id, const std::filesystem::path& file) {
                          return state.exportProject(id, file);
                        });
}

Command shortCommand() {
  return writingCommand("short", "short ID -o FILE",
                        "the model's best moments as a 30-second vertical Short; prints the path",
                        [](AppState& state, const Uuid& id, const std::filesystem::path& file) {
                          return state.makeShort(id, file);
                        });
}

Command captionsCommand() {
  return writingCommand(
      "captions", "captions ID -o FILE.srt",
      "the narration lines as SubRip captions where the export places them; prints the path",
      [](AppState& state, const Uuid& id, const std::filesystem::path& file) {
        return state.exportCaptions(id, file);
      });
}

}  // namespace brisklet::cli

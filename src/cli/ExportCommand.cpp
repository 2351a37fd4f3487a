#include "app/ProjectLookup.h"
#include "cli/CliCommand.h"

namespace brisklet::cli {

Command exportCommand() {
  return {"export", "export ID -o FILE",
          "writes the edit to an MPEG-4 movie; prints the written file's path",
          [](Context& context, Arguments arguments) {
            if (arguments.size() != 3 || arguments[1] != "-o")
              throw UsageError("export takes a project and -o FILE");
            AppState& state = context.state;
            const Project& project = findProject(state, arguments[0]);
            if (!project.editPlan) throw CommandFailed("The project has not been analysed yet.");
            const Uuid id = project.id;
            const std::filesystem::path destination = std::filesystem::absolute(arguments[2]);
            state.setFileRevealer([](const std::filesystem::path&) {});  // the path is printed
            state.setLastError(std::nullopt);
            runWithProgress(context, [&] { return state.exportProject(id, destination); });
            if (state.lastError()) throw CommandFailed(*state.lastError());
            context.out << destination.string() << "\n";
            return kSuccess;
          }};
}

}  // namespace brisklet::cli

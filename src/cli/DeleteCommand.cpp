#include "app/ProjectLookup.h"
#include "cli/CliCommand.h"

namespace brisklet::cli {

Command deleteCommand() {
  return {"delete", "delete ID", "deletes the project and its folder",
          [](Context& context, Arguments arguments) {
            const ParsedArguments parsed = parseArguments(arguments, {});
            if (parsed.positional.size() != 1) throw UsageError("delete takes one project id");
            // A copy: deleting removes the project from the list the reference points into.
            const Project project = findProject(context.state, parsed.positional[0]);
            context.state.setLastError(std::nullopt);
            context.state.deleteProject(project);
            if (context.state.lastError()) throw CommandFailed(*context.state.lastError());
            return kSuccess;
          }};
}

}  // namespace brisklet::cli

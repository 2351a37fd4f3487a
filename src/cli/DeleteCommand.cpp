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
            const CommandOutcome deleted = context.state.deleteProject(project);
            if (!deleted.succeeded())
              throw CommandFailed(deleted.said.value_or("The project was not deleted."));
            return kSuccess;
          }};
}

}  // namespace brisklet::cli

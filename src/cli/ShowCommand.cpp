#include "app/ProjectLookup.h"
#include "cli/CliCommand.h"
#include "platform/AtomicFile.h"

namespace brisklet::cli {

Command showCommand() {
  return {"show", "show ID", "one project's record as stored",
          [](Context& context, Arguments arguments) {
            const ParsedArguments parsed = parseArguments(arguments, {});
            if (parsed.positional.size() != 1) throw UsageError("show takes one project id");
            const Project& project = findProject(context.state, parsed.positional[0]);
            try {
              context.out << readFile(context.state.store().projectDirectory(project.id) /
                                      "project.json");
            } catch (const FileError& error) {
              throw CommandFailed(error.what());
            }
            return kSuccess;
          }};
}

}  // namespace brisklet::cli

#include "app/ProjectLookup.h"
#include "app/StillPicture.h"
#include "cli/CliCommand.h"

namespace brisklet::cli {

Command stillCommand() {
  return {"still", "still ID TIME -o FILE.png [--source]",
          "the picture the preview shows at output time TIME (source time with --source); prints "
          "the path",
          [](Context& context, Arguments arguments) {
            const ParsedArguments parsed = parseArguments(arguments, {"--source"});
            const std::vector<std::string>& rest = parsed.positional;
            if (rest.size() != 4 || rest[2] != "-o")
              throw UsageError("still takes a project, a time in seconds and -o FILE.png");
            const double timeSec = numberArgument(rest[1], "TIME");
            const Project& project = findProject(context.state, rest[0]);
            const std::filesystem::path destination = std::filesystem::absolute(rest[3]);
            try {
              writeStill(project, context.state.store(), timeSec, parsed.has("--source"), destination);
            } catch (const std::exception& failure) {
              throw CommandFailed(std::string("Still failed: ") + failure.what());
            }
            context.out << destination.string() << "\n";
            return kSuccess;
          }};
}

}  // namespace brisklet::cli

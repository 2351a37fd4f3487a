#include <algorithm>

#include "app/ProjectLookup.h"
#include "cli/CliCommand.h"
#include "model/NarrationFile.h"

namespace brisklet::cli {

Command narrateCommand() {
  return {
      "narrate", "narrate ID", "speaks the project's narration lines; prints k/n clips generated",
      [](Context& context, Arguments arguments) {
        const ParsedArguments parsed = parseArguments(arguments, {});
        if (parsed.positional.size() != 1) throw UsageError("narrate takes one project id");
        AppState& state = context.state;
        const Project& project = findProject(state, parsed.positional[0]);
        if (!project.editPlan) throw CommandFailed("The project has not been analysed yet.");
        const Uuid id = project.id;
        const auto waiting = [&] {
          const Project* now = state.project(id);
          if (now == nullptr || !now->editPlan) return std::size_t{0};
          return static_cast<std::size_t>(std::count_if(
              now->editPlan->segments.begin(), now->editPlan->segments.end(), needsNarrationAudio));
        };
        const size_t before = state.narrationClipsToMake(id);
        CommandOutcome outcome;
        try {
          outcome = runForOutcome(context, [&] { return state.generateNarrationAudio(id); });
        } catch (const CommandFailed&) {
          // What was made is told also when a line then failed: those clips are kept. A
          // project deleted meanwhile kept nothing.
          if (state.project(id) != nullptr)
            context.out << before - waiting() << "/" << before << " clips generated\n";
          throw;
        }
        context.out << before - waiting() << "/" << before << " clips generated\n";
        if (outcome.said) context.err << *outcome.said << "\n";
        return kSuccess;
      }};
}

}  // namespace brisklet::cli

#include "app/ProjectLookup.h"
#include "cli/CliCommand.h"

namespace brisklet::cli {
namespace {

// Seconds an option gives: a finite number from 0 to a minute.
double secondsOf(const std::string& text, const char* option) {
  const double seconds = numberArgument(text, option);
  if (seconds < 0 || seconds > 60)
    throw UsageError(std::string(option) + " takes seconds from 0 to 60");
  return seconds;
}

}  // namespace

Command tightenCommand() {
  return {"tighten", "tighten ID [--min-pause SECONDS] [--margin SECONDS[,SECONDS]] [--dry-run]",
          "removes the dead air between sentences down to the margins before and after speech "
          "(defaults 0.6 s, 0.15 s and 0.20 s); --dry-run prints the pauses it would remove",
          [](Context& context, Arguments arguments) {
            const ParsedArguments parsed =
                parseArguments(arguments, {"--dry-run"}, {"--min-pause", "--margin"});
            if (parsed.positional.size() != 1) throw UsageError("tighten takes one project id");
            Tightening::Settings settings;
            if (const auto shortest = parsed.value("--min-pause"))
              settings.shortestPauseSec = secondsOf(*shortest, "--min-pause");
            if (const auto margin = parsed.value("--margin")) {
              const size_t comma = margin->find(',');
              settings.marginBeforeSpeechSec = secondsOf(margin->substr(0, comma), "--margin");
              settings.marginAfterSpeechSec =
                  comma == std::string::npos ? settings.marginBeforeSpeechSec
                                             : secondsOf(margin->substr(comma + 1), "--margin");
            }
            AppState& state = context.state;
            const Uuid id = findProject(state, parsed.positional[0]).id;
            const CommandOutcome outcome = runForOutcome(
                context, [&] { return state.tighten(id, settings, parsed.has("--dry-run")); });
            for (const std::string& line : outcome.details) context.out << line << "\n";
            if (outcome.said) context.out << *outcome.said << "\n";
            return kSuccess;
          }};
}

}  // namespace brisklet::cli

#include "cli/CliCommand.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iostream>

#include "app/ProjectLookup.h"
#include "app/TerminationSignals.h"
#include "cli/ProgressPrinter.h"
#include "platform/StopAfter.h"

namespace brisklet::cli {
namespace {

std::vector<Command> allCommands() {
  return {listCommand(),       showCommand(),       deleteCommand(),   probeCommand(),
          analyzeCommand(),    importCommand(),     setCommand(),      tightenCommand(),
          exportCommand(),     narrateCommand(),    enhanceCommand(),  musicCommand(),
          shortCommand(),      stillCommand(),      captionsCommand(), voicesCommand(),
          cloneVoiceCommand(), recordVoiceCommand()};
}

void printUsage(std::ostream& stream) {
  stream << "usage: brisklet-cli COMMAND [ARGUMENTS]\n\ncommands:\n";
  // Descriptions stand in one column; a synopsis too long for its own has the line to itself.
  constexpr size_t kColumn = 20;
  for (const Command& command : allCommands()) {
    std::string synopsis(command.synopsis);
    if (synopsis.size() + 2 > kColumn)
      synopsis += "\n" + std::string(kColumn + 2, ' ');
    else
      synopsis.resize(kColumn, ' ');
    stream << "  " << synopsis << command.description << "\n";
  }
  stream << "\nA project is named by its id or any unique prefix of it.\n";
}

// ANTHROPIC_API_KEY and ELEVENLABS_API_KEY stand in front of the stored keys for one run; they
// are never written anywhere.
std::optional<std::string> keysForThisRun(KeychainStore::Key key) {
  const char* variable =
      key == KeychainStore::Key::anthropic ? "ANTHROPIC_API_KEY" : "ELEVENLABS_API_KEY";
  if (const char* value = std::getenv(variable); value != nullptr && *value != '\0')
    return std::string(value);
  // A keyring that asks to be unlocked is given the time to type a password, and no more.
  const StopAfter bound(std::chrono::seconds(30));
  return KeychainStore::get(key, bound.token());
}

// Starts a command of the app state and runs the event loop until it has ended; the progress is
// drawn on stderr meanwhile. Ctrl-C or SIGTERM cancels the commands and, once they have ended,
// throws Interrupted.
void runWithProgress(Context& context, const std::function<QCoro::Task<>()>& start) {
  AppState& state = context.state;
  std::optional<ProgressPrinter> printer(std::in_place, context.err, context.errIsTerminal);
  const auto connection = QObject::connect(&state, &AppState::pipelineProgressChanged, &state, [&] {
    if (state.pipelineProgress()) printer->report(*state.pipelineProgress());
  });
  std::optional<int> interruptedBy;
  {
    const TerminationSignals interruption([&](int signal) {
      interruptedBy = signal;
      state.cancelRunningCommands();
    });
    QCoro::waitFor(start());
  }
  QObject::disconnect(connection);
  printer.reset();  // ends a bar before any status line
  if (interruptedBy) throw Interrupted(*interruptedBy);
}

// Keeps the command's outcome: a coroutine of its own, since the outcome outlives the task
// runWithProgress is handed.
QCoro::Task<> keepOutcome(const std::function<QCoro::Task<CommandOutcome>()>& start,
                          CommandOutcome& outcome) {
  auto command = start();
  outcome = co_await command;
}

}  // namespace

CommandOutcome runForOutcome(Context& context,
                             const std::function<QCoro::Task<CommandOutcome>()>& start) {
  CommandOutcome outcome;
  runWithProgress(context, [&] { return keepOutcome(start, outcome); });
  if (outcome.ending == CommandOutcome::Ending::failed)
    throw CommandFailed(outcome.said.value_or("The command failed."));
  return outcome;
}

bool ParsedArguments::has(std::string_view flag) const {
  return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

std::optional<std::string> ParsedArguments::value(std::string_view option) const {
  std::optional<std::string> given;
  for (const auto& [name, text] : values)
    if (name == option) given = text;
  return given;
}

ParsedArguments parseArguments(Arguments arguments,
                               std::initializer_list<std::string_view> knownFlags,
                               std::initializer_list<std::string_view> valuedOptions) {
  ParsedArguments parsed;
  bool optionsEnded = false;
  for (auto argument = arguments.begin(); argument != arguments.end(); ++argument) {
    if (*argument == "--" && !optionsEnded) {
      optionsEnded = true;  // what follows are names, even "--json.mp4"
    } else if (argument->starts_with("--") && !optionsEnded) {
      if (std::find(valuedOptions.begin(), valuedOptions.end(), *argument) != valuedOptions.end()) {
        if (argument + 1 == arguments.end()) throw UsageError(*argument + " takes a value");
        parsed.values.emplace_back(*argument, *(argument + 1));
        ++argument;
        continue;
      }
      if (std::find(knownFlags.begin(), knownFlags.end(), *argument) == knownFlags.end())
        throw UsageError("unknown option " + *argument);
      parsed.flags.push_back(*argument);
    } else {
      parsed.positional.push_back(*argument);
    }
  }
  return parsed;
}

double numberArgument(const std::string& text, std::string_view option) {
  double number = 0;
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (failure != std::errc() || end != text.data() + text.size() || !std::isfinite(number))
    throw UsageError(std::string(option) + " takes a number, not \u201C" + text + "\u201D");
  return number;
}

int runCli(Arguments arguments, ProjectStore& store, std::ostream& out, std::ostream& err) {
  if (arguments.empty() || arguments[0] == "--help" || arguments[0] == "-h" ||
      arguments[0] == "help") {
    printUsage(arguments.empty() ? err : out);
    return arguments.empty() ? kUsage : kSuccess;
  }
  const std::string& name = arguments[0];
  const std::vector<Command> commands = allCommands();
  const auto command =
      std::find_if(commands.begin(), commands.end(),
                   [&](const Command& candidate) { return candidate.name == name; });
  if (command == commands.end()) {
    err << "brisklet-cli: \u201C" << name << "\u201D is not a command.\n\n";
    printUsage(err);
    return kUsage;
  }

  AppState state(store);
  state.setKeySource(keysForThisRun);
  Context context{state, out, err, &err == &std::cerr && isatty(STDERR_FILENO) == 1};
  try {
    return command->run(context, arguments.subspan(1));
  } catch (const UsageError& error) {
    err << "brisklet-cli " << command->name << ": " << error.what() << "\nusage: brisklet-cli "
        << command->synopsis << "\n";
    return kUsage;
  } catch (const ProjectLookupError& error) {
    err << error.what() << "\n";
    return kFailed;
  } catch (const CommandFailed& error) {
    err << error.what() << "\n";
    return kFailed;
  } catch (const Interrupted& error) {
    err << error.what() << "\n";
    return 128 + error.signal();
  }
}

}  // namespace brisklet::cli

#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/AppState.h"

namespace brisklet::cli {

// Exit codes of brisklet-cli.
inline constexpr int kSuccess = 0;
inline constexpr int kFailed = 1;  // the command failed; its status line is on stderr
inline constexpr int kUsage = 2;   // the call was wrong; the usage is on stderr

// The arguments do not fit the command; what() says how.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The command failed; what() is the status line the app would show.
class CommandFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The user stopped the command (Ctrl-C, SIGTERM): it was cancelled and removed what it had
// begun writing. brisklet-cli exits with 128 + the signal's number, as shells expect.
class Interrupted : public std::runtime_error {
 public:
  explicit Interrupted(int signal) : std::runtime_error("Interrupted."), signal_(signal) {}
  int signal() const { return signal_; }

 private:
  int signal_;
};

// What a command works with. stdout carries only the result so it can be piped; stderr carries
// progress, notices and failures.
struct Context {
  AppState& state;
  std::ostream& out;
  std::ostream& err;
  // Progress is drawn as a bar only for a person watching a terminal.
  bool errIsTerminal = false;
};

using Arguments = std::span<const std::string>;

struct Command {
  std::string_view name;
  std::string_view synopsis;     // e.g. "list [--json]"
  std::string_view description;  // one line
  // Throws UsageError or CommandFailed; returns the exit code otherwise.
  std::function<int(Context&, Arguments)> run;
};

// Runs `arguments` (without the program name) against the projects of `store`.
int runCli(Arguments arguments, ProjectStore& store, std::ostream& out, std::ostream& err);

// The commands, one file each (export, captions and short share one; enhance and music one).
Command listCommand();
Command showCommand();
Command deleteCommand();
Command probeCommand();
Command analyzeCommand();
Command importCommand();
Command setCommand();
Command exportCommand();
Command narrateCommand();
Command enhanceCommand();
Command musicCommand();
Command shortCommand();
Command stillCommand();
Command captionsCommand();
Command voicesCommand();
Command cloneVoiceCommand();
Command recordVoiceCommand();
Command tightenCommand();

// Starts a command of the app state and runs the event loop until it has ended; the progress is
// drawn on stderr meanwhile. Ctrl-C or SIGTERM cancels the commands and, once they have ended,
// throws Interrupted. A failure ends the tool with its sentence (CommandFailed); the outcome of
// any other ending is given back.
CommandOutcome runForOutcome(Context& context,
                             const std::function<QCoro::Task<CommandOutcome>()>& start);

// Splits `arguments` into flags it knows ("--json"), options it knows with their values
// ("--gain 150") and positional arguments; an unknown flag, or an option without its value, is a
// UsageError. After "--" every argument is positional, so a file may be named "--json.mp4".
struct ParsedArguments {
  std::vector<std::string> positional;
  std::vector<std::string> flags;
  std::vector<std::pair<std::string, std::string>> values;
  bool has(std::string_view flag) const;
  // The value given to `option` (the last, when given twice); none when it was not given.
  std::optional<std::string> value(std::string_view option) const;
};
ParsedArguments parseArguments(Arguments arguments,
                               std::initializer_list<std::string_view> knownFlags,
                               std::initializer_list<std::string_view> valuedOptions = {});
// `text`, the value of `option`, as a finite number; a UsageError names the option otherwise.
double numberArgument(const std::string& text, std::string_view option);

}  // namespace brisklet::cli

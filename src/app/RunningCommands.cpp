#include "app/RunningCommands.h"

#include <algorithm>

namespace brisklet {

CommandID RunningCommands::start(const PipelineProgress& first,
                                 const std::optional<Uuid>& projectID) {
  const CommandID id = nextID_++;
  commands_.push_back({id, projectID, std::stop_source(), first});
  return id;
}

namespace {

template <typename Commands>
auto* findIn(Commands& commands, CommandID id) {
  const auto found = std::find_if(commands.begin(), commands.end(),
                                  [id](const auto& command) { return command.id == id; });
  return found == commands.end() ? nullptr : &*found;
}

}  // namespace

std::stop_token RunningCommands::stopToken(CommandID id) const {
  const auto* command = findIn(commands_, id);
  return command == nullptr ? std::stop_token() : command->stop.get_token();
}

void RunningCommands::report(CommandID id, const PipelineProgress& progress) {
  if (auto* command = findIn(commands_, id)) command->progress = progress;
}

void RunningCommands::end(CommandID id) {
  std::erase_if(commands_, [id](const Command& command) { return command.id == id; });
}

void RunningCommands::stop(CommandID id) {
  if (auto* command = findIn(commands_, id)) command->stop.request_stop();
}

void RunningCommands::stopProject(const Uuid& projectID) {
  for (Command& command : commands_)
    if (command.projectID == projectID) command.stop.request_stop();
}

void RunningCommands::stopAll() {
  for (Command& command : commands_) command.stop.request_stop();
}

std::optional<CommandID> RunningCommands::shown() const {
  if (commands_.empty()) return std::nullopt;
  return commands_.front().id;
}

std::optional<PipelineProgress> RunningCommands::shownProgress() const {
  if (commands_.empty()) return std::nullopt;
  PipelineProgress progress = commands_.front().progress;
  progress.alsoRunning = static_cast<int>(commands_.size()) - 1;
  return progress;
}

}  // namespace brisklet

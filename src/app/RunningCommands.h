#pragma once

#include <cstdint>
#include <optional>
#include <stop_token>
#include <vector>

#include "model/PipelineProgress.h"
#include "model/Uuid.h"

namespace brisklet {

using CommandID = std::uint64_t;

// The long commands running now, in the order they started, each with its own stop and its
// latest progress. The progress panel names the oldest one, so the command its Cancel stops
// does not change under the pointer while the others report.
class RunningCommands {
 public:
  // A command on a project stops when the project is deleted.
  CommandID start(const PipelineProgress& first, const std::optional<Uuid>& projectID);
  std::stop_token stopToken(CommandID id) const;
  // A report of a command that has ended is ignored.
  void report(CommandID id, const PipelineProgress& progress);
  void end(CommandID id);

  void stop(CommandID id);
  void stopProject(const Uuid& projectID);
  void stopAll();

  // The oldest command, or none when nothing runs.
  std::optional<CommandID> shown() const;
  // Its progress, with the others counted.
  std::optional<PipelineProgress> shownProgress() const;
  bool empty() const { return commands_.empty(); }

 private:
  struct Command {
    CommandID id;
    std::optional<Uuid> projectID;
    std::stop_source stop;
    PipelineProgress progress;
  };
  std::vector<Command> commands_;
  CommandID nextID_ = 1;
};

}  // namespace brisklet

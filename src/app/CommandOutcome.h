#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "model/Uuid.h"

namespace brisklet {

// How a command ended, for a caller that acts on it (the command line): whether it did its work,
// failed or was cancelled, the file it wrote, the project it made or the item it chose, and what
// the status line said (why it failed, or a notice beside a success).
struct CommandOutcome {
  enum class Ending { done, failed, cancelled };
  Ending ending = Ending::done;
  std::optional<std::filesystem::path> written;
  std::optional<std::string> said;
  std::optional<Uuid> made;
  std::optional<std::string> chosen;
  // Lines the command line prints under what is said (the pauses a dry run would remove).
  std::vector<std::string> details;

  bool succeeded() const { return ending == Ending::done; }

  static CommandOutcome wrote(std::filesystem::path file) {
    CommandOutcome outcome;
    outcome.written = std::move(file);
    return outcome;
  }
  static CommandOutcome madeProject(const Uuid& project) {
    CommandOutcome outcome;
    outcome.made = project;
    return outcome;
  }
  static CommandOutcome chose(std::string item) {
    CommandOutcome outcome;
    outcome.chosen = std::move(item);
    return outcome;
  }
  static CommandOutcome failed(std::string sentence) {
    CommandOutcome outcome;
    outcome.ending = Ending::failed;
    outcome.said = std::move(sentence);
    return outcome;
  }
  static CommandOutcome doneSaying(std::string notice) {
    CommandOutcome outcome;
    outcome.said = std::move(notice);
    return outcome;
  }
  static CommandOutcome cancelled() {
    CommandOutcome outcome;
    outcome.ending = Ending::cancelled;
    return outcome;
  }
};

}  // namespace brisklet

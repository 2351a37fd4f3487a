#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "model/Uuid.h"

namespace brisklet {

// How a long command ended, for a caller that acts on it (the command line): whether it did its
// work, failed or was cancelled, the file it wrote or the project it made, and what the status
// line said (why it failed, or a notice beside a success).
struct CommandOutcome {
  enum class Ending { done, failed, cancelled };
  Ending ending = Ending::done;
  std::optional<std::filesystem::path> written;
  std::optional<std::string> said;
  std::optional<Uuid> made;

  static CommandOutcome wrote(std::filesystem::path file) {
    return {Ending::done, std::move(file), std::nullopt, std::nullopt};
  }
  static CommandOutcome madeProject(const Uuid& project) {
    return {Ending::done, std::nullopt, std::nullopt, project};
  }
  static CommandOutcome failed(std::string sentence) {
    return {Ending::failed, std::nullopt, std::move(sentence), std::nullopt};
  }
  static CommandOutcome doneSaying(std::string notice) {
    return {Ending::done, std::nullopt, std::move(notice), std::nullopt};
  }
  static CommandOutcome cancelled() {
    return {Ending::cancelled, std::nullopt, std::nullopt, std::nullopt};
  }
};

}  // namespace brisklet

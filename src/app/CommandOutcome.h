#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace brisklet {

// How a long command ended, for a caller that acts on it (the command line): whether it did its
// work, failed or was cancelled, the file it wrote, and what the status line said (why it failed,
// or a notice beside a success).
struct CommandOutcome {
  enum class Ending { done, failed, cancelled };
  Ending ending = Ending::done;
  std::optional<std::filesystem::path> written;
  std::optional<std::string> said;

  static CommandOutcome wrote(std::filesystem::path file) {
    return {Ending::done, std::move(file), std::nullopt};
  }
  static CommandOutcome failed(std::string sentence) {
    return {Ending::failed, std::nullopt, std::move(sentence)};
  }
  static CommandOutcome doneSaying(std::string notice) {
    return {Ending::done, std::nullopt, std::move(notice)};
  }
  static CommandOutcome cancelled() { return {Ending::cancelled, std::nullopt, std::nullopt}; }
};

}  // namespace brisklet

#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>

namespace brisklet {

// A media file that cannot be opened, read or decoded; what() is a sentence naming the file.
class MediaError : public std::runtime_error {
 public:
  explicit MediaError(const std::string& sentence, std::string reason = {})
      : std::runtime_error(sentence), reason_(std::move(reason)) {}
  // What went wrong in FFmpeg's words, without the file ("Invalid data found when processing
  // input"); empty when the sentence says it all.
  const std::string& reason() const { return reason_; }

 private:
  std::string reason_;
};

// "The file “name” could not be read: reason."
MediaError readError(const std::filesystem::path& file, const std::string& reason);

// "Brisklet could not write “name”: reason."
MediaError writeError(const std::filesystem::path& file, const std::string& reason);

// FFmpeg's text for an error code ("Invalid data found when processing input").
std::string describeAVError(int code);

}  // namespace brisklet

#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace brisklet {

// A media file that cannot be opened, read or decoded; what() is a sentence naming the file.
class MediaError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "Brisklet could not write “name”: reason."
MediaError writeError(const std::filesystem::path& file, const std::string& reason);

// FFmpeg's text for an error code ("Invalid data found when processing input").
std::string describeAVError(int code);

}  // namespace brisklet

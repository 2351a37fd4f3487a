#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

#include "model/Iso8601.h"

namespace brisklet {

class ClipMergerError : public std::runtime_error {
 public:
  enum class Case { noClips, noVideoTrack, cannotCreateSession };

  static ClipMergerError noClips();
  // Names the clip by its file name.
  static ClipMergerError noVideoTrack(const std::string& fileName);
  static ClipMergerError cannotCreateSession();

  Case which() const { return case_; }

 private:
  ClipMergerError(Case which, const std::string& description);
  Case case_;
};

namespace ClipMerger {

// How re-encoded merges are written.
struct Encoding {
  // Tried in order: HEVC keeps the most picture per byte; H.264 plays everywhere.
  std::vector<std::string> videoEncoders = {"libx265", "libx264"};
  int crf = 18;
  std::string preset = "superfast";
};

// When a clip was shot: the recording time the camera wrote into the container (or its video
// stream), else the file system's birth time; none when neither can be read. The file's own
// times alone would say when it was copied off the camera, not when it was shot.
std::optional<Timestamp> shootingTime(const std::filesystem::path& clip);

// The clips in shooting order, oldest first; a clip without a readable time comes first, and
// clips shot at the same time keep the order they were given in.
std::vector<std::filesystem::path> sortedByCreationDate(std::vector<std::filesystem::path> clips);

// Joins `clips`, in this order, into the QuickTime movie `output`. Every clip is shown whole in
// a frame of the first clip's shape (upright, even-sized) whose long side is the longest among
// the clips (at most 3840), centred with black bars; sound is kept, with
// silence for the length of a clip that has none, and the movie has no sound at all when no clip
// has any. Clips that all come from the same camera settings are joined without re-encoding.
// `progress` gets the fraction done about every 0.3 s, from the calling thread. Throws
// ClipMergerError, MediaError for clips that cannot be read or are no video to edit (see
// requireEditableVideo) and for a movie that cannot be written, and Cancelled when `stop` is
// requested; `output` is left as it was then (the movie is made under a hidden temporary name).
void merge(const std::vector<std::filesystem::path>& clips, const std::filesystem::path& output,
           const std::function<void(double)>& progress, std::stop_token stop = {},
           const Encoding& encoding = {});

}  // namespace ClipMerger
}  // namespace brisklet

#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "model/Iso8601.h"

namespace brisklet::ClipMerger {

// When a clip was shot: the recording time the camera wrote into the container (or its video
// stream), else the file system's birth time; none when neither can be read. The file's own
// times alone would say when it was copied off the camera, not when it was shot.
std::optional<Timestamp> shootingTime(const std::filesystem::path& clip);

// The clips in shooting order, oldest first; a clip without a readable time comes first, and
// clips shot at the same time keep the order they were given in.
std::vector<std::filesystem::path> sortedByCreationDate(std::vector<std::filesystem::path> clips);

}  // namespace brisklet::ClipMerger

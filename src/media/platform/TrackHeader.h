#pragma once

#include <filesystem>

namespace brisklet {

// Marks the `trackOrdinal`-th track (0 = the first) of the finished MPEG-4 movie at `movie` as one
// players leave off until the viewer picks it: the "enabled" flag of its track header is cleared.
// FFmpeg's muxer enables the first track of each kind when none is marked default, which for a
// lone caption track means players show the captions unasked. False when the movie has no such
// track or cannot be changed.
bool leaveTrackOff(const std::filesystem::path& movie, int trackOrdinal);

}  // namespace brisklet

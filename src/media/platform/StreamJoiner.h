#pragma once

#include <filesystem>
#include <functional>
#include <vector>

#include "media/platform/Asset.h"
#include "media/platform/MediaError.h"
#include "platform/OutputFile.h"

namespace brisklet {

// The clips' streams turned out not to line up after all (timestamps would run backwards);
// nothing usable was written.
class StreamJoinRefused : public MediaError {
 public:
  using MediaError::MediaError;
};

// Whether the clips' first video streams (and first audio streams, or none in every clip) were
// written with the same settings, in MP4 or QuickTime files, so that their packets can follow
// one another in one movie without re-encoding.
bool canJoinWithoutReencoding(const std::vector<Asset>& clips);

// Writes the clips' first video and audio streams end to end into the temporary of `output`,
// packet by packet: every frame stays exactly as it was. `progress` gets the fraction written so
// far. Committing `output` is the caller's.
void joinWithoutReencoding(const std::vector<Asset>& clips, const OutputFile& output,
                           const std::function<void(double)>& progress);

}  // namespace brisklet

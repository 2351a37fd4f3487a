#include "media/EditableVideo.h"

#include "media/platform/MediaError.h"
#include "media/platform/VideoFrameReader.h"
#include "platform/TimeText.h"

namespace brisklet {
namespace {

// Cameras never pause this long between two pictures of one recording; variable-rate phone
// clips stay well under a second.
constexpr double kLongestPictureGapSec = 10.0;

}  // namespace

void requireEditableVideo(const Asset& asset) {
  if (asset.videoTracks().empty())
    throw MediaError("The file " + asset.quotedName() + " has no video track.");
  if (asset.isStillPicture())
    throw MediaError("The file " + asset.quotedName() + " is a still picture, not a video.");
  if (VideoFrameReader(asset).next() == nullptr)
    throw MediaError("The file " + asset.quotedName() + " has no picture that can be decoded.");
  if (const auto gap = longestPictureGap(asset); gap && gap->second - gap->first > kLongestPictureGapSec)
    throw MediaError("The file " + asset.quotedName() +
                     " has a gap in its timestamps: its pictures jump from " +
                     formatMinutesSeconds(gap->first) + " to " + formatMinutesSeconds(gap->second) +
                     ".");
}

}  // namespace brisklet

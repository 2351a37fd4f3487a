#pragma once

#include <filesystem>

#include "media/platform/Asset.h"

namespace brisklet {

// Checks that `asset` is a video a project can be made of, and throws MediaError with a sentence
// naming the file when it is not: sound alone ("… has no video track."), a photo ("… is a still
// picture, not a video."), a video none of whose pictures decode ("… has no picture that can be
// decoded."), or one whose pictures jump across a long gap in time, as a damaged or doctored
// file's do ("… has a gap in its timestamps: its pictures jump from 0:01 to 600:01."). Such a
// file would give a project that can never be analysed or exported properly.
void requireEditableVideo(const Asset& asset);

}  // namespace brisklet

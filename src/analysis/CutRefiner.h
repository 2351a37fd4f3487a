#pragma once

#include <optional>
#include <vector>

#include "analysis/ShotDetector.h"
#include "media/platform/Asset.h"
#include "media/platform/PictureRun.h"

namespace brisklet::CutRefiner {

// Where a new shot starts among `pictures` (consecutive, in time order): the time of the picture
// after the one step between neighbours (in the shot detector's print distance) that stands
// out, at least three times every other step and plainly visible. None when the change is spread over several steps, as in a fade, a
// dissolve, a whip pan or a hand coming into the frame.
std::optional<double> standoutStep(const std::vector<TimedPicture>& pictures);

// The first picture of a new shot between `fromSec` and `toSec`, looked at frame by frame;
// none when no single step stands out. Throws MediaError when the video cannot be read.
std::optional<double> firstPictureOfNewShot(const Asset& asset, double fromSec, double toSec);

// A look from the pictures a decoder gave out on its way between two samples, where some were
// never decoded (those nothing refers to). It settles the question when the change is spread
// over several steps, or when the step that stands out lies between two pictures that follow
// each other directly (at most `frameSec` apart, with a little slack); none when only decoding
// every picture can tell which one starts the new shot.
std::optional<ShotDetector::CloserLook> settledLook(const std::vector<TimedPicture>& pictures,
                                                    double frameSec);

}  // namespace brisklet::CutRefiner

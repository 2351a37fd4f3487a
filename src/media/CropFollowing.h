#pragma once

#include <vector>

#include "model/EditPlan.h"

namespace brisklet::CropFollowing {

// Where a crop window lies along the axis it moves on at one source time: the share (0…1) of the
// picture's length before the window's start.
struct WindowKey {
  double sourceSec = 0;
  double start = 0;
  bool operator==(const WindowKey&) const = default;
};

enum class Axis { horizontal, vertical };

// The keys of a window `windowShare` of the picture long (0 < windowShare < 1) following the
// face of `path` along `axis` over [fromSec, toSec), as a camera operator would: it starts
// centred on the face, stays still while the face (with the head around it) moves inside a dead
// zone round the window's middle, so a detector's jitter never shakes the picture, and moves no
// faster than kGlideSharePerSec, setting off early enough to keep the face in view where that
// speed allows. The window never leaves the picture. Between keys it moves linearly; before the
// first and after the last it holds. Empty when the path has no face: the crop then stays
// centred. The whole path decides the window, so a piece cut from the middle of a scene frames it
// as the whole scene does.
std::vector<WindowKey> follow(const std::vector<FacePosition>& path, double windowShare, Axis axis,
                              double fromSec, double toSec);

// Fastest glide, in picture lengths per second: under 4 output pixels a frame at 30 fps in a
// 9:16 crop of 16:9 footage.
inline constexpr double kGlideSharePerSec = 0.03;

}  // namespace brisklet::CropFollowing

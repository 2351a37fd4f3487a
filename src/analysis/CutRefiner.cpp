#include "analysis/CutRefiner.h"

#include <algorithm>

#include "analysis/ShotDetector.h"

namespace brisklet::CutRefiner {
namespace {

// A hard cut changes one step this much more than any other step around it.
constexpr double kStandoutRatio = 3.0;
// Below this print distance no step counts as a cut, however quiet the rest is.
constexpr double kVisibleStep = 0.2;

}  // namespace

std::optional<double> standoutStep(const std::vector<TimedPicture>& pictures) {
  // Steps are measured with the shot detector's print, which a moving or shaking camera hardly
  // moves, so a shaky shot next to the cut does not hide it.
  double largest = 0, second = 0;
  std::optional<double> startsAt;
  std::optional<ShotDetector::FeaturePrint> previous;
  for (const TimedPicture& picture : pictures) {
    std::optional<ShotDetector::FeaturePrint> print = ShotDetector::featurePrint(picture.image);
    if (!print) continue;
    // Between two black pictures there is nothing to see, only noise in the dark (the end of a
    // fade reaching full black jumps in the print).
    if (previous && !(previous->black && print->black)) {
      const double step = ShotDetector::distance(*previous, *print);
      if (step > largest) {
        second = largest;
        largest = step;
        startsAt = picture.timeSec;
      } else {
        second = std::max(second, step);
      }
    }
    previous = std::move(print);
  }
  if (!startsAt || largest < kVisibleStep || largest < kStandoutRatio * second) return std::nullopt;
  return startsAt;
}

std::optional<double> firstPictureOfNewShot(const Asset& asset, double fromSec, double toSec) {
  return standoutStep(picturesBetween(asset, fromSec, toSec, ShotDetector::kWorkingSize));
}

}  // namespace brisklet::CutRefiner

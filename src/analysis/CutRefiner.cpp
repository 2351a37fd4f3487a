#include "analysis/CutRefiner.h"

#include <algorithm>

#include "analysis/ShotDetector.h"

namespace brisklet::CutRefiner {
namespace {

// A hard cut changes one step this much more than any other step around it.
constexpr double kStandoutRatio = 3.0;
// Below this print distance no step counts as a cut, however quiet the rest is.
constexpr double kVisibleStep = 0.2;

// Fewer pictures than this cannot show a change spread over several steps.
constexpr size_t kFewestPicturesToSettle = 3;
// Pictures this share of a frame further apart than one frame still follow each other directly
// (timestamps are rounded).
constexpr double kFrameSlack = 0.5;

// The index of the picture after the step that stands out, if one does.
std::optional<size_t> standoutIndex(const std::vector<TimedPicture>& pictures) {
  // Steps are measured with the shot detector's print, which a moving or shaking camera hardly
  // moves, so a shaky shot next to the cut does not hide it.
  double largest = 0, second = 0;
  std::optional<size_t> after;
  std::optional<ShotDetector::FeaturePrint> previous;
  for (size_t index = 0; index < pictures.size(); ++index) {
    std::optional<ShotDetector::FeaturePrint> print = ShotDetector::featurePrint(pictures[index].image);
    if (!print) continue;
    // Between two black pictures there is nothing to see, only noise in the dark (the end of a
    // fade reaching full black jumps in the print).
    if (previous && !(previous->black && print->black)) {
      const double step = ShotDetector::distance(*previous, *print);
      if (step > largest) {
        second = largest;
        largest = step;
        after = index;
      } else {
        second = std::max(second, step);
      }
    }
    previous = std::move(print);
  }
  if (!after || largest < kVisibleStep || largest < kStandoutRatio * second) return std::nullopt;
  return after;
}

}  // namespace

std::optional<double> standoutStep(const std::vector<TimedPicture>& pictures) {
  const std::optional<size_t> after = standoutIndex(pictures);
  if (!after) return std::nullopt;
  return pictures[*after].timeSec;
}

std::optional<ShotDetector::CloserLook> settledLook(const std::vector<TimedPicture>& pictures,
                                                    double frameSec) {
  const std::optional<size_t> after = standoutIndex(pictures);
  if (!after) {
    if (pictures.size() < kFewestPicturesToSettle) return std::nullopt;
    return ShotDetector::CloserLook{};
  }
  const double gap = pictures[*after].timeSec - pictures[*after - 1].timeSec;
  if (!(frameSec > 0) || gap > (1 + kFrameSlack) * frameSec) return std::nullopt;
  return ShotDetector::CloserLook{pictures[*after].timeSec};
}

std::optional<double> firstPictureOfNewShot(const Asset& asset, double fromSec, double toSec) {
  return standoutStep(picturesBetween(asset, fromSec, toSec, ShotDetector::kWorkingSize));
}

}  // namespace brisklet::CutRefiner

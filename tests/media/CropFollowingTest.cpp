#include <gtest/gtest.h>

#include <cmath>

#include "media/CropFollowing.h"

namespace brisklet {
namespace {

// A crop window follows a face as a camera operator would: it sits still while the face only
// wavers, glides no faster than its limit once the face has moved away, and never leaves the
// picture.

using CropFollowing::Axis;
using CropFollowing::WindowKey;

constexpr double kWindow = 0.3;

FacePosition faceAt(double timeSec, double centreX, double width = 0.1) {
  return {timeSec, centreX - width / 2, 0.3, width, 0.2};
}

// The window's start at `seconds`, linear between keys and held outside them.
double startAt(const std::vector<WindowKey>& keys, double seconds) {
  if (seconds <= keys.front().sourceSec) return keys.front().start;
  for (size_t index = 1; index < keys.size(); ++index)
    if (seconds <= keys[index].sourceSec) {
      const WindowKey& before = keys[index - 1];
      const WindowKey& after = keys[index];
      return before.start + (after.start - before.start) * (seconds - before.sourceSec) /
                                (after.sourceSec - before.sourceSec);
    }
  return keys.back().start;
}

TEST(CropFollowing, NoFaceLeavesTheCropCentred) {
  EXPECT_TRUE(CropFollowing::follow({}, kWindow, Axis::horizontal, 0, 10).empty());
}

TEST(CropFollowing, AWaveringFaceHoldsTheWindowStillOnIt) {
  std::vector<FacePosition> path;
  for (int sample = 0; sample < 40; ++sample)
    path.push_back(faceAt(sample * 0.5, 0.33 + 0.02 * std::sin(sample * 1.7)));
  const auto keys = CropFollowing::follow(path, kWindow, Axis::horizontal, 0, 20);
  ASSERT_FALSE(keys.empty());
  for (const WindowKey& key : keys) EXPECT_DOUBLE_EQ(key.start, keys.front().start);
  EXPECT_NEAR(keys.front().start + kWindow / 2, 0.33, 1e-9) << "on the first face";
}

TEST(CropFollowing, AFaceThatMovesAwayIsFollowedAtABoundedSpeedSettingOffInTime) {
  std::vector<FacePosition> path;
  for (int sample = 0; sample < 60; ++sample)
    path.push_back(faceAt(sample * 0.5, sample < 10 ? 0.3 : 0.6));
  const auto keys = CropFollowing::follow(path, kWindow, Axis::horizontal, 0, 30);
  double previous = startAt(keys, 0);
  for (double seconds = 0.04; seconds < 30; seconds += 0.04) {
    const double now = startAt(keys, seconds);
    EXPECT_LE(std::abs(now - previous), CropFollowing::kGlideSharePerSec * 0.04 + 1e-9);
    EXPECT_GE(now, 0);
    EXPECT_LE(now + kWindow, 1 + 1e-12);
    previous = now;
  }
  EXPECT_NEAR(startAt(keys, 0), 0.3 - kWindow / 2, 1e-9) << "centred on the first face";
  // The dead zone reaches a quarter of the window either side of its middle.
  const double deadZone = kWindow / 4;
  EXPECT_NEAR(startAt(keys, 4.5), 0.3 - kWindow / 2 + deadZone, 1e-9)
      << "at the far side of the dead zone when the face moves";
  EXPECT_LT(startAt(keys, 2), startAt(keys, 4.5)) << "set off before the face moved";
  EXPECT_NEAR(startAt(keys, 30), 0.6 - kWindow / 2 - deadZone, 1e-9)
      << "only as far as brings the face back inside the dead zone";
}

TEST(CropFollowing, TheWindowStaysInsideThePictureAtItsEdges) {
  const auto keys = CropFollowing::follow({faceAt(0, 0.02, 0.04), faceAt(5, 0.98, 0.04)}, kWindow,
                                          Axis::horizontal, 0, 100);
  EXPECT_DOUBLE_EQ(keys.front().start, 0) << "the first face comes first";
  EXPECT_NEAR(keys.back().start, 1 - kWindow, 1e-9) << "and the window goes on to the last";
}

TEST(CropFollowing, APieceOfASceneIsFramedAsTheWholeSceneFramesIt) {
  const std::vector<FacePosition> path{faceAt(0, 0.2), faceAt(1, 0.2), faceAt(2, 0.7),
                                       faceAt(3, 0.7), faceAt(4, 0.7)};
  const auto whole = CropFollowing::follow(path, kWindow, Axis::horizontal, 0, 60);
  const auto piece = CropFollowing::follow(path, kWindow, Axis::horizontal, 1.5, 4);
  ASSERT_FALSE(piece.empty());
  EXPECT_EQ(piece.front().sourceSec, 1.5);
  for (double seconds = 1.5; seconds < 4; seconds += 0.1)
    EXPECT_NEAR(startAt(piece, seconds), startAt(whole, seconds), 1e-9) << seconds;
  EXPECT_LE(piece.back().sourceSec, 4);
}

}  // namespace
}  // namespace brisklet

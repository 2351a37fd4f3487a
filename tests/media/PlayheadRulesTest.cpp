#include <gtest/gtest.h>

#include "media/PlayheadRules.h"

namespace brisklet {
namespace {

SegmentTimeMapping mapping(double sourceStartSec, double compositionStartSec, double durationSec) {
  return {Uuid::random(), sourceStartSec, compositionStartSec, durationSec};
}

TEST(PlayheadRules, ASeekLandsOnTheMomentOrTheNextKeptOne) {
  EXPECT_DOUBLE_EQ(seekTarget({mapping(5, 12, 5)}, 7.2), 14.2);
  // Kept: source 2–5 at output 0, 9–12 at output 3.
  const std::vector<SegmentTimeMapping> mappings = {mapping(2, 0, 3), mapping(9, 3, 3)};
  EXPECT_DOUBLE_EQ(seekTarget(mappings, 1.0), 0.0) << "before the first kept moment";
  EXPECT_DOUBLE_EQ(seekTarget(mappings, 7.0), 3.0) << "a dropped stretch: the next segment";
  EXPECT_DOUBLE_EQ(seekTarget(mappings, 12.5), 6.0) << "past the last: the end of the edit";
  EXPECT_DOUBLE_EQ(seekTarget({}, 4.0), 0.0);
}

TEST(PlayheadRules, SkipsGoToSegmentStartsAroundTheirMargins) {
  // Output: 0–3, 3–6, 6–10.
  const std::vector<SegmentTimeMapping> mappings = {mapping(0, 0, 3), mapping(4, 3, 3),
                                                    mapping(8, 6, 4)};
  EXPECT_EQ(skipTarget(mappings, 0.0, true), 3.0);
  EXPECT_EQ(skipTarget(mappings, 2.8, true), 3.0);
  EXPECT_EQ(skipTarget(mappings, 2.95, true), 6.0) << "within 0.1 s of a start: the one after";
  EXPECT_FALSE(skipTarget(mappings, 7.0, true)) << "on the last segment nothing happens";
  EXPECT_EQ(skipTarget(mappings, 3.3, false), 0.0) << "early in a segment: the one before";
  EXPECT_EQ(skipTarget(mappings, 5.0, false), 3.0) << "later: the segment's own start";
  EXPECT_EQ(skipTarget(mappings, 3.5, false), 0.0) << "exactly 0.5 s in still goes back";
  EXPECT_EQ(skipTarget(mappings, 0.2, false), 0.0);
  EXPECT_FALSE(skipTarget({}, 1.0, false));
}

TEST(PlayheadRules, FrameStepsLandOnTheFrameGridWithinTheEdit) {
  const double frame = 1.0 / 25;
  EXPECT_DOUBLE_EQ(frameStepTarget(0.0, 1, frame, 10), frame);
  EXPECT_DOUBLE_EQ(frameStepTarget(1.0, -1, frame, 10), 24 * frame);
  EXPECT_DOUBLE_EQ(frameStepTarget(1.01, 1, frame, 10), 26 * frame) << "from between two frames";
  EXPECT_DOUBLE_EQ(frameStepTarget(1.0, 25, frame, 10), 2.0) << "a second is 25 frames";
  EXPECT_DOUBLE_EQ(frameStepTarget(0.0, -1, frame, 10), 0.0) << "never before the start";
  EXPECT_DOUBLE_EQ(frameStepTarget(9.98, 5, frame, 10), 10.0) << "never past the end";
  EXPECT_DOUBLE_EQ(frameStepTarget(2.0, 1, 0.0, 10), 2.0) << "no frame rate: no step";
}

TEST(PlayheadRules, TheShuttleDoublesEachPressTheSameWayAndTurnsAtNormalSpeed) {
  EXPECT_EQ(shuttleRate(0, 1), 1) << "L plays";
  EXPECT_EQ(shuttleRate(1, 1), 2);
  EXPECT_EQ(shuttleRate(4, 1), 8);
  EXPECT_EQ(shuttleRate(8, 1), 8) << "at most 8×";
  EXPECT_EQ(shuttleRate(0, -1), -1) << "J plays backwards";
  EXPECT_EQ(shuttleRate(-2, -1), -4);
  EXPECT_EQ(shuttleRate(-8, -1), -8);
  EXPECT_EQ(shuttleRate(4, -1), -1) << "turning starts again at normal speed";
  EXPECT_EQ(shuttleRate(-4, 1), 1);
}

TEST(PlayheadRules, BoundaryJumpsVisitEveryStartAndEndOnce) {
  // Output: 0–3, 3–6, 6–10.
  const std::vector<SegmentTimeMapping> mappings = {mapping(0, 0, 3), mapping(4, 3, 3),
                                                    mapping(8, 6, 4)};
  EXPECT_EQ(boundaryTarget(mappings, 0.0, true), 3.0);
  EXPECT_EQ(boundaryTarget(mappings, 3.0, true), 6.0) << "standing on one: the next";
  EXPECT_EQ(boundaryTarget(mappings, 7.0, true), 10.0) << "the edit's end counts";
  EXPECT_FALSE(boundaryTarget(mappings, 10.0, true));
  EXPECT_EQ(boundaryTarget(mappings, 6.0, false), 3.0);
  EXPECT_EQ(boundaryTarget(mappings, 4.5, false), 3.0);
  EXPECT_FALSE(boundaryTarget(mappings, 0.0, false));
  EXPECT_FALSE(boundaryTarget({}, 1.0, true));
}

// Where a segment's pauses were removed, its runs join on the output axis: the joins are no
// segment's start or end.
TEST(PlayheadRules, TheJoinsOfARemovedPauseAreNoSegmentEdges) {
  // One segment in runs 0–2, 2–3 and 3–5 of output, then another 5–7.
  std::vector<SegmentTimeMapping> mappings = {mapping(0, 0, 2), mapping(3, 2, 1), mapping(5, 3, 2),
                                              mapping(9, 5, 2)};
  for (size_t index = 1; index < 3; ++index) mappings[index].segmentID = mappings[0].segmentID;
  EXPECT_EQ(skipTarget(mappings, 0.5, true), 5.0);
  EXPECT_EQ(skipTarget(mappings, 4.0, false), 0.0);
  EXPECT_EQ(boundaryTarget(mappings, 0.5, true), 5.0);
  EXPECT_EQ(boundaryTarget(mappings, 6.0, false), 5.0);
  EXPECT_DOUBLE_EQ(seekTarget(mappings, 4.0), 3.0) << "a moment in a pause: where the edit goes on";
}

}  // namespace
}  // namespace brisklet

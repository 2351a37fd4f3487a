#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "analysis/EditPlanBuilder.h"

namespace brisklet {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

std::vector<std::pair<double, double>> spans(const std::vector<Segment>& segments) {
  std::vector<std::pair<double, double>> result;
  for (const Segment& segment : segments) result.emplace_back(segment.startSec, segment.endSec);
  return result;
}

TEST(EditPlanBuilder, CutsAtTheBoundariesInsideTheVideoAndDropsNearDuplicates) {
  const auto segments = EditPlanBuilder::buildSegments({3.0, 3.005, 12.0, 0.0}, 10.0);
  EXPECT_THAT(spans(segments), ElementsAre(Pair(0.0, 3.0), Pair(3.0, 10.0)));
  for (const Segment& segment : segments) {
    EXPECT_TRUE(segment.keep);
    EXPECT_FALSE(segment.userOverrodeKeep);
    EXPECT_FALSE(segment.quality || segment.sceneDescription || segment.keepReason ||
                 segment.narration);
  }
  EXPECT_NE(segments[0].id, segments[1].id);
  // Unsorted boundaries are sorted first.
  EXPECT_THAT(spans(EditPlanBuilder::buildSegments({7.0, 2.0}, 10.0)),
              ElementsAre(Pair(0.0, 2.0), Pair(2.0, 7.0), Pair(7.0, 10.0)));
}

TEST(EditPlanBuilder, ShortPiecesJoinTheirNeighbour) {
  // A short first piece cannot extend anything, so it joins the second afterwards.
  EXPECT_THAT(spans(EditPlanBuilder::buildSegments({1.0, 5.0}, 10.0)),
              ElementsAre(Pair(0.0, 5.0), Pair(5.0, 10.0)));
  // A short piece later on extends the segment before it.
  EXPECT_THAT(spans(EditPlanBuilder::buildSegments({4.0, 5.0}, 10.0)),
              ElementsAre(Pair(0.0, 5.0), Pair(5.0, 10.0)));
  // A short last piece too.
  EXPECT_THAT(spans(EditPlanBuilder::buildSegments({4.0, 9.0}, 10.0)),
              ElementsAre(Pair(0.0, 4.0), Pair(4.0, 10.0)));
  // 1.5 s exactly is long enough.
  EXPECT_THAT(spans(EditPlanBuilder::buildSegments({1.5}, 3.0)),
              ElementsAre(Pair(0.0, 1.5), Pair(1.5, 3.0)));
}

TEST(EditPlanBuilder, ShortAndEmptyVideos) {
  EXPECT_THAT(spans(EditPlanBuilder::buildSegments({}, 1.2)), ElementsAre(Pair(0.0, 1.2)));
  EXPECT_THAT(spans(EditPlanBuilder::buildSegments({0.6}, 1.2)), ElementsAre(Pair(0.0, 1.2)));
  EXPECT_TRUE(EditPlanBuilder::buildSegments({1.0}, 0.0).empty());
  EXPECT_TRUE(EditPlanBuilder::buildSegments({}, -3.0).empty());
  EXPECT_TRUE(EditPlanBuilder::buildSegments({}, std::nan("")).empty());
}

TEST(EditPlanBuilder, SegmentsCoverTheVideoWithoutGapsWhateverTheCuts) {
  const std::vector<double> cuts{0.3, 0.9, 2.2, 2.21, 2.5, 6.0, 6.8, 7.1, 9.95, 10.0, 14.0};
  const auto segments = EditPlanBuilder::buildSegments(cuts, 10.0);
  ASSERT_FALSE(segments.empty());
  EXPECT_EQ(segments.front().startSec, 0.0);
  EXPECT_EQ(segments.back().endSec, 10.0);
  for (size_t index = 1; index < segments.size(); ++index)
    EXPECT_EQ(segments[index].startSec, segments[index - 1].endSec);
  for (const Segment& segment : segments) EXPECT_GE(segment.durationSec(), 1.5);
}

QualityScores scores(double blur, double composite) {
  QualityScores result;
  result.blur = blur;
  result.exposure = 0.7;
  result.composite = composite;
  return result;
}

TEST(EditPlanBuilder, QualityCutsBlurredScenesFirstThenPoorOnes) {
  auto segments = EditPlanBuilder::buildSegments({3, 6, 9}, 12);
  ASSERT_EQ(segments.size(), 4u);
  const std::map<Uuid, QualityScores> measured{{segments[0].id, scores(0.1, 0.2)},
                                               {segments[1].id, scores(0.5, 0.3)},
                                               {segments[2].id, scores(0.15, 0.35)}};
  segments = EditPlanBuilder::applyQuality(measured, segments);
  EXPECT_FALSE(segments[0].keep);
  EXPECT_EQ(segments[0].keepReason, "Too blurry to use");
  EXPECT_FALSE(segments[1].keep);
  EXPECT_EQ(segments[1].keepReason, "Low visual quality");
  // Both thresholds are strict.
  EXPECT_TRUE(segments[2].keep);
  EXPECT_FALSE(segments[2].keepReason);
  EXPECT_EQ(segments[2].quality, scores(0.15, 0.35));
  // No scores: left as it was.
  EXPECT_TRUE(segments[3].keep);
  EXPECT_FALSE(segments[3].quality);
}

SceneAnalysis analysis(int index, bool keep, std::string narration = "") {
  return SceneAnalysis{.sceneIndex = index,
                       .description = "Scene " + std::to_string(index),
                       .activity = "walking",
                       .keep = keep,
                       .keepReason = "model says so",
                       .narration = std::move(narration),
                       .narrationStartOffsetSec = 1.5};
}

TEST(EditPlanBuilder, TheModelCannotKeepABlurredSceneButMayKeepAPoorOne) {
  auto segments = EditPlanBuilder::buildSegments({4}, 8);
  segments = EditPlanBuilder::applyQuality(
      {{segments[0].id, scores(0.1, 0.6)}, {segments[1].id, scores(0.5, 0.3)}}, segments);
  segments = EditPlanBuilder::applySceneAnalysis({analysis(0, true), analysis(1, true)}, segments);
  EXPECT_FALSE(segments[0].keep);
  EXPECT_EQ(segments[0].keepReason, "Too blurry to use");
  EXPECT_EQ(segments[0].sceneDescription, "Scene 0");
  EXPECT_TRUE(segments[1].keep);
  EXPECT_EQ(segments[1].keepReason, "model says so");
  EXPECT_EQ(segments[1].activity, "walking");
}

TEST(EditPlanBuilder, TheUsersKeepDecisionAndOutOfRangeAnalysesStand) {
  auto segments = EditPlanBuilder::buildSegments({4}, 8);
  segments[0].keep = true;
  segments[0].userOverrodeKeep = true;
  const auto before = segments;
  segments =
      EditPlanBuilder::applySceneAnalysis({analysis(2, false), analysis(-1, false)}, segments);
  EXPECT_EQ(segments, before);
  segments = EditPlanBuilder::applySceneAnalysis({analysis(0, false)}, segments);
  EXPECT_TRUE(segments[0].keep);
  EXPECT_TRUE(segments[0].userOverrodeKeep);
  EXPECT_EQ(segments[0].sceneDescription, "Scene 0");
  EXPECT_EQ(segments[0].keepReason, "model says so");
}

TEST(EditPlanBuilder, NarrationIsReplacedUnlessTheUserWroteIt) {
  auto segments = EditPlanBuilder::buildSegments({4}, 8);
  segments[1].narration = NarrationClip{.text = "My own words",
                                        .userEditedText = true,
                                        .audioFileName = "clip.mp3",
                                        .startOffsetSec = 0,
                                        .durationSec = 2.0,
                                        .status = NarrationStatus::ready};
  auto withNegativeOffset = analysis(0, true, "I arrived early.");
  withNegativeOffset.narrationStartOffsetSec = -2;
  segments = EditPlanBuilder::applySceneAnalysis(
      {withNegativeOffset, analysis(1, true, "The model's words.")}, segments);
  ASSERT_TRUE(segments[0].narration);
  EXPECT_EQ(segments[0].narration->text, "I arrived early.");
  EXPECT_EQ(segments[0].narration->startOffsetSec, 0.0);
  EXPECT_EQ(segments[0].narration->status, NarrationStatus::pendingAudio);
  EXPECT_FALSE(segments[0].narration->userEditedText);
  ASSERT_TRUE(segments[1].narration);
  EXPECT_EQ(segments[1].narration->text, "My own words");
  EXPECT_EQ(segments[1].narration->audioFileName, "clip.mp3");
  EXPECT_EQ(segments[1].narration->status, NarrationStatus::ready);
  EXPECT_EQ(segments[1].narration->startOffsetSec, 1.5);
  // An empty line leaves the narration alone; of two analyses of one scene the last wins.
  segments = EditPlanBuilder::applySceneAnalysis(
      {analysis(0, false, ""), analysis(0, true, "Second thoughts.")}, segments);
  EXPECT_EQ(segments[0].narration->text, "Second thoughts.");
  EXPECT_TRUE(segments[0].keep);
}

}  // namespace
}  // namespace brisklet

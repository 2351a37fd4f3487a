#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "model/ModelJson.h"
#include "model/ProjectStore.h"
#include "model/RecordLimits.h"
#include "platform/AtomicFile.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using testing::segment;

TEST(RecordLimits, NarrationTextIsCutAtTheLimitWithoutSplittingACharacter) {
  EXPECT_EQ(characterCount("caf\u00E9 \U0001F3D4"), 6u);
  const std::string wide(kNarrationTextLimit * 2, 'a');
  EXPECT_EQ(cappedNarrationText(wide), std::string(kNarrationTextLimit, 'a'));
  std::string accents;
  for (size_t index = 0; index < kNarrationTextLimit + 5; ++index) accents += "\u00E9";
  const std::string capped = cappedNarrationText(accents);
  EXPECT_EQ(characterCount(capped), kNarrationTextLimit);
  EXPECT_EQ(capped.size(), kNarrationTextLimit * 2) << "two bytes each, none split";
  EXPECT_EQ(cappedNarrationText("Short line."), "Short line.");

  EXPECT_EQ(storedNarrationText("\t\tLine\x1B[31m 0\nnext"), "  Line [31m 0\nnext");

  const Segment typed = testing::narrated(segment(0, 3), wide);
  EXPECT_EQ(typed.narration->text.size(), kNarrationTextLimit) << "typing past it stores the cap";
}

// A hand-edited record: times far outside the video, negative, overlapping and out of order,
// a 10 MB narration line and scores outside 0…1.
TEST(RecordLimits, AHostileRecordLoadsWithinTheVideoAndInOrder) {
  testing::TemporaryFolder folder;
  ProjectStore store(folder / "Projects");
  Project project = testing::sampleProject("Hostile", "2025-03-01T10:00:00Z");
  project.videoDurationSec = 20;
  EditPlan plan;
  plan.segments = {segment(-1e300, 1e300), segment(-5, 4), segment(2, 8), segment(15, 12),
                   segment(18, 1e9)};
  plan.segments[1].narration = NarrationClip{
      .text = std::string(10'000'000, 'x'), .startOffsetSec = -3, .durationSec = 1e300};
  plan.segments[2].quality = QualityScores{.blur = 7, .exposure = -1, .composite = 0.5};
  plan.segments[2].facePath = {
      {5, 2, 0.1, 0.5, 0.2}, {3, -1, 0.1, 0.2, 0.2}, {4, 0.5, 0.5, 0.1, 0}};
  plan.segments[2].removedPauses = {
      {6, 7}, {3, 4}, {3.5, 5}, {7.5, 6.5}, {6.5, 6.5}};
  project.editPlan = plan;
  store.save(project);

  const std::vector<Project> loaded = store.loadAll();
  ASSERT_EQ(loaded.size(), 1u);
  const std::vector<Segment>& segments = loaded[0].editPlan->segments;
  ASSERT_EQ(segments.size(), 1u) << "a segment over the whole video leaves no room for others";
  EXPECT_EQ(segments[0].startSec, 0);
  EXPECT_EQ(segments[0].endSec, 20);

  // Within the video, each segment after the one before it.
  plan.segments.erase(plan.segments.begin());
  project.editPlan = plan;
  store.save(project);
  const std::vector<Segment> repaired = store.loadAll()[0].editPlan->segments;
  ASSERT_EQ(repaired.size(), 3u);
  EXPECT_EQ(std::pair(repaired[0].startSec, repaired[0].endSec), std::pair(0.0, 4.0));
  EXPECT_EQ(std::pair(repaired[1].startSec, repaired[1].endSec), std::pair(4.0, 8.0));
  EXPECT_EQ(std::pair(repaired[2].startSec, repaired[2].endSec), std::pair(18.0, 20.0))
      << "15…12 ends before it starts and is dropped; 18…1e9 stops at the video's end";

  // Listed out of order, they are put in source order.
  std::swap(plan.segments[0], plan.segments[2]);
  project.editPlan = plan;
  store.save(project);
  std::vector<double> starts;
  const std::vector<Project> sorted = store.loadAll();
  for (const Segment& each : sorted[0].editPlan->segments) starts.push_back(each.startSec);
  EXPECT_EQ(starts, (std::vector<double>{0, 4, 18}));
  EXPECT_EQ(repaired[0].narration->text.size(), kNarrationTextLimit);
  EXPECT_EQ(repaired[0].narration->startOffsetSec, 0);
  EXPECT_FALSE(repaired[0].narration->durationSec);
  EXPECT_EQ(repaired[1].quality->blur, 1);
  EXPECT_EQ(repaired[1].quality->exposure, 0);
  EXPECT_EQ(repaired[1].quality->composite, 0.5);
  EXPECT_EQ(repaired[1].facePath,
            (std::vector<FacePosition>{{3, 0, 0.1, 0.2, 0.2}, {5, 0.5, 0.1, 0.5, 0.2}}))
      << "faces inside the picture, of some size, in time order";
  EXPECT_EQ(repaired[1].removedPauses, (std::vector<SourceSpan>{{3, 5}, {6, 7}}))
      << "pauses of numbers and some length, in time order, overlapping ones joined";

  // A change goes to the repaired record, and stores it.
  store.modify(project.id, [](Project&) { return true; });
  const Project stored =
      decodeProjectRecord(readFile(store.projectDirectory(project.id) / "project.json"));
  EXPECT_EQ(stored.editPlan->segments, repaired);
}

TEST(RecordLimits, ARecordWithinTheLimitsIsLeftAsItIs) {
  Project project = testing::sampleProject("Fine", "2025-03-01T10:00:00Z", 6);
  project.videoDurationSec = 15;
  const Project before = project;
  EXPECT_EQ(repairLoadedRecord(project), "");
  EXPECT_EQ(project, before);

  project.editPlan->segments[2].startSec = std::nan("");
  project.musicVolumePercent = INFINITY;
  EXPECT_EQ(repairLoadedRecord(project),
            "1 segment without finite times dropped, 1 other value reset");
  EXPECT_EQ(project.editPlan->segments.size(), 5u);
  EXPECT_FALSE(project.musicVolumePercent);
}

}  // namespace
}  // namespace brisklet

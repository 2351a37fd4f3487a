#include <gtest/gtest.h>

#include "model/Edit.h"
#include "model/NarrationFile.h"
#include "support/Projects.h"

namespace brisklet {
namespace {

using testing::segment;

// Three touching segments over a 20 s video: 0–5, 5–9 and 9–9.3 (a short one).
Project threeSegments() {
  Project project = testing::sampleProject("Edits", "2025-05-01T10:00:00Z");
  project.videoDurationSec = 20;
  project.editPlan = EditPlan{};
  project.editPlan->segments = {segment(0, 5), segment(5, 9), segment(9, 9.3)};
  project.editPlan->planRevision = 7;
  return project;
}

const Segment& at(const Project& project, std::size_t index) {
  return project.editPlan->segments[index];
}

std::string refusalOf(const Edit& edit, const Project& project) {
  Project tried = project;
  try {
    applyEdit(edit, tried);
  } catch (const EditRefused& refusal) {
    EXPECT_EQ(tried, project) << "a refused edit leaves the project as it was";
    return refusal.what();
  }
  return {};
}

// The one rule of trims: what a drag is held to is what a typed trim is refused beyond.
TEST(Edit, TrimsStayInsideTheirNeighboursAndTheVideoAndNoShorterThanHalfASecond) {
  const Project project = threeSegments();
  const Uuid middle = at(project, 1).id;
  EXPECT_EQ(refusalOf(SetSpan{middle, 4, 9}, project),
            "Trim refused: segment 1 would overlap segment 0.");
  EXPECT_EQ(refusalOf(SetSpan{middle, 5, 9.2}, project),
            "Trim refused: segment 1 would overlap segment 2.");
  EXPECT_EQ(refusalOf(SetSpan{middle, 6, 6.3}, project),
            "Trim refused: segment 1 would be shorter than 0.5 s.");
  EXPECT_EQ(refusalOf(SetSpan{middle, 7, 6}, project),
            "Trim refused: segment 1 must start before it ends.");
  EXPECT_EQ(refusalOf(SetSpan{at(project, 0).id, -1, 5}, project),
            "Trim refused: segment 0 would start before the video.");
  EXPECT_EQ(refusalOf(SetSpan{at(project, 2).id, 9, 21}, project),
            "Trim refused: segment 2 would run past the end of the video.");
  EXPECT_EQ(refusalOf(SetSpan{at(project, 2).id, 9.1, 9.3}, project),
            "Trim refused: segment 2 would be shorter than 0.5 s.")
      << "a short segment may grow but not shrink";
  EXPECT_EQ(refusalOf(SetSpan{Uuid::random(), 1, 2}, project),
            "That segment is no longer in the plan.");

  Project trimmed = project;
  ASSERT_TRUE(applyEdit(SetSpan{at(project, 2).id, 9, 12}, trimmed));
  EXPECT_EQ(at(trimmed, 2).endSec, 12) << "the short one grows";
  EXPECT_EQ(trimmed.editPlan->planRevision, 8);
  EXPECT_FALSE(applyEdit(SetSpan{at(project, 2).id, 9, 12}, trimmed)) << "nothing left to change";
  EXPECT_EQ(trimmed.editPlan->planRevision, 8);

  // A drag is held by the same limits, and what it gives always applies.
  const Segment& base = at(project, 1);
  const auto drag = [&](TrimEdge edge, double wanted) {
    const SetSpan span = *draggedSpan(project, base, edge, wanted);
    Project applied = project;
    applyEdit(span, applied);
    return std::pair(span.startSec, span.endSec);
  };
  EXPECT_EQ(drag(TrimEdge::leading, 2), std::pair(5.0, 9.0)) << "held at the neighbour";
  EXPECT_EQ(drag(TrimEdge::leading, 8.9), std::pair(8.5, 9.0)) << "held at half a second";
  EXPECT_EQ(drag(TrimEdge::trailing, 15), std::pair(5.0, 9.0));
  EXPECT_EQ(drag(TrimEdge::trailing, 6), std::pair(5.0, 6.0));
  EXPECT_EQ(drag(TrimEdge::trailing, 5.1), std::pair(5.0, 5.5));
  EXPECT_EQ(draggedSpan(project, base, TrimEdge::trailing, 1.0 / 0.0)->endSec, 9.0);
  const Segment last = at(project, 2);
  EXPECT_EQ(draggedSpan(project, last, TrimEdge::trailing, 30)->endSec, 20) << "the video's end";
  EXPECT_EQ(draggedSpan(project, last, TrimEdge::leading, 9.2)->startSec, 9)
      << "a short segment does not shrink";
}

TEST(Edit, KeepsAreMarkedAsSetByHandAndTheirInverseGivesTheAnalysisItsDecisionBack) {
  Project project = threeSegments();
  const Uuid first = at(project, 0).id;
  const Project before = project;
  const Edit drop = SetKeep{first, false};
  const Edit undo = inverseEdit(drop, before);
  ASSERT_TRUE(applyEdit(drop, project));
  EXPECT_FALSE(at(project, 0).keep);
  EXPECT_TRUE(at(project, 0).userOverrodeKeep);
  ASSERT_TRUE(applyEdit(undo, project));
  EXPECT_TRUE(at(project, 0).keep);
  EXPECT_FALSE(at(project, 0).userOverrodeKeep);
  EXPECT_EQ(project.editPlan->planRevision, 9) << "an undo is a change too";
}

TEST(Edit, ACropCentredByHandIsUndoneToFollowTheFaceAgain) {
  Project project = threeSegments();
  const Uuid first = at(project, 0).id;
  const Edit centre = SetCentredCrop{first, true};
  const Edit undo = inverseEdit(centre, project);
  ASSERT_TRUE(applyEdit(centre, project));
  EXPECT_TRUE(at(project, 0).centredCrop);
  EXPECT_FALSE(applyEdit(centre, project)) << "no change the second time";
  ASSERT_TRUE(applyEdit(undo, project));
  EXPECT_FALSE(at(project, 0).centredCrop);
}

// A tightening sets the pauses of many segments in one edit, undone in one; a pause put back sets
// its own segment's.
TEST(Edit, RemovedPausesOfManySegmentsAreOneEdit) {
  Project project = threeSegments();
  const Uuid first = at(project, 0).id;
  const Uuid second = at(project, 1).id;
  project.editPlan->segments[1].removedPauses = {{5.5, 6}};
  const Project before = project;
  const Edit tighten = SetRemovedPauses{{{first, {{1.5, 1.75}, {0.5, 1.0}}}, {second, {}}}};
  const Edit undo = inverseEdit(tighten, project);
  ASSERT_TRUE(applyEdit(tighten, project));
  EXPECT_EQ(at(project, 0).removedPauses, (std::vector<SourceSpan>{{0.5, 1.0}, {1.5, 1.75}}))
      << "held in time order";
  EXPECT_TRUE(at(project, 1).removedPauses.empty()) << "replaced, not added to";
  EXPECT_FALSE(applyEdit(tighten, project)) << "no change the second time";
  ASSERT_TRUE(applyEdit(undo, project));
  EXPECT_EQ(project.editPlan->segments, before.editPlan->segments);

  const Edit stranger = SetRemovedPauses{{{first, {{0.5, 1.0}}}, {Uuid::random(), {}}}};
  EXPECT_THROW(applyEdit(stranger, project), EditRefused);
  EXPECT_EQ(project.editPlan->segments, before.editPlan->segments) << "refused whole";
  EXPECT_FALSE(mergedEdits(tighten, tighten)) << "each tightening is its own step";
}

TEST(Edit, NarrationTextFollowsTheCommitRuleAndItsAudio) {
  Project project = threeSegments();
  const Uuid id = at(project, 1).id;
  EXPECT_FALSE(applyEdit(SetNarrationText{id, ""}, project)) << "empty text on no clip";
  const Project bare = project;
  ASSERT_TRUE(applyEdit(SetNarrationText{id, "We made it\tto the top."}, project));
  EXPECT_EQ(at(project, 1).narration, (NarrationClip{.text = "We made it to the top.",
                                                     .userEditedText = true,
                                                     .audioFileName = std::nullopt,
                                                     .startOffsetSec = 0.5,
                                                     .durationSec = std::nullopt,
                                                     .status = NarrationStatus::pendingAudio}))
      << "stored cleaned, starting half a second in";
  EXPECT_FALSE(applyEdit(SetNarrationText{id, "We made it to the top."}, project))
      << "the same text twice changes nothing";
  EXPECT_EQ(inverseEdit(SetNarrationText{id, "x"}, bare),
            (Edit{SetNarrationText{id, std::nullopt}}));

  // A line with the audio of its text: another text makes it stale, the text of the audio ready.
  NarrationClip& clip = *project.editPlan->segments[1].narration;
  clip.audioFileName = narrationFileName(id, clip.text);
  clip.durationSec = 2.25;
  clip.status = NarrationStatus::ready;
  clip.startOffsetSec = 1;
  const Project voiced = project;
  ASSERT_TRUE(applyEdit(SetNarrationText{id, "We finally made it."}, project));
  EXPECT_EQ(at(project, 1).narration->status, NarrationStatus::stale);
  EXPECT_EQ(spokenWords(*at(project, 1).narration), "We made it to the top.")
      << "the audio still speaks the old words";
  ASSERT_TRUE(applyEdit(SetNarrationText{id, "We made it at last."}, project));
  EXPECT_EQ(spokenWords(*at(project, 1).narration), "We made it to the top.");
  EXPECT_EQ(at(project, 1).narration->durationSec, 2.25);
  EXPECT_EQ(at(project, 1).narration->startOffsetSec, 1);
  ASSERT_TRUE(applyEdit(inverseEdit(SetNarrationText{id, ""}, voiced), project));
  EXPECT_EQ(at(project, 1).narration, at(voiced, 1).narration) << "back to the spoken text";

  ASSERT_TRUE(applyEdit(SetNarrationOffset{id, -3}, project));
  EXPECT_EQ(at(project, 1).narration->startOffsetSec, 0) << "never before the segment";
  EXPECT_THROW(applyEdit(SetNarrationOffset{at(project, 0).id, 1}, project), EditRefused);
  ASSERT_TRUE(applyEdit(SetNarrationText{id, std::nullopt}, project));
  EXPECT_FALSE(at(project, 1).narration);
}

TEST(Edit, OutputSettingsAndTheirInversesAndWhatMerges) {
  Project project = threeSegments();
  const Project before = project;
  ASSERT_TRUE(applyEdit(SetMusic{"music-ab12.mp3", 25}, project));
  ASSERT_TRUE(applyEdit(SetMusicVolume{80}, project));
  EXPECT_EQ(project.musicVolumePercent, 60) << "held to 5…60 %";
  EXPECT_EQ(inverseEdit(SetMusic{"other.mp3", 30}, before), (Edit{SetMusic{}}));
  EXPECT_EQ(inverseEdit(SetMusicVolume{10}, project), (Edit{SetMusicVolume{60}}));
  EXPECT_THROW(applyEdit(SetMusicVolume{0.0 / 0.0}, project), EditRefused);
  ASSERT_TRUE(applyEdit(SetAspectRatio{"9:16"}, project));
  EXPECT_FALSE(applyEdit(SetAspectRatio{"9:16"}, project));
  ASSERT_TRUE(applyEdit(SetLoudness{"off"}, project));
  EXPECT_EQ(loudnessTarget(project), LoudnessTarget::off);
  EXPECT_EQ(inverseEdit(SetLoudness{"-23"}, before), (Edit{SetLoudness{}}));
  EXPECT_EQ(project.editPlan->planRevision, 11);

  const Uuid id = at(project, 0).id;
  EXPECT_EQ(mergedEdits(SetSpan{id, 0, 4}, SetSpan{id, 0, 3}), (Edit{SetSpan{id, 0, 3}}));
  EXPECT_FALSE(mergedEdits(SetSpan{id, 0, 4}, SetSpan{at(project, 1).id, 5, 8}));
  EXPECT_FALSE(mergedEdits(SetSpan{id, 0, 4}, SetKeep{id, false}));
}

}  // namespace
}  // namespace brisklet

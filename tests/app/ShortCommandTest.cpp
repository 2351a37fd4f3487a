#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

#include "app/AppState.h"
#include "app/ShortPlan.h"
#include "media/platform/Asset.h"
#include "platform/AtomicFile.h"
#include "platform/Bookmark.h"
#include "support/FakeService.h"
#include "support/MediaGenerator.h"
#include "support/ModelAnswers.h"
#include "support/MovieSound.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using ::testing::ElementsAre;

using Clip = AIDirector::HighlightClip;

// The spans of a plan's segments.
std::vector<std::pair<double, double>> spansOf(const EditPlan& plan) {
  std::vector<std::pair<double, double>> spans;
  for (const Segment& segment : plan.segments) spans.emplace_back(segment.startSec, segment.endSec);
  return spans;
}

TEST(ShortPlanTest, ClipsStayInsideTheirScenesAndStopAtTheTarget) {
  const EditPlan plan{.segments = {testing::segment(0, 5), testing::segment(5, 8, false),
                                   testing::segment(8, 20)}};
  // 8 s asked from a scene with 3 s left ends with it; a clip that starts 0.2 s before its
  // scene's end moves back to 0.5 s before it and is too short to keep.
  EXPECT_THAT(spansOf(shortPlan(plan, {{0, 2.0, 8.0}, {1, 2.8, 3.0}, {2, 1.0, 4.0}}, 30)),
              ElementsAre(std::pair(2.0, 5.0), std::pair(9.0, 13.0)));
  // Clips stop at the target; the last is cut to fit, and a remainder of half a second or less
  // is not a clip.
  EXPECT_THAT(spansOf(shortPlan(plan, {{0, 0, 4}, {2, 0, 4}, {2, 5, 4}, {0, 4, 1}}, 10)),
              ElementsAre(std::pair(0.0, 4.0), std::pair(8.0, 12.0), std::pair(13.0, 15.0)));
  EXPECT_THAT(spansOf(shortPlan(plan, {{2, 0, 9.6}, {0, 0, 4}}, 10)),
              ElementsAre(std::pair(8.0, 17.6)));
  for (const Segment& segment : shortPlan(plan, {{1, 0, 2}}, 30).segments) {
    EXPECT_TRUE(segment.keep) << "a dropped scene's moment is still shown";
    EXPECT_FALSE(segment.narration);
  }
  // A moment keeps its scene's face, so a vertical Short frames it as the edit does.
  EditPlan faced = plan;
  faced.segments[2].facePath = {{9, 0.2, 0.3, 0.1, 0.2}};
  faced.segments[2].centredCrop = true;
  const Segment moment = shortPlan(faced, {{2, 1.0, 4.0}}, 30).segments.at(0);
  EXPECT_EQ(moment.facePath, faced.segments[2].facePath);
  EXPECT_TRUE(moment.centredCrop);

  // A tightened scene's pauses stay out, and the target counts what is shown: 10 s from 8 s on
  // with 2 s of pauses ends at 20 s.
  EditPlan tightened = plan;
  tightened.segments[2].removedPauses = {{10, 11}, {14, 15}};
  const EditPlan clipped = shortPlan(tightened, {{2, 0, 12}}, 10);
  ASSERT_EQ(clipped.segments.size(), 1u);
  EXPECT_EQ(clipped.segments[0].removedPauses, tightened.segments[2].removedPauses);
  EXPECT_EQ(clipped.segments[0].endSec, 20.0);
  EXPECT_DOUBLE_EQ(clipped.keptDurationSec(), 10.0);
}

class ShortCommandTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  testing::FakeService model{"BRISKLET_ANTHROPIC_BASE_URL"};
  ProjectStore store{folder / "Projects"};
  AppState state{store};
  std::vector<std::filesystem::path> revealed;
  std::filesystem::path video = folder / "talk.mp4";

  ShortCommandTest() {
    state.setKeySource([](KeychainStore::Key) { return std::string("sk-test"); });
    state.setFileRevealer([this](const std::filesystem::path& file) { revealed.push_back(file); });
    testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc=s=96x54:r=30:d=12", "-f", "lavfi", "-i",
                        "sine=f=300:d=12", "-pix_fmt", "yuv420p", video.string()});
  }

  // A project framed 16:9 whose three scenes the model described (or not).
  Project project(bool described = true) {
    Project made = makeProject("Talk", makeBookmark(video), 12.0);
    made.aspectRatioRaw = "16:9";
    made.editPlan = EditPlan{.segments = {testing::segment(0, 4), testing::segment(4, 8),
                                          testing::segment(8, 12)},
                             .runningSummary = "A walk.",
                             .planRevision = 1};
    for (Segment& segment : made.editPlan->segments) {
      if (described) segment.sceneDescription = "A street.";
      segment.narration = NarrationClip{.text = "Here we go.", .startOffsetSec = 0.5};
    }
    state.insertProject(made);
    return made;
  }

  static testing::ScriptedResponse clips(const nlohmann::json& list) {
    return testing::modelAnswer(nlohmann::json{{"clips", list}}.dump());
  }
};

TEST_F(ShortCommandTest, TheShortIsUprightTheChosenMomentsAndTheProjectStaysAsItWas) {
  const Project walk = project();
  const std::string record = readFile(store.projectDirectory(walk.id) / "project.json");
  model.enqueue(clips({{{"scene_index", 0}, {"start_offset_sec", 1.0}, {"duration_sec", 2.0}},
                       {{"scene_index", 2}, {"start_offset_sec", 2.5}, {"duration_sec", 6.0}}}));
  std::vector<std::string> stages;
  QObject::connect(&state, &AppState::pipelineProgressChanged, [&] {
    const auto& shown = state.pipelineProgress();
    if (shown && (stages.empty() || stages.back() != shown->stageName))
      stages.push_back(shown->stageName);
  });

  QCoro::waitFor(state.makeShort(walk.id, folder / "Talk \u2014 Short"));
  EXPECT_FALSE(state.lastError()) << state.lastError().value_or("");
  const auto written = folder / "Talk \u2014 Short.mp4";
  EXPECT_EQ(revealed, std::vector{written});
  const Asset short_ = Asset::open(written);
  EXPECT_EQ(short_.firstVideoTrack().displayWidth(), 1080);
  EXPECT_EQ(short_.firstVideoTrack().displayHeight(), 1920);
  EXPECT_NEAR(short_.durationSec(), 2.0 + 1.5, 1.0 / 30) << "the second clip ends with its scene";
  EXPECT_THAT(stages, ElementsAre("Directing your Short\u2026", "Exporting your Short\u2026"));
  EXPECT_EQ(readFile(store.projectDirectory(walk.id) / "project.json"), record);
  ASSERT_EQ(model.requests().size(), 1u);
  EXPECT_THAT(model.requests()[0].body, ::testing::HasSubstr("Build a 30-second vertical Short"));
}

TEST_F(ShortCommandTest, ATightenedSceneIsCutTightInTheShort) {
  const Project walk = project();
  state.makeEdit(walk.id, SetRemovedPauses{{{walk.editPlan->segments[2].id, {{9, 10}}}}});
  model.enqueue(clips({{{"scene_index", 2}, {"start_offset_sec", 0.0}, {"duration_sec", 4.0}}}));
  QCoro::waitFor(state.makeShort(walk.id, folder / "short.mp4"));
  ASSERT_FALSE(state.lastError()) << state.lastError().value_or("");
  EXPECT_NEAR(Asset::open(folder / "short.mp4").durationSec(), 3.0, 1.0 / 30)
      << "4 s of the scene less its removed second";
}

TEST_F(ShortCommandTest, TheShortsCutAndEndDoNotClick) {
  const Project walk = project();
  // The cut lands 0.39 of a wave into the 300 Hz tone; the second clip ends with its scene.
  model.enqueue(clips({{{"scene_index", 0}, {"start_offset_sec", 1.0013}, {"duration_sec", 2.0}},
                       {{"scene_index", 2}, {"start_offset_sec", 2.5}, {"duration_sec", 6.0}}}));
  QCoro::waitFor(state.makeShort(walk.id, folder / "short.mp4"));
  ASSERT_FALSE(state.lastError()) << state.lastError().value_or("");
  const std::vector<float> sound = testing::ffmpegSound(folder / "short.mp4");
  const std::vector<double> band = testing::highBand(sound);
  const double away = testing::bandLevel(band, 1.0, 0.02);
  EXPECT_LT(testing::bandLevel(band, 1.99, 0.02), 2 * away) << "the cut";
  EXPECT_LT(testing::bandLevel(band, 3.47, 0.02), 2 * away) << "the end";
  EXPECT_LT(testing::toneLevel(sound, 300, 3.45, 0.04), 0.2 * testing::toneLevel(sound, 300, 1.0))
      << "the sound has faded by the end";
}

TEST_F(ShortCommandTest, WhatCannotBecomeAShortIsToldBeforeAnythingIsWritten) {
  const Project bare = project(false);
  QCoro::waitFor(state.makeShort(bare.id, folder / "short.mp4"));
  EXPECT_EQ(state.lastError(), "Run Analyze (with your Anthropic key set) before making a Short.");
  EXPECT_TRUE(model.requests().empty());

  const Project walk = project();
  state.setKeySource([](KeychainStore::Key) { return std::nullopt; });
  QCoro::waitFor(state.makeShort(walk.id, folder / "short.mp4"));
  EXPECT_EQ(state.lastError(), "Add your Anthropic API key in Settings first.");

  state.setKeySource([](KeychainStore::Key) { return std::string("sk-test"); });
  const std::string source = readFile(video);
  QCoro::waitFor(state.makeShort(walk.id, video));
  EXPECT_EQ(state.lastError(),
            "Short creation failed: \u201Ctalk.mp4\u201D is this project's source video.");
  EXPECT_EQ(readFile(video), source);
  EXPECT_TRUE(model.requests().empty());

  model.enqueue(clips(nlohmann::json::array()));
  QCoro::waitFor(state.makeShort(walk.id, folder / "short.mp4"));
  EXPECT_EQ(state.lastError(), "Claude couldn't find highlight-worthy moments.");
  model.enqueue(clips({{{"scene_index", 0}, {"start_offset_sec", 3.8}, {"duration_sec", 2.0}}}));
  QCoro::waitFor(state.makeShort(walk.id, folder / "short.mp4"));
  EXPECT_EQ(state.lastError(),
            "Short creation failed: None of the moments Claude picked lasts half a second inside "
            "its scene, so there is nothing to cut a Short from. Try again, or trim the scenes "
            "first.");
  model.enqueue({.status = 400, .body = R"({"error":{"message":"bad model"}})"});
  QCoro::waitFor(state.makeShort(walk.id, folder / "short.mp4"));
  EXPECT_EQ(state.lastError(), "Short creation failed: Claude API error (400): bad model");
  EXPECT_FALSE(std::filesystem::exists(folder / "short.mp4"));
  EXPECT_TRUE(revealed.empty());
  EXPECT_FALSE(state.pipelineProgress());
}

}  // namespace
}  // namespace brisklet

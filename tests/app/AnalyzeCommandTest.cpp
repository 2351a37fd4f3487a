#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

#include <filesystem>

#include "app/AppState.h"
#include "platform/Bookmark.h"
#include "support/MediaGenerator.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using ::testing::HasSubstr;

constexpr const char* kNotice =
    "Analyzed on-device only. Add your Anthropic API key in Settings to get scene understanding "
    "and narration scripts.";

class AnalyzeCommandTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};

  // Two 3-second shots at 160×120.
  std::filesystem::path twoShots(const std::filesystem::path& file) {
    testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=160x120:r=25:d=3", "-f", "lavfi", "-i",
                        "smptebars=s=160x120:r=25:d=3", "-filter_complex",
                        "[0:v][1:v]concat=n=2:v=1:a=0", file.string()});
    return file;
  }

  Project storedProject(const std::filesystem::path& video, std::optional<EditPlan> plan = {}) {
    Project project =
        makeProject("Day out", makeBookmark(video), plan ? std::max(6.0, plan->segments.back().endSec) : 6.0);
    project.editPlan = std::move(plan);
    store.save(project);
    return project;
  }

  // A state whose key source is given: no secret store is consulted.
  std::unique_ptr<AppState> stateWithKey(std::optional<std::string> key) {
    auto state = std::make_unique<AppState>(store);
    state->setKeySource([key](KeychainStore::Key) { return key; });
    return state;
  }
};

TEST_F(AnalyzeCommandTest, WithoutAKeyTheOnDevicePlanIsStoredAndTheUserTold) {
  const Project project = storedProject(twoShots(folder / "day.mp4"));
  auto state = stateWithKey(std::nullopt);
  std::vector<PipelineProgress> seen;
  QObject::connect(state.get(), &AppState::pipelineProgressChanged, state.get(), [&] {
    if (state->pipelineProgress()) seen.push_back(*state->pipelineProgress());
  });
  QCoro::waitFor(state->startAnalysis(project.id));

  const Project analysed = store.loadAll().at(0);
  ASSERT_TRUE(analysed.editPlan);
  EXPECT_EQ(analysed.editPlan->planRevision, 1);
  EXPECT_EQ(analysed.editPlan->runningSummary, "");
  EXPECT_FALSE(analysed.editPlan->editorSuggestions);
  ASSERT_EQ(analysed.editPlan->segments.size(), 2u);
  EXPECT_FALSE(analysed.editPlan->segments[0].sceneDescription);
  EXPECT_EQ(*state->project(project.id), analysed);
  EXPECT_EQ(state->selectedSegmentID(), analysed.editPlan->segments[0].id);
  EXPECT_EQ(state->lastError(), kNotice);
  EXPECT_FALSE(state->pipelineProgress());
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen.front(), (PipelineProgress{"Starting analysis…", -1.0}));
  EXPECT_EQ(seen[1], (PipelineProgress{"Detecting scenes…", 0.0}));
  EXPECT_EQ(seen.back().stageName, "Scoring visual quality…");
}

TEST_F(AnalyzeCommandTest, ReanalysisMovesTheRevisionOnAndPrefersTheMergedSource) {
  const auto clip = twoShots(folder / "day.mp4");
  const Project project = storedProject(clip, testing::samplePlan(5, 7));
  // Made from several clips: the merged source sits in the project folder, and the bookmark
  // points at a file that is gone.
  std::filesystem::copy_file(clip, store.projectDirectory(project.id) / "source.mov");
  std::filesystem::remove(clip);
  auto state = stateWithKey(std::nullopt);
  QCoro::waitFor(state->startAnalysis(project.id));
  const Project analysed = store.loadAll().at(0);
  ASSERT_TRUE(analysed.editPlan);
  EXPECT_EQ(analysed.editPlan->planRevision, 8);
  EXPECT_EQ(analysed.editPlan->segments.size(), 2u) << "the old plan's segments are replaced";
}

TEST_F(AnalyzeCommandTest, AFailureShowsTheBareDescriptionAndKeepsThePlan) {
  testing::writeText(folder / "broken.mp4", "not a movie at all");
  const Project project = storedProject(folder / "broken.mp4", testing::samplePlan(3, 4));
  auto state = stateWithKey(std::nullopt);
  QCoro::waitFor(state->startAnalysis(project.id));
  ASSERT_TRUE(state->lastError());
  EXPECT_THAT(*state->lastError(), HasSubstr("broken.mp4"));
  EXPECT_FALSE(state->lastError()->starts_with("Analysis failed"));
  EXPECT_FALSE(state->pipelineProgress());
  EXPECT_EQ(store.loadAll().at(0), project);

  // A source that is gone and has no merged copy: the bookmark's own sentence.
  std::filesystem::remove(folder / "broken.mp4");
  QCoro::waitFor(state->startAnalysis(project.id));
  EXPECT_THAT(state->lastError().value_or(""), HasSubstr("broken.mp4"));

  state->setLastError(std::nullopt);
  QCoro::waitFor(state->startAnalysis(Uuid::random()));
  EXPECT_FALSE(state->lastError()) << "an unknown project is no error";
  EXPECT_FALSE(state->pipelineProgress());
}

}  // namespace
}  // namespace brisklet

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "app/AppState.h"
#include "support/MediaGenerator.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

class ImportCommandTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};

  std::filesystem::path clip(const std::string& name) {
    testing::runFfmpeg(
        {"-f", "lavfi", "-i", "testsrc2=s=160x120:r=25:d=3", (folder / name).string()});
    return folder / name;
  }

  // Lets the queued work of commands started in the background run until nothing is running.
  static void waitUntilIdle(AppState& state) {
    QElapsedTimer clock;
    clock.start();
    while (state.pipelineProgress() && clock.elapsed() < 60000)
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
  }
};

TEST_F(ImportCommandTest, AnImportedVideoBecomesTheSelectedProjectAndIsAnalysed) {
  AppState state(store);
  state.setKeySource([](KeychainStore::Key) { return std::nullopt; });
  QCoro::waitFor(state.importVideo(clip("Harbour walk.mp4")));

  ASSERT_EQ(state.projects().size(), 1u);
  const Project& project = state.projects().front();
  EXPECT_EQ(project.name, "Harbour walk");
  EXPECT_NEAR(project.videoDurationSec, 3.0, 0.05);
  EXPECT_EQ(state.selectedProjectID(), project.id);
  EXPECT_EQ(store.loadAll().size(), 1u) << "stored at once";
  EXPECT_TRUE(state.pipelineProgress()) << "the analysis started by itself";

  waitUntilIdle(state);
  const Project analysed = store.loadAll().at(0);
  ASSERT_TRUE(analysed.editPlan);
  EXPECT_EQ(analysed.editPlan->planRevision, 1);
}

TEST_F(ImportCommandTest, WhileAnotherCommandRunsTheProjectIsMadeButNotAnalysed) {
  AppState state(store);
  state.setPipelineProgress(PipelineProgress{"Exporting…", 0.4});
  QCoro::waitFor(state.importVideo(clip("second.mp4")));
  ASSERT_EQ(state.projects().size(), 1u);
  EXPECT_EQ(state.pipelineProgress(), (PipelineProgress{"Exporting…", 0.4}));
  EXPECT_FALSE(state.projects().front().editPlan);
}

TEST_F(ImportCommandTest, AFileThatIsMissingOrNoMovieAddsNothing) {
  AppState state(store);
  QCoro::waitFor(state.importVideo(folder / "gone.mp4"));
  EXPECT_THAT(state.lastError().value_or(""), StartsWith("Could not import video: "));
  EXPECT_THAT(state.lastError().value_or(""), HasSubstr("gone.mp4"));

  testing::writeText(folder / "notes.mp4", "shopping list: bread, milk");
  QCoro::waitFor(state.importVideo(folder / "notes.mp4"));
  EXPECT_THAT(state.lastError().value_or(""), StartsWith("Could not import video: "));
  EXPECT_THAT(state.lastError().value_or(""), HasSubstr("notes.mp4"));
  EXPECT_TRUE(state.projects().empty());
  EXPECT_TRUE(store.loadAll().empty());
}

}  // namespace
}  // namespace brisklet

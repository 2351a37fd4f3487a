#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QSignalSpy>

#include "app/AppState.h"
#include "model/ModelJson.h"
#include "platform/AtomicFile.h"
#include "support/Projects.h"
#include "support/ReadOnlyFolder.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::sampleProject;

class AppStateTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};

  Project stored(const std::string& name, const std::string& createdAt, int segments = 0) {
    Project project = sampleProject(name, createdAt, segments);
    store.save(project);
    return project;
  }
  std::string recordOf(const Project& project) const {
    return readFile(store.projectDirectory(project.id) / "project.json");
  }
  Project storedVersionOf(const Project& project) const {
    return decodeProjectRecord(recordOf(project));
  }
  static std::vector<std::string> namesOf(const AppState& state) {
    std::vector<std::string> names;
    for (const Project& project : state.projects()) names.push_back(project.name);
    return names;
  }
};

TEST_F(AppStateTest, StartsWithTheStoredProjectsNewestFirstAndSelectsTheNewest) {
  {
    AppState empty(store);
    EXPECT_TRUE(empty.projects().empty());
    EXPECT_FALSE(empty.selectedProjectID().has_value());
    EXPECT_EQ(empty.selectedProject(), nullptr);
  }
  stored("Tuesday", "2025-03-04T10:00:00Z");
  const Project newest = stored("Wednesday", "2025-03-05T10:00:00Z");
  stored("Monday", "2025-03-03T10:00:00Z");
  AppState state(store);
  EXPECT_THAT(namesOf(state), ElementsAre("Wednesday", "Tuesday", "Monday"));
  EXPECT_EQ(state.selectedProjectID(), newest.id);
  ASSERT_NE(state.selectedProject(), nullptr);
  EXPECT_EQ(state.selectedProject()->name, "Wednesday");
  EXPECT_FALSE(state.selectedSegmentID().has_value());
  EXPECT_FALSE(state.pipelineProgress().has_value());
  EXPECT_FALSE(state.lastError().has_value());
}

TEST_F(AppStateTest, DeletingMovesTheSelectionToTheFirstProjectLeft) {
  const Project oldest = stored("Oldest", "2025-03-01T10:00:00Z");
  const Project middle = stored("Middle", "2025-03-02T10:00:00Z");
  const Project newest = stored("Newest", "2025-03-03T10:00:00Z");
  AppState state(store);

  state.setSelectedProjectID(oldest.id);
  state.deleteProject(middle);
  EXPECT_EQ(state.selectedProjectID(), oldest.id) << "an unselected delete keeps the selection";
  EXPECT_FALSE(std::filesystem::exists(store.projectDirectory(middle.id)));

  state.deleteProject(oldest);
  EXPECT_EQ(state.selectedProjectID(), newest.id);
  QSignalSpy selectionChanges(&state, &AppState::selectedProjectIDChanged);
  state.deleteProject(newest);
  EXPECT_FALSE(state.selectedProjectID().has_value());
  EXPECT_TRUE(state.projects().empty());
  EXPECT_EQ(selectionChanges.count(), 1);
  EXPECT_TRUE(store.loadAll().empty());
}

TEST_F(AppStateTest, ADeleteThatLeavesPartOfTheFolderFailsWithWhatItLeft) {
  const Project project = stored("Stuck", "2025-03-01T10:00:00Z");
  const auto narration = store.projectDirectory(project.id) / "narration";
  testing::writeText(narration / "line.mp3", "mp3");
  AppState state(store);
  CommandOutcome outcome;
  {
    testing::ReadOnlyFolder stuck(narration);
    if (!stuck.works()) GTEST_SKIP() << "no way to make a folder read-only here";
    outcome = state.deleteProject(project);
  }
  EXPECT_FALSE(outcome.succeeded());
  EXPECT_THAT(outcome.said.value_or(""), HasSubstr("could not be removed"));
  EXPECT_EQ(state.lastError(), outcome.said);
  EXPECT_TRUE(state.projects().empty()) << "the record went, and with it the project";
}

TEST_F(AppStateTest, AnEditAppliesToTheRecordAsItIsStoredNow) {
  const Project project = stored("Walk", "2025-03-01T10:00:00Z", 2);
  AppState state(store);
  QSignalSpy changes(&state, &AppState::projectsChanged);

  // Another process (brisklet-cli, a second window) changes the record meanwhile.
  ProjectStore(store.root()).modify(project.id, [](Project& other) {
    other.aspectRatioRaw = "9:16";
    other.editPlan->planRevision += 1;
    return true;
  });
  state.setTransition(TransitionStyle::dipToBlack, project.id);
  const Project saved = storedVersionOf(project);
  EXPECT_EQ(saved.aspectRatioRaw, "9:16") << "the other process's change survives";
  EXPECT_EQ(saved.transitionStyleRaw, "dipToBlack");
  EXPECT_EQ(saved.editPlan->planRevision, project.editPlan->planRevision + 2);
  EXPECT_EQ(*state.project(project.id), saved);
  EXPECT_EQ(changes.count(), 1);

  const Project stranger = sampleProject("Stranger", "2025-03-01T10:00:00Z");
  EXPECT_FALSE(state.modifyProject(stranger.id, [](Project& changed) { changed.name = "x"; }));
  EXPECT_FALSE(std::filesystem::exists(store.projectDirectory(stranger.id)));
}

TEST_F(AppStateTest, AnEditToAProjectDeletedElsewhereIsToldAndNeverRecreatesIt) {
  const Project project = stored("Gone", "2025-03-01T10:00:00Z", 2);
  AppState state(store);
  ProjectStore(store.root()).deleteProject(project);
  state.setAspectRatio(AspectRatio::square, project.id);
  EXPECT_EQ(state.lastError(), "The project was deleted.");
  EXPECT_TRUE(state.projects().empty());
  EXPECT_FALSE(std::filesystem::exists(store.projectDirectory(project.id)));
}

TEST_F(AppStateTest, AnEditChangesOnlyWhatItNamesAndCountsARevision) {
  const Project project = stored("Edit", "2025-03-01T10:00:00Z", 4);
  AppState state(store);
  const Segment& third = project.editPlan->segments[2];
  ASSERT_TRUE(state.makeEdit(project.id, SetSpan{third.id, third.startSec + 0.5, third.endSec}));
  ASSERT_TRUE(state.makeEdit(project.id, SetKeep{third.id, false}));

  const Project saved = storedVersionOf(project);
  Segment expected = third;
  expected.startSec += 0.5;
  expected.keep = false;
  expected.userOverrodeKeep = true;
  EXPECT_EQ(saved.editPlan->segments[2], expected);
  EXPECT_EQ(saved.editPlan->planRevision, project.editPlan->planRevision + 2);
  EXPECT_EQ(*state.project(project.id), saved);
}

TEST_F(AppStateTest, AnEditOfAnythingUnknownChangesAndSavesNothingAndARefusalSaysWhy) {
  const Project withPlan = stored("Plan", "2025-03-01T10:00:00Z", 3);
  const Project withoutPlan = stored("No plan", "2025-03-01T09:00:00Z");
  AppState state(store);
  const std::string recordBefore = recordOf(withPlan);

  const Uuid first = withPlan.editPlan->segments[0].id;
  EXPECT_FALSE(state.makeEdit(withPlan.id, SetKeep{Uuid::random(), false}));
  EXPECT_EQ(state.lastError(), "That segment is no longer in the plan.");
  EXPECT_FALSE(state.makeEdit(Uuid::random(), SetKeep{first, false}));
  EXPECT_FALSE(state.makeEdit(withoutPlan.id, SetKeep{first, false}));
  EXPECT_FALSE(state.makeEdit(withPlan.id, SetSpan{first, 0, 0.2}));
  EXPECT_EQ(state.lastError(), "Trim refused: segment 0 would be shorter than 0.5 s.");

  EXPECT_EQ(recordOf(withPlan), recordBefore);
  EXPECT_EQ(*state.project(withPlan.id), withPlan);
  EXPECT_FALSE(state.canUndo(withPlan.id));
}

TEST_F(AppStateTest, OutputSettingsAreStoredAndCountARevisionWhenThereIsAPlan) {
  const Project withPlan = stored("Plan", "2025-03-01T10:00:00Z", 2);
  const Project withoutPlan = stored("No plan", "2025-03-01T09:00:00Z");
  AppState state(store);
  const std::int64_t revision = withPlan.editPlan->planRevision;

  state.setAspectRatio(AspectRatio::vertical, withPlan.id);
  state.setTransition(TransitionStyle::dipToBlack, withPlan.id);
  state.setMusicVolume(80, withPlan.id);
  Project saved = storedVersionOf(withPlan);
  EXPECT_EQ(saved.aspectRatioRaw, "9:16");
  EXPECT_EQ(saved.transitionStyleRaw, "dipToBlack");
  EXPECT_EQ(saved.musicVolumePercent, 60) << "clamped to the top of 5…60";
  EXPECT_EQ(saved.editPlan->planRevision, revision + 3);

  state.setMusicVolume(1, withoutPlan.id);
  state.setAspectRatio(AspectRatio::square, withoutPlan.id);
  saved = storedVersionOf(withoutPlan);
  EXPECT_EQ(saved.musicVolumePercent, 5) << "clamped to the bottom of 5…60";
  EXPECT_EQ(saved.aspectRatioRaw, "1:1");
  EXPECT_FALSE(saved.editPlan.has_value());

  const std::string before = recordOf(withPlan);
  state.setMusicVolume(std::numeric_limits<double>::quiet_NaN(), withPlan.id);
  state.setTransition(TransitionStyle::none, Uuid::random());
  EXPECT_EQ(recordOf(withPlan), before);
}

TEST_F(AppStateTest, EachPublishedPropertySignalsItsOwnChanges) {
  AppState state(store);
  QSignalSpy progress(&state, &AppState::pipelineProgressChanged);
  QSignalSpy error(&state, &AppState::lastErrorChanged);
  QSignalSpy segment(&state, &AppState::selectedSegmentIDChanged);

  const CommandID analysis = state.beginCommand(PipelineProgress{"Starting analysis…", -1});
  state.reportProgress(analysis, PipelineProgress{"Starting analysis…", -1});
  state.reportProgress(analysis, PipelineProgress{"Detecting scenes…", 0.4});
  state.setLastError("Export failed: disk full");
  const Uuid id = Uuid::random();
  state.setSelectedSegmentID(id);
  state.setSelectedSegmentID(id);

  EXPECT_EQ(progress.count(), 2) << "an equal value is no change";
  EXPECT_EQ(error.count(), 1);
  EXPECT_EQ(segment.count(), 1);
  EXPECT_TRUE(state.pipelineProgress()->fraction == 0.4);
}

}  // namespace
}  // namespace brisklet

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>
#include <QToolButton>
#include <chrono>
#include <cstdlib>
#include <mutex>

#include "app/AppState.h"
#include "app/ProjectComposition.h"
#include "platform/Bookmark.h"
#include "support/MediaGenerator.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"
#include "ui/ProjectDetailView.h"
#include "ui/Screenshots.h"
#include "ui/Theme.h"
#include "ui/TimelineTracks.h"
#include "ui/TimelineView.h"

namespace brisklet {
namespace {

double steadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

TEST(SettingsFingerprint, JoinsWhatThePreviewIsBuiltFrom) {
  Project project = testing::sampleProject("Trip", "2025-03-01T10:00:00Z", 2);
  project.editPlan->planRevision = 7;
  project.aspectRatioRaw = "9:16";
  EXPECT_EQ(settingsFingerprint(project), "7||9:16|||25|-14");
  project.editPlan.reset();
  project.denoisedAudioFileName = "clean_cc1_g150.m4a";
  project.transitionStyleRaw = "dipToBlack";
  project.musicFileName = "music.m4a";
  project.musicVolumePercent = 33.9;
  project.audioGainPercent = 180;  // applied only through the enhanced file's name
  project.loudnessRaw = "off";
  EXPECT_EQ(settingsFingerprint(project), "-1|clean_cc1_g150.m4a|9:16|dipToBlack|music.m4a|33|off");
  project.musicVolumePercent = std::nan("");
  EXPECT_EQ(settingsFingerprint(project), "-1|clean_cc1_g150.m4a|9:16|dipToBlack|music.m4a|25|off");
  EXPECT_EQ(editedMovieName("Trip"), "Trip \u2014 Edited.mp4");
  EXPECT_EQ(shortMovieName("Trip"), "Trip \u2014 Short.mp4");
}

class ProjectDetailViewTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};
  std::filesystem::path video = testing::makeClockVideo(folder / "walk.mp4", 10, 160, 90, 10);
  std::mutex builds;
  std::vector<double> buildTimes;

  Project stored(int segments) {
    Project project = testing::sampleProject("Trip", "2025-03-01T10:00:00Z", segments);
    project.videoBookmark = makeBookmark(video);
    project.videoDurationSec = 10;
    store.save(project);
    return project;
  }

  // Every build of the preview, timed, counted.
  DetailViewSetup countingSetup() {
    DetailViewSetup setup;
    setup.build = [this](const Project& project, const ProjectStore& from) {
      {
        const std::lock_guard lock(builds);
        buildTimes.push_back(steadySeconds());
      }
      return previewComposition(project, from);
    };
    return setup;
  }
  int buildCount() {
    const std::lock_guard lock(builds);
    return static_cast<int>(buildTimes.size());
  }

  static std::unique_ptr<ProjectDetailView> shown(AppState& state, const Uuid& id,
                                                  DetailViewSetup setup = {}) {
    auto view = std::make_unique<ProjectDetailView>(state, id, std::move(setup));
    view->resize(1100, 700);
    view->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return view->waveformLoaded(); }, 10000));
    return view;
  }
  static bool enabled(QWidget& view, const char* name) {
    return view.findChild<QWidget*>(name)->isEnabled();
  }
};

TEST_F(ProjectDetailViewTest,
       AnUnanalysedProjectOffersOnlyAnalysisAndARunningCommandDisablesTheRest) {
  applyTheme(*qApp, ColorScheme::dark);
  const Project fresh = stored(0);
  AppState state(store);
  auto view = shown(state, fresh.id);
  EXPECT_TRUE(view->findChild<QWidget*>("analyzeHint")->isVisible());
  EXPECT_TRUE(enabled(*view, "analyzeAction"));
  EXPECT_FALSE(enabled(*view, "tightenAction"));
  EXPECT_FALSE(enabled(*view, "generateVoiceAction"));
  EXPECT_FALSE(enabled(*view, "makeShortAction"));
  EXPECT_FALSE(enabled(*view, "exportAction"));
  EXPECT_FALSE(view->timeline().tracks().durationSec() <= 0) << "the source's length";
  testing::saveScreenshot(*view, "detail-unanalysed-dark.png");

  const Project planned = stored(4);
  AppState withPlan(store);
  withPlan.setSelectedProjectID(planned.id);
  auto analysed = shown(withPlan, planned.id);
  withPlan.beginCommand(PipelineProgress{"Scoring visual quality\u2026", 0.4});
  EXPECT_FALSE(analysed->findChild<QWidget*>("analyzeHint")->isVisible());
  EXPECT_FALSE(enabled(*analysed, "analyzeAction"));
  EXPECT_FALSE(enabled(*analysed, "tightenAction"));
  EXPECT_FALSE(enabled(*analysed, "generateVoiceAction"));
  EXPECT_FALSE(enabled(*analysed, "makeShortAction"));
  EXPECT_TRUE(enabled(*analysed, "exportAction")) << "a plan can be exported meanwhile";
}

TEST_F(ProjectDetailViewTest, AProjectWithAPlanOpensOnItsFirstSegmentAndPlaysTheEdit) {
  const Project project = stored(4);
  for (const ColorScheme scheme : {ColorScheme::dark, ColorScheme::light}) {
    applyTheme(*qApp, scheme);
    AppState state(store);
    auto view = shown(state, project.id);
    EXPECT_EQ(state.selectedSegmentID(), project.editPlan->segments.front().id);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->player().keptDuration() > 0; }, 10000));
    EXPECT_DOUBLE_EQ(view->player().keptDuration(), 5.0) << "two of the four 2.5 s scenes are kept";
    EXPECT_FALSE(view->findChild<QWidget*>("analyzeHint")->isVisible());
    EXPECT_TRUE(enabled(*view, "tightenAction"));
    // A click on the picture plays, another pauses.
    QWidget* preview = view->findChild<QWidget*>("preview");
    QTest::mouseClick(preview, Qt::LeftButton);
    EXPECT_TRUE(view->player().isPlaying());
    QTest::mouseClick(preview, Qt::LeftButton);
    EXPECT_FALSE(view->player().isPlaying());
    view->player().seekOutput(1.0);
    QTest::qWait(200);
    testing::saveScreenshot(
        *view, scheme == ColorScheme::dark ? "detail-plan-dark.png" : "detail-plan-light.png");
  }
}

TEST_F(ProjectDetailViewTest, AMissingMusicFileOrSourceIsToldOverThePreview) {
  applyTheme(*qApp, ColorScheme::dark);
  Project project = stored(4);
  testing::runFfmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=6", "-c:a", "aac",
                      (store.projectDirectory(project.id) / "music.m4a").string()});
  project.musicFileName = "music.m4a";
  store.save(project);
  AppState state(store);
  auto view = shown(state, project.id);
  const QWidget* status = view->findChild<QWidget*>("previewStatus");
  ASSERT_NE(status, nullptr);
  EXPECT_FALSE(status->isVisible());
  ASSERT_TRUE(QTest::qWaitFor([&] { return view->player().keptDuration() > 0; }, 10000));
  view->player().play();
  std::filesystem::remove(store.projectDirectory(project.id) / "music.m4a");
  ASSERT_TRUE(QTest::qWaitFor([&] { return status->isVisible(); }, 10000));
  // The file watcher's line, or the renderer's own when it reached the gap first.
  EXPECT_TRUE(status->findChild<QLabel*>("caption")->text().contains("music.m4a"))
      << status->findChild<QLabel*>("caption")->text().toStdString();
  view->player().pause();
  testing::saveScreenshot(*view, "detail-music-missing-dark.png");

  std::filesystem::rename(video, folder / "moved.mp4");
  AppState moved(store);
  auto reopened = std::make_unique<ProjectDetailView>(moved, project.id);
  reopened->resize(1100, 700);
  reopened->show();  // no waveform comes: the source is gone
  const QWidget* gone = reopened->findChild<QWidget*>("previewStatus");
  ASSERT_TRUE(QTest::qWaitFor([&] { return gone->isVisible(); }, 5000));
  EXPECT_TRUE(
      gone->findChild<QLabel*>("caption")->text().startsWith("The video cannot be played: "));
  testing::saveScreenshot(*reopened, "detail-source-missing-dark.png");
}

TEST_F(ProjectDetailViewTest, EscapeClosesAnOpenPopoverBeforeItClearsTheSelection) {
  const Project project = stored(4);
  AppState state(store);
  auto view = shown(state, project.id);
  const auto selected = state.selectedSegmentID();
  ASSERT_TRUE(selected);
  QTest::mouseClick(view->findChild<QToolButton*>("audioButton"), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 2000));
  QWidget* popover = QApplication::activePopupWidget();
  QTest::keyClick(popover->focusWidget() ? popover->focusWidget() : popover, Qt::Key_Escape);
  EXPECT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() == nullptr; }, 2000))
      << "the popover closes";
  EXPECT_EQ(state.selectedSegmentID(), selected) << "and the selection stays";
  QTest::keyClick(view.get(), Qt::Key_Escape);
  EXPECT_FALSE(state.selectedSegmentID()) << "the next Escape clears it";
}

TEST_F(ProjectDetailViewTest, ThreeChangesATenthApartRebuildOnceAFifthAfterTheLast) {
  const Project project = stored(4);
  AppState state(store);
  auto view = shown(state, project.id, countingSetup());
  ASSERT_TRUE(QTest::qWaitFor([&] { return view->player().isReady(); }, 10000));
  const int afterLoad = buildCount();

  double lastChange = 0;
  for (int change = 0; change < 3; ++change) {
    const Segment& segment = state.project(project.id)->editPlan->segments.at(0);
    lastChange = steadySeconds();
    state.makeEdit(project.id, SetSpan{segment.id, segment.startSec, segment.endSec - 0.1});
    QTest::qWait(100);
  }
  QTest::qWait(600);
  ASSERT_EQ(buildCount(), afterLoad + 1);
  EXPECT_GE(buildTimes.back() - lastChange, 0.3);
  EXPECT_LT(buildTimes.back() - lastChange, 0.5);

  // The boost alone, not applied, changes nothing the preview is built from.
  state.modifyProject(project.id, [](Project& stored) { stored.audioGainPercent = 170; });
  QTest::qWait(500);
  EXPECT_EQ(buildCount(), afterLoad + 1);
}

TEST_F(ProjectDetailViewTest, ASelectionFromAnotherProjectCountsAsNone) {
  const Project project = stored(4);
  AppState state(store);
  state.setSelectedSegmentID(Uuid::random());  // left over from the project shown before
  {
    auto view = shown(state, project.id);
    EXPECT_EQ(state.selectedSegmentID(), project.editPlan->segments.front().id);
    QTest::keyClick(view.get(), Qt::Key_Escape);
    EXPECT_FALSE(state.selectedSegmentID());
  }
  state.setSelectedSegmentID(Uuid::random());
  ::setenv("BRISKLET_SHOW_NOTES", "1", 1);
  auto notes = shown(state, project.id);
  ::unsetenv("BRISKLET_SHOW_NOTES");
  EXPECT_FALSE(state.selectedSegmentID()) << "the inspector opens on the director's notes";
}

TEST_F(ProjectDetailViewTest, ExportAsksWhereWithTheProjectsNameAndStaysOffUntilItEnds) {
  const Project project = stored(4);
  AppState state(store);
  state.setFileRevealer([](const std::filesystem::path&) {});
  QString proposed, message;
  DetailViewSetup setup;
  setup.chooseSaveLocation = [&](const QString& name, const QString& text) {
    proposed = name;
    message = text;
    return std::optional(folder / name.toStdString());
  };
  auto view = shown(state, project.id, setup);
  view->exportVideo();
  EXPECT_EQ(proposed, "Trip \u2014 Edited.mp4");
  EXPECT_EQ(message, "Choose where to save the edited video");
  EXPECT_FALSE(enabled(*view, "exportAction"));
  // A fresh view of the same project (the user went elsewhere and came back) knows it too.
  view.reset();
  auto again = std::make_unique<ProjectDetailView>(state, project.id, setup);
  EXPECT_FALSE(enabled(*again, "exportAction"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !state.isExporting(project.id); }, 60000));
  EXPECT_TRUE(enabled(*again, "exportAction"));
  EXPECT_FALSE(state.lastError()) << state.lastError().value_or("");
  EXPECT_TRUE(std::filesystem::exists(folder / "Trip \u2014 Edited.mp4"));

  view = std::move(again);
  view->makeShort();
  EXPECT_EQ(proposed, "Trip \u2014 Short.mp4");
  EXPECT_EQ(message, "Choose where to save your 30-second Short");
}

}  // namespace
}  // namespace brisklet

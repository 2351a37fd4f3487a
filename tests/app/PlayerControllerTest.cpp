#include "app/PlayerController.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <cmath>
#include <fstream>
#include <thread>

#include "app/ProjectComposition.h"
#include "media/CompositionExporter.h"
#include "platform/Bookmark.h"
#include "support/MediaGenerator.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

constexpr double kFrameSec = 1.0 / 30;

EditPlan planOf(std::initializer_list<std::pair<double, double>> kept) {
  EditPlan plan;
  for (const auto& [start, end] : kept) plan.segments.push_back(testing::segment(start, end));
  return plan;
}

// Waits, running the event loop, until `condition` holds; false after ten seconds.
template <typename Condition>
bool eventually(Condition condition) {
  return QTest::qWaitFor(condition, 10000);
}

class PlayerControllerTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};
  Project project;
  std::atomic<double> now = 100.0;
  std::unique_ptr<PlayerController> controller;

  // 6 s of numbered pictures and a sound whose level tells its time; kept: [1, 3) and [4, 6).
  PlayerControllerTest() {
    const auto pictures = testing::makeNumberedVideo(folder / "numbered.mp4", 6);
    testing::runFfmpeg({"-i", pictures.string(), "-f", "lavfi", "-i", "aevalsrc=t/10:s=48000:d=6",
                        "-c:v", "copy", "-c:a", "aac", (folder / "source.mp4").string()});
    project = makeProject("Walk", makeBookmark(folder / "source.mp4"), 6.0);
    project.editPlan = planOf({{1, 3}, {4, 6}});
    store.save(project);
    PlayerOptions options;
    options.steadySeconds = [this] { return now.load(); };
    controller = std::make_unique<PlayerController>(store, options);
  }

  void loadAndWait(const Project& loaded) {
    QSignalSpy installed(controller.get(), &PlayerController::itemInstalled);
    controller->load(loaded);
    ASSERT_TRUE(eventually([&] { return installed.count() == 1; }));
  }

  // The frame number on screen once the picture for the playhead has arrived.
  int frameShown() {
    const double due = controller->currentKeptTime();
    EXPECT_TRUE(eventually([&] {
      return !controller->picture().empty() && controller->pictureTimeSec() > due - kFrameSec - 1e-6 &&
             controller->pictureTimeSec() <= due + 1e-9;
    }));
    return testing::frameNumberOf(controller->picture());
  }
};

TEST_F(PlayerControllerTest, WithoutAPlanTheWholeSourcePlaysOnItsOwnClock) {
  project.editPlan.reset();
  loadAndWait(project);
  EXPECT_TRUE(controller->isReady());
  EXPECT_EQ(controller->keptDuration(), 0);
  controller->seek(2.5);
  EXPECT_DOUBLE_EQ(controller->currentSourceTime(), 2.5);
  EXPECT_DOUBLE_EQ(controller->currentKeptTime(), 2.5);
  EXPECT_EQ(frameShown(), 75);
  controller->skipSegment(true);
  EXPECT_DOUBLE_EQ(controller->currentKeptTime(), 2.5) << "no segments to skip between";
}

TEST_F(PlayerControllerTest, SeeksAndSkipsLandOnTheRightFrames) {
  loadAndWait(project);
  EXPECT_DOUBLE_EQ(controller->keptDuration(), 4.0);
  controller->seek(4.5);
  EXPECT_DOUBLE_EQ(controller->currentKeptTime(), 2.5);
  EXPECT_EQ(frameShown(), 135);
  controller->seek(3.5);  // dropped: the next kept segment
  EXPECT_DOUBLE_EQ(controller->currentSourceTime(), 4.0);
  EXPECT_EQ(frameShown(), 120);
  controller->seekOutput(2.3);
  controller->skipSegment(false);
  EXPECT_DOUBLE_EQ(controller->currentKeptTime(), 0) << "early in a segment: the one before";
  controller->seekOutput(3.0);
  controller->skipSegment(false);
  EXPECT_DOUBLE_EQ(controller->currentKeptTime(), 2.0) << "later: its own start";
  controller->skipSegment(true);
  EXPECT_DOUBLE_EQ(controller->currentKeptTime(), 2.0) << "nothing after the last segment";
  controller->seekOutput(99);
  EXPECT_EQ(frameShown(), 179) << "the end shows the last frame";
}

TEST_F(PlayerControllerTest, ARebuildKeepsTheSourceMomentAsItIsWhenTheNewEditArrives) {
  loadAndWait(project);
  controller->seek(2.0);
  EXPECT_EQ(frameShown(), 60);
  controller->play();
  now = now + 0.5;  // playing at source 2.5

  QSignalSpy installed(controller.get(), &PlayerController::itemInstalled);
  Project edited = project;
  edited.editPlan = planOf({{0.5, 3}, {4, 6}});
  controller->rebuild(edited);
  now = now + 0.3;  // playback goes on while the edit is built
  ASSERT_TRUE(eventually([&] { return installed.count() == 1; }));
  EXPECT_TRUE(controller->isPlaying());
  EXPECT_NEAR(controller->currentSourceTime(), 2.8, 1e-9);
  EXPECT_NEAR(controller->currentKeptTime(), 2.3, 1e-9);
  EXPECT_EQ(frameShown(), 84);

  // Paused, it stays paused; a moment just dropped moves on to the next kept segment.
  controller->pause();
  Project dropped = project;
  dropped.editPlan = planOf({{1, 2}, {4, 6}});
  controller->rebuild(dropped);
  ASSERT_TRUE(eventually([&] { return installed.count() == 2; }));
  EXPECT_FALSE(controller->isPlaying());
  EXPECT_DOUBLE_EQ(controller->currentSourceTime(), 4.0);
  EXPECT_DOUBLE_EQ(controller->currentKeptTime(), 1.0);
  EXPECT_DOUBLE_EQ(controller->keptDuration(), 3.0);
}

TEST_F(PlayerControllerTest, OnlyTheLatestRebuildInstallsAndAFailedOneKeepsThePlayingItem) {
  // Builds that take 200 ms, as a long source's do.
  PlayerOptions options;
  options.steadySeconds = [this] { return now.load(); };
  controller = std::make_unique<PlayerController>(
      store, options, [](const Project& built, const ProjectStore& from) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return previewComposition(built, from);
      });
  loadAndWait(project);
  QSignalSpy installed(controller.get(), &PlayerController::itemInstalled);
  for (const auto& plan : {planOf({{0, 1}}), planOf({{0, 2}}), planOf({{0, 3}})}) {
    Project edited = project;
    edited.editPlan = plan;
    controller->rebuild(edited);
    QTest::qWait(50);
  }
  ASSERT_TRUE(eventually([&] { return installed.count() >= 1; }));
  QTest::qWait(300);
  EXPECT_EQ(installed.count(), 1);
  EXPECT_DOUBLE_EQ(controller->keptDuration(), 3.0);

  const auto playing = controller->player().item();
  std::ofstream(folder / "noise.mp4") << "not a movie at all";
  Project broken = project;
  broken.videoBookmark = makeBookmark(folder / "noise.mp4");
  controller->rebuild(broken);
  ASSERT_TRUE(eventually([&] { return !controller->statusLine().empty(); }));
  EXPECT_EQ(controller->statusLine().rfind("The preview could not be updated: ", 0), 0u)
      << controller->statusLine();
  EXPECT_EQ(controller->player().item(), playing);
  EXPECT_EQ(installed.count(), 1);
}

TEST_F(PlayerControllerTest, MusicDeletedWhilePlayingFallsSilentWithAStatusLine) {
  testing::runFfmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=6", "-c:a", "aac",
                      (store.projectDirectory(project.id) / "music.m4a").string()});
  project.musicFileName = "music.m4a";
  loadAndWait(project);
  ASSERT_TRUE(controller->player().item()->composition.music);
  controller->play();

  std::filesystem::remove(store.projectDirectory(project.id) / "music.m4a");
  // The sound may first fail to open the file, which the rebuild then explains.
  const std::string missing =
      "The music \u201cmusic.m4a\u201d is missing; the preview plays without it.";
  EXPECT_TRUE(eventually([&] { return controller->statusLine() == missing; }))
      << controller->statusLine();
  EXPECT_FALSE(controller->player().item()->composition.music);
  EXPECT_TRUE(controller->isPlaying());
}

TEST_F(PlayerControllerTest, ThePreviewPlaysAtTheGainTheExportApplies) {
  testing::runFfmpeg({"-f", "lavfi", "-i", "color=gray:s=96x54:r=30:d=6", "-f", "lavfi", "-i",
                      "aevalsrc='0.05*sin(2*PI*440*t)':s=48000:d=6", "-pix_fmt", "yuv420p",
                      (folder / "quiet.mp4").string()});
  Project quiet = makeProject("Quiet", makeBookmark(folder / "quiet.mp4"), 6.0);
  quiet.editPlan = planOf({{0, 6}});
  quiet.loudnessRaw = "off";
  store.save(quiet);
  const Asset source = Asset::open(folder / "quiet.mp4");
  CompositionExporter::exportMovie(*quiet.editPlan, source, compositionInputs(quiet, store),
                                   folder / "as-mixed.mp4", [](double) {});
  const double mixedLufs = testing::ffmpegLoudness(folder / "as-mixed.mp4").integratedLufs;

  loadAndWait(quiet);
  EXPECT_DOUBLE_EQ(controller->player().soundGain(), 1.0) << "off: the mix as it is";
  quiet.loudnessRaw = "-16";
  controller->rebuild(quiet);
  const double wantedDb = -16 - mixedLufs;
  EXPECT_TRUE(eventually([&] {
    return std::fabs(20 * std::log10(controller->player().soundGain()) - wantedDb) < 1.0;
  })) << "gain " << 20 * std::log10(controller->player().soundGain()) << " dB, wanted " << wantedDb;
}

TEST_F(PlayerControllerTest, ASourceThatCannotBeFoundLeavesThePlayerEmpty) {
  std::filesystem::remove(folder / "source.mp4");
  controller->load(project);
  QTest::qWait(100);
  EXPECT_FALSE(controller->isReady());
  EXPECT_FALSE(controller->player().item());
}

}  // namespace
}  // namespace brisklet

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "app/AppState.h"
#include "media/platform/ImageGenerator.h"
#include "platform/AtomicFile.h"
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
  state.beginCommand(PipelineProgress{"Exporting…", 0.4});
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

TEST_F(ImportCommandTest, FilesThatAreNoVideoToEditAreRefusedBeforeAProjectExists) {
  testing::runFfmpeg({"-f", "lavfi", "-i", "color=red:s=64x48", "-frames:v", "1",
                      (folder / "photo.jpg").string()});
  testing::runFfmpeg({"-f", "lavfi", "-i", "sine=d=2", (folder / "voice.m4a").string()});
  // Two seconds of pictures, the second one stamped ten hours later.
  testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc=s=64x48:r=25:d=2", "-vf",
                      "setpts='if(gte(N,25),PTS+36000/TB,PTS)'", "-fps_mode", "passthrough", "-c:v",
                      "libx264", "-preset", "ultrafast", (folder / "gap.mp4").string()});
  // A movie whose index is whole but whose pictures are noise.
  testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc=s=64x48:r=25:d=2", "-c:v", "libx264", "-preset",
                      "ultrafast", "-movflags", "+faststart", (folder / "noise.mp4").string()});
  std::string movie = readFile(folder / "noise.mp4");
  for (size_t index = movie.find("mdat") + 4; index < movie.size(); ++index)
    movie[index] = static_cast<char>(index * 7919 % 251);
  testing::writeText(folder / "noise.mp4", movie);

  AppState state(store);
  const struct {
    const char* file;
    const char* why;
  } refused[] = {
      {"photo.jpg", "is a still picture, not a video."},
      {"voice.m4a", "has no video track."},
      {"noise.mp4", "has no picture that can be decoded."},
      {"gap.mp4", "has a gap in its timestamps: its pictures jump from 0:01 to 600:01."}};
  for (const auto& [file, why] : refused) {
    QCoro::waitFor(state.importVideo(folder / file));
    EXPECT_EQ(state.lastError(),
              std::string("Could not import video: The file \u201C") + file + "\u201D " + why);
  }
  QCoro::waitFor(state.importVideos({clip("fine.mp4"), folder / "noise.mp4"}));
  EXPECT_EQ(state.lastError(),
            "Could not merge clips: The file \u201Cnoise.mp4\u201D has no "
            "picture that can be decoded.");
  EXPECT_TRUE(state.projects().empty());
  EXPECT_TRUE(!std::filesystem::exists(store.root()) || testing::entriesOf(store.root()).empty());
}

// Shot at `recordedAt`, one second of one colour.
std::filesystem::path shotAt(const std::filesystem::path& file, const std::string& colour,
                             const std::string& recordedAt) {
  testing::runFfmpeg({"-f", "lavfi", "-i", "color=" + colour + ":s=96x54:r=30:d=1", "-c:v",
                      "libx264", "-preset", "ultrafast", "-metadata", "creation_time=" + recordedAt,
                      file.string()});
  return file;
}

TEST_F(ImportCommandTest, ClipsOfADayBecomeOneProjectInShootingOrder) {
  // Copied off the camera newest first, and given one file time: only the recording times
  // tell the order.
  const auto third = shotAt(folder / "IMG_0415.MOV", "blue", "2024-05-01T10:03:00Z");
  const auto second = shotAt(folder / "IMG_0413.MOV", "lime", "2024-05-01T10:01:00Z");
  const auto fourth = shotAt(folder / "IMG_0420.MOV", "white", "2024-05-01T11:30:00Z");
  const auto first = shotAt(folder / "IMG_0412.MOV", "red", "2024-05-01T09:58:00Z");
  const auto copiedAt = std::filesystem::last_write_time(first);
  for (const auto& clip : {second, third, fourth}) std::filesystem::last_write_time(clip, copiedAt);

  AppState state(store);
  state.setKeySource([](KeychainStore::Key) { return std::nullopt; });
  std::vector<PipelineProgress> shown;
  QObject::connect(&state, &AppState::pipelineProgressChanged, [&] {
    if (state.pipelineProgress()) shown.push_back(*state.pipelineProgress());
  });
  QCoro::waitFor(state.importVideos({third, second, fourth, first}));

  ASSERT_EQ(state.projects().size(), 1u) << state.lastError().value_or("");
  const Project project = state.projects().front();
  EXPECT_EQ(project.name, "IMG_0412 + 3 more");
  EXPECT_EQ(state.selectedProjectID(), project.id);
  EXPECT_NEAR(project.videoDurationSec, 4.0, 0.05);
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.front(), (PipelineProgress{"Merging 4 clips\u2026", -1.0}));

  const auto source = store.projectDirectory(project.id) / "source.mov";
  ASSERT_TRUE(std::filesystem::exists(source));
  ImageGeneratorSettings settings;
  settings.toleranceBeforeSec = settings.toleranceAfterSec = 0.02;
  ImageGenerator pictures(Asset::open(source), settings);
  const auto colourAt = [&](double timeSec) { return cv::mean(pictures.image(timeSec)); };
  // BGR: red, lime, blue, white, each taking over at its second.
  EXPECT_GT(colourAt(0.95)[2], 200);
  EXPECT_GT(colourAt(1.05)[1], 200);
  EXPECT_LT(colourAt(1.05)[2], 60);
  EXPECT_GT(colourAt(1.95)[1], 200);
  EXPECT_GT(colourAt(2.05)[0], 200);
  EXPECT_LT(colourAt(2.05)[1], 60);
  EXPECT_GT(colourAt(3.05)[1], 200);
  EXPECT_GT(colourAt(3.05)[2], 200);

  waitUntilIdle(state);
  const Project analysed = store.loadAll().at(0);
  ASSERT_TRUE(analysed.editPlan) << "analysed by itself";
  EXPECT_EQ(analysed.editPlan->planRevision, 1);
}

TEST_F(ImportCommandTest, AFailedMergeLeavesNeitherProjectNorFolder) {
  const auto good = shotAt(folder / "good.mov", "red", "2024-05-01T10:00:00Z");
  std::string noise(8192, '\0');
  for (size_t index = 0; index < noise.size(); ++index) noise[index] = char(index * 131 % 253);
  testing::writeText(folder / "broken.mov", noise);

  AppState state(store);
  QCoro::waitFor(state.importVideos({good, folder / "broken.mov"}));
  EXPECT_THAT(state.lastError().value_or(""), StartsWith("Could not merge clips: "));
  EXPECT_THAT(state.lastError().value_or(""), HasSubstr("broken.mov"));
  EXPECT_FALSE(state.pipelineProgress());
  EXPECT_TRUE(state.projects().empty());
  EXPECT_TRUE(!std::filesystem::exists(store.root()) || testing::entriesOf(store.root()).empty())
      << "no project folder left";
}

}  // namespace
}  // namespace brisklet

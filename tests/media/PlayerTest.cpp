#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "media/Player.h"
#include "media/SegmentTimeMapping.h"
#include "support/MediaGenerator.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

constexpr double kFrameSec = 1.0 / 30;

class PlayerTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  std::atomic<double> now = 100.0;
  std::unique_ptr<Player> player;
  std::shared_ptr<const CompositionResult> edit;

  // 6 s of numbered pictures with a sound whose level tells its time (t / 10); kept: source
  // [1, 3) and [4, 6), which meet at output 2.
  PlayerTest() {
    const auto pictures = testing::makeNumberedVideo(folder / "numbered.mp4", 6);
    testing::runFfmpeg({"-i", pictures.string(), "-f", "lavfi", "-i", "aevalsrc=t/10:s=48000:d=6",
                        "-c:v", "copy", "-c:a", "pcm_s16le", (folder / "source.mov").string()});
    EditPlan plan;
    for (const auto& [start, end] : {std::pair{1.0, 3.0}, {4.0, 6.0}}) {
      Segment kept;
      kept.id = Uuid::random();
      kept.startSec = start;
      kept.endSec = end;
      plan.segments.push_back(kept);
    }
    CompositionBuilder::Inputs inputs;
    inputs.layOutPictures = true;
    edit = std::make_shared<const CompositionResult>(
        CompositionBuilder::build(plan, Asset::open(folder / "source.mov"), inputs));
    PlayerOptions options;
    options.steadySeconds = [this] { return now.load(); };
    player = std::make_unique<Player>(options);
  }

  // The frame of the numbered source shown at output time `outputSec`.
  int frameAt(double outputSec) const {
    return static_cast<int>(std::floor(*sourceTime(edit->mappings, outputSec) * 30 + 1e-6));
  }

  // The next picture due, waiting (in real time) for the renderer to have it.
  std::optional<PlayerPicture> nextDue() {
    for (int attempt = 0; attempt < 2000; ++attempt) {
      if (auto due = player->pictureDue()) return due;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return std::nullopt;
  }
};

TEST_F(PlayerTest, PicturesComeOnTheClockAcrossSegmentsAndLateOnesAreDropped) {
  player->setItem(edit, 0);
  const auto first = player->awaitPicture(std::chrono::seconds(10));
  ASSERT_TRUE(first);
  EXPECT_EQ(testing::frameNumberOf(first->image), 30);

  player->play();
  const double started = now;
  for (int frame = 1; frame <= 75; ++frame) {
    now = started + frame * kFrameSec + 0.001;
    const auto due = nextDue();
    ASSERT_TRUE(due) << frame;
    EXPECT_NEAR(due->timeSec, frame * kFrameSec, 1e-6);
    EXPECT_EQ(testing::frameNumberOf(due->image), frameAt(frame * kFrameSec)) << frame;
  }
  EXPECT_EQ(player->droppedPictures(), 0);

  // The clock runs half a second ahead of the renderer: the pictures it overtook are never shown.
  now = now + 0.5;
  const double position = player->positionSec();
  for (;;) {
    const auto due = nextDue();
    ASSERT_TRUE(due);
    EXPECT_LE(due->timeSec, position);
    if (due->timeSec > position - kFrameSec) break;
  }
  EXPECT_GT(player->droppedPictures(), 0);

  player->pause();
  now = now + 5;
  EXPECT_DOUBLE_EQ(player->positionSec(), position);
  EXPECT_FALSE(player->isPlaying());
}

TEST_F(PlayerTest, ScrubbingShowsTheLatestMomentAndTheEndItsLastFrame) {
  player->setItem(edit, 0);
  for (int step = 0; step <= 20; ++step) player->seek(0.1 * step + 0.51);
  auto shown = player->awaitPicture(std::chrono::seconds(10));
  ASSERT_TRUE(shown);
  EXPECT_NEAR(shown->timeSec, 2.51, 1e-9);
  EXPECT_EQ(testing::frameNumberOf(shown->image), frameAt(2.51));

  player->seek(1e9);
  shown = player->awaitPicture(std::chrono::seconds(10));
  ASSERT_TRUE(shown);
  EXPECT_EQ(testing::frameNumberOf(shown->image), 179) << "the last frame, not black";
  player->play();
  player->positionSec();
  EXPECT_TRUE(player->isPlaying()) << "play at the end starts over";
  EXPECT_DOUBLE_EQ(player->positionSec(), 0);

  // A smaller view gets smaller pictures of the same moment.
  const int fullWidth = shown->image.cols;
  player->seek(1.0);
  ASSERT_TRUE(player->awaitPicture(std::chrono::seconds(10)));
  player->setViewBox({fullWidth / 4, 1000});
  shown = player->awaitPicture(std::chrono::seconds(10));
  ASSERT_TRUE(shown);
  EXPECT_LE(shown->image.cols, fullWidth / 4);
  EXPECT_NEAR(shown->timeSec, 1.0, 1e-9) << "the moment the playhead stands at";

  // Emptied (a project whose source is gone) and given an item again.
  player->setItem(nullptr, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(player->awaitPicture(std::chrono::milliseconds(50)));
  player->setItem(edit, 1.0);
  ASSERT_TRUE(player->awaitPicture(std::chrono::seconds(10)));
}

TEST_F(PlayerTest, TheSoundDevicePacesThePlayheadAndRunningDryIsCounted) {
  player->useSoundDevice();
  player->setItem(edit, 1.5);
  ASSERT_TRUE(player->awaitPicture(std::chrono::seconds(10)));
  player->play();
  // The sound thread fills its ring; a busy machine (or the sanitizers) may need the whole second.
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  now = now + 0.5;
  EXPECT_DOUBLE_EQ(player->positionSec(), 1.5) << "nothing heard yet: the playhead waits";

  std::vector<float> sound(2 * 4800);
  player->pullSound(sound, 0.04);
  // Output 1.5 is source 2.5: level 0.25, on both channels at its own level.
  EXPECT_NEAR(sound[0], 0.25, 0.01);
  EXPECT_NEAR(sound[sound.size() - 1], 0.26, 0.01);
  now = now + 0.04;
  EXPECT_DOUBLE_EQ(player->positionSec(), 1.5) << "heard once the device played what it held";
  now = now + 0.06;
  EXPECT_NEAR(player->positionSec(), 1.56, 1e-9);

  // A device taking 40 ms every 40 ms, holding 40 ms.
  std::vector<float> burst(2 * 1920);
  for (int pull = 0; pull < 20; ++pull) {
    player->pullSound(burst, 0.04);
    now = now + 0.04;
    // Real time for the sound thread to top the ring up; the playhead follows `now` alone.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_NEAR(player->positionSec(), 2.36, 1e-9);
  // A report 20 ms off moves the playhead a tenth of it, not all at once.
  player->pullSound(burst, 0.06);
  EXPECT_NEAR(player->positionSec(), 2.358, 1e-9);
  // A device that stalls holds the playhead at the end of the sound it was given.
  now = now + 1.0;
  EXPECT_NEAR(player->positionSec(), 1.5 + (4800 + 21 * 1920) / 48000.0, 1e-9);
  EXPECT_EQ(player->underruns(), 0);

  std::vector<float> second(2 * 48000);
  player->pullSound(second, 0.04);
  EXPECT_EQ(player->underruns(), 1);
  EXPECT_EQ(second.back(), 0.0f) << "silence where the sound was not ready";

  player->pause();
  player->pullSound(sound, 0.04);
  EXPECT_EQ(sound[0], 0.0f);
  EXPECT_EQ(player->underruns(), 1) << "a pause is not an underrun";
}

TEST_F(PlayerTest, ASourceDamagedWhilePlayingKeepsItsLastPictureAndSaysSo) {
  player->setItem(edit, 0);
  ASSERT_TRUE(player->awaitPicture(std::chrono::seconds(10)));
  std::filesystem::resize_file(folder / "source.mov",
                               std::filesystem::file_size(folder / "source.mov") / 8);
  player->play();
  for (int frame = 1; frame <= 120 && !player->problem(); ++frame) {
    now = now + kFrameSec;
    player->pictureDue();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_TRUE(player->problem());
  EXPECT_NE(player->problem()->find("source.mov"), std::string::npos) << *player->problem();
  std::vector<float> sound(2 * 480);
  player->pullSound(sound, 0);
}

TEST_F(PlayerTest, AnItemWithoutPicturesEndsTheWaitForOne) {
  // No video composition: nothing to show. Whether the wait begins before or after the render
  // thread takes the item, it ends at once; a missed wake-up would hold it its whole limit.
  CompositionResult soundOnly = *edit;
  soundOnly.videoComposition.reset();
  const auto item = std::make_shared<const CompositionResult>(soundOnly);
  const auto began = std::chrono::steady_clock::now();
  for (int attempt = 0; attempt < 20; ++attempt) {
    player->setItem(item, 0);
    EXPECT_FALSE(player->awaitPicture(std::chrono::seconds(5)));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
}

TEST(PlayerColours, PicturesShowTheirOwnColourWhateverMatrixTheySayOrLeaveUnsaid) {
  testing::TemporaryFolder folder;
  // The same orange, turned into YUV by BT.601 and saying so, and by BT.709 saying nothing, as
  // HD cameras and editors often leave it.
  for (const auto& [matrix, tag] : {std::pair{"bt601", "smpte170m"}, {"bt709", ""}}) {
    const auto file = folder / (std::string(matrix) + ".mp4");
    std::vector<std::string> arguments = {
        "-f",   "lavfi",
        "-i",   "color=c=0xC03020:s=1280x720:r=30:d=1",
        "-vf",  std::string("scale=out_color_matrix=") + matrix + ":out_range=tv,format=yuv420p",
        "-c:v", "libx264",
        "-crf", "5"};
    if (*tag) arguments.insert(arguments.end(), {"-colorspace", tag});
    arguments.push_back(file.string());
    testing::runFfmpeg(arguments);
    EditPlan plan;
    plan.segments = {testing::segment(0, 1)};
    CompositionBuilder::Inputs inputs;
    inputs.layOutPictures = true;
    Player player;
    player.setItem(std::make_shared<const CompositionResult>(
        CompositionBuilder::build(plan, Asset::open(file), inputs)));
    const auto shown = player.awaitPicture(std::chrono::seconds(10));
    ASSERT_TRUE(shown) << matrix;
    EXPECT_EQ(shown->image.cols, 1280);
    const cv::Scalar colour = cv::mean(shown->image);
    EXPECT_NEAR(colour[2], 192, 4) << matrix;
    EXPECT_NEAR(colour[1], 48, 4) << matrix;
    EXPECT_NEAR(colour[0], 32, 4) << matrix;
  }
}

}  // namespace
}  // namespace brisklet

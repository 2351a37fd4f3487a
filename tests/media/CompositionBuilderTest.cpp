#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "media/CompositionBuilder.h"
#include "support/MediaGenerator.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using testing::segment;

using ::testing::DoubleNear;
using ::testing::ElementsAre;
using ::testing::Pair;

Segment narrated(double startSec, double endSec, const std::string& file, double offsetSec) {
  Segment made = segment(startSec, endSec);
  NarrationClip line;
  line.text = "Here we go.";
  line.audioFileName = file;
  line.startOffsetSec = offsetSec;
  line.status = NarrationStatus::ready;
  made.narration = line;
  return made;
}

auto spoken(double startSec, double endSec, const std::string& text) {
  return ::testing::AllOf(::testing::Field(&Caption::startSec, DoubleNear(startSec, 1e-3)),
                          ::testing::Field(&Caption::endSec, DoubleNear(endSec, 1e-3)),
                          ::testing::Field(&Caption::text, text));
}

class CompositionBuilderTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;

  // 160x90 picture for `seconds`, with a tone unless silent; turned to portrait on request.
  Asset video(const std::string& name, double seconds, bool withSound = true) {
    std::vector<std::string> arguments{"-f", "lavfi", "-i",
                                       "color=gray:s=160x90:r=30:d=" + std::to_string(seconds)};
    if (withSound)
      arguments.insert(arguments.end(), {"-f", "lavfi", "-i",
                                         "sine=f=440:d=" + std::to_string(seconds)});
    arguments.insert(arguments.end(), {"-c:v", "libx264", "-preset", "ultrafast",
                                       (folder / name).string()});
    testing::runFfmpeg(arguments);
    return Asset::open(folder / name);
  }

  std::filesystem::path tone(const std::string& name, double seconds) {
    testing::runFfmpeg({"-f", "lavfi", "-i", "sine=f=880:d=" + std::to_string(seconds),
                        (folder / name).string()});
    return folder / name;
  }
};

TEST_F(CompositionBuilderTest, NothingKeptGivesAnEmptyResult) {
  const Asset source = video("source.mp4", 4);
  EditPlan plan;
  plan.segments = {segment(0, 2, false), segment(2, 4, false)};
  CompositionBuilder::Inputs inputs;
  inputs.transition = TransitionStyle::dipToBlack;
  inputs.music = tone("music.wav", 3);
  const CompositionResult result = CompositionBuilder::build(plan, source, inputs);
  EXPECT_TRUE(result.composition.video.empty());
  EXPECT_FALSE(result.videoComposition);
  EXPECT_FALSE(result.composition.music);
  EXPECT_FALSE(result.audioMix);
  EXPECT_TRUE(result.mappings.empty());
}

TEST_F(CompositionBuilderTest, KeptSegmentsFollowInSourceOrder) {
  const Asset source = video("source.mp4", 10);
  EditPlan plan;
  plan.segments = {segment(6.0, 7.5), segment(1.0, 3.0001), segment(3.5, 5.0, false)};
  CompositionBuilder::Inputs inputs;
  CompositionResult result = CompositionBuilder::build(plan, source, inputs);
  ASSERT_EQ(result.mappings.size(), 2u);
  EXPECT_EQ(result.mappings[0].sourceStartSec, 1.0);
  EXPECT_DOUBLE_EQ(result.mappings[0].durationSec, 2.0001) << "unrounded";
  EXPECT_DOUBLE_EQ(result.mappings[1].compositionStartSec, 2.0) << "the cursor moves in 1/600 s";
  EXPECT_EQ(result.composition.video[1].source.start, MediaTime::fromSeconds(6.0));
  ASSERT_TRUE(result.composition.mainAudio);
  EXPECT_EQ(result.composition.mainAudio->size(), 2u);
  EXPECT_FALSE(result.videoComposition) << "original framing with hard cuts plays as it is";

  inputs.transition = TransitionStyle::dipToBlack;
  result = CompositionBuilder::build(plan, source, inputs);
  ASSERT_TRUE(result.videoComposition);
  EXPECT_EQ(result.videoComposition->renderWidth, 160);
  EXPECT_EQ(result.videoComposition->renderHeight, 90);
  ASSERT_EQ(result.videoComposition->instructions.size(), 2u);
  const auto& ramps = result.videoComposition->instructions[1].opacityRamps;
  ASSERT_EQ(ramps.size(), 2u);
  EXPECT_EQ(ramps[0].range.duration, MediaTime::fromSeconds(0.3)) << "1.5 s: a 0.3 s dip";
  EXPECT_EQ(ramps[1].range.end(), MediaTime::fromSeconds(3.5));
}

// A segment's removed pauses are cuts inside it: its runs follow each other on the output axis,
// one instruction (and one dip) for the segment, its line and its face where they were.
TEST_F(CompositionBuilderTest, RemovedPausesAreCutsInsideTheirSegment) {
  const Asset source = video("wide.mp4", 10);
  std::filesystem::create_directories(folder / "narration");
  tone("narration/a.wav", 0.5);
  EditPlan plan;
  plan.segments = {narrated(1, 6, "a.wav", 2.2), segment(7, 9)};
  plan.segments[0].removedPauses = {{2, 3}, {4, 4.5}, {8, 9}};
  plan.segments[0].facePath = {{1.5, 0.1, 0.3, 0.1, 0.2}, {3.5, 0.1, 0.3, 0.1, 0.2}};
  plan.segments[1].removedPauses = {{6.5, 9.5}};
  CompositionBuilder::Inputs inputs;
  inputs.narrationDirectory = folder / "narration";
  inputs.aspect = AspectRatio::vertical;
  inputs.transition = TransitionStyle::dipToBlack;
  const CompositionResult result = CompositionBuilder::build(plan, source, inputs);

  std::vector<std::pair<double, double>> runs;
  for (const SegmentTimeMapping& run : result.mappings)
    runs.emplace_back(run.sourceStartSec, run.compositionStartSec);
  EXPECT_THAT(runs, ElementsAre(Pair(1.0, 0.0), Pair(3.0, 1.0), Pair(4.5, 2.0)))
      << "a pause past the segment's end is not shown; a segment all pause shows nothing";
  EXPECT_DOUBLE_EQ(keptDurationSec(result.mappings), 3.5);
  EXPECT_EQ(result.composition.video.size(), 3u);
  EXPECT_EQ(result.composition.mainAudio->size(), 3u);
  EXPECT_EQ(compositionTime(result.mappings, 2.5), std::nullopt) << "inside a pause";

  const VideoComposition& layout = *result.videoComposition;
  ASSERT_EQ(layout.instructions.size(), 1u);
  EXPECT_EQ(layout.instructions[0].range.end(), MediaTime::fromSeconds(3.5));
  EXPECT_EQ(layout.instructions[0].opacityRamps.size(), 2u) << "no dip where a pause was";
  ASSERT_FALSE(layout.instructions[0].pan.empty());
  for (const PanKey& key : layout.instructions[0].pan)
    EXPECT_LE(key.timeSec, 3.5) << "the face's keys on the output axis";

  ASSERT_TRUE(result.composition.narration);
  EXPECT_NEAR(result.composition.narration->at(0).outputStart.seconds(), 2.2, 1e-3)
      << "2.2 s into the tightened segment";
}

TEST_F(CompositionBuilderTest, APortraitClipFillsAWideFrameCroppedTopAndBottom) {
  const auto upright = folder / "upright.mp4";
  testing::runFfmpeg({"-f", "lavfi", "-i", "color=gray:s=160x90:r=30:d=2", "-c:v", "libx264",
                      upright.string()});
  testing::runFfmpeg({"-i", upright.string(), "-c", "copy", "-metadata:s:v", "rotate=90",
                      (folder / "phone.mp4").string()});
  const Asset source = Asset::open(folder / "phone.mp4");
  EditPlan plan;
  plan.segments = {segment(0, 2)};
  CompositionBuilder::Inputs inputs;
  inputs.aspect = AspectRatio::wide;
  const CompositionResult result = CompositionBuilder::build(plan, source, inputs);
  ASSERT_TRUE(result.videoComposition);
  const Box placed = boundingBox(result.videoComposition->instructions.at(0).transform, 160, 90);
  EXPECT_NEAR(placed.width, 1920, 1e-6);
  EXPECT_NEAR(placed.height, 1920.0 * 160 / 90, 1e-6) << "upright and filling the width";
  EXPECT_NEAR(placed.x, 0, 1e-6);
  EXPECT_NEAR(placed.y, (1080 - placed.height) / 2, 1e-6) << "centred";
}

// A crop follows a scene's face from where the face is; a scene the user centred, and a framing
// that crops nothing, stay where they were.
TEST_F(CompositionBuilderTest, ACropFollowsTheFaceUnlessCentredAndOnlyWhereItCrops) {
  const Asset source = video("wide.mp4", 4, false);
  EditPlan plan;
  plan.segments = {segment(0, 2), segment(2, 4)};
  for (Segment& each : plan.segments) each.facePath = {{each.startSec + 0.5, 0.1, 0.3, 0.1, 0.2}};
  plan.segments[1].centredCrop = true;
  CompositionBuilder::Inputs inputs;
  inputs.aspect = AspectRatio::vertical;
  const VideoComposition vertical =
      *CompositionBuilder::build(plan, source, inputs).videoComposition;
  ASSERT_EQ(vertical.instructions.size(), 2u);
  const double scaledWidth = 1920.0 * 160 / 90;
  const double centredLeft = (scaledWidth - 1080) / 2;
  ASSERT_FALSE(vertical.instructions[0].pan.empty());
  EXPECT_NEAR(vertical.instructions[0].pan[0].x, centredLeft, 1e-6)
      << "the face at the picture's left edge takes the window there";
  EXPECT_TRUE(vertical.instructions[1].pan.empty()) << "centred by the user";

  inputs.aspect = AspectRatio::original;
  inputs.transition = TransitionStyle::dipToBlack;
  const CompositionResult original = CompositionBuilder::build(plan, source, inputs);
  for (const VideoInstruction& each : original.videoComposition->instructions)
    EXPECT_TRUE(each.pan.empty()) << "nothing cropped, nothing to follow";
}

TEST_F(CompositionBuilderTest, NarrationIsSpacedAndDucksTheSoundAndTheBed) {
  const Asset source = video("source.mp4", 12);
  std::filesystem::create_directories(folder / "narration");
  tone("narration/a.wav", 4.5);
  tone("narration/b.wav", 1.0);
  tone("narration/c.wav", 1.0);
  EditPlan plan;
  // a at 0 is moved to 0.15 and runs to 4.65, so b moves from 4.0 to 4.8; c would start in the
  // last half second.
  plan.segments = {narrated(0, 4, "a.wav", 0), narrated(4, 8, "b.wav", -3.5),
                   narrated(8, 10, "c.wav", 1.6)};
  CompositionBuilder::Inputs inputs;
  inputs.narrationDirectory = folder / "narration";
  inputs.music = tone("music.wav", 3);
  inputs.musicVolume = 0;
  const CompositionResult result = CompositionBuilder::build(plan, source, inputs);
  ASSERT_TRUE(result.composition.narration);
  ASSERT_EQ(result.composition.narration->size(), 2u);
  EXPECT_NEAR(result.composition.narration->at(0).outputStart.seconds(), 0.15, 1e-3);
  EXPECT_NEAR(result.composition.narration->at(1).outputStart.seconds(), 4.8, 1e-3);
  EXPECT_THAT(result.captions,
              ElementsAre(spoken(0.15, 4.65, "Here we go."), spoken(4.8, 5.8, "Here we go.")))
      << "captions are where the lines sound";
  ASSERT_TRUE(result.composition.music);
  EXPECT_EQ(result.composition.music->size(), 4u) << "3 + 3 + 3 + 1 s of a 10 s output";

  ASSERT_TRUE(result.audioMix);
  ASSERT_EQ(result.audioMix->inputs.size(), 2u);
  const VolumeAutomation& main = result.audioMix->inputs[0];
  const VolumeAutomation& music = result.audioMix->inputs[1];
  // The two lines, 0.15 s apart, are one ducked stretch from 0.15 to 5.8 s.
  EXPECT_NEAR(volumeAt(main, 0.6), 0.2, 1e-3);
  EXPECT_NEAR(volumeAt(main, 4.7), 0.2, 1e-3);
  EXPECT_NEAR(volumeAt(main, 7.0), 1.0, 1e-3);
  EXPECT_NEAR(volumeAt(music, 4.7), 0.006, 1e-4) << "volume 0 plays at 0.02, ducked to 30 %";
  EXPECT_NEAR(volumeAt(music, 7.0), 0.02, 1e-4);
  EXPECT_NEAR(volumeAt(music, 9.0), 0.01, 1e-3) << "halfway through the fade-out";
}

TEST_F(CompositionBuilderTest, AClearedLineIsSilentWhateverAudioItHad) {
  const Asset source = video("source.mp4", 6);
  std::filesystem::create_directories(folder / "narration");
  tone("narration/a.wav", 1.0);
  EditPlan plan;
  plan.segments = {narrated(0, 3, "a.wav", 0), narrated(3, 6, "a.wav", 0)};
  plan.segments[0].narration->text.clear();
  CompositionBuilder::Inputs inputs;
  inputs.narrationDirectory = folder / "narration";
  const CompositionResult result = CompositionBuilder::build(plan, source, inputs);
  ASSERT_TRUE(result.composition.narration);
  ASSERT_EQ(result.composition.narration->size(), 1u);
  EXPECT_NEAR(result.composition.narration->at(0).outputStart.seconds(), 3.0, 1e-3);
  EXPECT_THAT(result.captions, ElementsAre(spoken(3.0, 4.0, "Here we go.")));
}

TEST_F(CompositionBuilderTest, SpansCloseTogetherMerge) {
  EXPECT_THAT(CompositionBuilder::mergeSpans({{3, 4}, {0, 1}, {1.5, 2}}),
              ElementsAre(Pair(0, 2), Pair(3, 4)));
  EXPECT_THAT(CompositionBuilder::mergeSpans({{0, 1}, {1.7, 2}}),
              ElementsAre(Pair(0, 1), Pair(1.7, 2)));
  EXPECT_TRUE(CompositionBuilder::mergeSpans({}).empty());
}

TEST_F(CompositionBuilderTest, ShortCleanSoundAndShortOutputs) {
  const Asset source = video("source.mp4", 6);
  EditPlan plan;
  plan.segments = {segment(0, 1), segment(2, 3.03), segment(4, 5)};
  CompositionBuilder::Inputs inputs;
  inputs.cleanAudio = tone("clean.wav", 3.0);
  inputs.music = tone("music.wav", 3);
  CompositionResult result = CompositionBuilder::build(plan, source, inputs);
  ASSERT_TRUE(result.composition.mainAudio);
  ASSERT_EQ(result.composition.mainAudio->size(), 2u) << "2–3 s is cut at 3 s; 4–5 s is past it";
  EXPECT_EQ(result.composition.mainAudio->at(1).source.end(), MediaTime::fromSeconds(3.0));
  EXPECT_TRUE(result.composition.music) << "3 s of output carries a bed";

  plan.segments = {segment(0, 1.5)};
  result = CompositionBuilder::build(plan, video("silent.mp4", 2, false), inputs);
  EXPECT_FALSE(result.composition.music) << "1.5 s is too short for a bed";

  EditPlan nothing;
  testing::runFfmpeg({"-f", "lavfi", "-i", "sine=d=1", (folder / "voice.m4a").string()});
  try {
    CompositionBuilder::build(nothing, Asset::open(folder / "voice.m4a"), inputs);
    FAIL() << "a sound file has no picture to compose";
  } catch (const BriskletError& error) {
    EXPECT_EQ(error.code(), 1);
    EXPECT_STREQ(error.what(), "The video has no video track.");
  }

  // A record whose times outrun its video: told as that, not found damaged while exporting.
  const Asset shorter = video("short.mp4", 3);
  EditPlan outrun;
  outrun.segments = {segment(0, 2), segment(70, 80)};
  EXPECT_THAT([&] { CompositionBuilder::build(outrun, shorter, inputs); },
              ::testing::ThrowsMessage<BriskletError>(::testing::StrEq(
                  "A kept segment (1:10\u20131:20) runs past the end of the video (0:03).")));
  outrun.segments[1].keep = false;
  EXPECT_NO_THROW(CompositionBuilder::build(outrun, shorter, inputs)) << "dropped, it is not used";
}

}  // namespace
}  // namespace brisklet

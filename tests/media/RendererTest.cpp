#include <gtest/gtest.h>

#include "media/CompositionBuilder.h"
#include "media/platform/AudioRenderer.h"
#include "media/platform/Renderer.h"
#include "support/MediaGenerator.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

// The moment a clock picture shows, read from its mean luma (limited range).
double clockTimeOf(const AVFrame& picture) {
  double sum = 0;
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) sum += picture.data[0][y * picture.linesize[0] + x];
  const double luma = sum / (picture.width * picture.height);
  return (luma - 16) * 255 / 219 / 60;
}

TEST(Renderer, StartsAtAnyOutputTime) {
  testing::TemporaryFolder folder;
  const auto clock = testing::makeClockVideo(folder / "clock.mp4", 4.0, 96, 54);
  testing::runFfmpeg({"-i", clock.string(), "-f", "lavfi", "-i", "aevalsrc=t/10:s=48000:d=4",
                      "-c:v", "copy", "-c:a", "pcm_s16le", (folder / "clock.mov").string()});
  EditPlan plan;
  for (const auto& [start, end] : {std::pair{0.5, 1.5}, {2.5, 3.5}}) {
    Segment kept;
    kept.id = Uuid::random();
    kept.startSec = start;
    kept.endSec = end;
    plan.segments.push_back(kept);
  }
  const Asset source = Asset::open(folder / "clock.mov");
  for (const AspectRatio aspect : {AspectRatio::original, AspectRatio::square}) {
    CompositionBuilder::Inputs inputs;
    inputs.aspect = aspect;
    const CompositionResult result = CompositionBuilder::build(plan, source, inputs);
    VideoRenderer pictures(result.composition, result.videoComposition, 1.2);
    const auto first = pictures.next();
    ASSERT_TRUE(first) << rawValue(aspect);
    EXPECT_NEAR(first->timeSec, 1.2, 1.0 / 30) << rawValue(aspect);
    EXPECT_NEAR(clockTimeOf(*first->frame), 2.7, 0.06) << rawValue(aspect);
    if (!result.videoComposition) continue;
    // A preview's box: the same picture, scaled down to fit, never up.
    for (const auto& [box, width, height] : {std::tuple{PictureBox{270, 480}, 270, 270},
                                             {PictureBox{4000, 4000}, 1080, 1080}}) {
      VideoRenderer preview(result.composition, result.videoComposition, 1.2, box);
      const auto shown = preview.next();
      ASSERT_TRUE(shown);
      EXPECT_EQ(shown->frame->width, width);
      EXPECT_EQ(shown->frame->height, height);
      EXPECT_NEAR(clockTimeOf(*shown->frame), 2.7, 0.06);
    }
  }

  const CompositionResult result = CompositionBuilder::build(plan, source, {});
  AudioRenderer sound(result.composition, result.audioMix, 1.2);
  std::vector<float> samples(2 * 480);
  ASSERT_EQ(sound.render(samples), 480u);
  // Source time 2.7: 0.27, from mono on both channels at its own level.
  EXPECT_NEAR(samples[0], 0.27, 0.005);
  EXPECT_NEAR(samples[2 * 479 + 1], 0.271, 0.005);
}

}  // namespace
}  // namespace brisklet

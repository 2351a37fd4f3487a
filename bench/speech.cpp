// Times finding the speech of a generated 60-minute 1280×720 30 fps video with 48 kHz stereo
// sound (tone bursts like sentences, pauses between, room noise under all) against the keyless
// analysis of the same file in the same run, and prints the share. Target: at most 2 %. Also
// times tightening itself (planning the pauses of the found speech), which should be instant.
// Given a file, it measures that.
//
//   build/bench/bench_speech [VIDEO]

#include <cstdio>
#include <filesystem>
#include <string>

#include "BenchSupport.h"
#include "analysis/AnalysisPipeline.h"
#include "media/SpeechActivity.h"
#include "media/Tightening.h"
#include "media/platform/Asset.h"

using namespace brisklet;

namespace {

std::filesystem::path hourOfTalk() {
  std::filesystem::create_directories("/tmp/brisklet-bench");
  const std::filesystem::path video = "/tmp/brisklet-bench/sixty-minutes-talk-720p30.mp4";
  if (std::filesystem::exists(video)) return video;
  std::printf("generating %s (once)…\n", video.c_str());
  // Sentences of 3 s and pauses of 1.5 s, in a 4.5 s rhythm, over pink room noise.
  bench::run(
      "ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=s=1280x720:r=30:d=3600 "
      "-f lavfi -i \"aevalsrc='0.2*sin(2*PI*(180+40*sin(2*PI*3*t))*t)*lt(mod(t,4.5),3)':"
      "s=48000:c=stereo:d=3600\" -f lavfi -i anoisesrc=c=pink:a=0.01:r=48000:d=3600 "
      "-filter_complex \"[1][2]amix=inputs=2:normalize=0[a]\" -map 0:v -map \"[a]\" "
      "-c:v libx264 -preset veryfast -g 60 -pix_fmt yuv420p -c:a aac -b:a 160k " +
      video.string());
  return video;
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path video = argc > 1 ? std::filesystem::path(argv[1]) : hourOfTalk();
  const Asset asset = Asset::open(video);

  std::vector<SpeechActivity::SpeechSpan> speech;
  const double finding = bench::seconds([&] { speech = SpeechActivity::speechOf(asset); });
  Segment whole;
  whole.endSec = asset.durationSec();
  size_t pauses = 0;
  const double planning = bench::seconds(
      [&] { pauses = Tightening::pausesToRemove(whole, speech, Tightening::Settings{}).size(); });
  size_t scenes = 0;
  const double analysis = bench::seconds([&] {
    scenes = AnalysisPipeline::analyzeOnDevice(video, [](const auto&) {}, {}).segments.size();
  });

  std::printf("finding speech      %7.2f s   %zu spans, %.2f %% of the analysis (target 2 %%)\n",
              finding, speech.size(), 100 * finding / analysis);
  std::printf("tightening          %7.3f s   %zu pauses\n", planning, pauses);
  std::printf("analysis            %7.2f s   %zu scenes\n", analysis, scenes);
  return 0;
}

// Times the keyless analysis (sampling, shot detection, keyframes, scoring) of a generated
// 10-minute 1920×1080 30 fps H.264 video (GOP 60, B-frames) with a cut every 7 s, against
// `ffmpeg -threads 2 -i X -f null -` on the same file in the same run, and prints the ratio and
// peak memory. Targets: ratio ≤ 1.0 (reach for 0.6), peak RSS ≤ 300 MB. Also times the
// frame-by-frame look at the cut candidates on its own (target: at most 5 % of the analysis)
// and prints the ratio the analysis would have without it, and the time faces take to find.
// With --long it analyses a generated 60-minute 1280×720 video instead, printing the resident
// memory as the analysis goes, which should stay flat; given a file, it analyses that.
//
//   build/bench/bench_analysis [--long | VIDEO]

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "BenchSupport.h"
#include "analysis/AnalysisPipeline.h"
#include "analysis/FaceFinder.h"
#include "analysis/FrameSampler.h"
#include "media/platform/Asset.h"

using namespace brisklet;

namespace {

long residentMegabytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6)) / 1024;
  return -1;
}

// Five different 7-second shots, repeated: a hard cut every 7 s.
std::filesystem::path generated(const std::string& name, const std::string& size, int seconds) {
  std::filesystem::create_directories("/tmp/brisklet-bench");
  const std::filesystem::path video = "/tmp/brisklet-bench/" + name;
  if (std::filesystem::exists(video)) return video;
  std::printf("generating %s (once)…\n", video.c_str());
  const std::filesystem::path loop = "/tmp/brisklet-bench/five-shots-" + size + ".mp4";
  const std::string source = "=s=" + size + ":r=30";
  std::string inputs;
  // The test card of the sampling benchmark, seen five ways.
  for (const std::string& shot :
       {"testsrc2" + source, "testsrc2" + source + ",hue=H=2,vflip",
        "testsrc2" + source + ",negate,hflip", "testsrc2" + source + ",hue=H=4:s=0.5,vflip,hflip",
        "testsrc2" + source + ",eq=brightness=0.2:contrast=0.6,transpose=cclock_flip,scale=" +
            size.substr(0, size.find('x')) + ":" + size.substr(size.find('x') + 1) + ",setsar=1"})
    inputs += " -f lavfi -t 7 -i \"" + shot + "\"";
  bench::run("ffmpeg -hide_banner -loglevel error -y" + inputs +
             " -filter_complex \"concat=n=5:v=1:a=0,format=yuv420p\" -c:v libx264 -preset veryfast "
             "-g 60 -bf 2 " +
             loop.string());
  bench::run("ffmpeg -hide_banner -loglevel error -y -stream_loop -1 -i " + loop.string() + " -t " +
             std::to_string(seconds) + " -c copy " + video.string());
  return video;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string argument = argc > 1 ? argv[1] : "";
  const bool isLong = argument == "--long";
  const std::filesystem::path video =
      isLong              ? generated("sixty-minutes-shots-720p30.mp4", "1280x720", 3600)
      : !argument.empty() ? std::filesystem::path(argument)
                          : generated("ten-minutes-shots-1080p30.mp4", "1920x1080", 600);

  size_t scenes = 0;
  double lastShown = -1;
  const double ours = bench::seconds([&] {
    const EditPlan plan = AnalysisPipeline::run(
        video, std::nullopt, "",
        [&](const PipelineProgress& progress) {
          if (isLong && progress.fraction - lastShown >= 0.05) {
            std::printf("  %-26s %3.0f%%  RSS %ld MB\n", progress.stageName.c_str(),
                        progress.fraction * 100, residentMegabytes());
            lastShown = progress.fraction;
          }
        },
        {});
    scenes = plan.segments.size();
  });
  const long peak = bench::peakRssMegabytes();
  const double decodedByFfmpeg = bench::seconds([&] {
    bench::run("ffmpeg -hide_banner -loglevel error -threads 2 -i " + video.string() +
               " -f null -");
  });

  const Asset asset = Asset::open(video);
  const auto distances = AnalysisPipeline::sampledPass(asset, [](const auto&) {}, {}).distances;
  const double look =
      bench::seconds([&] { (void)AnalysisPipeline::cutsFrameByFrame(asset, distances, {}); });

  // Finding faces, timed on its own over the samples it is given (once a sample is decoded).
  double faces = 0;
  {
    FaceFinder finder;
    const auto stream = FrameSampler::frames(ImageGenerator(asset, FrameSampler::kSamplingSettings),
                                             FrameSampler::sampleTimes(asset.durationSec(), 2.0));
    while (std::optional<SampledFrame> frame = stream->next())
      faces += bench::seconds([&] { (void)finder.faces(frame->image, frame->timeSec); });
  }

  std::printf("analysis            %7.2f s   %zu scenes, peak RSS %ld MB (target 300)\n", ours,
              scenes, peak);
  std::printf("ffmpeg decode       %7.2f s   ratio %.2f (target 1.0, reach for 0.6)\n",
              decodedByFfmpeg, ours / decodedByFfmpeg);
  std::printf("look at the cuts    %7.2f s   %.1f %% of the analysis (target 5 %%); ratio "
              "without it %.2f\n",
              look, 100 * look / ours, (ours - look) / decodedByFfmpeg);
  std::printf(
      "finding faces       %7.2f s   %.1f %% of the analysis (one thread; the analysis "
      "shares it out)\n",
      faces, 100 * faces / ours);
  return 0;
}

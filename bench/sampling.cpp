// Times frame sampling, the waveform and thumbnails on a generated 10-minute 1920×1080 30 fps
// H.264 video (GOP 60, B-frames, with sound), against ffmpeg's own decoding of the same file
// measured in the same run:
//   (a) our 2 fps sampling into 320-px frames, one generator
//   (a2) the analysis's sampling: the same frames, decoded in pieces side by side, and printed
//        for shot detection
//   (b) ffmpeg -threads 2 -i X -vf fps=2,scale=320:-2 -f null -
//   (c) ffmpeg -threads 2 -i X -f null -
// Targets: a/b ≤ 1.0 (reach for 0.6), peak RSS ≤ 200 MB, waveform ≤ 0.5 × (c), 100 thumbnails
// cold ≤ 3 s and warm ≤ 100 ms.
//
//   build/bench/bench_sampling [video]   (default: generated once into /tmp/brisklet-bench/)

#include <cstdio>
#include <filesystem>
#include <string>

#include "BenchSupport.h"
#include "analysis/AnalysisPipeline.h"
#include "analysis/FrameSampler.h"
#include "media/ThumbnailCache.h"
#include "media/WaveformExtractor.h"

using namespace brisklet;
using bench::peakRssMegabytes;
using bench::run;
using bench::seconds;

int main(int argc, char** argv) {
  const std::filesystem::path video = argc > 1 ? argv[1] : bench::tenMinuteVideo();

  const Asset asset = Asset::open(video);
  const std::vector<double> times = FrameSampler::sampleTimes(asset.durationSec(), 2.0);
  size_t frames = 0;
  const double ours = seconds([&] {
    auto stream =
        FrameSampler::frames(ImageGenerator(asset, FrameSampler::kSamplingSettings), times);
    while (stream->next()) ++frames;
  });
  const long samplingRss = peakRssMegabytes();
  size_t distances = 0;
  const double inPieces = seconds([&] {
    distances =
        AnalysisPipeline::sampledPass(asset, [](const PipelineProgress&) {}, {}).distances.size();
  });

  size_t envelopeValues = 0;
  const double waveform =
      seconds([&] { envelopeValues = WaveformExtractor::rmsEnvelope(asset, 10).size(); });

  const std::filesystem::path projects = "/tmp/brisklet-bench/thumbnail-projects";
  std::filesystem::remove_all(projects);
  const ProjectStore store(projects);
  const Uuid projectID = Uuid::random();
  ThumbnailCache cache(projectID, asset, store);
  int pictures = 0;
  const double cold = seconds([&] {
    for (int index = 0; index < 100; ++index) pictures += cache.thumbnail(index * 5.9).has_value();
  });
  const double warm = seconds([&] {
    for (int index = 0; index < 100; ++index) pictures += cache.thumbnail(index * 5.9).has_value();
  });
  ThumbnailCache reopened(projectID, asset, store);
  const double fromDisk = seconds([&] {
    for (int index = 0; index < 100; ++index)
      pictures += reopened.thumbnail(index * 5.9).has_value();
  });

  const std::string input = " -hide_banner -loglevel error -threads 2 -i " + video.string();
  const double sampledByFfmpeg =
      seconds([&] { run("ffmpeg" + input + " -vf fps=2,scale=320:-2 -f null -"); });
  const double decodedByFfmpeg = seconds([&] { run("ffmpeg" + input + " -f null -"); });

  std::printf("video: %.1f s, %zu sample times\n", asset.durationSec(), times.size());
  std::printf("(a) our sampling        %7.2f s  %zu frames, peak RSS %ld MB (target 200)\n", ours,
              frames, samplingRss);
  std::printf("(a2) in pieces, printed %7.2f s  %zu distances, a2/b = %.2f\n", inPieces,
              distances, inPieces / sampledByFfmpeg);
  std::printf("(b) ffmpeg fps=2,scale  %7.2f s   a/b = %.2f (target 1.0, reach for 0.6)\n",
              sampledByFfmpeg, ours / sampledByFfmpeg);
  std::printf("(c) ffmpeg decode       %7.2f s   a/c = %.2f\n", decodedByFfmpeg,
              ours / decodedByFfmpeg);
  std::printf("waveform                %7.2f s   %zu values, /c = %.2f (target 0.5)\n", waveform,
              envelopeValues, waveform / decodedByFfmpeg);
  std::printf("100 thumbnails cold     %7.3f s   (target 3 s)\n", cold);
  std::printf("100 thumbnails warm     %7.3f s   from memory; %.3f s from disk (target 0.1 s)\n",
              warm, fromDisk);
  std::printf("pictures answered: %d of 300\n", pictures);
  return 0;
}

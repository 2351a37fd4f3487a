// Times exports of a generated 1080p30 source with sound (10 minutes unless told) whose 20 kept
// segments make half of it, each against the equivalent ffmpeg filter graph with the same
// encoder settings, in one run:
// (a) original framing with hard cuts against trim/concat;
// (b) 9:16 with dip-to-black against trim/scale/crop/fade/concat;
// (c) a tenth as long of the source recorded as a phone records HDR (10-bit HLG HEVC), whole, in
//     original framing, against ffmpeg's zscale/tonemap chain.
// Prints the ratios, peak memory and the PSNR of each output against ffmpeg's.
// Targets: all ratios <= 1.0, peak RSS <= 500 MB, PSNR >= 38 dB.
//
//   build/bench/bench_export [MINUTES] [PRESET]

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "media/CompositionExporter.h"

using namespace brisklet;

namespace {

const std::filesystem::path kFolder = "/tmp/brisklet-bench/export";

std::filesystem::path source(int minutes) {
  const auto file = kFolder / ("source-" + std::to_string(minutes) + "min.mp4");
  if (std::filesystem::exists(file)) return file;
  std::printf("generating %s (once)…\n", file.c_str());
  const std::string seconds = std::to_string(minutes * 60);
  bench::run("ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=s=1920x1080:r=30:d=" +
             seconds + " -f lavfi -i sine=f=440:r=48000:d=" + seconds +
             " -c:v libx264 -preset ultrafast -g 60 -bf 2 -pix_fmt yuv420p -c:a aac " +
             file.string());
  return file;
}

// The first tenth of `sdr` in 10-bit HLG HEVC, white at 203 nits, as phones tag it.
std::filesystem::path hlgSource(const std::filesystem::path& sdr, int minutes) {
  const auto file = kFolder / ("hlg-" + std::to_string(minutes) + "min.mp4");
  if (std::filesystem::exists(file)) return file;
  std::printf("generating %s (once)…\n", file.c_str());
  bench::run("ffmpeg -hide_banner -loglevel error -y -t " + std::to_string(minutes * 6) + " -i " +
             sdr.string() +
             " -vf zscale=tin=bt709:pin=bt709:min=bt709:rin=tv:t=arib-std-b67:p=bt2020:m=bt2020nc"
             ":r=tv:npl=203,format=yuv420p10le -c:v libx265 -preset ultrafast -x265-params "
             "log-level=error -color_primaries bt2020 -color_trc arib-std-b67 -colorspace bt2020nc "
             "-tag:v hvc1 -c:a copy " +
             file.string());
  return file;
}

// 20 segments of equal length, every other one kept: half the source.
EditPlan halfKept(double totalSec) {
  EditPlan plan;
  const double length = totalSec / 40;
  for (int index = 0; index < 40; ++index) {
    Segment segment;
    segment.id = Uuid::random();
    segment.startSec = index * length;
    segment.endSec = (index + 1) * length;
    segment.keep = index % 2 == 1;
    plan.segments.push_back(segment);
  }
  return plan;
}

std::string ffmpegGraph(const EditPlan& plan, bool vertical) {
  std::string graph;
  std::string joined;
  int count = 0;
  for (const Segment& segment : plan.segments) {
    if (!segment.keep) continue;
    const std::string n = std::to_string(count++);
    const std::string range =
        "start=" + std::to_string(segment.startSec) + ":end=" + std::to_string(segment.endSec);
    graph += "[0:v]trim=" + range + ",setpts=PTS-STARTPTS";
    if (vertical) {
      const double fade = std::min(0.25 * segment.durationSec(), 0.3);
      graph += ",scale=-2:1920,crop=1080:1920,fade=t=in:st=0:d=" + std::to_string(fade) +
               ",fade=t=out:st=" + std::to_string(segment.durationSec() - fade) +
               ":d=" + std::to_string(fade);
    }
    graph += "[v" + n + "];[0:a]atrim=" + range + ",asetpts=PTS-STARTPTS[a" + n + "];";
    joined += "[v" + n + "][a" + n + "]";
  }
  return graph + joined + "concat=n=" + std::to_string(count) + ":v=1:a=1[v][a]";
}

double psnr(const std::filesystem::path& a, const std::filesystem::path& b) {
  const std::string report =
      bench::output("ffmpeg -hide_banner -nostats -i " + a.string() + " -i " + b.string() +
                    " -lavfi psnr -f null - 2>&1 | grep -o 'average:[0-9.inf]*'");
  return report.size() > 8 ? std::atof(report.c_str() + 8) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int minutes = argc > 1 ? std::stoi(argv[1]) : 10;
  CompositionExporter::Encoding encoding;
  if (argc > 2) encoding.preset = argv[2];
  std::filesystem::create_directories(kFolder);
  const Asset video = Asset::open(source(minutes));
  const EditPlan plan = halfKept(video.durationSec());
  const std::string x264 = " -c:v libx264 -preset " + encoding.preset + " -crf " +
                           std::to_string(encoding.crf) +
                           " -pix_fmt yuv420p -c:a aac -b:a 192k -movflags +faststart ";
  std::printf("%d-minute 1080p30 source, 20 kept segments, libx264 preset %s crf %d\n", minutes,
              encoding.preset.c_str(), encoding.crf);

  for (const bool vertical : {false, true}) {
    CompositionBuilder::Inputs inputs;
    if (vertical) {
      inputs.aspect = AspectRatio::vertical;
      inputs.transition = TransitionStyle::dipToBlack;
    }
    const auto ours = kFolder / (vertical ? "ours-vertical.mp4" : "ours-original.mp4");
    const auto theirs = kFolder / (vertical ? "ffmpeg-vertical.mp4" : "ffmpeg-original.mp4");
    const double oursSec = bench::seconds([&] {
      CompositionExporter::exportMovie(plan, video, inputs, ours, [](double) {}, {}, encoding);
    });
    const double theirsSec = bench::seconds([&] {
      bench::run("ffmpeg -hide_banner -loglevel error -y -threads 2 -i " + video.file().string() +
                 " -filter_complex \"" + ffmpegGraph(plan, vertical) +
                 "\" -map \"[v]\" -map \"[a]\"" + x264 + theirs.string());
    });
    std::printf(
        "(%s) %s: ours %.1f s (%.1f MB), ffmpeg %.1f s, ratio %.2f (target <= 1.0), PSNR %.1f dB\n",
        vertical ? "b" : "a", vertical ? "9:16, dip to black" : "original, hard cuts", oursSec,
        static_cast<double>(std::filesystem::file_size(ours)) / 1e6, theirsSec,
        oursSec / theirsSec, psnr(ours, theirs));
  }
  const Asset hlg = Asset::open(hlgSource(video.file(), minutes));
  EditPlan whole;
  whole.segments.push_back(
      Segment{.id = Uuid::random(), .startSec = 0, .endSec = hlg.durationSec()});
  const auto ours = kFolder / "ours-hlg.mp4";
  const auto theirs = kFolder / "ffmpeg-hlg.mp4";
  const double oursSec = bench::seconds([&] {
    CompositionExporter::exportMovie(whole, hlg, {}, ours, [](double) {}, {}, encoding);
  });
  const double theirsSec = bench::seconds([&] {
    bench::run("ffmpeg -hide_banner -loglevel error -y -threads 2 -i " + hlg.file().string() +
               " -vf zscale=t=linear:npl=100,format=gbrpf32le,zscale=p=bt709,"
               "tonemap=tonemap=hable:desat=0,zscale=t=bt709:m=bt709:r=tv,format=yuv420p" +
               x264 + theirs.string());
  });
  std::printf(
      "(c) HLG, tone-mapped, %.0f s: ours %.1f s, ffmpeg %.1f s, ratio %.2f (target <= 1.0), "
      "PSNR %.1f dB\n",
      hlg.durationSec(), oursSec, theirsSec, oursSec / theirsSec, psnr(ours, theirs));
  std::printf("peak RSS %ld MB (target <= 500)\n", bench::peakRssMegabytes());
  return 0;
}

// Times merging four clips against ffmpeg, in one run:
// (a) four clips of different sizes and orientations (re-encoded, letterboxed) against the
//     equivalent ffmpeg concat filter graph with the same encoder, preset and quality;
// (b) four clips from one camera (joined without re-encoding) against the same ffmpeg
//     re-encode, checking that every frame of the merged movie is the inputs' frame.
// Targets: (a) ratio ≤ 1.0; (b) at least 20× faster, every frame identical.
//
//   build/bench/bench_merge [SECONDS_PER_CLIP]   (default 60)

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "media/ClipMerger.h"

using namespace brisklet;

namespace {

const std::filesystem::path kFolder = "/tmp/brisklet-bench/merge";

std::filesystem::path clip(const std::string& name, const std::string& size, int hertz,
                           int seconds) {
  const std::filesystem::path file = kFolder / (name + "-" + std::to_string(seconds) + "s.mp4");
  if (std::filesystem::exists(file)) return file;
  std::printf("generating %s (once)…\n", file.c_str());
  const std::string length = std::to_string(seconds);
  bench::run("ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=s=" + size +
             ":r=30:d=" + length + " -f lavfi -i sine=f=" + std::to_string(hertz) +
             ":r=48000:d=" + length +
             " -c:v libx264 -preset veryfast -g 60 -bf 2 -pix_fmt yuv420p -c:a aac -b:a 128k " +
             file.string());
  return file;
}

// ffmpeg's concat of `clips` into a 1920x1080 frame, each fitted and centred, 30 fps, with the
// encoder settings the merger uses.
std::string ffmpegConcat(const std::vector<std::filesystem::path>& clips,
                         const ClipMerger::Encoding& encoding, const std::filesystem::path& out) {
  std::string inputs;
  std::string graph;
  std::string joined;
  for (size_t index = 0; index < clips.size(); ++index) {
    const std::string n = std::to_string(index);
    inputs += " -i " + clips[index].string();
    graph += "[" + n + ":v]scale=1920:1080:force_original_aspect_ratio=decrease,"
             "pad=1920:1080:(ow-iw)/2:(oh-ih)/2,setsar=1,fps=30,format=yuv420p[v" + n + "];" +
             "[" + n + ":a]aresample=48000[a" + n + "];";
    joined += "[v" + n + "][a" + n + "]";
  }
  graph += joined + "concat=n=" + std::to_string(clips.size()) + ":v=1:a=1[v][a]";
  return "ffmpeg -hide_banner -loglevel error -y -threads 2" + inputs + " -filter_complex \"" +
         graph + "\" -map \"[v]\" -map \"[a]\" -c:v " + encoding.videoEncoders.front() +
         " -preset " + encoding.preset + " -crf " + std::to_string(encoding.crf) +
         " -x265-params log-level=error -c:a aac -b:a 192k " + out.string();
}

std::string frameHashes(const std::vector<std::filesystem::path>& files) {
  std::string all;
  for (const auto& file : files)
    all += bench::output("ffmpeg -hide_banner -loglevel error -i " + file.string() +
                         " -map 0:v -f framemd5 - | grep -v '^#' | awk -F, '{print $NF}'");
  return all;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::stoi(argv[1]) : 60;
  std::filesystem::create_directories(kFolder);
  const ClipMerger::Encoding encoding;
  const std::vector<std::filesystem::path> mixed = {
      clip("landscape", "1920x1080", 440, seconds), clip("portrait", "1080x1920", 550, seconds),
      clip("four-three", "1440x1080", 660, seconds), clip("small", "1280x720", 770, seconds)};
  const std::vector<std::filesystem::path> sameCamera = {
      clip("landscape", "1920x1080", 440, seconds), clip("second", "1920x1080", 440, seconds),
      clip("third", "1920x1080", 440, seconds), clip("fourth", "1920x1080", 440, seconds)};
  const auto ours = kFolder / "ours.mov";
  const auto theirs = kFolder / "ffmpeg.mov";
  const auto quiet = [](double) {};

  std::printf("four %d-second clips, %s preset %s crf %d\n", seconds,
              encoding.videoEncoders.front().c_str(), encoding.preset.c_str(), encoding.crf);
  const double mixedOurs = bench::seconds([&] { ClipMerger::merge(mixed, ours, quiet); });
  const double mixedFfmpeg = bench::seconds([&] { bench::run(ffmpegConcat(mixed, encoding, theirs)); });
  std::printf("(a) different sizes: ours %.1f s, ffmpeg %.1f s, ratio %.2f (target <= 1.0)\n",
              mixedOurs, mixedFfmpeg, mixedOurs / mixedFfmpeg);

  const double sameOurs = bench::seconds([&] { ClipMerger::merge(sameCamera, ours, quiet); });
  const double sameFfmpeg =
      bench::seconds([&] { bench::run(ffmpegConcat(sameCamera, encoding, theirs)); });
  const bool identical = frameHashes({ours}) == frameHashes(sameCamera);
  std::printf("(b) one camera: ours %.2f s, ffmpeg re-encode %.1f s, %.0fx faster (target >= 20x), "
              "frames %s\n",
              sameOurs, sameFfmpeg, sameFfmpeg / sameOurs, identical ? "identical" : "DIFFER");
  std::printf("peak RSS %ld MB\n", bench::peakRssMegabytes());
  return identical ? 0 : 1;
}

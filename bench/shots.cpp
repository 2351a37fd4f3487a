// Shot detection against known cuts: precision, recall and F1 (a detected cut matches a true one
// within ±0.5 s) for our detector and, on the same inputs, for ffmpeg's scene score
// (select='gt(scene,0.3)'), and how many frames each matched cut lies from the true one. Also
// prints the distance distributions the cut rule works on.
//   (a) generated footage: stills of the shared clips filmed by a moving virtual camera (pans,
//       zooms, shake, walking, light ramps), hard cuts between the shots at frames that fall
//       between the samples (targets: F1 ≥ 0.98, mean error ≤ 0.5 frame, largest ≤ 1 frame, no
//       false cut inside a moving shot);
//   (b) the clips of ../shared/media, hand-annotated (targets: every hard cut found but
//       short_hamilton_clip's at 1.51 s, which no sample sees, no cut in the single-shot clips,
//       F1 above ffmpeg's).
//
//   build/bench/bench_shots [shared-media-folder]   (run from the project root)

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "analysis/AnalysisPipeline.h"
#include "analysis/ShotDetector.h"
#include "media/platform/Asset.h"

using namespace brisklet;

namespace {

constexpr double kMatchWindowSec = 0.5;

struct Clip {
  std::string name;
  std::filesystem::path file;
  std::vector<double> cuts;
};

struct Score {
  int truePositives = 0;
  int detected = 0;
  int actual = 0;
  std::vector<double> errorsSec;  // of the matched cuts

  void add(const Score& other) {
    truePositives += other.truePositives;
    detected += other.detected;
    actual += other.actual;
    errorsSec.insert(errorsSec.end(), other.errorsSec.begin(), other.errorsSec.end());
  }
  double precision() const { return detected == 0 ? 1.0 : double(truePositives) / detected; }
  double recall() const { return actual == 0 ? 1.0 : double(truePositives) / actual; }
  double f1() const {
    const double p = precision(), r = recall();
    return p + r == 0 ? 0 : 2 * p * r / (p + r);
  }
};

// Each detected cut matches the nearest unmatched true cut within the window.
Score score(const std::vector<double>& detected, const std::vector<double>& actual) {
  Score result{.truePositives = 0,
               .detected = int(detected.size()),
               .actual = int(actual.size()),
               .errorsSec = {}};
  std::vector<bool> used(actual.size(), false);
  for (const double cut : detected) {
    int best = -1;
    for (size_t index = 0; index < actual.size(); ++index)
      if (!used[index] && std::fabs(actual[index] - cut) <= kMatchWindowSec &&
          (best < 0 || std::fabs(actual[index] - cut) < std::fabs(actual[size_t(best)] - cut)))
        best = int(index);
    if (best >= 0) {
      used[size_t(best)] = true;
      ++result.truePositives;
      result.errorsSec.push_back(std::fabs(actual[size_t(best)] - cut));
    }
  }
  return result;
}

std::vector<double> ffmpegSceneCuts(const Asset& asset) {
  const std::string log =
      bench::output("ffmpeg -hide_banner -threads 2 -i '" + asset.file().string() +
                    "' -vf \"select='gt(scene,0.3)',showinfo\" -f null - 2>&1");
  std::vector<double> cuts;
  const std::string label = "pts_time:";
  for (size_t at = log.find(label); at != std::string::npos; at = log.find(label, at + 1))
    cuts.push_back(std::strtod(log.c_str() + at + label.size(), nullptr) -
                   asset.presentationStartSec());
  return cuts;
}

// A distance spans a cut when the cut may lie between the two pictures it compares: each is taken
// up to 0.1 s either side of its sample time.
bool spansCut(const ShotDetector::FrameDistance& step, const std::vector<double>& cuts) {
  return std::any_of(cuts.begin(), cuts.end(), [&](double cut) {
    return cut > step.timeSec - 0.6 + 1e-6 && cut <= step.timeSec + 0.1;
  });
}

double percentile(std::vector<double> values, double share) {
  if (values.empty()) return NAN;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, size_t(share * double(values.size())))];
}

std::string list(const std::vector<double>& times) {
  std::string text;
  for (const double time : times)
    text += (text.empty() ? "" : " ") + std::to_string(time).substr(0, 5);
  return text.empty() ? "-" : text;
}

struct Totals {
  Score ours, ffmpeg;
  std::vector<double> within, across;
  double framesPerSecond = 0;  // of footage with frame-exact cuts, to count errors in frames
};

void evaluate(const Clip& clip, Totals& totals) {
  const Asset asset = Asset::open(clip.file);
  const auto distances = AnalysisPipeline::sampledPass(asset, [](const auto&) {}, {}).distances;
  const std::vector<double> ours = AnalysisPipeline::cutsFrameByFrame(asset, distances, {});
  const std::vector<double> theirs = ffmpegSceneCuts(asset);
  const Score ourScore = score(ours, clip.cuts), theirScore = score(theirs, clip.cuts);
  totals.ours.add(ourScore);
  totals.ffmpeg.add(theirScore);
  std::vector<double> within;
  for (const auto& step : distances)
    (spansCut(step, clip.cuts) ? totals.across : within).push_back(step.distance);
  totals.within.insert(totals.within.end(), within.begin(), within.end());
  std::printf("%-28s true %-22s ours %-22s ffmpeg %-22s within-shot p50 %.3f max %.3f\n",
              clip.name.c_str(), list(clip.cuts).c_str(), list(ours).c_str(), list(theirs).c_str(),
              percentile(within, 0.5), percentile(within, 1.0));
}

void reportScore(const char* who, const Score& score, double framesPerSecond) {
  std::printf("  %-7s precision %.3f recall %.3f F1 %.3f  (%d found of %d, %d false)", who,
              score.precision(), score.recall(), score.f1(), score.truePositives, score.actual,
              score.detected - score.truePositives);
  if (framesPerSecond > 0 && !score.errorsSec.empty()) {
    double sum = 0, largest = 0;
    for (const double error : score.errorsSec) {
      sum += error * framesPerSecond;
      largest = std::max(largest, error * framesPerSecond);
    }
    std::printf("  error mean %.2f, largest %.2f frames", sum / double(score.errorsSec.size()),
                largest);
  }
  std::printf("\n");
}

void report(const char* title, const Totals& totals) {
  std::printf("%s\n", title);
  reportScore("ours", totals.ours, totals.framesPerSecond);
  reportScore("ffmpeg", totals.ffmpeg, totals.framesPerSecond);
  std::printf("  distances within shots: n %zu  p50 %.3f  p90 %.3f  p99 %.3f  max %.3f\n",
              totals.within.size(), percentile(totals.within, 0.5), percentile(totals.within, 0.9),
              percentile(totals.within, 0.99), percentile(totals.within, 1.0));
  std::printf("  distances across cuts:  n %zu  min %.3f  p10 %.3f  p50 %.3f\n\n",
              totals.across.size(), percentile(totals.across, 0.0), percentile(totals.across, 0.1),
              percentile(totals.across, 0.5));
}

// One generated shot: a still from the shared clips, scaled to 960×540, seen through a 480×270
// camera that pans, zooms, shakes or walks while the light changes.
struct Shot {
  std::string clip;
  double stillAtSec;
  std::string camera;  // filter chain with D standing for the shot's length
  int frames;          // at 30 per second; most lengths end between two samples
};
constexpr int kGeneratedFramesPerSecond = 30;

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

Clip generatedFootage(const std::filesystem::path& shared, const std::filesystem::path& folder) {
  const std::string panRight = "crop=480:270:x='480*t/D':y=135";
  const std::string panDown = "crop=480:270:x=240:y='270*t/D'";
  const std::string briskPan = "crop=480:270:x='if(lt(t,2),0,min(480,(t-2)*200))':y=100";
  const std::string shake =
      "crop=480:270:x='240+30*sin(11*t)+18*sin(27*t)':y='135+22*sin(13*t)+10*sin(31*t)'";
  const std::string walk = "crop=480:270:x='120+200*t/D+12*sin(7*t)':y='110+28*abs(sin(5*t))'";
  const std::string zoomIn =
      "zoompan=z='1+in/(D*30)':d=1:x='iw/2-iw/zoom/2':y='ih/2-ih/zoom/2':s=480x270:fps=30";
  const std::string zoomOut =
      "zoompan=z='2.2-1.2*in/(D*30)':d=1:x='iw/2-iw/zoom/2':y='ih/3-ih/zoom/3':s=480x270:fps=30";
  const std::string brighten = ",eq=eval=frame:brightness='-0.3+0.5*t/D'";
  const std::string darken = ",eq=eval=frame:brightness='0.2-0.5*t/D'";
  const std::vector<Shot> shots{
      {"gopro_karma.mp4", 5, panRight, 213},
      {"testvideo.mp4", 3, shake, 181},
      {"issue-195-aspect-ratio.mp4", 9, zoomIn, 242},
      {"bottle-detection.mp4", 3, panDown + brighten, 209},
      {"testvideo.mp4", 9.5, walk, 238},
      {"goldeneye-vfr-drop3.mp4", 1, shake, 181},
      {"issue-195-aspect-ratio.mp4", 4, zoomOut + darken, 242},
      {"short_hamilton_clip.mp4", 5, panRight, 209},
      {"testvideo.mp4", 21, briskPan, 181},
      {"fire2.mp4", 1, walk, 212},
      {"issue-195-aspect-ratio.mp4", 14, zoomIn, 179},
      {"short_hamilton_clip.mp4", 9, shake + darken, 211},
      {"gopro_karma.mp4", 10, panDown, 182},
      {"testvideo.mp4", 16, walk + brighten, 241},
      {"goldeneye-vfr-drop3.mp4", 6, zoomOut, 178},
      {"issue-195-aspect-ratio.mp4", 21, panRight, 211},
  };
  const std::filesystem::path file = folder / "generated-shots-by-frame.mp4";
  Clip clip{.name = "generated shots", .file = file, .cuts = {}};
  int start = 0;
  std::string inputs, chains, labels;
  for (size_t index = 0; index < shots.size(); ++index) {
    const Shot& shot = shots[index];
    const std::string length = std::to_string(double(shot.frames) / kGeneratedFramesPerSecond);
    const std::filesystem::path still = folder / ("still-" + std::to_string(index) + ".png");
    if (!std::filesystem::exists(still))
      bench::run("ffmpeg -hide_banner -loglevel error -y -ss " + std::to_string(shot.stillAtSec) +
                 " -i '" + (shared / shot.clip).string() +
                 "' -frames:v 1 -vf scale=960:540:force_original_aspect_ratio=increase,"
                 "crop=960:540,setsar=1 " +
                 still.string());
    inputs += " -loop 1 -framerate 30 -t " + std::to_string(shot.frames / 30 + 2) + " -i " +
              still.string();
    chains += "[" + std::to_string(index) + ":v]" + replaceAll(shot.camera, "D", length) +
              ",format=yuv420p,setsar=1,fps=30,trim=end_frame=" + std::to_string(shot.frames) +
              ",setpts=PTS-STARTPTS[v" + std::to_string(index) + "];";
    labels += "[v" + std::to_string(index) + "]";
    if (index > 0) clip.cuts.push_back(double(start) / kGeneratedFramesPerSecond);
    start += shot.frames;
  }
  if (!std::filesystem::exists(file)) {
    std::printf("generating %s (once)…\n", file.c_str());
    bench::run("ffmpeg -hide_banner -loglevel error -y" + inputs + " -filter_complex \"" + chains +
               labels + "concat=n=" + std::to_string(shots.size()) +
               ":v=1:a=0\" -c:v libx264 -preset veryfast -g 60 -bf 2 " + file.string());
  }
  return clip;
}

std::vector<Clip> sharedClips(const std::filesystem::path& folder) {
  // Hard cuts found by eye, frame by frame; fades and dissolves are not hard cuts.
  const std::vector<Clip> annotated{
      {"testvideo.mp4", {}, {1.00, 6.01}},
      {"goldeneye-vfr-drop3.mp4", {}, {3.75, 8.76}},
      {"issue-134-rotate.mp4", {}, {3.75, 8.76}},
      {"issue-195-aspect-ratio.mp4", {}, {2.80, 6.80, 12.04, 16.84, 19.36}},
      {"short_hamilton_clip.mp4", {}, {1.51, 3.58, 7.88}},
      {"iphone_rotated.mov", {}, {}},
      {"gopro_karma.mp4", {}, {}},
      {"train.mov", {}, {}},
      {"fire2.mp4", {}, {}},
      {"bottle-detection.mp4", {}, {}},
  };
  std::vector<Clip> clips;
  for (Clip clip : annotated) {
    clip.file = folder / clip.name;
    if (std::filesystem::exists(clip.file)) clips.push_back(clip);
  }
  return clips;
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path folder = "/tmp/brisklet-bench";
  std::filesystem::create_directories(folder);
  const std::filesystem::path shared = argc > 1 ? argv[1] : "../shared/media";

  if (!std::filesystem::exists(shared / "testvideo.mp4")) {
    std::fprintf(stderr, "the shared clips are not in %s\n", shared.c_str());
    return 1;
  }
  Totals generated;
  generated.framesPerSecond = kGeneratedFramesPerSecond;
  evaluate(generatedFootage(shared, folder), generated);
  report("(a) generated footage", generated);

  Totals real;
  for (const Clip& clip : sharedClips(shared)) evaluate(clip, real);
  if (real.within.empty())
    std::printf("(b) no clips in %s\n", shared.c_str());
  else
    report("(b) real footage", real);
  return 0;
}

// Seeking as the preview does it, in one run on the 10-minute 1080p bench video: the time from a
// seek request to the picture at that exact moment, for 100 random moments,
//   (a) ours: the preview's player of the edit (the whole video kept), from the seek request to
//       the picture ready to show in a 1280×720 view, in this process;
//   (b) ffmpeg -ss T -i X -frames:v 1 (an accurate seek), a process per moment.
// Prints the median and the worst of each. Target: (a)'s median ≤ 100 ms and below (b)'s.
//
//   build/bench/bench_seek [video]

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include "BenchSupport.h"
#include "media/CompositionBuilder.h"
#include "media/Player.h"

using namespace brisklet;

namespace {

void report(const char* name, std::vector<double> times) {
  std::sort(times.begin(), times.end());
  std::printf("%-34s median %6.1f ms   worst %6.1f ms\n", name, 1000 * times[times.size() / 2],
              1000 * times.back());
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path video = argc > 1 ? argv[1] : bench::tenMinuteVideo();
  const Asset source = Asset::open(video);
  Segment whole;
  whole.id = Uuid::random();
  whole.endSec = source.durationSec();
  CompositionBuilder::Inputs inputs;
  inputs.layOutPictures = true;
  EditPlan plan;
  plan.segments = {whole};
  const auto edit =
      std::make_shared<const CompositionResult>(CompositionBuilder::build(plan, source, inputs));

  std::mt19937 random(11);
  std::uniform_real_distribution<double> moment(0, source.durationSec() - 1);
  std::vector<double> targets(100);
  for (double& target : targets) target = moment(random);

  Player player;
  player.setItem(edit);
  player.awaitPicture(std::chrono::seconds(60));  // files open, as in a preview showing something
  std::vector<double> ours;
  for (const double target : targets)
    ours.push_back(bench::seconds([&] {
      player.seek(target);
      player.awaitPicture(std::chrono::seconds(60));
    }));
  report("(a) ours, seek to picture shown", ours);

  std::vector<double> ffmpeg;
  for (const double target : targets)
    ffmpeg.push_back(bench::seconds([&] {
      bench::run("ffmpeg -hide_banner -loglevel error -y -ss " + std::to_string(target) + " -i " +
                 video.string() + " -frames:v 1 -f null -");
    }));
  report("(b) ffmpeg -ss T -i X -frames:v 1", ffmpeg);
  std::sort(ours.begin(), ours.end());
  std::sort(ffmpeg.begin(), ffmpeg.end());
  std::printf("\nmedian a/b = %.2f (target < 1, and a ≤ 100 ms)\n", ours[50] / ffmpeg[50]);
  return 0;
}

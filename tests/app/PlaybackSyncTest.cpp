#include <gtest/gtest.h>

#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#include "app/PlayerController.h"
#include "platform/Bookmark.h"
#include "support/MediaGenerator.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

// This suite runs beside a private PulseAudio server (tests/support/with-sound-server.sh): the
// preview plays into the null sink "out", and the test records its monitor to hear what was
// played and when.

// The share of frame intervals that may miss 33 ± 8 ms (and of pictures that may be dropped): one
// in a hundred on a busy 2-core machine; with the sanitizers' instrumentation, which slows our
// own code several times over, one in ten. The timing is held to its bar in the plain build.
#ifdef __SANITIZE_ADDRESS__
constexpr std::size_t kOutlierDivisor = 10;
#else
constexpr std::size_t kOutlierDivisor = 100;
#endif

double steadyNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Everything the null sink played, each sample with the moment it was heard. Qt lists no
// monitor sources, so PulseAudio's own recorder listens, with a 5 ms fragment.
class MonitorRecorder {
 public:
  MonitorRecorder() {
    QObject::connect(&parec_, &QProcess::readyReadStandardOutput, [this] {
      pending_ += parec_.readAllStandardOutput();
      const std::size_t count = static_cast<std::size_t>(pending_.size()) / sizeof(float);
      const auto* samples = reinterpret_cast<const float*>(pending_.constData());
      // The newest sample was heard just now; the others before it.
      const double now = steadyNow();
      for (std::size_t i = 0; i < count; ++i) {
        samples_.push_back(samples[i]);
        times_.push_back(now - static_cast<double>(count - 1 - i) / 48000);
      }
      pending_.remove(0, static_cast<qsizetype>(count * sizeof(float)));
    });
    parec_.start("parec", {"--device=out.monitor", "--raw", "--format=float32le", "--rate=48000",
                           "--channels=1", "--latency-msec=5"});
    EXPECT_TRUE(parec_.waitForStarted());
  }
  ~MonitorRecorder() {
    parec_.kill();
    parec_.waitForFinished();
  }

  // When each click began: a loud sample after a tenth of a second of quiet.
  std::vector<double> clicks() const {
    std::vector<double> onsets;
    std::size_t quiet = 0;
    for (std::size_t i = 0; i < samples_.size(); ++i) {
      if (std::fabs(samples_[i]) > 0.2) {
        if (quiet > 4800) onsets.push_back(times_[i]);
        quiet = 0;
      } else {
        ++quiet;
      }
    }
    return onsets;
  }

 private:
  QProcess parec_;
  QByteArray pending_;
  std::vector<float> samples_;
  std::vector<double> times_;
};

// Runs the event loop without the 10 ms naps QTest::qWait takes between rounds, which would
// delay pictures.
void play(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

struct Shown {
  double at = 0;         // steady clock, when it went on screen
  double outputSec = 0;  // its time in the edit
  bool flash = false;
  int stretch = 0;       // pictures of one stretch of playing follow each other
};

// A 1080p source with a white frame every half second and a click on each.
class PlaybackSyncTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};
  Project project;

  PlaybackSyncTest() {
    testing::runFfmpeg(
        {"-f", "lavfi", "-i",
         "color=black:s=1920x1080:r=30:d=12,drawbox=c=white:t=fill:enable='eq(mod(n,15),0)'",
         "-f", "lavfi", "-i",
         "aevalsrc='if(lt(mod(t,0.5),0.004),0.9*sin(2*PI*3000*t),0)':s=48000:d=12", "-c:v",
         "libx264", "-preset", "ultrafast", "-c:a", "aac", "-b:a", "192k",
         (folder / "flashes.mp4").string()});
    project = makeProject("Flashes", makeBookmark(folder / "flashes.mp4"), 12.0);
    project.editPlan = EditPlan();
    project.editPlan->segments = {testing::segment(0.2, 4.2), testing::segment(5.1, 11.9)};
    store.save(project);
  }
};

TEST_F(PlaybackSyncTest, EveryFlashIsSeenWhenItsClickIsHeard) {
  MonitorRecorder recorder;
  PlayerOptions options;
  options.viewBox = {960, 540};
  PlayerController controller(store, options);
  ASSERT_TRUE(controller.playsSound());
  std::vector<Shown> shown;
  int stretch = 0;
  QObject::connect(&controller, &PlayerController::pictureChanged, [&] {
    shown.push_back({steadyNow(), controller.pictureTimeSec(), cv::mean(controller.picture())[0] > 128,
                     stretch});
  });
  // A new edit starts playing anew at the same moment.
  QObject::connect(&controller, &PlayerController::itemInstalled, [&] { ++stretch; });
  controller.load(project);
  ASSERT_TRUE(QTest::qWaitFor([&] { return controller.isReady(); }, 10000));
  // The private server's null sink takes two seconds to start a stream; the preview's sound
  // stream starts with the controller, long before a user could press play.
  play(2500);

  // Across the cut at output 4, then after a seek, then after a rebuild.
  ++stretch;
  controller.play();
  play(5000);
  ++stretch;
  controller.seekOutput(6.9);
  play(1500);
  Project edited = project;
  edited.editPlan->segments.back().endSec = 11.5;
  ++stretch;
  controller.rebuild(edited);
  play(1800);
  controller.pause();
  play(200);

  const std::vector<double> clicks = recorder.clicks();
  int paired = 0;
  double worst = 0;
  for (const Shown& picture : shown) {
    if (!picture.flash) continue;
    const auto nearest = std::min_element(clicks.begin(), clicks.end(), [&](double a, double b) {
      return std::fabs(a - picture.at) < std::fabs(b - picture.at);
    });
    ASSERT_NE(nearest, clicks.end());
    const double offset = picture.at - *nearest;
    EXPECT_LE(std::fabs(offset), 0.030) << "flash at output " << picture.outputSec;
    worst = std::max(worst, std::fabs(offset));
    ++paired;
  }
  EXPECT_GE(paired, 14);
  std::printf("flashes paired with clicks: %d, worst offset %.1f ms\n", paired, worst * 1000);

  // Pictures come every 33 ± 8 ms while playing on; a few may miss that by a little (see
  // kOutlierDivisor), none by a whole frame.
  std::vector<double> intervals;
  for (std::size_t i = 1; i < shown.size(); ++i)
    if (shown[i].stretch == shown[i - 1].stretch && shown[i].stretch > 0)
      intervals.push_back(shown[i].at - shown[i - 1].at);
  ASSERT_GE(intervals.size(), 200u);
  const auto outside = std::count_if(intervals.begin(), intervals.end(), [](double interval) {
    return std::fabs(interval - 1.0 / 30) > 0.008;
  });
  EXPECT_LE(outside, static_cast<long>(intervals.size() / kOutlierDivisor));
  for (const double interval : intervals) EXPECT_LT(interval, 2.0 / 30);
  std::printf("frame intervals: %zu, %ld outside 33 \u00b1 8 ms\n", intervals.size(),
              static_cast<long>(outside));
  EXPECT_EQ(controller.underruns(), 0);
  // A picture late beyond saving is dropped rather than shown late; on a busy machine one may be.
  EXPECT_LE(controller.player().droppedPictures(), static_cast<int>(shown.size() / kOutlierDivisor));
}

}  // namespace
}  // namespace brisklet

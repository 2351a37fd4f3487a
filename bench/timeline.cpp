// Painting the timeline of a long edit: a 60-minute plan of 300 segments (every third with a
// narration line, all scored, with a waveform of 10 values a second) at the widest zoom
// (40 px/s, 144 000 px of canvas), in a 1920 px window. Each paint draws what one screen of the
// scroll area exposes, at 30 places along the video; the anchor is the same window painting a
// plain widget of the same size, in the same run. Target: median paint ≤ 8 ms.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_timeline

#include <QApplication>
#include <QPixmap>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "BenchSupport.h"
#include "app/AppState.h"
#include "model/Edit.h"
#include "ui/Theme.h"
#include "ui/TimelineTracks.h"
#include "ui/TimelineView.h"

using namespace brisklet;

namespace {

double median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  applyTheme(application, ColorScheme::dark);
  const std::filesystem::path folder = "/tmp/brisklet-bench/timeline";
  std::filesystem::remove_all(folder);
  ProjectStore store(folder);
  Project project = makeProject("Long day", {}, 3600);
  EditPlan plan;
  for (int i = 0; i < 300; ++i) {
    Segment segment;
    segment.id = Uuid::random();
    segment.startSec = i * 12.0;
    segment.endSec = i * 12.0 + 12;
    segment.keep = i % 4 != 0;
    QualityScores quality;
    quality.composite = 0.2 + 0.002 * i;
    segment.quality = quality;
    plan.segments.push_back(segment);
  }
  project.editPlan = plan;
  for (int i = 0; i < static_cast<int>(plan.segments.size()); i += 3)
    applyEdit(SetNarrationText{plan.segments[static_cast<std::size_t>(i)].id,
                               "Then the path turned down to the sea."},
              project);
  store.save(project);
  AppState state(store);

  TimelineView view(state, nullptr, project.id);
  std::vector<float> waveform(36000);
  for (std::size_t i = 0; i < waveform.size(); ++i)
    waveform[i] = static_cast<float>(0.5 + 0.4 * std::sin(static_cast<double>(i) * 0.05));
  view.tracks().setWaveform(waveform);
  view.resize(1920, 240);
  view.show();
  application.processEvents();
  view.zoomSlider().setValue(view.zoomSlider().maximum());
  application.processEvents();

  TimelineTracks& tracks = view.tracks();
  const QSize screen = view.scrollArea().viewport()->size();
  QPixmap canvas(screen);
  QWidget plain;
  plain.resize(screen);
  std::vector<double> ours;
  std::vector<double> anchor;
  for (int place = 0; place < 30; ++place) {
    const int left = static_cast<int>((tracks.width() - screen.width()) * place / 29.0);
    const QRegion exposed(QRect(QPoint(left, 0), screen));
    for (int repeat = 0; repeat < 5; ++repeat) {
      ours.push_back(bench::seconds([&] { tracks.render(&canvas, {}, exposed); }));
      anchor.push_back(bench::seconds([&] { plain.render(&canvas); }));
    }
  }
  std::printf("canvas %d px wide, screen %d × %d\n", tracks.width(), screen.width(),
              screen.height());
  std::printf("timeline paint      median %6.2f ms   worst %6.2f ms\n", 1000 * median(ours),
              1000 * *std::max_element(ours.begin(), ours.end()));
  std::printf("plain widget paint  median %6.2f ms\n", 1000 * median(anchor));
  std::printf("\nours / plain = %.1f; median against the 8 ms target = %.2f\n",
              median(ours) / median(anchor), 1000 * median(ours) / 8);
  return 0;
}

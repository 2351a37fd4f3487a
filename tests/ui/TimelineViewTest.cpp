#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QWheelEvent>
#include <mutex>
#include <set>
#include <thread>

#include "app/AppState.h"
#include "app/PlayerController.h"
#include "platform/AtomicFile.h"
#include "platform/Bookmark.h"
#include "support/MediaGenerator.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"
#include "ui/Screenshots.h"
#include "ui/Theme.h"
#include "ui/TimelineTracks.h"
#include "ui/TimelineView.h"

namespace brisklet {
namespace {

Segment scored(double start, double end, bool keep, double composite) {
  Segment segment = testing::segment(start, end, keep);
  QualityScores quality;
  quality.composite = composite;
  segment.quality = quality;
  return segment;
}

class TimelineViewTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};
  Project project;
  std::unique_ptr<AppState> state;

  TimelineViewTest() { applyTheme(*qApp, ColorScheme::dark); }

  void start(double durationSec, std::vector<Segment> segments) {
    project = testing::sampleProject("Coast", "2025-03-01T10:00:00Z");
    project.videoDurationSec = durationSec;
    EditPlan plan;
    plan.segments = std::move(segments);
    plan.planRevision = 1;
    project.editPlan = plan;
    store.save(project);
    state = std::make_unique<AppState>(store);
  }

  const Segment& stored(std::size_t index) const {
    return state->project(project.id)->editPlan->segments.at(index);
  }
  std::string record() const {
    return readFile(store.projectDirectory(project.id) / "project.json");
  }

  static QColor pixel(QWidget& widget, QPointF at) {
    return widget.grab().toImage().pixelColor(at.toPoint());
  }
};

// Roughly the same colour, as antialiasing and blending leave it.
void expectColour(const QColor& seen, const QColor& expected, int tolerance, const char* what) {
  EXPECT_NEAR(seen.red(), expected.red(), tolerance) << what;
  EXPECT_NEAR(seen.green(), expected.green(), tolerance) << what;
  EXPECT_NEAR(seen.blue(), expected.blue(), tolerance) << what;
}

TEST_F(TimelineViewTest, FitsThePlanOnceAndShowsBadgesAndScoresByWidth) {
  // At 5 px/s: 6 s is 30 px (no badge), 12 s is 60 px (a badge), 30 s and more show the score.
  start(120, {scored(0, 6, true, 0.9), scored(6, 18, true, 0.9), scored(18, 48, true, 0.6),
              scored(48, 78, false, 0.35), scored(78, 120, true, 0.2)});
  TimelineView view(*state, nullptr, project.id);
  view.resize(690, 240);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  TimelineTracks& tracks = view.tracks();
  EXPECT_DOUBLE_EQ(tracks.pixelsPerSecond(), 5);
  EXPECT_EQ(view.zoomSlider().value(), 500);
  view.resize(900, 240);
  EXPECT_DOUBLE_EQ(tracks.pixelsPerSecond(), 5) << "fitted once only";
  state->setSelectedSegmentID(stored(2).id);
  testing::saveScreenshot(view, "timeline-fit-dark.png");

  const auto segments = tracks.blocks();
  const QColor narrowCorner = pixel(tracks, tracks.badgeRect(segments[0]).center());
  EXPECT_LT(narrowCorner.lightness(), 200) << "no badge on a 30 px block";
  const auto ringOf = [&](const Segment& segment) {
    const QRectF badge = tracks.badgeRect(segment);
    return pixel(tracks, {badge.center().x(), badge.top() + 1.5});
  };
  expectColour(ringOf(segments[1]), statusGreen(), 40, "the keep badge of a kept block");
  expectColour(ringOf(segments[3]), statusRed(), 40, "the badge of a dropped block");
  const auto capsuleOf = [&](const Segment& segment) {
    const QRectF badge = tracks.badgeRect(segment);
    return pixel(tracks, {badge.right() + 5, badge.top() + 8});
  };
  const QColor noCapsule = capsuleOf(segments[1]);
  EXPECT_FALSE(std::abs(noCapsule.green() - statusGreen().green()) < 30 && noCapsule.red() < 100)
      << "no score on a 60 px block";
  expectColour(capsuleOf(segments[2]), statusGreen(), 30, "a score of 60");
  expectColour(capsuleOf(segments[3]), statusOrange(), 30, "a score of 35");
  expectColour(capsuleOf(segments[4]), statusRed(), 30, "a score of 20");

  // Borders: the selected block's accent, the kept green, the dropped red; a dropped block dims.
  const auto borderOf = [&](const Segment& segment) {
    const QRectF block = tracks.blockRect(segment);
    return pixel(tracks, {block.center().x(), block.bottom() - 1});
  };
  expectColour(borderOf(segments[2]), NeuTheme::accentColor(), 40, "the selected block");
  EXPECT_GT(borderOf(segments[4]).green(), borderOf(segments[4]).red()) << "a kept block";
  EXPECT_GT(borderOf(segments[3]).red(), borderOf(segments[3]).green()) << "a dropped block";
  const auto middleOf = [&](const Segment& segment) {
    return pixel(tracks, tracks.blockRect(segment).center() + QPointF(0, 20)).lightness();
  };
  EXPECT_LT(middleOf(segments[3]), middleOf(segments[4])) << "a dropped block is dimmed";
}

TEST_F(TimelineViewTest, ClicksSelectAndSeekBadgesKeepAndTrimsOnEveryEdgeStoreOnceAtRelease) {
  const auto video = testing::makeClockVideo(folder / "clock.mp4", 20, 64, 48, 10);
  start(20, {testing::segment(0, 5), testing::segment(5, 12), testing::segment(12, 12.3),
             testing::segment(12.3, 20)});
  project.videoBookmark = makeBookmark(video);
  store.save(project);
  state = std::make_unique<AppState>(store);
  PlayerController player(store);
  player.load(project);
  TimelineView view(*state, &player, project.id);
  view.resize(1100, 240);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  ASSERT_TRUE(QTest::qWaitFor([&] { return player.isReady(); }, 10000));
  TimelineTracks& tracks = view.tracks();
  const double pps = tracks.pixelsPerSecond();
  EXPECT_DOUBLE_EQ(pps, 40);
  const auto at = [&](double sec, double y) {
    return QPoint(static_cast<int>(sec * pps), static_cast<int>(y));
  };
  const double blockY = tracks.blockRect(stored(0)).center().y() + 20;

  QTest::mouseClick(&tracks, Qt::LeftButton, {}, at(7.5, blockY));
  EXPECT_EQ(state->selectedSegmentID(), stored(1).id);
  EXPECT_NEAR(player.currentSourceTime(), 7.5, 1.0 / pps);

  const QPoint badge = tracks.badgeRect(stored(1)).center().toPoint();
  QTest::mouseClick(&tracks, Qt::LeftButton, {}, badge);
  EXPECT_FALSE(stored(1).keep);
  EXPECT_TRUE(stored(1).userOverrodeKeep);
  const std::string beforeTrim = record();

  // The trailing edge of [5, 12), taken just inside the block, dragged far right stops at the
  // next start, far left 0.5 s after its own start. The drag shows as it moves (the list) and is
  // stored once, at release, as one step.
  const QPoint inside(-2, 0);
  QTest::mousePress(&tracks, Qt::LeftButton, {}, at(12, blockY) + inside);
  QTest::mouseMove(&tracks, at(19, blockY) + inside);
  EXPECT_DOUBLE_EQ(stored(1).endSec, 12);
  QTest::mouseMove(&tracks, at(1, blockY) + inside);
  EXPECT_DOUBLE_EQ(stored(1).endSec, 5.5);
  for (int move = 0; move < 60; ++move)
    QTest::mouseMove(&tracks, at(6 + move * 0.1, blockY) + inside);
  EXPECT_EQ(record(), beforeTrim) << "nothing is written while the drag moves";
  QTest::mouseMove(&tracks, at(10, blockY) + inside);
  QTest::mouseRelease(&tracks, Qt::LeftButton, {}, at(10, blockY) + inside);
  EXPECT_DOUBLE_EQ(stored(1).endSec, 10);
  EXPECT_DOUBLE_EQ(store.loadAll().front().editPlan->segments[1].endSec, 10);
  testing::saveScreenshot(view, "timeline-trimmed-dark.png");
  ASSERT_TRUE(state->undo(project.id));
  EXPECT_DOUBLE_EQ(stored(1).endSec, 12) << "one step";
  EXPECT_FALSE(stored(1).keep) << "the keep before it stays";

  // Where two blocks touch, the block under the pointer gives its edge: the leading edge of
  // [12.3, 20) trims.
  EXPECT_EQ(tracks.toolTip(), "");
  QTest::mouseMove(&tracks, at(12.3, blockY) + QPoint(2, 0));
  EXPECT_EQ(tracks.cursor().shape(), Qt::SizeHorCursor);
  EXPECT_EQ(tracks.toolTip(), "Drag to trim");
  QTest::mousePress(&tracks, Qt::LeftButton, {}, at(12.3, blockY) + QPoint(2, 0));
  QTest::mouseMove(&tracks, at(14, blockY) + QPoint(2, 0));
  QTest::mouseRelease(&tracks, Qt::LeftButton, {}, at(14, blockY) + QPoint(2, 0));
  EXPECT_NEAR(stored(3).startSec, 14, 1e-9);
  EXPECT_DOUBLE_EQ(stored(2).endSec, 12.3) << "its neighbour stays";
  QTest::mouseMove(&tracks, tracks.badgeRect(stored(1)).center().toPoint());
  EXPECT_EQ(tracks.toolTip(), "Dropped \u2014 click to keep");
  QTest::mouseMove(&tracks, tracks.badgeRect(stored(0)).center().toPoint());
  EXPECT_EQ(tracks.toolTip(), "Included in export \u2014 click to drop");

  // The first segment's leading edge stops at 0.
  QTest::mousePress(&tracks, Qt::LeftButton, {}, at(0, blockY) + QPoint(2, 0));
  QTest::mouseMove(&tracks, QPoint(-200, static_cast<int>(blockY)));
  QTest::mouseRelease(&tracks, Qt::LeftButton, {}, QPoint(-200, static_cast<int>(blockY)));
  EXPECT_DOUBLE_EQ(stored(0).startSec, 0);
}

// Removed pauses stay on their blocks, hatched; a click on one puts it back, one step of undo.
TEST_F(TimelineViewTest, RemovedPausesAreHatchedAndAClickPutsOneBack) {
  const auto video = testing::makeClockVideo(folder / "clock.mp4", 20, 64, 48, 10);
  Segment talk = testing::segment(0, 12);
  talk.removedPauses = {{2, 3.5}, {6, 8}, {13, 14}};
  start(20, {talk, testing::segment(12, 20)});
  project.videoBookmark = makeBookmark(video);
  store.save(project);
  state = std::make_unique<AppState>(store);
  TimelineView view(*state, nullptr, project.id);
  view.resize(1100, 240);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  TimelineTracks& tracks = view.tracks();
  const double pps = tracks.pixelsPerSecond();
  const double blockY = tracks.blockRect(stored(0)).center().y() + 20;
  const auto at = [&](double sec) {
    return QPoint(static_cast<int>(sec * pps), static_cast<int>(blockY));
  };
  testing::saveScreenshot(view, "timeline-pauses-dark.png");
  // Darkened with white hatching: a pause's pixels are dark or light, never the picture's grey.
  const QColor hatched = pixel(tracks, at(7));
  const QColor shown = pixel(tracks, at(4.5));
  EXPECT_GT(std::abs(hatched.lightness() - shown.lightness()), 30);

  QTest::mouseMove(&tracks, at(7));
  EXPECT_EQ(tracks.toolTip(), "Pause removed by Tighten (2.0 s) \u2014 click to put it back");
  QTest::mouseClick(&tracks, Qt::LeftButton, {}, at(7));
  EXPECT_EQ(stored(0).removedPauses, (std::vector<SourceSpan>{{2, 3.5}, {13, 14}}));
  QTest::mouseClick(&tracks, Qt::LeftButton, {}, at(13.5));
  EXPECT_EQ(stored(0).removedPauses.size(), 2u) << "a pause past a trimmed end is not shown";
  ASSERT_TRUE(state->undo(project.id));
  EXPECT_EQ(stored(0).removedPauses.size(), 3u) << "one step";
}

// Two touching blocks at 10 px/s, 0–5 s and 5–5.2 s (too narrow for a badge), the first with a
// line starting half a second in.
TEST(TimelineGeometry, APointerFindsTheBadgeTheEdgeOnItsSideOfASeamAndTheBubble) {
  using timeline::TrackHit;
  const std::vector<Segment> blocks = {testing::narrated(testing::segment(0, 5), "Hello there."),
                                       testing::segment(5, 5.2)};
  const double y = timeline::kVideoTop + 30;
  const auto hit = [&](double x, double atY) { return timeline::hitAt(blocks, 10, x, atY); };
  EXPECT_EQ(hit(8, timeline::kVideoTop + 8).part, TrackHit::Part::badge);
  EXPECT_EQ(hit(25, y).part, TrackHit::Part::block);
  EXPECT_EQ(hit(2, y).edge, TrimEdge::leading);
  const TrackHit before = hit(49, y);
  EXPECT_EQ(before.part, TrackHit::Part::edge);
  EXPECT_EQ(before.edge, TrimEdge::trailing);
  EXPECT_EQ(before.segment->id, blocks[0].id) << "left of the seam: the first block's end";
  const TrackHit after = hit(50.5, y);
  EXPECT_EQ(after.edge, TrimEdge::leading);
  EXPECT_EQ(after.segment->id, blocks[1].id) << "right of it: the second block's start";
  EXPECT_FALSE(timeline::badgeBox(blocks[1], 10)) << "no badge on a 4 px block";
  EXPECT_EQ(hit(15, timeline::kNarrationTop + 10).part, TrackHit::Part::bubble);
  EXPECT_EQ(hit(2, timeline::kNarrationTop + 10).part, TrackHit::Part::nothing);
}

TEST_F(TimelineViewTest, ThumbnailsAreAskedForOnceWhateverTheScrolling) {
  std::vector<Segment> segments;
  for (int i = 0; i < 60; ++i)
    segments.push_back(testing::segment(i * 10.0, i * 10.0 + 10, i % 3 != 0));
  start(600, segments);
  TimelineView view(*state, nullptr, project.id);
  std::mutex asked;
  std::multiset<long> seconds;
  view.tracks().setThumbnailSource([&](double sourceSec) -> std::optional<cv::Mat> {
    const std::lock_guard lock(asked);
    seconds.insert(static_cast<long>(sourceSec));
    return cv::Mat(45, 80, CV_8UC3, cv::Scalar(40, 90 + static_cast<int>(sourceSec) % 120, 160));
  });
  view.resize(1100, 240);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  view.zoomSlider().setValue(2000);  // 20 px/s: 12 000 px of blocks
  QScrollBar& scroll = *view.scrollArea().horizontalScrollBar();
  for (int pass = 0; pass < 2; ++pass)
    for (int value = 0; value <= scroll.maximum(); value += 700) {
      scroll.setValue(value);
      QTest::qWait(20);
    }
  QTest::qWait(200);
  testing::saveScreenshot(view, "timeline-thumbnails-dark.png");
  const std::lock_guard lock(asked);
  EXPECT_GT(seconds.size(), 100u);
  for (const long second : seconds) EXPECT_EQ(seconds.count(second), 1u) << second;
  EXPECT_EQ(view.tracks().thumbnailRequests(), static_cast<int>(seconds.size()));
}

TEST_F(TimelineViewTest, ThumbnailsScrolledPastAreDroppedAndFailedOnesAskedAgain) {
  std::vector<Segment> segments;
  for (int i = 0; i < 60; ++i) segments.push_back(testing::segment(i * 10.0, i * 10.0 + 10, true));
  start(600, segments);
  TimelineView view(*state, nullptr, project.id);
  std::mutex asked;
  std::multiset<long> seconds;
  // A slow source that cannot give any picture the first time it is asked.
  view.tracks().setThumbnailSource([&](double sourceSec) -> std::optional<cv::Mat> {
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
    const std::lock_guard lock(asked);
    seconds.insert(static_cast<long>(sourceSec));
    if (seconds.count(static_cast<long>(sourceSec)) == 1) return std::nullopt;
    return cv::Mat(45, 80, CV_8UC3, cv::Scalar(200, 60, 20));
  });
  view.resize(1100, 240);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  view.zoomSlider().setValue(2000);  // 20 px/s: 12 000 px of blocks
  QScrollBar& scroll = *view.scrollArea().horizontalScrollBar();
  for (int value = 0; value <= scroll.maximum(); value += 350) {
    scroll.setValue(value);
    QTest::qWait(5);
  }
  scroll.setValue(scroll.maximum());
  // The pictures in sight come in, the failed ones on their second asking.
  const double pixelsPerSecond = view.tracks().pixelsPerSecond();
  const long firstInSight = static_cast<long>(scroll.value() / pixelsPerSecond) + 1;
  const auto inSightAskedTwice = [&] {
    const std::lock_guard lock(asked);
    int twice = 0;
    for (auto second = seconds.lower_bound(firstInSight); second != seconds.end(); ++second)
      if (seconds.count(*second) != 2)
        return false;
      else
        ++twice;
    return twice >= 2 * 5;
  };
  EXPECT_TRUE(QTest::qWaitFor(inSightAskedTwice, 5000));
  QTest::qWait(600);
  EXPECT_TRUE(inSightAskedTwice()) << "and no third time";
  testing::saveScreenshot(view, "timeline-thumbnails-retried-dark.png");
  const QImage shown = view.grab().toImage();
  const QPoint inBlock = view.tracks().mapTo(
      &view, view.tracks().blockRect(segments.back()).center().toPoint() + QPoint(0, 10));
  EXPECT_EQ(shown.pixelColor(inBlock), QColor(20, 60, 200)) << "the retried picture is shown";

  const std::lock_guard lock(asked);
  std::set<long> distinct(seconds.begin(), seconds.end());
  // The 60 blocks hold 180 pictures at this zoom.
  EXPECT_LT(distinct.size(), 90u) << "most blocks went by before their pictures were made";
  for (const long second : distinct)
    EXPECT_LE(seconds.count(second), 2u) << second << " is asked again only after it failed";
}

TEST_F(TimelineViewTest, TheWheelScrollsAndCtrlWheelZoomsAroundThePointer) {
  start(600, {testing::segment(0, 600, true)});
  TimelineView view(*state, nullptr, project.id);
  view.resize(900, 240);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  view.zoomSlider().setValue(1000);  // 10 px/s
  QWidget* viewport = view.scrollArea().viewport();
  QScrollBar& scroll = *view.scrollArea().horizontalScrollBar();
  const auto turn = [&](int notches, Qt::KeyboardModifiers modifiers, QPoint at) {
    QWheelEvent wheel(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                      Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &wheel);
  };
  turn(-3, Qt::NoModifier, {100, 50});
  EXPECT_EQ(scroll.value(), 180) << "a vertical wheel scrolls along the time";
  turn(1, Qt::NoModifier, {100, 50});
  EXPECT_EQ(scroll.value(), 120);

  // The moment under the pointer stays under it: (120 + 300) px at 10 px/s is 42 s.
  turn(2, Qt::ControlModifier, {300, 50});
  EXPECT_NEAR(view.tracks().pixelsPerSecond(), 14.4, 1e-9);
  EXPECT_NEAR((scroll.value() + 300) / view.tracks().pixelsPerSecond(), 42.0, 0.1);
  EXPECT_EQ(view.zoomSlider().value(), 1440) << "the slider follows";
  turn(-40, Qt::ControlModifier, {300, 50});
  EXPECT_DOUBLE_EQ(view.tracks().pixelsPerSecond(), timeline::kMinimumPixelsPerSecond);
}

TEST_F(TimelineViewTest, RecordsWithImpossibleDurationsStillLayOutAndPaint) {
  for (const double duration : {1e12, -5.0}) {
    start(duration, {testing::segment(0, 10)});
    TimelineView view(*state, nullptr, project.id);
    view.resize(1100, 240);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    EXPECT_LE(view.tracks().width(), static_cast<int>(timeline::kMaximumContentWidth)) << duration;
    EXPECT_FALSE(view.grab().isNull());
    const auto* keeping = view.findChild<QLabel*>("timelineKeeping");
    ASSERT_NE(keeping, nullptr);
    EXPECT_FALSE(keeping->text().contains("-")) << keeping->text().toStdString();
  }
}

TEST_F(TimelineViewTest, LooksRightInBothSchemesAndSizes) {
  std::vector<Segment> segments;
  for (int i = 0; i < 24; ++i) {
    Segment segment = scored(i * 5.0, i * 5.0 + 5, i % 4 != 1, 0.2 + 0.03 * i);
    if (i % 3 == 0) segment = testing::narrated(segment, "We made it to the top of the ridge.");
    if (i % 6 == 0) segment.narration->status = NarrationStatus::ready;
    segments.push_back(segment);
  }
  start(120, segments);
  std::vector<float> waveform;
  for (int i = 0; i < 1200; ++i)
    waveform.push_back(0.3f + 0.3f * static_cast<float>(std::sin(i * 0.07)) *
                                  static_cast<float>(std::sin(i * 0.013)));
  for (const auto scheme : {ColorScheme::dark, ColorScheme::light}) {
    applyTheme(*qApp, scheme);
    for (const QSize size : {QSize(1100, 240), QSize(1920, 240)}) {
      TimelineView view(*state, nullptr, project.id);
      view.tracks().setWaveform(waveform);
      view.resize(size);
      view.show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
      state->setSelectedSegmentID(stored(6).id);
      EXPECT_EQ(view.palette().color(QPalette::Window), NeuTheme::of(scheme).surface);
      testing::saveScreenshot(view, std::string("timeline-") +
                                        (scheme == ColorScheme::dark ? "dark" : "light") + "-" +
                                        std::to_string(size.width()) + ".png");
      // What the tracks paint themselves: the ruler's labels and the narration bubbles' lines,
      // close enough for the lines to show.
      if (size.width() > 1100) continue;
      view.tracks().setPixelsPerSecond(timeline::kMaximumPixelsPerSecond);
      testing::saveScreenshot(view, std::string("timeline-zoomed-") +
                                        (scheme == ColorScheme::dark ? "dark" : "light") + ".png");
      const QImage shown = view.grab().toImage();
      const TimelineTracks& tracks = view.tracks();
      const QPoint origin = tracks.mapTo(&view, QPoint());
      const QRect ruler(origin + QPoint(0, timeline::kRowPadding),
                        QSize(size.width() - origin.x(), timeline::kRulerHeight));
      EXPECT_GE(testing::contrastIn(shown, ruler), 4.5) << "ruler labels";
      for (const Segment& segment : tracks.blocks()) {
        if (!segment.narration) continue;
        const QRect bubble = tracks.bubbleRect(segment).toAlignedRect().translated(origin);
        if (bubble.right() > size.width()) break;
        EXPECT_GE(testing::contrastIn(shown, bubble.adjusted(3, 3, -3, -3)), 4.5)
            << "bubble at " << segment.startSec
            << (segment.narration->status == NarrationStatus::ready ? " (ready)" : " (waiting)");
      }
    }
  }
}

}  // namespace
}  // namespace brisklet

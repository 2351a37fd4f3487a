#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QMimeData>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <csignal>
#include <set>

#include "app/AppState.h"
#include "app/TerminationSignals.h"
#include "platform/AtomicFile.h"
#include "platform/Bookmark.h"
#include "support/FakeService.h"
#include "support/MediaGenerator.h"
#include "support/ModelAnswers.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"
#include "ui/DialogFolder.h"
#include "ui/ImportDropView.h"
#include "ui/MainWindow.h"
#include "ui/ProjectDetailView.h"
#include "ui/Screenshots.h"
#include "ui/SegmentInspector.h"
#include "ui/Theme.h"
#include "ui/TimelineTracks.h"
#include "ui/TimelineView.h"
#include "ui/TransportBar.h"

namespace brisklet {
namespace {

// A clip of `seconds` with a tone, recorded at `recordedAt`.
std::filesystem::path clip(const std::filesystem::path& file, const std::string& pictures,
                           const std::string& recordedAt) {
  testing::runFfmpeg({"-f", "lavfi", "-i", pictures + "=s=320x180:r=25:d=3", "-f", "lavfi", "-i",
                      "sine=f=440:d=3", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac",
                      "-shortest", "-metadata", "creation_time=" + recordedAt, file.string()});
  return file;
}

double keptSec(const Project& project) {
  double total = 0;
  for (const Segment& segment : project.editPlan->segments)
    if (segment.keep) total += segment.endSec - segment.startSec;
  return total;
}

// The whole application on a virtual display: two clips dropped, merged and analysed with the
// model's stand-in, one scene dropped on the timeline, a second of playback, and the export
// through the save dialog, checked with ffprobe.
TEST(EndToEnd, DropTwoClipsEditPlayAndExport) {
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};
  testing::FakeService model("BRISKLET_ANTHROPIC_BASE_URL");
  // The model takes a second over the scenes, as it does, so the window is seen mid-analysis.
  testing::ScriptedResponse scenes = testing::modelAnswer(testing::sceneAnswers(8));
  scenes.delayMilliseconds = 1000;
  model.enqueue(scenes);
  model.enqueue(testing::modelAnswer(
      R"({"notes":["Open on the bars.","Hold the last shot longer.","Add a sign-off."]})"));
  const auto first = clip(folder / "IMG_0001.MOV", "testsrc2", "2025-06-01T09:00:00Z");
  const auto second = clip(folder / "IMG_0002.MOV", "smptebars", "2025-06-01T09:05:00Z");

  applyTheme(*qApp, ColorScheme::dark);
  AppState state(store);
  state.setKeySource([](KeychainStore::Key key) -> std::optional<std::string> {
    if (key == KeychainStore::Key::anthropic) return "test-key";
    return std::nullopt;
  });
  state.setFileRevealer([](const std::filesystem::path&) {});
  std::vector<QString> askedToSave;
  MainWindowSetup setup;
  setup.detail.chooseSaveLocation = [&](const QString& proposed, const QString&) {
    askedToSave.push_back(proposed);
    return std::optional(folder / proposed.toStdString());
  };
  MainWindow window(state, setup);
  window.resize(1280, 800);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  testing::saveScreenshot(window, "e2e-1-empty.png");

  // The drop: the two clips and a text file, as a file manager hands them over.
  std::vector<std::string> stages;
  bool panelShown = false, analysisShot = false, analysisSeen = false;
  QObject::connect(&state, &AppState::pipelineProgressChanged, &window, [&] {
    if (!state.pipelineProgress()) return;
    const std::string stage = state.pipelineProgress()->stageName;
    if (stages.empty() || stages.back() != stage) stages.push_back(stage);
    panelShown |= window.progressPanel()->isVisible();
    if (!analysisShot && stage.rfind("Merging", 0) != 0) {
      analysisShot = true;  // once the panel has faded in
      QTimer::singleShot(250, &window, [&] {
        const auto* fade =
            static_cast<const QGraphicsOpacityEffect*>(window.progressPanel()->graphicsEffect());
        analysisSeen = state.pipelineProgress().has_value() && fade->opacity() == 1.0;
        if (analysisSeen) testing::saveScreenshot(window, "e2e-2-analysing.png");
      });
    }
  });
  auto* zone = window.findChild<ImportDropView*>();
  ASSERT_NE(zone, nullptr);
  QMimeData dropped;
  dropped.setUrls({QUrl::fromLocalFile(QString::fromStdString(second.string())),
                   QUrl::fromLocalFile(QString::fromStdString(first.string()))});
  QDragEnterEvent enter(zone->rect().center(), Qt::CopyAction, &dropped, Qt::LeftButton, {});
  static_cast<QObject*>(zone)->event(&enter);
  QDropEvent drop(QRectF(zone->rect()).center(), Qt::CopyAction, &dropped, Qt::LeftButton, {});
  static_cast<QObject*>(zone)->event(&drop);

  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        const Project* project = state.selectedProject();
        return project != nullptr && project->editPlan && !state.pipelineProgress();
      },
      180000))
      << "merged and analysed";
  EXPECT_FALSE(state.lastError()) << state.lastError().value_or("");
  ASSERT_FALSE(stages.empty());
  EXPECT_EQ(stages.front(), "Merging 2 clips\u2026");
  EXPECT_GT(stages.size(), 2u) << "the analysis shows its stages";
  EXPECT_TRUE(panelShown);
  EXPECT_TRUE(analysisSeen) << "the panel, fully shown, over the window mid-analysis";
  EXPECT_EQ(model.requests().size(), 2u) << "one batch of scenes, then the notes";

  const Uuid projectID = state.selectedProject()->id;
  EXPECT_EQ(state.selectedProject()->name, "IMG_0001 + 1 more");
  ProjectDetailView* detail = window.detailView();
  ASSERT_NE(detail, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return detail->player().keptDuration() > 0; }, 20000))
      << "the preview plays the plan";
  ASSERT_GE(state.selectedProject()->editPlan->segments.size(), 2u);
  testing::saveScreenshot(window, "e2e-3-plan.png");

  // Drop the first scene with its keep badge.
  TimelineTracks& tracks = detail->timeline().tracks();
  const Segment firstScene = state.selectedProject()->editPlan->segments.front();
  ASSERT_TRUE(firstScene.keep);
  QTest::mouseClick(&tracks, Qt::LeftButton, {}, tracks.badgeRect(firstScene).center().toPoint());
  const Project edited = *state.project(projectID);
  EXPECT_FALSE(edited.editPlan->segments.front().keep);
  EXPECT_TRUE(edited.editPlan->segments.front().userOverrodeKeep);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return std::abs(detail->player().keptDuration() - keptSec(edited)) < 0.05; }, 5000))
      << "the preview plays the new edit";

  // A second of playback.
  auto* play = detail->findChild<QWidget*>("playPause");
  QTest::mouseClick(play, Qt::LeftButton);
  EXPECT_TRUE(detail->player().isPlaying());
  QTest::qWait(1000);
  EXPECT_GT(detail->player().currentKeptTime(), 0.5);
  testing::saveScreenshot(window, "e2e-4-playing.png");
  QTest::mouseClick(play, Qt::LeftButton);
  EXPECT_FALSE(detail->player().isPlaying());

  // Export through the save dialog.
  QTest::mouseClick(detail->findChild<QWidget*>("exportAction"), Qt::LeftButton);
  ASSERT_EQ(askedToSave, std::vector<QString>{"IMG_0001 + 1 more \u2014 Edited.mp4"});
  ASSERT_TRUE(QTest::qWaitFor([&] { return !state.isExporting(projectID); }, 120000));
  EXPECT_FALSE(state.lastError()) << state.lastError().value_or("");
  const auto movie = folder / askedToSave.front().toStdString();
  EXPECT_NEAR(testing::ffprobeDurationSec(movie), keptSec(edited), 1.0 / 25)
      << "kept time, within a frame";
  testing::saveScreenshot(window, "e2e-5-exported.png");
}

// The installed program, opened on two clips as a file manager opens it: they become one project.
TEST(EndToEnd, TheApplicationImportsTheVideosItIsOpenedWith) {
  testing::TemporaryFolder folder;
  const auto first = clip(folder / "IMG_0101.MOV", "testsrc2", "2025-06-02T09:00:00Z");
  const auto second = clip(folder / "IMG_0102.MOV", "smptebars", "2025-06-02T09:05:00Z");
  QProcess app;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("XDG_DATA_HOME", QString::fromStdString((folder / "data").string()));
  environment.insert("XDG_CONFIG_HOME", QString::fromStdString((folder / "config").string()));
  app.setProcessEnvironment(environment);
  app.setProcessChannelMode(QProcess::ForwardedChannels);
  // One as a path, one as a file manager's address.
  app.start(BRISKLET_APP, {QString::fromStdString(second.string()),
                           QUrl::fromLocalFile(QString::fromStdString(first.string())).toString()});
  ASSERT_TRUE(app.waitForStarted(10000));

  ProjectStore store(folder / "data" / "Brisklet" / "Projects");
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        const std::vector<Project> projects = store.loadAll();
        return projects.size() == 1 && projects.front().editPlan.has_value();
      },
      120000))
      << "merged, stored and analysed on the device";
  EXPECT_EQ(store.loadAll().front().name, "IMG_0101 + 1 more");
  app.terminate();  // as a logout does
  ASSERT_TRUE(app.waitForFinished(20000));
  EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(app.exitCode(), 0);
}

TEST(EndToEnd, ASignalWhileWorkRunsEndsTheApplicationWithoutAQuestion) {
  testing::TemporaryFolder folder;
  testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=640x360:r=30:d=90", "-c:v", "libx264",
                      "-preset", "ultrafast", (folder / "long.mp4").string()});
  QProcess app;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("XDG_DATA_HOME", QString::fromStdString((folder / "data").string()));
  environment.insert("XDG_CONFIG_HOME", QString::fromStdString((folder / "config").string()));
  app.setProcessEnvironment(environment);
  app.setProcessChannelMode(QProcess::ForwardedChannels);
  app.start(BRISKLET_APP, {QString::fromStdString((folder / "long.mp4").string())});
  ASSERT_TRUE(app.waitForStarted(10000));
  ProjectStore store(folder / "data" / "Brisklet" / "Projects");
  ASSERT_TRUE(QTest::qWaitFor([&] { return store.loadAll().size() == 1; }, 30000)) << "imported";
  QTest::qWait(500);  // the analysis is under way
  ASSERT_FALSE(store.loadAll().front().editPlan) << "the video is long enough to be analysed still";

  QElapsedTimer clock;
  clock.start();
  app.terminate();
  ASSERT_TRUE(app.waitForFinished(10000));
  EXPECT_LT(clock.elapsed(), 2000) << "no question waits for an answer nobody can give";
  EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
  EXPECT_FALSE(store.loadAll().front().editPlan) << "the analysis was stopped, not finished";
}

// A logout during an export, wired as the program wires it: the export stops, what it had begun
// writing goes, and the window closes without asking.
TEST(EndToEnd, ASignalDuringAnExportStopsItLeavesNothingAndCloses) {
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};
  testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=640x360:r=30:d=120", "-c:v", "libx264",
                      "-preset", "ultrafast", (folder / "long.mp4").string()});
  Project project = testing::sampleProject("Long day", "2025-06-05T10:00:00Z", 0);
  project.videoBookmark = makeBookmark(folder / "long.mp4");
  project.videoDurationSec = 120;
  project.editPlan = EditPlan{};
  project.editPlan->segments = {testing::segment(0, 120, true)};
  store.save(project);
  const std::filesystem::path exports = folder / "Exports";
  std::filesystem::create_directories(exports);
  applyTheme(*qApp, ColorScheme::dark);
  AppState state(store);
  MainWindowSetup setup;
  setup.detail.chooseSaveLocation = [&](const QString& proposed, const QString&) {
    return std::optional(exports / proposed.toStdString());
  };
  MainWindow window(state, setup);
  const TerminationSignals interruption([&](int) { window.closeWithoutAsking(); });
  window.resize(1280, 800);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  ProjectDetailView* detail = window.detailView();
  ASSERT_TRUE(QTest::qWaitFor([&] { return detail->player().isReady(); }, 10000));

  QTest::mouseClick(detail->findChild<QWidget*>("exportAction"), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !std::filesystem::is_empty(exports); }, 20000))
      << "the export has begun writing";
  ASSERT_TRUE(state.isExporting(project.id));
  QElapsedTimer clock;
  clock.start();
  ::kill(::getpid(), SIGTERM);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !state.isExporting(project.id); }, 10000));
  EXPECT_LT(clock.elapsed(), 2000) << "stopped within two seconds";
  EXPECT_FALSE(window.isVisible()) << "closed without a question";
  EXPECT_EQ(window.quitQuestion(), nullptr);
  EXPECT_TRUE(std::filesystem::is_empty(exports)) << "no temporary and no half a movie";
}

// The editor's keys on the window of a stored edit: kept 0–2 s and 3–6 s of a clip, so the
// edit runs 0–2 and 2–5 s.
TEST(EndToEnd, TheEditorKeysMoveThePlayheadByAFrameASecondAndABoundary) {
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};
  testing::runFfmpeg(
      {"-f", "lavfi", "-i", "testsrc2=s=320x180:r=25:d=6", (folder / "six.mp4").string()});
  Project project = testing::sampleProject("Keys", "2025-06-04T10:00:00Z", 0);
  project.videoBookmark = makeBookmark(folder / "six.mp4");
  project.videoDurationSec = 6;
  project.editPlan = EditPlan{};
  project.editPlan->segments = {testing::segment(0, 2, true), testing::segment(2, 3, false),
                                testing::segment(3, 6, true)};
  store.save(project);
  applyTheme(*qApp, ColorScheme::dark);
  AppState state(store);
  MainWindow window(state, MainWindowSetup{});
  window.resize(1280, 800);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  ProjectDetailView* detail = window.detailView();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return detail->player().isReady() && detail->player().keptDuration() > 4.9; }, 10000));
  if (QWidget* focus = QApplication::focusWidget()) focus->clearFocus();

  PlayerController& player = detail->player();
  const auto press = [&](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(detail, key, modifiers);
    return player.currentKeptTime();
  };
  // A frame of the edit, as the preview and the export lay it out.
  const double frame = player.frameDurationSec();
  ASSERT_GT(frame, 0);
  EXPECT_NEAR(press(Qt::Key_Right), frame, 1e-9) << "one frame";
  EXPECT_NEAR(press(Qt::Key_Right, Qt::ShiftModifier), 1.0 + frame, 1e-9) << "one second";
  EXPECT_NEAR(press(Qt::Key_Left), 1.0, 1e-9);
  EXPECT_NEAR(press(Qt::Key_Down), 2.0, 1e-9) << "the next boundary: the dropped second's cut";
  EXPECT_NEAR(press(Qt::Key_Down), 5.0, 1e-9) << "then the edit's end";
  EXPECT_NEAR(press(Qt::Key_Up), 2.0, 1e-9);
  EXPECT_NEAR(press(Qt::Key_Left, Qt::ShiftModifier), 1.0, 1e-9);
  EXPECT_NEAR(press(Qt::Key_End), 5.0, 1e-9);
  EXPECT_NEAR(press(Qt::Key_Home), 0.0, 1e-9);
  press(Qt::Key_L);
  EXPECT_TRUE(player.isPlaying());
  press(Qt::Key_K);
  EXPECT_FALSE(player.isPlaying());
  press(Qt::Key_L);
  press(Qt::Key_Right);
  EXPECT_FALSE(player.isPlaying()) << "a step pauses first";

  // The shuttle: L twice runs forward at twice the speed, J turns back, K stops.
  press(Qt::Key_Home);
  press(Qt::Key_L);
  press(Qt::Key_L);
  EXPECT_EQ(player.shuttleSpeed(), 2);
  QElapsedTimer clock;
  clock.start();
  QTest::qWait(500);
  const double forward = player.currentKeptTime();
  EXPECT_NEAR(forward, 2.0 * clock.elapsed() / 1000, 0.25) << "twice as fast as time goes";
  press(Qt::Key_J);
  press(Qt::Key_J);
  EXPECT_EQ(player.shuttleSpeed(), -2);
  QTest::qWait(250);
  EXPECT_LT(player.currentKeptTime(), forward - 0.2) << "backwards";
  press(Qt::Key_J);
  press(Qt::Key_J);
  EXPECT_TRUE(QTest::qWaitFor([&] { return player.shuttleSpeed() == 0; }, 3000))
      << "stops at the start of the edit";
  EXPECT_EQ(player.currentKeptTime(), 0.0);
  press(Qt::Key_L);
  press(Qt::Key_L);
  press(Qt::Key_K);
  const double stopped = player.currentKeptTime();
  QTest::qWait(200);
  EXPECT_EQ(player.currentKeptTime(), stopped) << "K stops the shuttle";
  EXPECT_EQ(player.shuttleSpeed(), 0);

  // Tab from the timeline round the window: twelve stops reach the inspector, the sidebar, the
  // toolbar and the transport, each drawn with the ring, and nothing is stored on the way.
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  auto* tracks = window.findChild<TimelineTracks*>();
  tracks->setFocus(Qt::TabFocusReason);
  const Project before = store.loadAll().front();
  const std::vector<std::pair<std::string, QWidget*>> areas = {
      {"sidebar", window.sidebar()},
      {"toolbar", detail->findChild<QWidget*>("exportAction")->parentWidget()},
      {"transport", detail->findChild<TransportBar*>()},
      {"timeline", detail->findChild<TimelineView*>()},
      {"inspector", detail->findChild<SegmentInspector*>()}};
  const auto areaOf = [&](const QWidget* widget) {
    for (const auto& [name, area] : areas)
      if (area->isAncestorOf(widget)) return name;
    return std::string("elsewhere");
  };
  const auto ringPixels = [](const QImage& focused, const QImage& unfocused) {
    const QColor accent = NeuTheme::accentColor();
    const auto nearAccent = [&](QColor colour) {
      return std::abs(colour.red() - accent.red()) + std::abs(colour.green() - accent.green()) +
                 std::abs(colour.blue() - accent.blue()) <
             40;
    };
    int count = 0;
    for (int y = 0; y < focused.height(); ++y)
      for (int x = 0; x < focused.width(); ++x)
        count += nearAccent(focused.pixelColor(x, y)) && !nearAccent(unfocused.pixelColor(x, y));
    return count;
  };
  std::set<std::string> visited = {areaOf(tracks)};
  for (int press = 1; press <= 12; ++press) {
    QWidget* from = QApplication::focusWidget();
    ASSERT_NE(from, nullptr);
    const QRect around =
        QRect(from->mapTo(&window, QPoint()), from->size()).adjusted(-4, -4, 4, 4) & window.rect();
    const QImage focused = window.grab(around).toImage();
    QTest::keyClick(from, Qt::Key_Tab);
    QWidget* to = QApplication::focusWidget();
    ASSERT_NE(to, from) << "Tab moves on from " << from->metaObject()->className();
    EXPECT_GE(ringPixels(focused, window.grab(around).toImage()), 40)
        << from->metaObject()->className() << " " << from->objectName().toStdString()
        << " shows the ring";
    EXPECT_FALSE(to->accessibleName().isEmpty() && to->property("text").toString().isEmpty())
        << to->metaObject()->className() << " " << to->objectName().toStdString() << " has a name";
    visited.insert(areaOf(to));
  }
  testing::saveScreenshot(window, "e2e-focus.png");
  for (const auto& [name, area] : areas) EXPECT_TRUE(visited.count(name)) << name;
  EXPECT_EQ(store.loadAll().front(), before) << "moving the focus stores nothing";

  testing::saveScreenshot(window, "e2e-keys.png");
}

TEST(DialogFolder, OpensInTheVideosFolderElseBesideTheSourceElseAtHome) {
  testing::TemporaryFolder folder;
  const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
  QDir(videos).removeRecursively();
  EXPECT_EQ(dialogFolder(), QDir::homePath()) << "never where the program was started";
  EXPECT_EQ(dialogFolder(folder.path()), QString::fromStdString(folder.path().string()));
  EXPECT_EQ(dialogFolder(folder / "gone"), QDir::homePath());
  ASSERT_TRUE(QDir().mkpath(videos));
  EXPECT_EQ(dialogFolder(folder.path()), videos);
}

// A session bus of the test's own, with no services to start, as a desktop session has one.
class PrivateSessionBus {
 public:
  explicit PrivateSessionBus(const std::filesystem::path& folder) {
    const std::filesystem::path config = folder / "session-bus.conf";
    writeFileAtomically(config, R"(<busconfig>
  <type>session</type>
  <listen>unix:dir=)" + folder.string() +
                                    R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>)");
    daemon_.start("dbus-daemon", {"--config-file=" + QString::fromStdString(config.string()),
                                  "--print-address", "--nofork"});
    if (daemon_.waitForStarted(5000) && daemon_.waitForReadyRead(5000))
      address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
  }
  ~PrivateSessionBus() {
    daemon_.terminate();
    daemon_.waitForFinished(5000);
  }
  const QString& address() const { return address_; }
  // Whether a program owns `name` on this bus.
  bool hasOwner(const QString& name) const {
    QProcess ask;
    ask.start("gdbus",
              {"call", "--address", address_, "--dest", "org.freedesktop.DBus", "--object-path",
               "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.NameHasOwner", name});
    return ask.waitForFinished(5000) && ask.readAllStandardOutput().contains("true");
  }

 private:
  QProcess daemon_;
  QString address_;
};

// The installed program started twice in one session, as opening a video from the file manager
// does while Brisklet runs: the second start hands the video to the first window and ends.
TEST(EndToEnd, ASecondStartHandsItsVideoToTheRunningWindow) {
  testing::TemporaryFolder folder;
  const PrivateSessionBus bus(folder.path());
  ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
  clip(folder / "IMG_0201.MOV", "testsrc2", "2025-06-03T09:00:00Z");
  const auto environmentFor = [&](const std::string& home) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
    environment.insert("XDG_DATA_HOME", QString::fromStdString((folder / home / "data").string()));
    environment.insert("XDG_CONFIG_HOME",
                       QString::fromStdString((folder / home / "config").string()));
    return environment;
  };
  QProcess first;
  first.setProcessEnvironment(environmentFor("first"));
  first.setProcessChannelMode(QProcess::ForwardedChannels);
  first.start(BRISKLET_APP, {});
  ASSERT_TRUE(first.waitForStarted(10000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return bus.hasOwner("com.kettlewick.Brisklet"); }, 20000));

  // Its own data folder, so a project that appears in the first one's was made by the first.
  QProcess second;
  second.setProcessEnvironment(environmentFor("second"));
  second.setProcessChannelMode(QProcess::ForwardedChannels);
  second.setWorkingDirectory(QString::fromStdString(folder.path().string()));
  second.start(BRISKLET_APP, {"IMG_0201.MOV"});  // relative to where it was started
  ASSERT_TRUE(second.waitForFinished(10000)) << "the second start ends once it has handed over";
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);

  ProjectStore store(folder / "first" / "data" / "Brisklet" / "Projects");
  EXPECT_TRUE(QTest::qWaitFor([&] { return store.loadAll().size() == 1; }, 30000))
      << "the running window imported the video";
  EXPECT_FALSE(std::filesystem::exists(folder / "second" / "data" / "Brisklet" / "Projects"));
  first.terminate();
  ASSERT_TRUE(first.waitForFinished(20000));
  EXPECT_EQ(first.exitCode(), 0);
}

}  // namespace
}  // namespace brisklet

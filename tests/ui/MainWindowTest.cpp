#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QTest>
#include <QThreadPool>
#include <QToolBar>

#include "app/AppState.h"
#include "model/KeychainStore.h"
#include "platform/Bookmark.h"
#include "platform/Paths.h"
#include "support/MediaGenerator.h"
#include "support/Projects.h"
#include "support/ReadOnlyFolder.h"
#include "support/TemporaryFolder.h"
#include "ui/ImportDropView.h"
#include "ui/MainWindow.h"
#include "ui/ProjectSidebar.h"
#include "ui/Screenshots.h"
#include "ui/SettingsWindow.h"
#include "ui/Theme.h"

namespace brisklet {
namespace {

double opacityOf(const QWidget& widget) {
  return static_cast<const QGraphicsOpacityEffect*>(widget.graphicsEffect())->opacity();
}

QStringList actionTexts(const QMenu* menu) {
  QStringList texts;
  for (const QAction* action : menu->actions())
    if (!action->isSeparator()) texts << action->text();
  return texts;
}

class MainWindowTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};

  std::unique_ptr<MainWindow> open(AppState& state, ColorScheme scheme) {
    applyTheme(*qApp, scheme);
    MainWindowSetup setup;
    setup.chooseVideos = [](const QString&) { return std::vector<std::filesystem::path>(); };
    auto window = std::make_unique<MainWindow>(state, setup);
    window->resize(1100, 700);
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    return window;
  }
  std::vector<ProjectCard*> cards(MainWindow& window) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const QList<ProjectCard*> found = window.sidebar()->findChildren<ProjectCard*>();
    return {found.begin(), found.end()};
  }
};

TEST_F(MainWindowTest, EmptyItOffersTheDropZoneAndTheMenusHoldTheApplicationsCommands) {
  for (const ColorScheme scheme : {ColorScheme::dark, ColorScheme::light}) {
    AppState state(store);
    auto window = open(state, scheme);
    EXPECT_EQ(window->minimumSize(), QSize(1100, 700));
    EXPECT_TRUE(cards(*window).empty());
    EXPECT_NE(window->findChild<ImportDropView*>(), nullptr);
    EXPECT_EQ(window->detailView(), nullptr);
    testing::saveScreenshot(
        *window, scheme == ColorScheme::dark ? "main-empty-dark.png" : "main-empty-light.png");
  }
  AppState state(store);
  auto window = open(state, ColorScheme::dark);
  QList<QMenu*> menus;
  for (QAction* entry : window->menuBar()->actions()) menus << entry->menu();
  ASSERT_EQ(menus.size(), 3);
  EXPECT_EQ(actionTexts(menus[0]), (QStringList{"Import Video\u2026", "Settings\u2026", "Quit"}));
  EXPECT_EQ(menus[0]->actions()[1]->shortcut(), QKeySequence("Ctrl+,"));
  EXPECT_EQ(actionTexts(menus[1]), (QStringList{"Undo", "Redo"}));
  EXPECT_EQ(actionTexts(menus[2]),
            (QStringList{"Keyboard Shortcuts", "About Brisklet", "Check for Updates\u2026"}));
  // Help lists the keys, the editor's among them.
  EXPECT_EQ(menus[2]->actions()[0]->shortcut(), QKeySequence("Ctrl+?"));
  menus[2]->actions()[0]->trigger();
  QMessageBox* shortcuts = nullptr;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return (shortcuts = window->findChild<QMessageBox*>("keyboardShortcuts")) != nullptr; },
      2000));
  EXPECT_TRUE(shortcuts->text().contains("One frame back / forward"));
  EXPECT_TRUE(shortcuts->text().contains("Previous / next segment boundary"));
  testing::saveScreenshot(*shortcuts, "keyboard-shortcuts-dark.png");
  shortcuts->close();

  QString told;
  QObject::connect(window.get(), &MainWindow::updateCheckFinished,
                   [&](const QString& message) { told = message; });
  menus[2]->actions()[2]->trigger();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !told.isEmpty(); }, 5000));
  EXPECT_EQ(told, "Brisklet is updated through your system's package manager.");

  // Without a keyring on the bus, the keys tab says where keys go instead.
  window->openSettings();
  SettingsWindow* settings = nullptr;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (auto* found = qobject_cast<SettingsWindow*>(top); found != nullptr) settings = found;
  ASSERT_NE(settings, nullptr);
  EXPECT_TRUE(settings->isVisible());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !state.keyRing().isLoading(); }, 5000));
  EXPECT_EQ(settings->findChild<QWidget*>("keyStorage")->findChild<QLabel*>("caption")->text(),
            "No desktop keyring is running, so keys are kept in a file only you can read.");
  testing::saveScreenshot(*settings, "settings-keys-fallback-dark.png");

  // A key file that cannot be written: the key is not claimed stored, and the reason is shown.
  std::filesystem::create_directories(applicationConfigFolder());
  testing::ReadOnlyFolder readOnly(applicationConfigFolder());
  if (!readOnly.works()) return;
  auto* field = settings->findChild<QLineEdit*>("anthropicKey");
  field->setFocus();
  QTest::keyClicks(field, "sk-ant-1");
  auto* problem = settings->findChild<QLabel*>("anthropicKeyProblem");
  EXPECT_TRUE(QTest::qWaitFor([&] { return problem->isVisible(); }, 5000));
  EXPECT_TRUE(
      problem->text().startsWith("This key was not saved. The key file could not be "
                                 "written: "))
      << problem->text().toStdString();
  EXPECT_FALSE(KeychainStore::get(KeychainStore::Key::anthropic));
  testing::saveScreenshot(*settings, "settings-key-not-saved-dark.png");
}

// The dialogs the window opens, in the light scheme (the tests above see them in the dark one).
TEST_F(MainWindowTest, ItsDialogsReadInTheLightSchemeToo) {
  AppState state(store);
  auto window = open(state, ColorScheme::light);
  window->menuBar()->actions()[2]->menu()->actions()[0]->trigger();
  QMessageBox* shortcuts = nullptr;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return (shortcuts = window->findChild<QMessageBox*>("keyboardShortcuts")) != nullptr; },
      2000));
  testing::saveScreenshot(*shortcuts, "keyboard-shortcuts-light.png");
  shortcuts->close();

  window->openSettings();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !state.keyRing().isLoading(); }, 5000));
  SettingsWindow* settings = nullptr;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (auto* found = qobject_cast<SettingsWindow*>(top); found != nullptr) settings = found;
  ASSERT_NE(settings, nullptr);
  testing::saveScreenshot(*settings, "settings-keys-light.png");
  settings->close();

  const CommandID exporting = state.beginCommand(PipelineProgress{"Exporting\u2026", 0.3});
  QTest::qWait(300);
  testing::saveScreenshot(*window, "main-exporting-light.png");
  EXPECT_FALSE(window->close());
  ASSERT_NE(window->quitQuestion(), nullptr);
  testing::saveScreenshot(*window->quitQuestion(), "quit-question-light.png");
  QTest::keyClick(window->quitQuestion(), Qt::Key_Escape);
  state.commandEnded(exporting);

  state.setLastError("Export failed: The disk is full.");
  ASSERT_NE(window->alert(), nullptr);
  testing::saveScreenshot(*window->alert(), "heads-up-light.png");
  QTest::keyClick(window->alert(), Qt::Key_Return);
}

TEST_F(MainWindowTest, TheSidebarListsSelectsRenamesAndDeletesProjects) {
  Project analysed = testing::sampleProject("Harbour walk", "2025-03-03T10:00:00Z", 4);
  analysed.videoDurationSec = 75.4;
  store.save(analysed);
  for (const auto& [name, date] : {std::pair{"Market morning", "2025-03-02T10:00:00Z"},
                                   std::pair{"IMG_0412 + 3 more", "2025-03-01T10:00:00Z"}}) {
    Project project = testing::sampleProject(name, date);
    project.videoDurationSec = 312;
    store.save(project);
  }
  for (const ColorScheme scheme : {ColorScheme::dark, ColorScheme::light}) {
    AppState state(store);
    state.setSelectedProjectID(std::nullopt);
    auto window = open(state, scheme);
    ASSERT_EQ(cards(*window).size(), 3u);
    EXPECT_NE(cards(*window)[0]->findChild<QLabel*>("symbol-sparkles.rectangle.stack"), nullptr);
    EXPECT_NE(cards(*window)[1]->findChild<QLabel*>("symbol-film"), nullptr);
    EXPECT_EQ(cards(*window)[0]->findChild<QLabel*>("projectDuration")->text(), "1:15");
    QTest::mouseClick(cards(*window)[1], Qt::LeftButton);
    EXPECT_EQ(state.selectedProjectID(), state.projects()[1].id);
    ASSERT_NE(window->detailView(), nullptr);
    testing::saveScreenshot(*window, scheme == ColorScheme::dark ? "main-projects-dark.png"
                                                                 : "main-projects-light.png");
  }

  AppState state(store);
  auto window = open(state, ColorScheme::dark);
  // A thumbnail the timeline writes later shows on its card without anything else changing.
  const std::filesystem::path thumbs = store.projectDirectory(state.projects()[0].id) / "thumbs";
  std::filesystem::create_directories(thumbs);
  QImage picture(80, 45, QImage::Format_RGB32);
  picture.fill(QColor(200, 120, 40));
  ASSERT_TRUE(picture.save(QString::fromStdString((thumbs / "t_0.jpg").string())));
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return cards(*window)[0]->findChild<QLabel*>("thumbnail") != nullptr; }, 5000));
  // The list works from the keyboard: the arrows move the selection, and the focus, with its
  // ring, stays on the selected card as the cards are made again.
  state.setSelectedProjectID(state.projects()[0].id);
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  QCoreApplication::processEvents();  // the cards made for the selection show
  cards(*window)[0]->setFocus(Qt::TabFocusReason);
  ASSERT_TRUE(cards(*window)[0]->hasFocus());
  QTest::keyClick(cards(*window)[0], Qt::Key_Down);
  EXPECT_EQ(state.selectedProjectID(), state.projects()[1].id);
  ASSERT_TRUE(QTest::qWaitFor([&] { return cards(*window)[1]->hasFocus(); }, 2000));
  QTest::keyClick(cards(*window)[1], Qt::Key_End);
  EXPECT_EQ(state.selectedProjectID(), state.projects()[2].id);
  ASSERT_TRUE(QTest::qWaitFor([&] { return cards(*window)[2]->hasFocus(); }, 2000));
  const QImage focused = cards(*window)[2]->grab().toImage();
  const QColor ring = focused.pixelColor(focused.width() / 2, 1);
  EXPECT_NEAR(ring.blue(), NeuTheme::accentColor().blue(), 40) << "the focus ring shows";
  EXPECT_EQ(cards(*window)[2]->accessibleName().toStdString(), state.projects()[2].name);
  testing::saveScreenshot(*window->sidebar(), "sidebar-keyboard-dark.png");
  ProjectCard* card = cards(*window)[2];
  card->beginRename();
  QTest::keyClicks(card->renameEditor(), "Lisbon day");
  QTest::keyClick(card->renameEditor(), Qt::Key_Return);
  EXPECT_EQ(state.projects()[2].name, "Lisbon day");
  EXPECT_EQ(store.loadAll()[2].name, "Lisbon day") << "stored at once";
  cards(*window)[2]->beginRename();
  QTest::keyClicks(cards(*window)[2]->renameEditor(), "   ");
  QTest::keyClick(cards(*window)[2]->renameEditor(), Qt::Key_Return);
  EXPECT_EQ(state.projects()[2].name, "Lisbon day") << "a blank name is no name";

  // The sidebar hides and keeps the selection; the toggle says what it will do.
  const auto selected = state.selectedProjectID();
  EXPECT_EQ(window->toggleSidebarAction()->toolTip(), "Hide project list");
  window->toggleSidebarAction()->trigger();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !window->sidebar()->isVisible(); }, 2000))
      << "slides out";
  EXPECT_EQ(window->toggleSidebarAction()->toolTip(), "Show project list");
  EXPECT_EQ(state.selectedProjectID(), selected);
  window->toggleSidebarAction()->trigger();
  EXPECT_TRUE(QTest::qWaitFor([&] { return window->sidebar()->width() == 236; }, 2000)) << "and in";

  // Deleting the selected project leaves the selection to the state.
  state.deleteProject(*state.selectedProject());
  EXPECT_EQ(cards(*window).size(), 2u);
  EXPECT_EQ(state.selectedProjectID(), state.projects().front().id);
  EXPECT_EQ(window->detailView()->projectID(), state.projects().front().id);
}

TEST_F(MainWindowTest, ARecordThatCannotBeReadIsListedWithItsReason) {
  store.save(testing::sampleProject("Harbour walk", "2025-03-03T10:00:00Z", 4));
  const Project damaged = testing::sampleProject("Market morning", "2025-03-02T10:00:00Z");
  store.save(damaged);
  testing::writeText(store.projectDirectory(damaged.id) / "project.json", "{\"schemaVersion\": 1");
  AppState state(store);
  auto window = open(state, ColorScheme::dark);
  ASSERT_EQ(cards(*window).size(), 1u);
  const QLabel* unreadable = window->sidebar()->findChild<QLabel*>("unreadableProject");
  ASSERT_NE(unreadable, nullptr);
  EXPECT_TRUE(unreadable->text().startsWith(QString::fromStdString(
      "Project " + damaged.id.text().substr(0, 8) + "\u2026 cannot be read: ")))
      << unreadable->text().toStdString();
  EXPECT_EQ(unreadable->toolTip().toStdString(), damaged.id.text());
  testing::saveScreenshot(*window, "main-unreadable-project.png");
}

TEST_F(MainWindowTest, ACheckForUpdatesUnderWayEndsWithTheWindow) {
  // A feed that takes the connection and never answers: the check would wait its 20 s.
  const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(::listen(silent, 4), 0);
  ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length), 0);
  AppState state(store);
  MainWindowSetup setup;
  setup.updates = {
      .feedURL = "https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/feed",
      .currentVersion = "0.1.0"};
  auto window = std::make_unique<MainWindow>(state, setup);
  window->checkForUpdates();
  QTest::qWait(300);
  window.reset();
  EXPECT_TRUE(QThreadPool::globalInstance()->waitForDone(5000)) << "no check outlives the window";
  ::close(silent);
}

TEST_F(MainWindowTest, ProgressCoversTheWindowAndErrorsArriveAsHeadsUp) {
  testing::runFfmpeg(
      {"-f", "lavfi", "-i", "smptebars=s=320x180:r=25:d=4", (folder / "bars.mp4").string()});
  Project project = testing::sampleProject("Lisbon day", "2025-03-01T10:00:00Z");
  project.videoBookmark = makeBookmark(folder / "bars.mp4");
  project.videoDurationSec = 4;
  store.save(project);
  for (const ColorScheme scheme : {ColorScheme::dark, ColorScheme::light}) {
    AppState state(store);
    auto window = open(state, scheme);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->detailView()->player().isReady(); }, 10000));
    const CommandID scoring =
        state.beginCommand(PipelineProgress{"Scoring visual quality\u2026", 0.45});
    EXPECT_TRUE(window->progressPanel()->isVisible());
    EXPECT_EQ(window->progressPanel()->findChild<QLabel*>("progressStage")->text(),
              "Scoring visual quality\u2026");
    EXPECT_FALSE(window->findChild<QWidget*>("analyzeHint")->isVisible());
    QTest::qWait(300);  // the panel fades in
    testing::saveScreenshot(*window, scheme == ColorScheme::dark ? "main-analysing-dark.png"
                                                                 : "main-analysing-light.png");
    // One command ending as the next starts (an import's merge, then its analysis): the panel
    // stays, fully there.
    state.commandEnded(scoring);
    const CommandID analysing = state.beginCommand(PipelineProgress{"Starting analysis\u2026", -1});
    QTest::qWait(300);
    EXPECT_TRUE(window->progressPanel()->isVisible());
    EXPECT_DOUBLE_EQ(opacityOf(*window->progressPanel()), 1.0);
    state.commandEnded(analysing);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->progressPanel()->isVisible(); }, 2000));
  }
  AppState state(store);
  auto window = open(state, ColorScheme::dark);

  // Closing while a command runs asks; "Keep Working" keeps it, "Quit" stops it and closes.
  const CommandID exporting = state.beginCommand(PipelineProgress{"Exporting\u2026", 0.3});
  const std::stop_token running = state.commandStopToken(exporting);
  EXPECT_FALSE(window->close());
  ASSERT_NE(window->quitQuestion(), nullptr);
  EXPECT_TRUE(window->quitQuestion()->text().contains("Exporting\u2026"));
  testing::saveScreenshot(*window->quitQuestion(), "quit-question-dark.png");
  QTest::keyClick(window->quitQuestion(), Qt::Key_Escape);
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(running.stop_requested());
  EXPECT_FALSE(window->close());
  ASSERT_NE(window->quitQuestion(), nullptr);
  QAbstractButton* quit = nullptr;
  for (QAbstractButton* button : window->quitQuestion()->buttons())
    if (button->text() == "Quit") quit = button;
  ASSERT_NE(quit, nullptr);
  QTest::mouseClick(quit, Qt::LeftButton);
  EXPECT_TRUE(running.stop_requested()) << "the running command stops and cleans up";
  EXPECT_FALSE(window->isVisible());
  state.commandEnded(exporting);
  window->show();

  // The question goes with the work it asked about: the quit the user wanted goes ahead.
  {
    auto asking = open(state, ColorScheme::dark);
    const CommandID briefly = state.beginCommand(PipelineProgress{"Exporting\u2026", 0.9});
    EXPECT_FALSE(asking->close());
    ASSERT_NE(asking->quitQuestion(), nullptr);
    state.commandEnded(briefly);
    EXPECT_TRUE(QTest::qWaitFor([&] { return asking->quitQuestion() == nullptr; }, 2000));
    EXPECT_FALSE(asking->isVisible());
  }

  // Two commands: the panel names the older and counts the other; Cancel stops only the named.
  const CommandID named = state.beginCommand(PipelineProgress{"Exporting\u2026", 0.3});
  const CommandID other = state.beginCommand(PipelineProgress{"Enhancing audio\u2026", 0.1});
  EXPECT_EQ(window->progressPanel()->findChild<QLabel*>("progressStage")->text(),
            "Exporting\u2026 and 1 more");
  QTest::qWait(300);
  testing::saveScreenshot(*window, "main-two-commands-dark.png");
  QTest::mouseClick(window->progressPanel()->findChild<QWidget*>("cancelCommand"), Qt::LeftButton);
  EXPECT_TRUE(state.commandStopToken(named).stop_requested());
  EXPECT_FALSE(state.commandStopToken(other).stop_requested());
  state.commandEnded(named);
  state.commandEnded(other);

  state.setLastError("Export failed: The disk is full.");
  ASSERT_NE(window->alert(), nullptr);
  EXPECT_TRUE(window->alert()->isVisible());
  EXPECT_EQ(window->alert()->windowTitle(), "Heads up");
  EXPECT_EQ(window->alert()->text(), "Export failed: The disk is full.");
  testing::saveScreenshot(*window->alert(), "heads-up-dark.png");
  QTest::keyClick(window->alert(), Qt::Key_Return);
  EXPECT_FALSE(state.lastError()) << "dismissed means read";
}

TEST_F(MainWindowTest, OnlyLocalVideoFilesAreImportedFromADrop) {
  EXPECT_EQ(acceptedVideoFiles(
                {QUrl::fromLocalFile("/clips/clip.MP4"), QUrl::fromLocalFile("/clips/notes.txt"),
                 QUrl("https://example.org/clip.mp4"), QUrl::fromLocalFile("/clips/IMG_1.MoV")}),
            (std::vector<std::filesystem::path>{"/clips/clip.MP4", "/clips/IMG_1.MoV"}));
  EXPECT_TRUE(videoNameFilter().contains("*.mov *.MOV"));

  testing::runFfmpeg(
      {"-f", "lavfi", "-i", "testsrc2=s=160x120:r=25:d=2", (folder / "clip.MP4").string()});
  testing::writeText(folder / "notes.txt", "shot list");
  AppState state(store);
  state.setKeySource([](KeychainStore::Key) { return std::nullopt; });
  auto window = open(state, ColorScheme::dark);
  auto* zone = window->findChild<ImportDropView*>();
  ASSERT_NE(zone, nullptr);
  QMimeData dropped;
  dropped.setUrls({QUrl::fromLocalFile(QString::fromStdString((folder / "clip.MP4").string())),
                   QUrl::fromLocalFile(QString::fromStdString((folder / "notes.txt").string()))});
  const QPointF centre = QRectF(zone->rect()).center();
  QDragEnterEvent enter(centre.toPoint(), Qt::CopyAction, &dropped, Qt::LeftButton, {});
  // Straight to the zone: the application routes drag events only while a drag runs.
  static_cast<QObject*>(zone)->event(&enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(centre, Qt::CopyAction, &dropped, Qt::LeftButton, {});
  static_cast<QObject*>(zone)->event(&drop);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !state.projects().empty(); }, 20000));
  EXPECT_EQ(state.projects().size(), 1u);
  EXPECT_EQ(state.projects().front().name, "clip");
  EXPECT_TRUE(QTest::qWaitFor([&] { return !state.pipelineProgress(); }, 60000)) << "analysed";

  // With a project open, clips dropped anywhere on the window are imported too; other files
  // are not taken.
  ASSERT_NE(window->detailView(), nullptr);
  QMimeData text;
  text.setUrls({QUrl::fromLocalFile(QString::fromStdString((folder / "notes.txt").string()))});
  QDragEnterEvent refused(QPoint(600, 300), Qt::CopyAction, &text, Qt::LeftButton, {});
  static_cast<QObject*>(window.get())->event(&refused);
  EXPECT_FALSE(refused.isAccepted());
  QDropEvent again(QPointF(600, 300), Qt::CopyAction, &dropped, Qt::LeftButton, {});
  static_cast<QObject*>(window.get())->event(&again);
  EXPECT_TRUE(QTest::qWaitFor([&] { return state.projects().size() == 2; }, 20000));
}

}  // namespace
}  // namespace brisklet

#include "ui/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrent>

#include "app/AppState.h"
#include "ui/EditActions.h"
#include "ui/KeyboardShortcuts.h"
#include "ui/PipelineProgressView.h"
#include "ui/ProjectSidebar.h"
#include "ui/SettingsWindow.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"

namespace brisklet {
namespace {

QString quitQuestionText(const PipelineProgress& progress) {
  return QString::fromStdString("Brisklet is still working (" + progress.line() +
                                "). If you quit now, that work stops and what it had begun "
                                "writing is removed; your projects stay as they are.");
}

constexpr int kFadeMilliseconds = 200;

QString sidebarHelp(bool visible) { return visible ? "Hide project list" : "Show project list"; }

}  // namespace

MainWindow::MainWindow(AppState& state, MainWindowSetup setup, QWidget* parent)
    : QMainWindow(parent), state_(state), setup_(std::move(setup)) {
  setWindowTitle("Brisklet");
  setMinimumSize(1100, 700);
  setAcceptDrops(true);
  resize(1280, 800);
  if (!setup_.chooseVideos)
    setup_.chooseVideos = [this](const QString& message) {
      return chooseVideosWithDialog(this, message);
    };
  if (setup_.updates.feedURL.empty()) setup_.updates.feedURL = updateFeedURLFromEnvironment();
  if (setup_.updates.currentVersion.empty())
    setup_.updates.currentVersion = QApplication::applicationVersion().toStdString();

  auto* central = new QWidget(this);
  auto* row = new QHBoxLayout(central);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  sidebar_ = new ProjectSidebar(
      state_, [this] { importWithDialog(); }, central);
  row->addWidget(sidebar_);
  detailArea_ = new QVBoxLayout;
  detailArea_->setContentsMargins(0, 0, 0, 0);
  row->addLayout(detailArea_, 1);
  setCentralWidget(central);

  progress_ = new PipelineProgressView(central);
  progress_->setObjectName("progressPanel");
  auto* opacity = new QGraphicsOpacityEffect(progress_);
  opacity->setOpacity(0);
  progress_->setGraphicsEffect(opacity);
  progress_->hide();
  connect(progress_, &PipelineProgressView::cancelRequested, &state_,
          &AppState::cancelShownCommand);

  // The window's one tool sits in the menu bar's corner rather than in a bar of its own.
  toggleSidebar_ =
      new QAction(symbolIcon("sidebar.left", secondaryColor(), 18), "Toggle Sidebar", this);
  auto* toggle = new QToolButton(this);
  toggle->setDefaultAction(toggleSidebar_);
  toggle->setAutoRaise(true);
  toggle->setIconSize(QSize(18, 18));
  menuBar()->setCornerWidget(toggle, Qt::TopLeftCorner);
  toggleSidebar_->setObjectName("toggleSidebar");
  toggleSidebar_->setToolTip(sidebarHelp(true));
  connect(toggleSidebar_, &QAction::triggered, this, &MainWindow::toggleSidebar);

  buildMenus();
  connect(&state_, &AppState::selectedProjectIDChanged, this, &MainWindow::showSelectedProject);
  connect(&state_, &AppState::projectsChanged, this, &MainWindow::showSelectedProject);
  connect(&state_, &AppState::pipelineProgressChanged, this, &MainWindow::showProgress);
  connect(&state_, &AppState::lastErrorChanged, this, &MainWindow::showError);
  showSelectedProject();
  showProgress();
  showError();
}

MainWindow::~MainWindow() {
  updateCheckStop_.request_stop();
  if (settings_) delete settings_.data();
}

QWidget* MainWindow::progressPanel() const { return progress_; }
QWidget* MainWindow::sidebar() const { return sidebar_; }

void MainWindow::buildMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  QAction* import = file->addAction("Import Video\u2026", this, &MainWindow::importWithDialog);
  import->setShortcut(QKeySequence::Open);
  QAction* settings = file->addAction("Settings\u2026", this, &MainWindow::openSettings);
  settings->setShortcut(QKeySequence("Ctrl+,"));
  settings->setMenuRole(QAction::PreferencesRole);
  file->addSeparator();
  QAction* quit = file->addAction("Quit", qApp, &QApplication::quit);
  quit->setShortcut(QKeySequence::Quit);

  QMenu* edit = menuBar()->addMenu("&Edit");
  auto* edits = new EditActions(
      state_, [this] { return state_.selectedProjectID(); }, this);
  edit->addAction(edits->undo());
  edit->addAction(edits->redo());

  QMenu* help = menuBar()->addMenu("&Help");
  QAction* shortcuts =
      help->addAction("Keyboard Shortcuts", this, [this] { showKeyboardShortcuts(this); });
  shortcuts->setObjectName("keyboardShortcutsAction");
  shortcuts->setShortcut(QKeySequence("Ctrl+?"));
  help->addAction("About Brisklet", this, [this] {
    QMessageBox::about(this, "About Brisklet",
                       "<b>Brisklet " + QApplication::applicationVersion() +
                           "</b><p>A video editor for first-person vlogs: it finds your best "
                           "moments, trims the rest and narrates them in your own voice.</p>");
  });
  help->addAction("Check for Updates\u2026", this, &MainWindow::checkForUpdates);
}

void MainWindow::showSelectedProject() {
  const Project* selected = state_.selectedProject();
  if (selected != nullptr && detail_ != nullptr && detail_->projectID() == selected->id) return;
  if (selected == nullptr && shown_ != nullptr && detail_ == nullptr) return;
  if (shown_ != nullptr) {
    detailArea_->removeWidget(shown_);
    shown_->hide();
    shown_->deleteLater();
  }
  detail_ = nullptr;
  if (selected != nullptr) {
    detail_ = new ProjectDetailView(state_, selected->id, setup_.detail, centralWidget());
    shown_ = detail_;
  } else {
    shown_ = new ImportDropView(state_, setup_.chooseVideos, centralWidget());
  }
  detailArea_->addWidget(shown_);
  progress_->raise();
}

void MainWindow::showProgress() {
  const auto& progress = state_.pipelineProgress();
  if (quitQuestion_) {
    // The question asked about work that has ended meanwhile: the quit goes ahead.
    if (!progress) {
      closeWithoutAsking();
      return;
    }
    quitQuestion_->setText(quitQuestionText(*progress));
  }
  if (progress) {
    progress_->setProgress(*progress);
    placeProgressPanel();
    progress_->show();
    progress_->raise();
  } else if (!progress_->isVisible()) {
    return;
  }
  // Fades towards shown or hidden from wherever it stands: a command that starts as another
  // ends (an import's analysis after its merge) turns a fade-out back.
  auto* effect = static_cast<QGraphicsOpacityEffect*>(progress_->graphicsEffect());
  const double target = progress ? 1.0 : 0.0;
  if (progressFade_ ? progressFade_->endValue().toDouble() == target : effect->opacity() == target)
    return;
  if (progressFade_) progressFade_->stop();
  progressFade_ = new QPropertyAnimation(effect, "opacity", progress_);
  progressFade_->setDuration(kFadeMilliseconds);
  progressFade_->setEasingCurve(QEasingCurve::InOutQuad);
  progressFade_->setStartValue(effect->opacity());
  progressFade_->setEndValue(target);
  if (!progress)
    connect(progressFade_, &QPropertyAnimation::finished, progress_, [this] {
      if (!state_.pipelineProgress()) progress_->hide();
    });
  progressFade_->start(QAbstractAnimation::DeleteWhenStopped);
}

void MainWindow::toggleSidebar() {
  sidebarVisible_ = !sidebarVisible_;
  toggleSidebar_->setToolTip(sidebarHelp(sidebarVisible_));
  // The list slides in from the left edge, or out to it.
  if (sidebarSlide_) sidebarSlide_->stop();
  sidebarSlide_ = new QPropertyAnimation(sidebar_, "maximumWidth", this);
  sidebarSlide_->setDuration(kFadeMilliseconds);
  sidebarSlide_->setEasingCurve(QEasingCurve::InOutQuad);
  sidebarSlide_->setStartValue(sidebar_->isVisible() ? sidebar_->width() : 0);
  sidebarSlide_->setEndValue(sidebarVisible_ ? ProjectSidebar::kWidth : 0);
  sidebar_->setMinimumWidth(0);
  if (sidebarVisible_) sidebar_->show();
  connect(sidebarSlide_, &QPropertyAnimation::finished, sidebar_,
          [this, visible = sidebarVisible_] {
            if (visible)
              sidebar_->setFixedWidth(ProjectSidebar::kWidth);
            else
              sidebar_->hide();
          });
  sidebarSlide_->start(QAbstractAnimation::DeleteWhenStopped);
}

void MainWindow::placeProgressPanel() {
  progress_->adjustSize();
  const QRect area = centralWidget()->rect();
  progress_->move(area.center() - QPoint(progress_->width() / 2, progress_->height() / 2));
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  placeProgressPanel();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!acceptedVideoFiles(event->mimeData()->urls()).empty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const std::vector<std::filesystem::path> files = acceptedVideoFiles(event->mimeData()->urls());
  if (files.empty()) return;
  event->acceptProposedAction();
  auto task = state_.importVideos(files);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  const auto& progress = state_.pipelineProgress();
  if (!progress || quitConfirmed_) {
    QMainWindow::closeEvent(event);
    return;
  }
  event->ignore();
  if (quitQuestion_) return;
  quitQuestion_ = new QMessageBox(QMessageBox::Question, "Quit Brisklet?",
                                  quitQuestionText(*progress), QMessageBox::NoButton, this);
  quitQuestion_->setObjectName("quitQuestion");
  quitQuestion_->setAttribute(Qt::WA_DeleteOnClose);
  QPushButton* quit = quitQuestion_->addButton("Quit", QMessageBox::DestructiveRole);
  quitQuestion_->setDefaultButton(
      quitQuestion_->addButton("Keep Working", QMessageBox::RejectRole));
  connect(quit, &QPushButton::clicked, this, [this] {
    quitConfirmed_ = true;
    state_.cancelRunningCommands();
    close();
  });
  quitQuestion_->open();
}

void MainWindow::closeWithoutAsking() {
  quitConfirmed_ = true;
  state_.cancelRunningCommands();
  if (quitQuestion_) quitQuestion_->close();
  close();
}

void MainWindow::showError() {
  const auto& message = state_.lastError();
  if (!message) {
    if (alert_) alert_->close();
    return;
  }
  if (!alert_) {
    alert_ = new QMessageBox(QMessageBox::Warning, "Heads up", {}, QMessageBox::Ok, this);
    alert_->setObjectName("headsUp");
    alert_->setAttribute(Qt::WA_DeleteOnClose);
    // However it is dismissed, the message has been read.
    connect(alert_, &QMessageBox::finished, &state_,
            [state = &state_] { state->setLastError(std::nullopt); });
  }
  alert_->setText(QString::fromStdString(*message));
  alert_->open();
}

void MainWindow::openSettings() {
  if (!settings_) {
    settings_ = new SettingsWindow(state_);
    settings_->setAttribute(Qt::WA_DeleteOnClose);
    // Closing the main window ends the application, settings open or not.
    settings_->setAttribute(Qt::WA_QuitOnClose, false);
  }
  settings_->show();
  settings_->raise();
  settings_->activateWindow();
}

void MainWindow::importWithDialog() {
  const std::vector<std::filesystem::path> files = setup_.chooseVideos(
      "Choose one or more clips \u2014 multiple clips are merged into one vlog");
  if (!files.empty()) auto task = state_.importVideos(files);
}

void MainWindow::checkForUpdates() {
  auto* watcher = new QFutureWatcher<UpdateCheckResult>(this);
  connect(watcher, &QFutureWatcher<UpdateCheckResult>::finished, this, [this, watcher] {
    watcher->deleteLater();
    const UpdateCheckResult result = watcher->result();
    const QString message = QString::fromStdString(result.message);
    emit updateCheckFinished(message);
    auto* box = new QMessageBox(result.outcome == UpdateCheckResult::Outcome::failed
                                    ? QMessageBox::Warning
                                    : QMessageBox::Information,
                                "Software Update", message, QMessageBox::Ok, this);
    box->setObjectName("updateResult");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
  });
  watcher->setFuture(
      QtConcurrent::run([options = setup_.updates, stop = updateCheckStop_.get_token()] {
        return brisklet::checkForUpdates(options, stop);
      }));
}

}  // namespace brisklet

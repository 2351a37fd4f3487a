#include "ui/ProjectDetailView.h"

#include <QApplication>
#include <QFileDialog>
#include <QFutureWatcher>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QShortcut>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrent>
#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "app/AppState.h"
#include "app/ProjectComposition.h"
#include "media/ThumbnailCache.h"
#include "media/WaveformExtractor.h"
#include "ui/DialogFolder.h"
#include "ui/Labels.h"
#include "ui/PreviewView.h"
#include "ui/SegmentInspector.h"
#include "ui/SettingsForm.h"
#include "ui/Theme.h"
#include "ui/TimelineTracks.h"
#include "ui/TimelineView.h"
#include "ui/TransportBar.h"

namespace brisklet {
namespace {

constexpr double kWaveformSamplesPerSecond = 10;
// A burst of edits (a trim drag, a volume slider) builds the preview once, this long after the
// last one.
constexpr std::chrono::milliseconds kRebuildDelay{300};

// A raised panel behind whatever it holds.
class PanelBox : public QWidget {
 public:
  PanelBox(double cornerRadius, QWidget* parent) : QWidget(parent), cornerRadius_(cornerRadius) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    paintPanel(painter, QRectF(rect()), cornerRadius_);
  }

 private:
  double cornerRadius_;
};

bool hasAnalysis(const Project& project) {
  return project.editPlan &&
         std::any_of(project.editPlan->segments.begin(), project.editPlan->segments.end(),
                     [](const Segment& segment) { return segment.quality.has_value(); });
}

bool inPlan(const Project& project, const std::optional<Uuid>& segmentID) {
  return segmentID && project.editPlan &&
         std::any_of(project.editPlan->segments.begin(), project.editPlan->segments.end(),
                     [&](const Segment& segment) { return segment.id == *segmentID; });
}

NeuButton* toolbarButton(const QString& text, const QString& symbol, const QString& help,
                         const char* name, QWidget* parent) {
  auto* button = new NeuButton(text, 6, false, parent);
  button->setSymbol(symbol);
  button->setToolTip(help);
  button->setObjectName(name);
  return button;
}

}  // namespace

QString editedMovieName(const std::string& projectName) {
  return QString::fromStdString(projectName) + QString::fromUtf8(" \u2014 Edited.mp4");
}

QString shortMovieName(const std::string& projectName) {
  return QString::fromStdString(projectName) + QString::fromUtf8(" \u2014 Short.mp4");
}

ProjectDetailView::ProjectDetailView(AppState& state, const Uuid& projectID, DetailViewSetup setup,
                                     QWidget* parent)
    : QWidget(parent),
      state_(state),
      projectID_(projectID),
      setup_(std::move(setup)),
      player_(state.store(), PlayerOptions{}, setup_.build) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(makeHeader());

  auto* stage = new QWidget(this);
  auto* stacked = new QGridLayout(stage);
  stacked->setContentsMargins(14, 14, 14, 0);
  stacked->addWidget(new PreviewView(player_, stage), 0, 0);
  analyzeHint_ = makeAnalyzeHint(stage);
  stacked->addWidget(analyzeHint_, 0, 0, Qt::AlignCenter);
  previewStatus_ = makePreviewStatus(stage);
  stacked->addWidget(previewStatus_, 0, 0, Qt::AlignBottom | Qt::AlignHCenter);
  column->addWidget(stage, 1);

  auto* transportRow = new QHBoxLayout;
  transportRow->setContentsMargins(14, 10, 14, 0);
  transportRow->addWidget(new TransportBar(state_, player_, projectID_, this));
  column->addLayout(transportRow);

  auto* editing = new QWidget(this);
  editing->setFixedHeight(254 + 28);
  auto* editingRow = new QHBoxLayout(editing);
  editingRow->setContentsMargins(14, 14, 14, 14);
  editingRow->setSpacing(14);
  timeline_ = new TimelineView(state_, &player_, projectID_, editing);
  auto* inspector = new SegmentInspector(state_, projectID_, editing);
  inspector->setFixedSize(300, 254);
  timeline_->setFixedHeight(254);
  editingRow->addWidget(timeline_, 1, Qt::AlignTop);
  editingRow->addWidget(inspector, 0, Qt::AlignTop);
  column->addWidget(editing);

  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  escape->setContext(Qt::WidgetWithChildrenShortcut);
  connect(escape, &QShortcut::activated, this, [this] {
    // An open popover takes Escape first, as everywhere: the innermost popup closes.
    if (QWidget* popup = QApplication::activePopupWidget()) {
      popup->close();
      return;
    }
    state_.setSelectedSegmentID(std::nullopt);
  });

  rebuildDebounce_.setSingleShot(true);
  rebuildDebounce_.setTimerType(Qt::PreciseTimer);
  rebuildDebounce_.setInterval(kRebuildDelay);
  connect(&rebuildDebounce_, &QTimer::timeout, this, [this] {
    if (const Project* live = state_.project(projectID_)) player_.rebuild(*live);
  });
  connect(&state_, &AppState::projectsChanged, this, &ProjectDetailView::projectChanged);
  connect(&state_, &AppState::pipelineProgressChanged, this, &ProjectDetailView::refreshActions);
  connect(&state_, &AppState::exportingChanged, this, &ProjectDetailView::refreshActions);
  load();
  refreshActions();
}

ProjectDetailView::~ProjectDetailView() {
  stop_.request_stop();
  player_.teardown();
}

QWidget* ProjectDetailView::makeHeader() {
  auto* header = new QWidget(this);
  auto* row = new QHBoxLayout(header);
  row->setContentsMargins(18, 10, 14, 0);
  row->setSpacing(8);
  title_ = styledLabel({}, TextStyle::headline, false, header);
  title_->setObjectName("projectTitle");
  title_->setTextInteractionFlags(Qt::NoTextInteraction);
  row->addWidget(title_, 1);
  analyze_ =
      toolbarButton("Analyze", "sparkles", "Detect scenes, score quality, and write narration",
                    "analyzeAction", header);
  tighten_ = toolbarButton(
      "Tighten", "waveform.slash",
      "Remove the dead air between your sentences, keeping a breath around the words "
      "(pauses over 0.6 s; each stays on the timeline, hatched, to put back with a click)",
      "tightenAction", header);
  generateVoice_ =
      toolbarButton("Generate Voice", "waveform", "Generate narration audio in your cloned voice",
                    "generateVoiceAction", header);
  makeShort_ = toolbarButton("Make a Short", "bolt.fill",
                             "Claude picks the best ~30 seconds and exports a 9:16 Short",
                             "makeShortAction", header);
  export_ = toolbarButton("Export", "square.and.arrow.up", "Export the edited video",
                          "exportAction", header);
  for (NeuButton* button : {analyze_, tighten_, generateVoice_, makeShort_, export_})
    row->addWidget(button);
  connect(analyze_, &NeuButton::clicked, this,
          [this] { auto task = state_.startAnalysis(projectID_); });
  connect(tighten_, &NeuButton::clicked, this,
          [this] { auto task = state_.tighten(projectID_, Tightening::Settings{}); });
  connect(generateVoice_, &NeuButton::clicked, this,
          [this] { auto task = state_.generateNarrationAudio(projectID_); });
  connect(makeShort_, &NeuButton::clicked, this, &ProjectDetailView::makeShort);
  connect(export_, &NeuButton::clicked, this, &ProjectDetailView::exportVideo);
  return header;
}

// What keeps the preview from showing the edit (a source moved, a music file deleted), over the
// bottom of the picture, for as long as it holds.
QWidget* ProjectDetailView::makePreviewStatus(QWidget* parent) {
  auto* panel = new PanelBox(10, parent);
  panel->setObjectName("previewStatus");
  auto* row = new QHBoxLayout(panel);
  row->setContentsMargins(12, 8, 12, 8);
  row->addWidget(captionWithSymbol("exclamationmark.triangle", {}, statusOrange(), panel));
  panel->setMaximumWidth(560);
  const auto show = [this, panel] {
    const std::string& line = player_.statusLine();
    panel->findChild<QLabel*>("caption")->setText(QString::fromStdString(line));
    panel->setVisible(!line.empty());
  };
  connect(&player_, &PlayerController::statusLineChanged, panel, show);
  show();
  return panel;
}

QWidget* ProjectDetailView::makeAnalyzeHint(QWidget* parent) {
  auto* hint = new PanelBox(18, parent);
  hint->setObjectName("analyzeHint");
  auto* column = new QVBoxLayout(hint);
  column->setContentsMargins(24, 24, 24, 24);
  column->setSpacing(10);
  column->addWidget(symbolLabel("sparkles", 28, statusYellow(), hint), 0, Qt::AlignHCenter);
  column->addWidget(styledLabel("Ready when you are", TextStyle::headline, false, hint), 0,
                    Qt::AlignHCenter);
  QLabel* explanation = styledLabel(
      "Analyze finds your best moments, trims the rest,\nand writes narration for each scene.",
      TextStyle::caption, true, hint);
  explanation->setAlignment(Qt::AlignCenter);
  column->addWidget(explanation, 0, Qt::AlignHCenter);
  auto* start = new NeuButton("Analyze This Video", 6, true, hint);
  start->setObjectName("analyzeThisVideo");
  connect(start, &NeuButton::clicked, this,
          [this] { auto task = state_.startAnalysis(projectID_); });
  column->addWidget(start, 0, Qt::AlignHCenter);
  return hint;
}

void ProjectDetailView::load() {
  const Project* live = state_.project(projectID_);
  if (live == nullptr) return;
  title_->setText(QString::fromStdString(live->name));
  fingerprint_ = settingsFingerprint(*live);

  // A selection left from another project is no selection.
  if (!inPlan(*live, state_.selectedSegmentID())) {
    const bool showNotes = std::getenv("BRISKLET_SHOW_NOTES") != nullptr;
    state_.setSelectedSegmentID(!showNotes && live->editPlan && !live->editPlan->segments.empty()
                                    ? std::optional(live->editPlan->segments.front().id)
                                    : std::nullopt);
  }
  player_.load(*live);
  // A clip found missing or damaged sends its line back to waiting, which changes the list.
  state_.narrationClipsToMake(projectID_);
  live = state_.project(projectID_);
  if (live == nullptr) return;

  std::optional<Asset> asset;
  try {
    asset.emplace(Asset::open(state_.store().resolveVideoURL(*live)));
  } catch (const std::exception& error) {
    state_.setLastError(std::string("Could not open the source video. It may have moved: ") +
                        error.what());
    waveformLoaded_ = true;
    return;
  }
  auto cache = std::make_shared<ThumbnailCache>(projectID_, *asset, state_.store());
  timeline_->tracks().setThumbnailSource(
      [cache](double sourceSec) { return cache->thumbnail(sourceSec); });
  loadWaveform(*asset);
}

void ProjectDetailView::loadWaveform(const Asset& source) {
  auto* watcher = new QFutureWatcher<std::vector<float>>(this);
  connect(watcher, &QFutureWatcher<std::vector<float>>::finished, this, [this, watcher] {
    watcher->deleteLater();
    if (watcher->future().resultCount() > 0) timeline_->tracks().setWaveform(watcher->result());
    waveformLoaded_ = true;
  });
  watcher->setFuture(QtConcurrent::run([source, stop = stop_.get_token()] {
    try {
      return WaveformExtractor::rmsEnvelope(source, kWaveformSamplesPerSecond, stop);
    } catch (const std::exception&) {
      return std::vector<float>();  // no sound, or none readable: the track stays empty
    }
  }));
}

void ProjectDetailView::projectChanged() {
  const Project* live = state_.project(projectID_);
  if (live == nullptr) return;
  title_->setText(QString::fromStdString(live->name));
  refreshActions();
  std::string fingerprint = settingsFingerprint(*live);
  if (fingerprint == fingerprint_) return;
  fingerprint_ = std::move(fingerprint);
  rebuildDebounce_.start();  // a change within the delay starts it again
}

void ProjectDetailView::refreshActions() {
  const Project* live = state_.project(projectID_);
  const bool busy = state_.pipelineProgress().has_value();
  const bool hasPlan = live != nullptr && live->editPlan.has_value();
  analyze_->setEnabled(!busy && live != nullptr);
  tighten_->setEnabled(!busy && hasPlan);
  generateVoice_->setEnabled(!busy && hasPlan);
  makeShort_->setEnabled(!busy && hasPlan);
  export_->setEnabled(hasPlan && !state_.isExporting(projectID_));
  analyzeHint_->setVisible(live != nullptr && !hasAnalysis(*live) && !busy);
}

std::optional<std::filesystem::path> ProjectDetailView::askForLocation(const QString& proposedName,
                                                                       const QString& message) {
  if (setup_.chooseSaveLocation) return setup_.chooseSaveLocation(proposedName, message);
  std::optional<std::filesystem::path> sourceFolder;
  if (const Project* live = state_.project(projectID_)) {
    try {
      sourceFolder = state_.store().resolveVideoURL(*live).parent_path();
    } catch (const std::exception&) {
      // a source that cannot be found offers no folder
    }
  }
  const QString folder = dialogFolder(sourceFolder);
  const QString chosen = QFileDialog::getSaveFileName(this, message, folder + "/" + proposedName,
                                                      "MPEG-4 movie (*.mp4 *.MP4 *.m4v *.M4V)");
  if (chosen.isEmpty()) return std::nullopt;
  return std::filesystem::path(chosen.toStdString());
}

void ProjectDetailView::exportVideo() {
  const Project* live = state_.project(projectID_);
  if (live == nullptr) return;
  const auto location =
      askForLocation(editedMovieName(live->name), "Choose where to save the edited video");
  if (!location) return;
  // The state holds the destination while it is written: the button stays off until it is done,
  // even for a fresh view of the project.
  auto task = state_.exportProject(projectID_, *location);
}

void ProjectDetailView::makeShort() {
  const Project* live = state_.project(projectID_);
  if (live == nullptr) return;
  const auto location =
      askForLocation(shortMovieName(live->name), "Choose where to save your 30-second Short");
  if (!location) return;
  auto task = state_.makeShort(projectID_, *location, 30);
}

}  // namespace brisklet

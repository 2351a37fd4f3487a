#include "ui/TimelineView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "app/AppState.h"
#include "app/PlayerController.h"
#include "platform/TimeText.h"
#include "ui/Labels.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"
#include "ui/TimelineTracks.h"

namespace brisklet {
namespace {

// The zoom slider counts hundredths of a pixel per second.
constexpr int kZoomSteps = 100;
constexpr int kCaptionPixels = 11;
// The playhead counts as out of sight this close to the view's right edge.
constexpr int kPlayheadMargin = 16;

// A track's label: its symbol at the right of a cell as high as the track.
QLabel* trackLabel(const QString& symbol, double height, QWidget* parent) {
  QLabel* label = symbolLabel(symbol, kCaptionPixels, secondaryColor(), parent);
  label->setFixedSize(38, static_cast<int>(height));
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return label;
}

}  // namespace

TimelineView::TimelineView(AppState& state, PlayerController* player, const Uuid& projectID,
                           QWidget* parent)
    : QWidget(parent), state_(state), player_(player), projectID_(projectID) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->setSpacing(6);

  auto* header = new QHBoxLayout;
  header->setContentsMargins(6, 0, 6, 0);
  time_ = styledLabel("", TextStyle::caption, true, this, true);
  time_->setObjectName("timelineTime");
  keeping_ = styledLabel("", TextStyle::caption, true, this);
  keeping_->setObjectName("timelineKeeping");
  header->addWidget(time_);
  header->addSpacing(8);
  header->addWidget(keeping_);
  header->addStretch();
  auto* zoomOut = symbolLabel("minus.magnifyingglass", kCaptionPixels, secondaryColor(), this);
  zoom_ = new QSlider(Qt::Horizontal, this);
  zoom_->setObjectName("timelineZoom");
  zoom_->setAccessibleName("Timeline zoom");
  zoom_->setFixedWidth(150);
  zoom_->setRange(static_cast<int>(timeline::kMinimumPixelsPerSecond * kZoomSteps),
                  static_cast<int>(timeline::kMaximumPixelsPerSecond * kZoomSteps));
  auto* zoomIn = symbolLabel("plus.magnifyingglass", kCaptionPixels, secondaryColor(), this);
  header->addWidget(zoomOut);
  header->addWidget(zoom_);
  header->addWidget(zoomIn);
  layout->addLayout(header);

  auto* body = new QHBoxLayout;
  body->setSpacing(6);
  auto* labels = new QVBoxLayout;
  labels->setContentsMargins(0, 2, 0, 2);
  labels->setSpacing(5);
  auto* rulerCell = new QWidget(this);
  rulerCell->setFixedSize(38, static_cast<int>(timeline::kRulerHeight));
  labels->addWidget(rulerCell);
  labels->addWidget(trackLabel("film", timeline::kVideoHeight, this));
  labels->addWidget(trackLabel("waveform", timeline::kWaveformHeight, this));
  labels->addWidget(trackLabel("mic", timeline::kNarrationHeight, this));
  labels->addStretch();
  body->addLayout(labels);

  tracks_ = new TimelineTracks(state_, player_, projectID_, this);
  scroll_ = new QScrollArea(this);
  scroll_->setWidget(tracks_);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  scroll_->setWidgetResizable(false);
  // The tracks take the focus, shown by a ring round the strip in sight.
  scroll_->setFocusPolicy(Qt::NoFocus);
  tracks_->setFocusPolicy(Qt::TabFocus);
  tracks_->setAccessibleName("Timeline");
  tracks_->installEventFilter(this);
  scroll_->setFixedHeight(static_cast<int>(timeline::kTracksHeight) +
                          scroll_->horizontalScrollBar()->sizeHint().height());
  scroll_->viewport()->setAutoFillBackground(false);
  scroll_->setAutoFillBackground(false);
  body->addWidget(scroll_, 1);
  layout->addLayout(body);

  zoom_->setValue(static_cast<int>(std::lround(tracks_->pixelsPerSecond() * kZoomSteps)));
  connect(zoom_, &QSlider::valueChanged, this, [this](int value) {
    tracks_->setPixelsPerSecond(static_cast<double>(value) / kZoomSteps);
    bringPlayheadIntoView();
  });
  scroll_->viewport()->installEventFilter(this);
  connect(&state_, &AppState::projectsChanged, this, &TimelineView::showTimes);
  if (player_) {
    connect(player_, &PlayerController::timeChanged, this, &TimelineView::showTimes);
    connect(player_, &PlayerController::timeChanged, this, [this] {
      if (player_->isPlaying()) bringPlayheadIntoView();
    });
  }
  showTimes();
}

void TimelineView::setZoom(double pixelsPerSecond) {
  tracks_->setPixelsPerSecond(pixelsPerSecond);
  const QSignalBlocker quiet(zoom_);
  zoom_->setValue(static_cast<int>(std::lround(tracks_->pixelsPerSecond() * kZoomSteps)));
}

bool TimelineView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tracks_ && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
    update();
  if (watched != scroll_->viewport() || event->type() != QEvent::Wheel)
    return QWidget::eventFilter(watched, event);
  const auto* wheel = static_cast<QWheelEvent*>(event);
  const QPoint turn = wheel->angleDelta();
  if (wheel->modifiers() & Qt::ControlModifier) {
    // One notch (120) zooms by a fifth.
    zoomAround(tracks_->pixelsPerSecond() * std::pow(1.2, turn.y() / 120.0),
               static_cast<int>(wheel->position().x()));
  } else {
    // A vertical wheel scrolls along the time axis, as a horizontal one does.
    QScrollBar* bar = scroll_->horizontalScrollBar();
    const QPoint pixels = wheel->pixelDelta();
    const int step = !pixels.isNull() ? (pixels.x() != 0 ? pixels.x() : pixels.y())
                                      : (turn.x() != 0 ? turn.x() : turn.y()) / 2;
    bar->setValue(bar->value() - step);
  }
  return true;
}

void TimelineView::zoomAround(double pixelsPerSecond, int viewportX) {
  QScrollBar* bar = scroll_->horizontalScrollBar();
  const double before = tracks_->pixelsPerSecond();
  const double sec = (bar->value() + viewportX) / before;
  setZoom(std::clamp(pixelsPerSecond, timeline::kMinimumPixelsPerSecond,
                     timeline::kMaximumPixelsPerSecond));
  bar->setValue(static_cast<int>(std::lround(sec * tracks_->pixelsPerSecond())) - viewportX);
}

void TimelineView::bringPlayheadIntoView() {
  if (player_ == nullptr) return;
  QScrollBar* bar = scroll_->horizontalScrollBar();
  const int visible = scroll_->viewport()->width();
  const double x = player_->currentSourceTime() * tracks_->pixelsPerSecond();
  if (x >= bar->value() && x <= bar->value() + visible - kPlayheadMargin) return;
  bar->setValue(static_cast<int>(std::lround(x - visible * 0.1)));
}

void TimelineView::showTimes() {
  time_->setText(
      QString::fromStdString(formatMinutesSeconds(player_ ? player_->currentSourceTime() : 0)));
  const Project* project = state_.project(projectID_);
  if (project == nullptr || !project->editPlan) {
    keeping_->clear();
    return;
  }
  keeping_->setText(QString::fromStdString(
      "Keeping " + formatMinutesSeconds(project->editPlan->keptDurationSec()) + " of " +
      formatMinutesSeconds(project->videoDurationSec)));
}

void TimelineView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  paintWell(painter, rect(), 14);
  if (tracks_->hasFocus())
    paintFocusRing(painter, QRectF(scroll_->geometry()).adjusted(-3, -3, 3, 3), 6);
}

void TimelineView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (didAutoFit_) return;
  if (const auto zoom = timeline::fittingZoom(width(), tracks_->durationSec())) {
    didAutoFit_ = true;
    setZoom(*zoom);
  }
}

}  // namespace brisklet
